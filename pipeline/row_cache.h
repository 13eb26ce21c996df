// Source row cache of the final pass and the transform's two fetch operations.
#pragma once

#include <cstdint>

#include "host/plugin_globals.h"

namespace vexel {

// The fetch contract's answers besides an address. Missing is a sentinel that is compared, never
// dereferenced, so the cast from an integer costs nothing.
// NOLINTNEXTLINE(performance-no-int-to-ptr)
inline std::uint8_t* const kPixelMissing = reinterpret_cast<std::uint8_t*>(std::intptr_t{-1});
inline constexpr std::uint8_t* kPixelOutside = nullptr;

// Held while the cache block is tried, so a cache that only just fits leaves the run some memory.
inline constexpr std::int32_t kCacheReserveBytes = 2000;
// Bytes of a cache block with the given slot count (row map, stamps, slots); 64-bit, since the
// start plan also sizes hypothetical caches of rows wider than 32-bit products allow.
std::int64_t cacheBlockBytes(std::int32_t slots);

std::int16_t setupRowCache();
void cacheInsert();
std::uint8_t* cacheLookup(const RowCache& cache, std::int32_t offset, std::int16_t row);
// Planes of one pixel of the rows the fetch operations read: the host's rows in the render pass
// hold every plane it has, the work image (and the host's prepass rows) the image mode's.
int gridPixelPlanes();
std::uint8_t* originalPixel();
std::uint8_t* pixelAddress(std::int16_t x, std::int16_t y);
std::uint8_t* sourcePixel(std::int16_t x, std::int16_t y);

} // namespace vexel
