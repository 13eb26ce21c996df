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

// A final pass over a 100 x 60 RGB rectangle (300-byte rows) with a decimated work image.
void setUpFinalPass(std::int16_t width = 100, std::int16_t height = 60, std::int16_t planes = 3) {
    freeRunBuffer(g.rowCache);
    testing::resetModuleState();
    g.planeCount = planes;
    g.imageWidth = width;
    g.imageHeight = height;
    g.imageRowBytes = std::int32_t{width} * planes;
    g.gridWidth = width;
    g.gridHeight = height;
    g.sampleStep = 2;
}

std::int64_t cacheBytes(std::int64_t rowBytes, std::int64_t slots, std::int64_t rows) {
    return (rowBytes + 1) * slots + rows;
}

// Files a row whose every byte is `fill` under `index`.
void insertRow(std::int16_t index, std::uint8_t fill) {
    std::vector<std::uint8_t> row(static_cast<std::size_t>(g.imageRowBytes), fill);
    g.currentRow = row.data();
    g.currentRowIndex = index;
    cacheInsert();
    g.currentRow = nullptr;
}

std::uint8_t* slot(int s) {
    return g.slotData + std::int64_t{s} * g.imageRowBytes;
}

class RowCache : public ::testing::Test {
  protected:
    void TearDown() override { freeRunBuffer(g.rowCache); }
};

TEST_F(RowCache, SetupTakesAllSlotsWhenTheyFitAndStartsEmpty) {
    setUpFinalPass();
    ASSERT_EQ(setupRowCache(), 0);
    EXPECT_EQ(g.slotCount, 255);
    EXPECT_EQ(blockSize(g.rowCache.handle), cacheBytes(300, 255, 60));
    EXPECT_EQ(memoryFake.liveBlocks, 1) << "the reserve is freed again";
    EXPECT_EQ(memoryFake.liveLocks, 1) << "the cache stays locked";
    EXPECT_EQ(g.cacheActive, 1);
    EXPECT_EQ(g.cacheClock, 0);
    EXPECT_EQ(g.slotStamps, g.rowSlotMap + 60);
    EXPECT_EQ(g.slotData, g.slotStamps + 255);
    for (int i = 0; i < 60 + 255; ++i)
        ASSERT_EQ(g.rowSlotMap[i], 255) << i;
}

TEST_F(RowCache, SetupFallsBackInStepsOfFourDownToThirtyFive) {
    for (auto [limit, expected] :
         {std::pair{cacheBytes(300, 254, 60), 251}, std::pair{cacheBytes(300, 200, 60), 199},
          std::pair{cacheBytes(300, 35, 60), 35}}) {
        setUpFinalPass();
        memoryFake.failAbove = limit;
        ASSERT_EQ(setupRowCache(), 0);
        EXPECT_EQ(g.slotCount, expected);
        EXPECT_EQ(blockSize(g.rowCache.handle), cacheBytes(300, expected, 60));
    }
}

TEST_F(RowCache, SetupFailsWithMemFullWhenNotEvenThirtyFiveSlotsFit) {
    setUpFinalPass();
    memoryFake.failAbove = cacheBytes(300, 35, 60) - 1;
    EXPECT_EQ(setupRowCache(), 1);
    EXPECT_EQ(g.runResult, result::memFullErr);
    EXPECT_EQ(memoryFake.allocations, 1 + 56) << "the reserve, then 255, 251, ..., 35";
    EXPECT_EQ(memoryFake.liveBlocks, 0);
    EXPECT_EQ(g.cacheActive, 0);

    // The reserve counts against the memory: 35 slots that fit only without it do not do.
    setUpFinalPass();
    memoryFake.failLiveAbove = cacheBytes(300, 35, 60) + 1999;
    EXPECT_EQ(setupRowCache(), 1);
    setUpFinalPass();
    memoryFake.failLiveAbove = cacheBytes(300, 35, 60) + 2000;
    EXPECT_EQ(setupRowCache(), 0);
    EXPECT_EQ(g.slotCount, 35);

    setUpFinalPass();
    memoryFake.failAt = 1; // no reserve: nothing else is tried
    EXPECT_EQ(setupRowCache(), 1);
    EXPECT_EQ(g.runResult, result::memFullErr);
    EXPECT_EQ(memoryFake.allocations, 1);
    EXPECT_EQ(memoryFake.liveBlocks, 0);
}

TEST_F(RowCache, SetupNeverAsksForASizeBeyond32Bits) {
    // 20,000,000-byte rows: 255 slots would need about 5.1e9 bytes. Only the counts whose size
    // fits 32 bits (107 and fewer) may be asked for.
    setUpFinalPass(5000, 100, 4);
    g.imageRowBytes = 20'000'000;
    memoryFake.failAbove = 100'000'000;
    EXPECT_EQ(setupRowCache(), 1);
    EXPECT_EQ(memoryFake.allocations, 1 + (107 - 35) / 4 + 1);
}

TEST_F(RowCache, SetupSampleStepOneNeedsNoCache) {
    setUpFinalPass();
    g.sampleStep = 1;
    EXPECT_EQ(setupRowCache(), 0);
    EXPECT_EQ(memoryFake.allocations, 0);
    EXPECT_EQ(g.cacheActive, 0);
}

TEST_F(RowCache, InsertFillsSlotsInOrderThenReusesTheOldest) {
    setUpFinalPass();
    memoryFake.failAbove = cacheBytes(300, 35, 60);
    ASSERT_EQ(setupRowCache(), 0);
    ASSERT_EQ(g.slotCount, 35);
    for (int i = 0; i < 35; ++i) {
        insertRow(static_cast<std::int16_t>(20 + i), static_cast<std::uint8_t>(i));
        // Lookups in between must not refresh a row.
        ASSERT_NE(cacheLookup(0, 20), kPixelMissing);
    }
    for (int i = 0; i < 35; ++i) {
        const int row = 20 + i;
        ASSERT_EQ(g.rowSlotMap[row], i);
        ASSERT_EQ(*cacheLookup(29, static_cast<std::int16_t>(row)), i);
        ASSERT_EQ(cacheLookup(7, static_cast<std::int16_t>(row)), slot(i) + 7);
    }
    EXPECT_EQ(g.cacheClock, 35);

    insertRow(5, 200); // insertion 36 reuses slot 0, which held row 20
    EXPECT_EQ(g.rowSlotMap[5], 0);
    EXPECT_EQ(cacheLookup(0, 20), kPixelMissing);
    EXPECT_EQ(*cacheLookup(0, 5), 200);
    insertRow(6, 201); // then slot 1 (row 21)
    EXPECT_EQ(g.rowSlotMap[6], 1);
    EXPECT_EQ(cacheLookup(0, 21), kPixelMissing);
    EXPECT_EQ(cacheLookup(0, 0), kPixelMissing) << "row 0 was never inserted";
}

TEST_F(RowCache, InsertReinsertingACachedRowMovesItToANewSlot) {
    setUpFinalPass();
    memoryFake.failAbove = cacheBytes(300, 35, 60);
    ASSERT_EQ(setupRowCache(), 0);
    for (std::int16_t row : {1, 2, 3, 7})
        insertRow(row, static_cast<std::uint8_t>(row));
    ASSERT_EQ(g.rowSlotMap[7], 3);
    insertRow(7, 77);
    EXPECT_EQ(g.rowSlotMap[7], 4);
    EXPECT_EQ(*cacheLookup(0, 7), 77);
    EXPECT_EQ(slot(3)[0], 7) << "the old slot keeps its bytes";
    for (int r = 0; r < 60; ++r)
        EXPECT_NE(g.rowSlotMap[r], 3) << "no row names slot 3";

    // Slot 3 comes round again after slots 5..34 and 0..2.
    for (int i = 0; i < 30 + 3; ++i)
        insertRow(static_cast<std::int16_t>(10 + i), 1);
    insertRow(50, 150);
    EXPECT_EQ(g.rowSlotMap[50], 3);
    EXPECT_EQ(*cacheLookup(0, 7), 77) << "row 7's newer slot 4 is untouched";
}

TEST_F(RowCache, InsertIgnoresNoRowAndRowsOutsideTheRectangle) {
    setUpFinalPass();
    ASSERT_EQ(setupRowCache(), 0);
    g.currentRow = nullptr;
    cacheInsert();
    EXPECT_EQ(g.cacheClock, 0);
    std::vector<std::uint8_t> row(300, 9);
    g.currentRow = row.data();
    for (std::int16_t index : {-1, 60, 32767}) {
        g.currentRowIndex = index;
        cacheInsert();
    }
    EXPECT_EQ(g.cacheClock, 0);
    EXPECT_EQ(cacheLookup(0, -1), kPixelMissing);
    EXPECT_EQ(cacheLookup(0, 60), kPixelMissing);
}

TEST_F(RowCache, InsertCopiesRowsWiderThan32767Bytes) {
    setUpFinalPass(10000, 8, 4); // 40,000-byte rows
    ASSERT_EQ(setupRowCache(), 0);
    std::vector<std::uint8_t> row(40000);
    for (std::size_t i = 0; i < row.size(); ++i)
        row[i] = static_cast<std::uint8_t>(i * 7);
    for (std::int16_t index : {3, 5}) {
        g.currentRow = row.data();
        g.currentRowIndex = index;
        cacheInsert();
    }
    const std::uint8_t* last = cacheLookup(39999, 5);
    EXPECT_EQ(last, slot(1) + 39999);
    EXPECT_EQ(*last, static_cast<std::uint8_t>(39999 * 7));
    g.posY = 5 << 16;
    g.currentRow = nullptr;
    g.posX = 9999 << 16;
    EXPECT_EQ(originalPixel(), slot(1) + 39996);
}

// Fetches in the final pass with the cache, while row 4 is being produced.
TEST_F(RowCache, FetchFinalPassReadsTheCurrentRowAndTheCache) {
    setUpFinalPass();
    ASSERT_EQ(setupRowCache(), 0);
    insertRow(2, 22);
    insertRow(4, 44);
    std::vector<std::uint8_t> current(300, 99);
    g.currentRow = current.data();
    g.posY = (4 << 16) | 0x8000;
    g.posX = (3 << 16) | 0x8000;

    EXPECT_EQ(originalPixel(), current.data() + 9);
    EXPECT_EQ(sourcePixel(5, 4), current.data() + 15) << "the produced row comes from currentRow";
    EXPECT_EQ(sourcePixel(5, 2), slot(0) + 15);
    EXPECT_EQ(sourcePixel(5, 3), kPixelMissing) << "never inserted";
    EXPECT_EQ(pixelAddress(5, 3), kPixelMissing);

    g.currentRow = nullptr; // after a fetched row, everything comes from the cache
    EXPECT_EQ(originalPixel(), slot(1) + 9);
    EXPECT_EQ(sourcePixel(5, 4), slot(1) + 15);
    g.posY = 3 << 16;
    EXPECT_EQ(originalPixel(), kPixelMissing);
}

// The preview and the final pass with sampleStep 1 read one whole image.
TEST_F(RowCache, FetchWholeImageFetchesAndGridBounds) {
    testing::resetModuleState();
    g.planeCount = 4;
    g.gridWidth = 9000;
    g.gridHeight = 3;
    g.workRowBytes = 36003; // wider than 32767 bytes, with padding
    std::vector<std::uint8_t> image(36003 * 3);
    g.workImage.address = image.data();
    g.currentRow = image.data() + 36003; // producing row 1
    g.posY = 1 << 16;
    g.posX = 8999 << 16;

    EXPECT_EQ(originalPixel(), image.data() + 36003 + 35996);
    EXPECT_EQ(sourcePixel(8999, 2), image.data() + 2 * 36003 + 35996);
    EXPECT_EQ(sourcePixel(0, 0), image.data());
    EXPECT_EQ(pixelAddress(1, 1), g.currentRow + 4);
    for (auto [x, y] : {std::pair<std::int16_t, std::int16_t>{-1, 0},
                        {0, -1},
                        {9000, 0},
                        {0, 3},
                        {-32768, 1},
                        {32767, 1}})
        EXPECT_EQ(sourcePixel(x, y), kPixelOutside) << x << "," << y;
    EXPECT_NE(sourcePixel(8999, 2), kPixelOutside);
}

} // namespace
} // namespace vexel
