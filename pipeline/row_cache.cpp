// Source rows of the final pass: the host hands over one row per call (whatever the prepass held),
// so the rows the transform reads above and below the current one are kept here, each copied
// whole, with every plane the host has, into a slot that is reused in insertion order. Asking for
// rows rather than the whole rectangle keeps a run linear in a host that copies the requested input
// on every call. The fetch operations below answer the transform for the preview and the final pass
// alike.
#include "pipeline/row_cache.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "host/host_records.h"
#include "host/int_math.h"
#include "host/memory.h"
#include "host/plugin_globals.h"
#include "pipeline/run_plan.h"

namespace vexel {

namespace {

constexpr std::uint8_t kNotCached = 255;
constexpr std::int16_t kMostSlots = 255; // a map entry is one byte and 255 means "not cached"
constexpr std::int16_t kFewestSlots = 35;
static_assert(std::tuple_size_v<decltype(RowCache::slotRows)> >= kMostSlots);
constexpr std::int16_t kSlotCountStep = 4;

// The host's budget caps the cache as it capped the prepass. The fewest slots are tried whatever
// the budget: the plan already held back room for a cache of about that size.
bool withinHostBudget(std::int16_t slots, std::int64_t bytes) {
    if (slots == kFewestSlots || g.host.hostRecord == nullptr) return true;
    return bytes + kCacheReserveBytes <= filterRecord().maxSpace;
}

bool allocateLargestCache() {
    for (std::int16_t slots = kMostSlots; slots >= kFewestSlots; slots -= kSlotCountStep) {
        const std::int64_t bytes = cacheBlockBytes(slots);
        if (bytes <= INT32_MAX && withinHostBudget(slots, bytes) &&
            allocRunBuffer(g.buffers.rowCache, static_cast<std::int32_t>(bytes))) {
            g.cache.slotCount = slots;
            return true;
        }
    }
    return false;
}

bool cacheReady(const RowCache& cache) {
    return cache.rowSlotMap != nullptr && g.buffers.rowCache.address != nullptr;
}

std::uint8_t* slotAddress(const RowCache& cache, std::uint8_t slot) {
    return cache.slotData + std::int64_t{slot} * g.geometry.hostRowBytes;
}

// The oldest insertion's slot, the lowest-numbered of the greatest age (cacheClock - stamp) mod
// 256. Only insertions stamp slots, so that rule takes the slots in turn: 0, 1, ... while some are
// unused (their stamp 255 makes them one older than every used slot), then the one stamped
// slotCount insertions ago, i.e. the same order again (at most 255 ages, all distinct, never
// wrap). The turn is kept instead of scanning every slot's age twice per output row.
std::uint8_t chooseVictimSlot(RowCache& cache) {
    const auto victim = static_cast<std::uint8_t>(
        cache.nextVictimSlot < cache.slotCount ? cache.nextVictimSlot : 0);
    cache.nextVictimSlot = static_cast<std::int16_t>(victim + 1 < cache.slotCount ? victim + 1 : 0);
    return victim;
}

// The map (one byte per image row), the stamps and the slots, in that order in the block; no row
// cached yet.
void layOutCache(RowCache& cache, std::uint8_t* block) {
    cache.rowSlotMap = block;
    cache.slotStamps = cache.rowSlotMap + g.geometry.imageHeight;
    cache.slotData = cache.slotStamps + cache.slotCount;
    std::memset(cache.rowSlotMap, kNotCached,
                static_cast<std::size_t>(g.geometry.imageHeight + cache.slotCount));
    cache.slotRows.fill(-1);
    cache.cacheClock = 0;
    cache.nextVictimSlot = 0;
    cache.cacheActive = 1;
}

// Files image row `rowIndex` (inside the rectangle) in the oldest slot.
void fileRow(RowCache& cache, std::int16_t rowIndex, const std::uint8_t* row) {
    const std::uint8_t victim = chooseVictimSlot(cache);
    cache.slotStamps[victim] = cache.cacheClock;
    ++cache.cacheClock;
    // The map names a slot at most once (filing a row again leaves its old slot unnamed), so the
    // row the victim was last filed under is the entry a scan of the map would find, if that row
    // still names it.
    const std::int16_t named = cache.slotRows[victim];
    if (named >= 0 && named < g.geometry.imageHeight && cache.rowSlotMap[named] == victim)
        cache.rowSlotMap[named] = kNotCached;
    cache.rowSlotMap[rowIndex] = victim;
    cache.slotRows[victim] = rowIndex;
    std::memcpy(slotAddress(cache, victim), row, static_cast<std::size_t>(g.geometry.hostRowBytes));
}

} // namespace

std::int64_t cacheBlockBytes(std::int32_t slots) {
    return (std::int64_t{g.geometry.hostRowBytes} + 1) * slots + g.geometry.imageHeight;
}

std::int16_t setupRowCache() {
    BlockHandle reserve = allocBlock(kCacheReserveBytes);
    bool cacheBuilt = false;
    if (reserve != nullptr) {
        freeRunBuffer(g.buffers.rowCache);
        cacheBuilt = allocateLargestCache();
        freeBlock(reserve);
    }
    if (!cacheBuilt) {
        releaseRunResources();
        g.host.runResult = result::memFullErr;
        return 1;
    }
    layOutCache(g.cache, g.buffers.rowCache.address);
    return 0;
}

void cacheInsert() {
    if (g.production.currentRow == nullptr || !cacheReady(g.cache)) return;
    // A row index outside the filter rectangle has no map entry; filing it would write past the
    // map.
    if (g.production.currentRowIndex < 0 || g.production.currentRowIndex >= g.geometry.imageHeight)
        return;
    fileRow(g.cache, g.production.currentRowIndex, g.production.currentRow);
}

std::uint8_t* cacheLookup(const RowCache& cache, std::int32_t offset, std::int16_t row) {
    if (!cacheReady(cache) || row < 0 || row >= g.geometry.imageHeight) return kPixelMissing;
    const std::uint8_t slot = cache.rowSlotMap[row];
    if (slot == kNotCached) return kPixelMissing;
    return slotAddress(cache, slot) + offset;
}

namespace {

// Bytes from a row's start to pixel x: planes of 8- or 16-bit samples.
std::int32_t pixelOffset(std::int32_t x) {
    return x * gridPixelPlanes() * g.geometry.sampleBytes;
}

} // namespace

int gridPixelPlanes() {
    if (g.cache.cacheActive == 0) return g.geometry.planeCount;
    // Start refuses a host with fewer planes than the image mode's.
    return std::max(g.geometry.hostPlanes, g.geometry.planeCount);
}

std::uint8_t* originalPixel() {
    const std::int32_t offset = pixelOffset(wholePart(g.production.posX));
    if (g.production.currentRow != nullptr) return g.production.currentRow + offset;
    return cacheLookup(g.cache, offset, wrap16(wholePart(g.production.posY)));
}

std::uint8_t* pixelAddress(std::int16_t x, std::int16_t y) {
    const std::int32_t offset = pixelOffset(x);
    if (y == wholePart(g.production.posY) && g.production.currentRow != nullptr)
        return g.production.currentRow + offset;
    if (g.cache.cacheActive != 0) return cacheLookup(g.cache, offset, y);
    return g.buffers.workImage.address + std::int64_t{y} * g.geometry.workRowBytes + offset;
}

std::uint8_t* sourcePixel(std::int16_t x, std::int16_t y) {
    if (x < 0 || y < 0 || x >= g.production.gridWidth || y >= g.production.gridHeight)
        return kPixelOutside;
    return pixelAddress(x, y);
}

} // namespace vexel
