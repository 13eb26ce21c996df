// The row kernel must give exactly what transformPixel gives column by column: the same bytes,
// the same missing row, the same position left behind. Random images, settings, centres and
// positions, over a whole image and over the row cache, exercise every way a row can be cut.
// Each test runs once per blend path (plain words, SSE2 and AVX2 vectors).
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "effect/dispersion.h"
#include "effect/row_blend.h"
#include "host/int_math.h"
#include "host/memory.h"
#include "host/plugin_globals.h"
#include "pipeline/row_cache.h"
#include "tests/unit/test_support.h"

namespace vexel {
namespace {

std::mt19937 engine(20240611);
std::int32_t in(std::int64_t low, std::int64_t high) {
    return static_cast<std::int32_t>(
        std::uniform_int_distribution<std::int64_t>(low, high)(engine));
}
std::int16_t any16() {
    return static_cast<std::int16_t>(in(-32768, 32767));
}
bool chance(double p) {
    return std::bernoulli_distribution(p)(engine);
}

struct Image {
    std::int16_t planes, width, height;
    std::int32_t rowBytes;
    std::vector<std::uint8_t> bytes;
    std::uint8_t* row(std::int32_t y) { return bytes.data() + std::int64_t{y} * rowBytes; }
};

// Mostly small and medium images; a few 28000+ columns wide (for wrapped columns) or rows tall
// (for wrapped vertical steps that land inside again).
Image randomImage(std::int32_t padding) {
    const int shape = in(0, 99);
    const std::int16_t planes = shape < 5 ? 1 : std::array<std::int16_t, 3>{1, 3, 4}[in(0, 2)];
    const auto width = static_cast<std::int16_t>(shape < 2    ? in(28000, 32767)
                                                 : shape < 5  ? in(1, 3)
                                                 : shape < 35 ? in(65, 600)
                                                              : in(1, 64));
    const auto height = static_cast<std::int16_t>(shape < 2    ? in(1, 3)
                                                  : shape < 5  ? in(28000, 32767)
                                                  : shape < 35 ? in(1, 12)
                                                               : in(1, 40));
    Image image{planes, width, height, width * planes + padding, {}};
    image.bytes.resize(static_cast<std::size_t>(image.rowBytes) * height);
    for (auto& b : image.bytes)
        b = static_cast<std::uint8_t>(in(0, 255));
    return image;
}

// Settings mostly from the dialog's ranges, sometimes any stored value, sometimes derived values
// set directly; a centre near the image or anywhere; a random row with random fractions.
std::int16_t randomRow(const Image& image) {
    g.angle = chance(0.8) ? static_cast<std::int16_t>(in(0, 360)) : any16();
    g.stretch = chance(0.8) ? static_cast<std::int16_t>(in(1, 100)) : any16();
    g.strength = static_cast<std::int16_t>(in(0, 100));
    g.height = chance(0.8) ? static_cast<std::int16_t>(in(5, 100)) : any16();
    g.width = chance(0.8) ? static_cast<std::int16_t>(in(5, 100)) : any16();
    g.previewMax = static_cast<std::int16_t>(in(1, 512));
    deriveEffect(chance(0.8) ? in(4096, 10 << 16) : in(INT32_MIN, INT32_MAX));
    if (chance(0.15)) g.halfWidth = any16();
    if (chance(0.15)) g.halfHeight = any16();
    if (chance(0.3)) g.halfWidth = static_cast<std::int16_t>(in(0, image.width / 2 + 2));
    if (chance(0.15)) g.stepX = in(INT32_MIN, INT32_MAX);
    if (chance(0.15)) g.stepY = in(INT32_MIN, INT32_MAX);
    if (chance(0.2)) g.stepX = in(-4 * 65536, 4 * 65536);
    if (chance(0.2)) g.stepY = in(-4 * 65536, 4 * 65536);
    const bool near = chance(0.7);
    g.gridCenterX = near ? static_cast<std::int16_t>(in(-20, image.width + 20)) : any16();
    g.gridCenterY = near ? static_cast<std::int16_t>(in(-20, image.height + 20)) : any16();
    const auto row = static_cast<std::int16_t>(image.height > 1000 && chance(0.7)
                                                   ? in(image.height - 200, image.height - 1)
                                                   : in(0, image.height - 1));
    if (chance(0.15)) // on the top or bottom edge of the rectangle, or just inside
        g.gridCenterY = wrap16(row + (chance(0.5) ? 1 : -1) * (g.halfHeight - in(0, 1)));
    g.posX = in(0, 0xFFFF);
    g.posY = withWholePart(in(0, 0xFFFF), row);
    return row;
}

// Produces the row both ways from the same state and compares everything they leave behind.
void expectSameRow(const Image& image, const char* situation) {
    std::vector<std::uint8_t> expected(static_cast<std::size_t>(image.width) * image.planes);
    for (auto& b : expected)
        b = static_cast<std::uint8_t>(in(0, 255));
    std::vector<std::uint8_t> actual = expected;
    const std::int32_t posX = g.posX;
    std::int16_t expectedResult = -1;
    for (std::int16_t column = 0; column < image.width && expectedResult < 0; ++column) {
        g.posX = withWholePart(g.posX, column);
        expectedResult = transformPixel(expected.data() + column * image.planes);
    }
    const std::int32_t expectedPosX = g.posX;
    g.posX = posX;
    ASSERT_EQ(transformRow(actual.data(), image.width), expectedResult) << situation;
    ASSERT_EQ(g.posX, expectedPosX) << situation;
    ASSERT_EQ(actual, expected) << situation << ": planes " << image.planes << ", centre "
                                << g.gridCenterX << "," << g.gridCenterY << ", half " << g.halfWidth
                                << "," << g.halfHeight << ", steps " << g.stepX << "," << g.stepY
                                << ", pos " << posX << "," << g.posY;
}

void useGrid(const Image& image) {
    testing::resetModuleState();
    g.planeCount = image.planes;
    g.gridWidth = image.width;
    g.gridHeight = image.height;
}

// The preview and the final pass with sampleStep 1: one whole image with padded rows.
void compareOverWholeImage(Image& image) {
    useGrid(image);
    g.workImage.address = image.bytes.data();
    g.workRowBytes = image.rowBytes;
    for (int i = 0; i < 3 && !::testing::Test::HasFatalFailure(); ++i) {
        g.currentRow = image.row(randomRow(image));
        expectSameRow(image, "whole image");
    }
}

// The final pass with sampleStep > 1: the host's current row or none, and a cache holding some
// of the rows the planes read and some others.
void compareOverCache(Image& image) {
    useGrid(image);
    g.imageWidth = image.width;
    g.imageHeight = image.height;
    g.imageRowBytes = image.rowBytes;
    g.sampleStep = 2;
    ASSERT_EQ(setupRowCache(), 0);
    auto file = [&](std::int32_t row) {
        if (row < 0 || row >= image.height) return;
        g.currentRow = image.row(row);
        g.currentRowIndex = static_cast<std::int16_t>(row);
        cacheInsert();
    };
    for (int i = 0; i < 3 && !::testing::Test::HasFatalFailure(); ++i) {
        const std::int16_t row = randomRow(image);
        const double filed = in(0, 2) * 0.45;
        if (chance(0.8)) file(row);
        std::int32_t y = g.posY;
        for (int k = 0; k < 3; ++k)
            if (y = addWrap32(y, g.stepY); chance(filed)) file(wholePart(y));
        for (int extra = in(0, 3); extra > 0; --extra)
            file(in(0, image.height - 1));
        std::vector<std::uint8_t> current(image.row(row), image.row(row) + image.rowBytes);
        g.currentRow = chance(0.5) ? current.data() : nullptr;
        expectSameRow(image, g.currentRow ? "cache with current row" : "cache only");
    }
    freeRunBuffer(g.rowCache);
}

class TransformRow : public ::testing::TestWithParam<BlendPath> {
  protected:
    void SetUp() override {
        if (!blendPathSupported(GetParam())) GTEST_SKIP() << "not on this processor";
        forceBlendPath(GetParam());
        ASSERT_EQ(activeBlendPath(), GetParam());
    }
    void TearDown() override { forceBlendPath(BlendPath::automatic); }
};

std::string pathName(const ::testing::TestParamInfo<BlendPath>& info) {
    return info.param == BlendPath::avx2   ? "Avx2"
           : info.param == BlendPath::sse2 ? "Sse2"
                                           : "Plain";
}

INSTANTIATE_TEST_SUITE_P(BlendPaths, TransformRow,
                         ::testing::Values(BlendPath::plain, BlendPath::sse2, BlendPath::avx2),
                         pathName);

TEST_P(TransformRow, MatchesThePixelTransformOnRandomRows) {
    for (int n = 0; n < 1500 && !HasFatalFailure(); ++n) {
        if (chance(0.5)) {
            Image image = randomImage(0);
            compareOverCache(image);
        } else {
            Image image = randomImage(in(0, 5));
            compareOverWholeImage(image);
        }
    }
}

// On a 32767-pixel row with the largest stretch, plane 0 of column 0 lies at column -12500 and
// plane 1 at -25000 (both outside), while plane 2 wraps as the 16-bit position does, to
// wrap16(-37499) = column 28037. Planes read rows 1, 2 and 3.
TEST_P(TransformRow, WrapsDisplacedColumnsLikeSixteenBitPositions) {
    Image image{3, 32767, 4, 3 * 32767, std::vector<std::uint8_t>(4 * 3 * 32767)};
    for (std::size_t i = 0; i < image.bytes.size(); ++i)
        image.bytes[i] = static_cast<std::uint8_t>(i / 3 * 7 + i % 3);
    auto setUp = [&] {
        useGrid(image);
        g.strength = 100;
        g.stretch = 32767;
        deriveEffect(65536);
        ASSERT_EQ(g.stepX, 819175000);
        g.stepY = 65536;
        g.halfWidth = 32767;
        g.halfHeight = 1;
        g.posX = 0;
        g.posY = 0;
        g.currentRow = image.bytes.data();
    };
    setUp();
    g.workImage.address = image.bytes.data();
    g.workRowBytes = image.rowBytes;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(image.rowBytes));
    ASSERT_EQ(transformRow(out.data(), image.width), -1);
    EXPECT_EQ(out[0], image.bytes[0]);
    EXPECT_EQ(out[1], image.bytes[1]);
    EXPECT_EQ(out[2], image.row(3)[28037 * 3 + 2]);
    expectSameRow(image, "wrapped columns");

    // Over the cache, with none of rows 1 to 3 cached, plane 2 needs its row first: at column 0
    // it is the only plane inside the image.
    setUp();
    g.imageWidth = image.width;
    g.imageHeight = image.height;
    g.imageRowBytes = image.rowBytes;
    g.sampleStep = 2;
    ASSERT_EQ(setupRowCache(), 0);
    EXPECT_EQ(transformRow(out.data(), image.width), 3);
    EXPECT_EQ(g.posX, 0);
    expectSameRow(image, "wrapped plane missing");
    freeRunBuffer(g.rowCache);
}

} // namespace
} // namespace vexel
