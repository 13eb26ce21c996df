// Stand-ins for the window system and global memory, so the platform-free logic runs natively
// under the sanitizers. Tests configure and inspect them through `platformFake` and `memoryFake`.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vexel::testing {

struct MemoryFake {
    std::int64_t liveBlocks = 0;
    std::int64_t liveBytes = 0;
    std::int64_t peakBytes = 0;
    std::int64_t allocations = 0;
    // Allocations larger than this fail (-1: no limit); allocation number failAt (1-based) fails.
    std::int64_t failAbove = -1;
    std::int64_t failAt = 0;
    // An allocation that would take the live bytes above this fails (-1: no limit).
    std::int64_t failLiveAbove = -1;
    std::int64_t liveLocks = 0;
};
extern MemoryFake memoryFake;

struct PlatformFake {
    std::vector<std::string> warnings;
    int aboutBoxes = 0;
    int registrations = 0;
    int unregistrations = 0;
    bool registrationFails = false;
    std::int16_t measuredWidth = 270; // what the measuring dialog records
    std::int16_t measuredHeight = 270;
    // Runs inside runParameterDialog; returns the dialog result (default: OK without changes).
    std::function<std::int16_t()> dialog;
    int dialogsRun = 0;
    int markerBitmaps = 0;
    int outlineBitmaps = 0;
    bool outlineBitmapFails = false;
};
extern PlatformFake platformFake;

// Puts the module's globals, the fakes and their counters back to a freshly loaded state.
void resetModuleState();

} // namespace vexel::testing
