// Source row cache: how it is sized against the memory available, which slot each insertion takes,
// and what the fetch operations answer in the preview and in both kinds of final pass.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "host/host_records.h"
#include "host/memory.h"
#include "host/plugin_globals.h"
#include "pipeline/row_cache.h"
#include "tests/unit/test_support.h"

namespace vexel {
namespace {

using testing::memoryFake;

class RowCache : public ::testing::Test {
  protected:
    void TearDown() override { freeRunBuffer(g.buffers.rowCache); }

    // A final pass over a width x 60 rectangle of 3-byte pixels with a decimated work image.
    static void setUpFinalPass(std::int16_t width = 100, std::int16_t planes = 3) {
        freeRunBuffer(g.buffers.rowCache);
        testing::resetModuleState();
        g.geometry.planeCount = planes;
        g.geometry.imageWidth = width;
        g.geometry.imageHeight = 60;
        g.geometry.hostRowBytes = std::int32_t{width} * planes;
        g.production.gridWidth = width;
        g.production.gridHeight = 60;
        g.geometry.sampleStep = 2;
    }
    static std::int64_t bytesFor(std::int64_t slots) { return (300 + 1) * slots + 60; }

    // Files a row whose every byte is `fill` under `index`.
    static void insertRow(std::int16_t index, std::uint8_t fill) {
        std::vector<std::uint8_t> row(static_cast<std::size_t>(g.geometry.hostRowBytes), fill);
        g.production.currentRow = row.data();
        g.production.currentRowIndex = index;
        cacheInsert();
        g.production.currentRow = nullptr;
    }
    static std::uint8_t* slot(int s) {
        return g.cache.slotData + std::int64_t{s} * g.geometry.hostRowBytes;
    }
};

TEST_F(RowCache, SetupTakesTheMostSlotsThatFitWhileTheReserveIsHeld) {
    setUpFinalPass();
    ASSERT_EQ(setupRowCache(), 0);
    EXPECT_EQ(g.cache.slotCount, 255);
    EXPECT_EQ(blockSize(g.buffers.rowCache.handle), bytesFor(255));
    EXPECT_EQ(memoryFake.liveBlocks, 1) << "the reserve is freed again";
    EXPECT_EQ(memoryFake.liveLocks, 1) << "the cache stays locked";
    EXPECT_EQ(g.cache.cacheActive, 1);
    EXPECT_EQ(g.cache.slotStamps, g.cache.rowSlotMap + 60);
    EXPECT_EQ(g.cache.slotData, g.cache.slotStamps + 255);
    for (int i = 0; i < 60 + 255; ++i)
        ASSERT_EQ(g.cache.rowSlotMap[i], 255) << "map and stamps empty";

    for (auto [limit, expected] : {std::pair{bytesFor(254), 251}, std::pair{bytesFor(200), 199},
                                   std::pair{bytesFor(35), 35}}) {
        setUpFinalPass();
        memoryFake.failAbove = limit;
        ASSERT_EQ(setupRowCache(), 0);
        EXPECT_EQ(g.cache.slotCount, expected);
        EXPECT_EQ(blockSize(g.buffers.rowCache.handle), bytesFor(expected));
    }
    // 35 slots that fit only without the 2000-byte reserve do not do.
    setUpFinalPass();
    memoryFake.failLiveAbove = bytesFor(35) + 1999;
    EXPECT_EQ(setupRowCache(), 1);
    setUpFinalPass();
    memoryFake.failLiveAbove = bytesFor(35) + 2000;
    EXPECT_EQ(setupRowCache(), 0);
    EXPECT_EQ(g.cache.slotCount, 35);

    // The host held the whole rectangle for the prepass; the final pass asks for rows all the
    // same, through a cache of the same size.
    setUpFinalPass();
    g.geometry.sampleStep = 1;
    EXPECT_EQ(setupRowCache(), 0);
    EXPECT_EQ(g.cache.slotCount, 255);
    EXPECT_EQ(g.cache.cacheActive, 1);
}

TEST_F(RowCache, SetupFailureReleasesEverythingWithMemFull) {
    setUpFinalPass();
    memoryFake.failAbove = bytesFor(35) - 1;
    EXPECT_EQ(setupRowCache(), 1);
    EXPECT_EQ(g.host.runResult, result::memFullErr);
    EXPECT_EQ(memoryFake.allocations, 1 + 56) << "the reserve, then 255, 251, ..., 35";
    EXPECT_EQ(memoryFake.liveBlocks, 0);
    EXPECT_EQ(g.cache.cacheActive, 0);

    setUpFinalPass();
    memoryFake.failAt = 1; // no reserve: nothing else is tried
    EXPECT_EQ(setupRowCache(), 1);
    EXPECT_EQ(g.host.runResult, result::memFullErr);
    EXPECT_EQ(memoryFake.allocations, 1);

    // 20,000,000-byte rows: only the counts whose size fits 32 bits (107 and fewer) are asked for.
    setUpFinalPass(5000, 4);
    g.geometry.hostRowBytes = 20'000'000;
    memoryFake.failAbove = 100'000'000;
    EXPECT_EQ(setupRowCache(), 1);
    EXPECT_EQ(memoryFake.allocations, 1 + (107 - 35) / 4 + 1);
}

TEST_F(RowCache, InsertionsTakeSlotsInOrderThenReuseTheOldest) {
    setUpFinalPass();
    memoryFake.failAbove = bytesFor(35);
    ASSERT_EQ(setupRowCache(), 0);
    for (int i = 0; i < 35; ++i) {
        insertRow(static_cast<std::int16_t>(20 + i), static_cast<std::uint8_t>(i));
        ASSERT_NE(cacheLookup(g.cache, 0, 20), kPixelMissing); // a lookup does not refresh a row
    }
    for (int i = 0; i < 35; ++i) {
        ASSERT_EQ(g.cache.rowSlotMap[20 + i], i);
        ASSERT_EQ(cacheLookup(g.cache, 7, static_cast<std::int16_t>(20 + i)), slot(i) + 7);
        ASSERT_EQ(slot(i)[299], i) << "the whole row is copied";
    }
    insertRow(5, 200); // insertion 36 reuses slot 0, which held row 20
    EXPECT_EQ(g.cache.rowSlotMap[5], 0);
    EXPECT_EQ(cacheLookup(g.cache, 0, 20), kPixelMissing);
    insertRow(6, 201); // then slot 1 (row 21)
    EXPECT_EQ(g.cache.rowSlotMap[6], 1);
    EXPECT_EQ(cacheLookup(g.cache, 0, 21), kPixelMissing);
    EXPECT_EQ(cacheLookup(g.cache, 0, 0), kPixelMissing) << "never inserted";

    // Row 7 inserted again moves to a new slot; its old slot keeps its bytes, named by no row.
    insertRow(7, 70);
    const int oldSlot = g.cache.rowSlotMap[7];
    insertRow(7, 77);
    EXPECT_EQ(g.cache.rowSlotMap[7], oldSlot + 1);
    EXPECT_EQ(*cacheLookup(g.cache, 0, 7), 77);
    EXPECT_EQ(slot(oldSlot)[0], 70);
    for (int r = 0; r < 60; ++r)
        EXPECT_NE(g.cache.rowSlotMap[r], oldSlot) << r;
}

// The map after every insertion of long random sequences (rows filed again included; the fewest
// and the most slots, so that slots are reused often and the clock wraps) is what the plain rule
// gives: the victim is the lowest slot of the greatest age, and the first entry from row 0 that
// names it is cleared.
TEST_F(RowCache, ReusedSlotsLeaveTheMapAsTheScanRuleWould) {
    for (const int slots : {35, 255}) {
        setUpFinalPass();
        memoryFake.failAbove = bytesFor(slots);
        ASSERT_EQ(setupRowCache(), 0);
        ASSERT_EQ(g.cache.slotCount, slots);
        std::vector<std::uint8_t> map(60, 255);
        std::vector<std::uint8_t> stamps(static_cast<std::size_t>(slots), 255); // all unused
        std::uint8_t clock = 0;
        std::uint32_t seed = 99;
        for (int n = 0; n < 3000; ++n) {
            seed = seed * 1103515245u + 12345u;
            const auto row = static_cast<std::int16_t>((seed >> 16) % (n % 7 == 0 ? 60 : 8));
            std::uint8_t victim = 0, bestAge = 0;
            for (int slotIndex = 0; slotIndex < slots; ++slotIndex) {
                const auto age = static_cast<std::uint8_t>(clock - stamps[slotIndex]);
                if (age > bestAge) {
                    bestAge = age;
                    victim = static_cast<std::uint8_t>(slotIndex);
                }
            }
            stamps[victim] = clock++;
            for (auto& entry : map)
                if (entry == victim) {
                    entry = 255;
                    break;
                }
            map[static_cast<std::size_t>(row)] = victim;
            insertRow(row, static_cast<std::uint8_t>(n));
            ASSERT_EQ(std::vector<std::uint8_t>(g.cache.rowSlotMap, g.cache.rowSlotMap + 60), map)
                << slots << " slots, insertion " << n;
            ASSERT_EQ(std::vector<std::uint8_t>(g.cache.slotStamps, g.cache.slotStamps + slots),
                      stamps);
            ASSERT_EQ(*cacheLookup(g.cache, 0, row), static_cast<std::uint8_t>(n));
        }
        freeRunBuffer(g.buffers.rowCache);
    }
}

TEST_F(RowCache, InsertIgnoresNoRowAndRowsOutsideTheRectangle) {
    setUpFinalPass();
    ASSERT_EQ(setupRowCache(), 0);
    cacheInsert(); // currentRow is none
    std::vector<std::uint8_t> row(300, 9);
    g.production.currentRow = row.data();
    for (std::int16_t index : {-1, 60, 32767}) {
        g.production.currentRowIndex = index;
        cacheInsert();
    }
    EXPECT_EQ(g.cache.cacheClock, 0);
}

// The final pass with the cache, while row 4 is being produced.
TEST_F(RowCache, FinalPassFetchesFromTheCurrentRowAndTheCache) {
    setUpFinalPass();
    ASSERT_EQ(setupRowCache(), 0);
    insertRow(2, 22);
    insertRow(4, 44);
    std::vector<std::uint8_t> current(300, 99);
    g.production.currentRow = current.data();
    g.production.posY = (4 << 16) | 0x8000;
    g.production.posX = (3 << 16) | 0x8000;
    EXPECT_EQ(originalPixel(), current.data() + 9);
    EXPECT_EQ(sourcePixel(5, 4), current.data() + 15) << "the produced row comes from currentRow";
    EXPECT_EQ(sourcePixel(5, 2), slot(0) + 15);
    EXPECT_EQ(sourcePixel(5, 3), kPixelMissing);
    EXPECT_EQ(sourcePixel(100, 2), kPixelOutside);

    g.production.currentRow = nullptr; // after a fetched row, everything comes from the cache
    EXPECT_EQ(originalPixel(), slot(1) + 9);
    EXPECT_EQ(sourcePixel(5, 4), slot(1) + 15);
    g.production.posY = 3 << 16;
    EXPECT_EQ(originalPixel(), kPixelMissing);

    // Rows wider than 32767 bytes.
    setUpFinalPass(10000, 4);
    ASSERT_EQ(setupRowCache(), 0);
    std::vector<std::uint8_t> wide(40000, 1);
    wide.back() = 0x5A;
    g.production.currentRow = wide.data();
    g.production.currentRowIndex = 5;
    cacheInsert();
    g.production.currentRow = nullptr;
    g.production.posY = 5 << 16;
    g.production.posX = 9999 << 16;
    EXPECT_EQ(originalPixel(), slot(0) + 39996);
    EXPECT_EQ(*cacheLookup(g.cache, 39999, 5), 0x5A);
}

// The preview reads one whole image.
TEST_F(RowCache, WholeImageFetchesAndGridBounds) {
    testing::resetModuleState();
    g.geometry.planeCount = 4;
    g.production.gridWidth = 9000;
    g.production.gridHeight = 3;
    g.geometry.workRowBytes = 36003; // wider than 32767 bytes, with padding
    std::vector<std::uint8_t> image(36003 * 3);
    g.buffers.workImage.address = image.data();
    g.production.currentRow = image.data() + 36003; // producing row 1
    g.production.posY = 1 << 16;
    g.production.posX = 8999 << 16;
    EXPECT_EQ(originalPixel(), image.data() + 36003 + 35996);
    EXPECT_EQ(sourcePixel(8999, 2), image.data() + 2 * 36003 + 35996);
    EXPECT_EQ(sourcePixel(0, 0), image.data());
    for (auto [x, y] : {std::pair<std::int16_t, std::int16_t>{-1, 0},
                        {0, -1},
                        {9000, 0},
                        {0, 3},
                        {-32768, 1},
                        {32767, 1}})
        EXPECT_EQ(sourcePixel(x, y), kPixelOutside) << x << "," << y;
}

} // namespace
} // namespace vexel
