// PLACEHOLDER: replaced by the row cache and fetch operations.
#include "pipeline/row_cache.h"
namespace vexel {
std::int16_t setupRowCache() { return 0; }
void cacheInsert() {}
std::uint8_t* cacheLookup(std::int32_t, std::int16_t) { return kPixelMissing; }
std::uint8_t* originalPixel() { return nullptr; }
std::uint8_t* pixelAddress(std::int16_t, std::int16_t) { return nullptr; }
std::uint8_t* sourcePixel(std::int16_t, std::int16_t) { return nullptr; }
} // namespace vexel
