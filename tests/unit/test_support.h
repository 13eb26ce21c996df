// Stand-ins for the window system and global memory, so the platform-free logic runs natively
// under the sanitizers. Tests configure and inspect them through `platformFake` and `memoryFake`
// (tests/unit/memory_fake.h).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/unit/memory_fake.h"

namespace vexel::testing {

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
    // The store of the remembered settings: its one value, if any, and how often it was written.
    std::optional<std::vector<std::uint8_t>> rememberedValue;
    int rememberedWrites = 0;
};
extern PlatformFake platformFake;

// Puts the module's globals, the fakes and their counters back to a freshly loaded state.
void resetModuleState();

} // namespace vexel::testing
