// Source rows of the final pass: the host hands over one row per call when the work image was
// decimated, so the rows the transform reads above and below the current one are kept here, each
// copied whole into a slot that is reused in insertion order. The fetch operations below answer
// the transform for the preview and both final-pass situations alike.
#include "pipeline/row_cache.h"

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
static_assert(std::tuple_size_v<decltype(PluginGlobals::slotRows)> >= kMostSlots);
constexpr std::int16_t kSlotCountStep = 4;

// The host's budget caps the cache as it capped the prepass. The fewest slots are tried whatever
// the budget: the plan already held back room for a cache of about that size.
bool withinHostBudget(std::int16_t slots, std::int64_t bytes) {
    if (slots == kFewestSlots || g.hostRecord == nullptr) return true;
    return bytes + kCacheReserveBytes <= filterRecord().maxSpace;
}

bool allocateLargestCache() {
    for (std::int16_t slots = kMostSlots; slots >= kFewestSlots; slots -= kSlotCountStep) {
        const std::int64_t bytes = cacheBlockBytes(slots);
        if (bytes <= INT32_MAX && withinHostBudget(slots, bytes) &&
            allocRunBuffer(g.rowCache, static_cast<std::int32_t>(bytes))) {
            g.slotCount = slots;
            return true;
        }
    }
    return false;
}

bool cacheReady() {
    return g.rowSlotMap != nullptr && g.rowCache.address != nullptr;
}

std::uint8_t* slotAddress(std::uint8_t slot) {
    return g.slotData + std::int64_t{slot} * g.imageRowBytes;
}

// The oldest insertion's slot, the lowest-numbered of the greatest age (cacheClock - stamp) mod
// 256. Only insertions stamp slots, so that rule takes the slots in turn: 0, 1, ... while some are
// unused (their stamp 255 makes them one older than every used slot), then the one stamped
// slotCount insertions ago, i.e. the same order again (at most 255 ages, all distinct, never
// wrap). The turn is kept instead of scanning every slot's age twice per output row.
std::uint8_t chooseVictimSlot() {
    const auto victim =
        static_cast<std::uint8_t>(g.nextVictimSlot < g.slotCount ? g.nextVictimSlot : 0);
    g.nextVictimSlot = static_cast<std::int16_t>(victim + 1 < g.slotCount ? victim + 1 : 0);
    return victim;
}

} // namespace

std::int64_t cacheBlockBytes(std::int32_t slots) {
    return (std::int64_t{g.imageRowBytes} + 1) * slots + g.imageHeight;
}

std::int16_t setupRowCache() {
    if (g.sampleStep == 1) return 0;
    BlockHandle reserve = allocBlock(kCacheReserveBytes);
    bool cacheBuilt = false;
    if (reserve != nullptr) {
        freeRunBuffer(g.rowCache);
        cacheBuilt = allocateLargestCache();
        freeBlock(reserve);
    }
    if (!cacheBuilt) {
        releaseRunResources();
        g.runResult = result::memFullErr;
        return 1;
    }
    g.rowSlotMap = g.rowCache.address;
    g.slotStamps = g.rowSlotMap + g.imageHeight;
    g.slotData = g.slotStamps + g.slotCount;
    std::memset(g.rowSlotMap, kNotCached, static_cast<std::size_t>(g.imageHeight + g.slotCount));
    g.slotRows.fill(-1);
    g.cacheClock = 0;
    g.nextVictimSlot = 0;
    g.cacheActive = 1;
    return 0;
}

void cacheInsert() {
    if (g.currentRow == nullptr || !cacheReady()) return;
    // A row index outside the filter rectangle has no map entry; filing it would write past the
    // map.
    if (g.currentRowIndex < 0 || g.currentRowIndex >= g.imageHeight) return;
    const std::uint8_t victim = chooseVictimSlot();
    g.slotStamps[victim] = g.cacheClock;
    ++g.cacheClock;
    // The map names a slot at most once (filing a row again leaves its old slot unnamed), so the
    // row the victim was last filed under is the entry a scan of the map would find, if that row
    // still names it.
    const std::int16_t named = g.slotRows[victim];
    if (named >= 0 && named < g.imageHeight && g.rowSlotMap[named] == victim)
        g.rowSlotMap[named] = kNotCached;
    g.rowSlotMap[g.currentRowIndex] = victim;
    g.slotRows[victim] = g.currentRowIndex;
    std::memcpy(slotAddress(victim), g.currentRow, static_cast<std::size_t>(g.imageRowBytes));
}

std::uint8_t* cacheLookup(std::int32_t offset, std::int16_t row) {
    if (!cacheReady() || row < 0 || row >= g.imageHeight) return kPixelMissing;
    const std::uint8_t slot = g.rowSlotMap[row];
    if (slot == kNotCached) return kPixelMissing;
    return slotAddress(slot) + offset;
}

std::uint8_t* originalPixel() {
    const std::int32_t offset = wholePart(g.posX) * g.planeCount;
    if (g.currentRow != nullptr) return g.currentRow + offset;
    return cacheLookup(offset, wrap16(wholePart(g.posY)));
}

std::uint8_t* pixelAddress(std::int16_t x, std::int16_t y) {
    const std::int32_t offset = x * g.planeCount;
    if (y == wholePart(g.posY) && g.currentRow != nullptr) return g.currentRow + offset;
    if (g.cacheActive != 0) return cacheLookup(offset, y);
    return g.workImage.address + std::int64_t{y} * g.workRowBytes + offset;
}

std::uint8_t* sourcePixel(std::int16_t x, std::int16_t y) {
    if (x < 0 || y < 0 || x >= g.gridWidth || y >= g.gridHeight) return kPixelOutside;
    return pixelAddress(x, y);
}

} // namespace vexel
