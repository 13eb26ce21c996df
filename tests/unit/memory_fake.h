// The one stand-in for the platform's global memory that native code links (the unit tests and the
// native benchmarks): heap blocks that carry their size and lock count, counted in `memoryFake`,
// and failures on request.
#pragma once

#include <cstdint>

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

} // namespace vexel::testing
