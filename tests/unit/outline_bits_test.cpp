// Selection outline bits: the bit-parallel erosion against a plain per-pixel edge test, the border
// rules, the 32 x 32 tile runs, and the dash phases of successive ticks.
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "host/memory.h"
#include "host/plugin_globals.h"
#include "pipeline/run_plan.h"
#include "tests/unit/test_support.h"
#include "ui/outline_bits.h"

namespace vexel {
namespace {

class OutlineTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::resetModuleState(); }
    void TearDown() override {
        for (RunBuffer* b : {&g.buffers.maskFrame, &g.buffers.outlineWork, &g.buffers.maskBits})
            freeRunBuffer(*b);
    }

    void makeBuffers(std::int16_t width, std::int16_t height) {
        g.geometry.previewWidth = width;
        g.geometry.previewHeight = height;
        allocateMaskBuffers();
    }
    int storedWidth() const { return g.buffers.maskRowWords * 16; }

    static bool bitAt(const std::uint8_t* row, int x) { return (row[x / 8] >> (7 - x % 8)) & 1; }
    static void setBit(std::uint8_t* row, int x) {
        row[x / 8] = static_cast<std::uint8_t>(row[x / 8] | (0x80 >> (x % 8)));
    }
    // Selects every stored pixel (padding included) for which selected(x, y) holds.
    template <typename F> void select(F selected) {
        for (int y = 0; y < g.geometry.previewHeight; ++y)
            for (int x = 0; x < storedWidth(); ++x)
                if (selected(x, y)) setBit(maskFrameRow(y), x);
    }
    std::vector<std::vector<bool>> maskPicture() const {
        std::vector<std::vector<bool>> m(static_cast<std::size_t>(g.geometry.previewHeight));
        for (int y = 0; y < g.geometry.previewHeight; ++y)
            for (int x = 0; x < storedWidth(); ++x)
                m[y].push_back(bitAt(maskFrameRow(y), x));
        return m;
    }
    // The edge written out pixel by pixel: a selected pixel with an unselected pixel among its
    // eight neighbours; outside rows and pixels right of the stored row are unselected, pixels left
    // of column 0 selected.
    std::vector<std::vector<bool>> referenceEdge(const std::vector<std::vector<bool>>& m) const {
        const int h = g.geometry.previewHeight, w = storedWidth();
        auto selectedAt = [&](int x, int y) {
            if (x < 0) return true;
            if (y < 0 || y >= h || x >= w) return false;
            return static_cast<bool>(m[y][x]);
        };
        std::vector<std::vector<bool>> edge(static_cast<std::size_t>(h),
                                            std::vector<bool>(static_cast<std::size_t>(w)));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                if (!m[y][x]) continue;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        if (!selectedAt(x + dx, y + dy)) edge[y][x] = true;
            }
        return edge;
    }
    bool edgeAt(int x, int y) const { return bitAt(maskFrameRow(y), x); }
};

TEST_F(OutlineTest, BitParallelErosionMatchesThePerPixelEdgeOnRandomMasks) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 300; ++round) {
        const auto width = static_cast<std::int16_t>(1 + random() % 90);
        const auto height = static_cast<std::int16_t>(1 + random() % 40);
        const unsigned density = 50 + random() % 50; // percent; dense masks have interiors
        makeBuffers(width, height);
        select([&](int, int) { return random() % 100 < density; });
        const auto mask = maskPicture();
        // Leftovers in the guard rows must not count.
        std::fill_n(maskFrameRow(-1), g.buffers.maskStride, 0xFF);
        std::fill_n(maskFrameRow(height), g.buffers.maskStride, 0xFF);

        ASSERT_TRUE(buildOutlineBits());
        const auto expected = referenceEdge(mask);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < storedWidth(); ++x) {
                ASSERT_EQ(edgeAt(x, y), expected[y][x])
                    << "round " << round << " size " << width << "x" << height << " pixel " << x
                    << "," << y;
                ASSERT_EQ(bitAt(g.buffers.maskBits.address + y * g.buffers.maskStride, x),
                          mask[y][x]);
            }
        for (int b = 0; b < g.buffers.maskStride; ++b) {
            ASSERT_EQ(maskFrameRow(-1)[b], 0);
            ASSERT_EQ(maskFrameRow(height)[b], 0);
        }
        TearDown();
    }
}

TEST_F(OutlineTest, SelectionOnTheLeftBorderHasNoOutlineThereButTopBottomAndRightDo) {
    makeBuffers(20, 10);
    select([](int x, int y) { return x < 20 && y >= 2 && y <= 7 && (x <= 9 || x >= 14); });
    ASSERT_TRUE(buildOutlineBits());
    for (int y = 3; y <= 6; ++y) {
        EXPECT_FALSE(edgeAt(0, y)) << y;
        EXPECT_TRUE(edgeAt(9, y)) << y;
        EXPECT_TRUE(edgeAt(14, y)) << y;
        EXPECT_TRUE(edgeAt(19, y)) << y; // the right border, padding clear
        EXPECT_FALSE(edgeAt(18, y)) << y;
    }
    EXPECT_TRUE(edgeAt(0, 2));
    EXPECT_TRUE(edgeAt(0, 7));

    TearDown();
    makeBuffers(20, 10);
    select([](int x, int y) { return x >= 3 && x <= 8 && (y <= 3 || y >= 6); });
    ASSERT_TRUE(buildOutlineBits());
    for (int x = 3; x <= 8; ++x) {
        EXPECT_TRUE(edgeAt(x, 0)) << x; // top border
        EXPECT_TRUE(edgeAt(x, 9)) << x; // bottom border
    }
}

TEST_F(OutlineTest, OnePixelWideOrHighSelectionsAreAllEdge) {
    makeBuffers(40, 20);
    select([](int x, int y) {
        return (x == 5 && y >= 2 && y <= 15) || (y == 18 && x >= 8 && x <= 30);
    });
    ASSERT_TRUE(buildOutlineBits());
    for (int y = 2; y <= 15; ++y)
        EXPECT_TRUE(edgeAt(5, y)) << y;
    for (int x = 8; x <= 30; ++x)
        EXPECT_TRUE(edgeAt(x, 18)) << x;
}

TEST_F(OutlineTest, FullySelectedPreviewIsOutlinedAlongTopBottomAndRightOnly) {
    makeBuffers(20, 12); // 32 stored pixels per row
    select([](int x, int) { return x < 20; });
    ASSERT_TRUE(buildOutlineBits());
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 20; ++x) {
            const bool border = y == 0 || y == 11 || x == 19;
            EXPECT_EQ(edgeAt(x, y), border) << x << "," << y;
        }

    // With the padding selected too, the preview's last column has a selected right neighbour.
    TearDown();
    makeBuffers(20, 12);
    select([](int, int) { return true; });
    ASSERT_TRUE(buildOutlineBits());
    EXPECT_FALSE(edgeAt(19, 5));
    EXPECT_TRUE(edgeAt(31, 5));

    // No padding at all: the row's end is the preview's right border.
    TearDown();
    makeBuffers(32, 12);
    select([](int, int) { return true; });
    ASSERT_TRUE(buildOutlineBits());
    EXPECT_TRUE(edgeAt(31, 5));
    EXPECT_FALSE(edgeAt(0, 5));
}

TEST_F(OutlineTest, TileRunsMergeNeighboursAndEndAtThePreviewWidth) {
    makeBuffers(100, 70);
    auto mark = [](int x, int y) { setBit(outlineWorkRow(y), x); };
    mark(5, 3);
    mark(40, 31); // tiles 0 and 1 of band 0: one blit 64 wide
    mark(10, 40);
    mark(70, 63); // tiles 0 and 2 of band 1: two blits
    mark(99, 65); // last tile of the last band, 70 mod 32 = 6 rows high
    const OutlineRuns found = outlineTileRuns();
    const std::vector<BlitRect> runs(found.begin(), found.end());
    const std::vector<std::array<int, 4>> expected = {
        {0, 0, 64, 32}, {0, 32, 32, 32}, {64, 32, 32, 32}, {96, 64, 4, 6}};
    ASSERT_EQ(runs.size(), expected.size());
    for (std::size_t n = 0; n < runs.size(); ++n) {
        EXPECT_EQ((std::array<int, 4>{runs[n].x, runs[n].y, runs[n].width, runs[n].height}),
                  expected[n]);
    }
}

// A model of the screen's edge pixels under the ticks: priming whitens the edge, then every tick
// inverts the pixels of its pattern. After n ticks following the priming one, row r shows
// Start[(r - n) mod 8]: black where that byte has a 1.
TEST_F(OutlineTest, EveryOtherTileOfTheLargestPreviewFitsTheFixedRunStorage) {
    makeBuffers(512, 512);
    for (int band = 0; band < 16; ++band)
        for (int tile = band & 1; tile < 16; tile += 2)
            setBit(outlineWorkRow(band * 32 + 7), tile * 32 + 3);
    const OutlineRuns found = outlineTileRuns();
    ASSERT_EQ(found.count, kMaxOutlineRuns);
    for (const BlitRect& run : found) {
        EXPECT_EQ(run.width, 32);
        EXPECT_EQ((run.x / 32 + run.y / 32) % 2, 0);
    }
}

TEST_F(OutlineTest, DashesMoveOnePixelPerTickAndRestartAfterAFullRedraw) {
    makeBuffers(50, 30);
    std::mt19937 random(3);
    select([&](int x, int) { return x < 50 && random() % 4 != 0; });
    ASSERT_TRUE(buildOutlineBits());
    std::vector<bool> black(50 * 30, true); // the picture under the edge, whatever it is

    auto tick = [&] {
        if (g.outline.outlinePrimed == 0) {
            for (int y = 0; y < 30; ++y)
                for (int x = 0; x < 50; ++x)
                    if (edgeAt(x, y)) black[y * 50 + x] = false;
            primeOutlineState();
        }
        maskEdgeWithPattern(std::span<const std::uint8_t, 8>(g.outline.outlinePattern, 8));
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 50; ++x)
                if (bitAt(outlineWorkRow(y), x)) black[y * 50 + x] = !black[y * 50 + x];
        advanceOutlinePattern();
    };
    auto expectShowing = [&](int n) {
        for (int y = 0; y < 30; ++y) {
            const std::uint8_t p = kOutlineStartPattern[((y - n) % 8 + 8) % 8];
            EXPECT_EQ(shownOutlinePattern()[y % 8], p) << "tick " << n;
            for (int x = 0; x < 50; ++x)
                if (edgeAt(x, y)) {
                    ASSERT_EQ(black[y * 50 + x], ((p >> (7 - x % 8)) & 1) != 0)
                        << "tick " << n << " pixel " << x << "," << y;
                }
        }
    };
    EXPECT_EQ(g.outline.outlinePrimed, 0);
    tick();
    expectShowing(0);
    for (int n = 1; n <= 19; ++n) {
        tick();
        expectShowing(n);
    }
    g.outline.outlinePrimed = 0; // a full redraw wiped the outline
    std::fill(black.begin(), black.end(), true);
    tick();
    expectShowing(0);
    tick();
    expectShowing(1);
}

} // namespace
} // namespace vexel
