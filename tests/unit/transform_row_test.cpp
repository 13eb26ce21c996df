// The row kernel must give exactly what transformPixel gives column by column: the same bytes,
// the same missing row, the same position left behind. Random images, settings, centres and
// positions, over a whole image and over the row cache, exercise every way a row can be cut; a
// third of the images have 16-bit samples (any value, also past 32768). Over the cache, some
// rows hold planes past the image mode's, as a host's alpha or extra channels: they never change.
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
    std::int16_t planes, width, height; // planes: the image mode's
    std::int32_t rowBytes;
    std::vector<std::uint8_t> bytes;
    std::int16_t sampleBytes = 1;
    std::int16_t extraPlanes = 0; // beside them in every pixel: the host's further planes
    std::int32_t pixelBytes() const { return (planes + extraPlanes) * sampleBytes; }
    std::uint8_t* row(std::int32_t y) { return bytes.data() + std::int64_t{y} * rowBytes; }
};

// Mostly small and medium images; a few 28000+ columns wide (for wrapped columns) or rows tall
// (for wrapped vertical steps that land inside again).
Image randomImage(std::int32_t padding, bool hostRows) {
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
    const std::int16_t sampleBytes = chance(0.33) ? 2 : 1;
    const auto extra = static_cast<std::int16_t>(hostRows && chance(0.4) ? in(1, 3) : 0);
    Image image{planes, width,       height, width * (planes + extra) * sampleBytes + padding,
                {},     sampleBytes, extra};
    image.bytes.resize(static_cast<std::size_t>(image.rowBytes) * height);
    for (auto& b : image.bytes)
        b = static_cast<std::uint8_t>(in(0, 255));
    return image;
}

// Settings mostly from the dialog's ranges, sometimes any stored value, sometimes derived values
// set directly; a centre near the image or anywhere; a random row with random fractions.
std::int16_t randomRow(const Image& image) {
    g.settings.angle = chance(0.8) ? static_cast<std::int16_t>(in(0, 360)) : any16();
    g.settings.stretch = chance(0.8) ? static_cast<std::int16_t>(in(1, 100)) : any16();
    g.settings.strength = static_cast<std::int16_t>(in(0, 100));
    g.settings.height = chance(0.8) ? static_cast<std::int16_t>(in(5, 100)) : any16();
    g.settings.width = chance(0.8) ? static_cast<std::int16_t>(in(5, 100)) : any16();
    g.geometry.previewMax = static_cast<std::int16_t>(in(1, 512));
    deriveEffect(g.effect, g.settings, g.geometry.previewMax,
                 chance(0.8) ? in(4096, 10 << 16) : in(INT32_MIN, INT32_MAX));
    if (chance(0.15)) g.effect.halfWidth = any16();
    if (chance(0.15)) g.effect.halfHeight = any16();
    if (chance(0.3)) g.effect.halfWidth = static_cast<std::int16_t>(in(0, image.width / 2 + 2));
    if (chance(0.15)) g.effect.stepX = in(INT32_MIN, INT32_MAX);
    if (chance(0.15)) g.effect.stepY = in(INT32_MIN, INT32_MAX);
    if (chance(0.2)) g.effect.stepX = in(-4 * 65536, 4 * 65536);
    if (chance(0.2)) g.effect.stepY = in(-4 * 65536, 4 * 65536);
    const bool near = chance(0.7);
    g.effect.gridCenterX = near ? static_cast<std::int16_t>(in(-20, image.width + 20)) : any16();
    g.effect.gridCenterY = near ? static_cast<std::int16_t>(in(-20, image.height + 20)) : any16();
    const auto row = static_cast<std::int16_t>(image.height > 1000 && chance(0.7)
                                                   ? in(image.height - 200, image.height - 1)
                                                   : in(0, image.height - 1));
    if (chance(0.15)) // on the top or bottom edge of the rectangle, or just inside
        g.effect.gridCenterY =
            wrap16(row + (chance(0.5) ? 1 : -1) * (g.effect.halfHeight - in(0, 1)));
    g.production.posX = in(0, 0xFFFF);
    g.production.posY = withWholePart(in(0, 0xFFFF), row);
    return row;
}

// Produces the row both ways from the same state and compares everything they leave behind.
void expectSameRow(const Image& image, const char* situation) {
    std::vector<std::uint8_t> expected(static_cast<std::size_t>(image.width) * image.pixelBytes());
    for (auto& b : expected)
        b = static_cast<std::uint8_t>(in(0, 255));
    std::vector<std::uint8_t> actual = expected;
    const std::int32_t posX = g.production.posX;
    std::int16_t expectedResult = -1;
    for (std::int16_t column = 0; column < image.width && expectedResult < 0; ++column) {
        g.production.posX = withWholePart(g.production.posX, column);
        expectedResult = transformPixel(g.effect, expected.data() + column * image.pixelBytes());
    }
    const std::int32_t expectedPosX = g.production.posX;
    g.production.posX = posX;
    ASSERT_EQ(transformRow(g.effect, actual.data(), image.width), expectedResult) << situation;
    ASSERT_EQ(g.production.posX, expectedPosX) << situation;
    ASSERT_EQ(actual, expected) << situation << ": planes " << image.planes << " + "
                                << image.extraPlanes << " of " << image.sampleBytes
                                << " bytes, centre " << g.effect.gridCenterX << ","
                                << g.effect.gridCenterY << ", half " << g.effect.halfWidth << ","
                                << g.effect.halfHeight << ", steps " << g.effect.stepX << ","
                                << g.effect.stepY << ", pos " << posX << "," << g.production.posY;
}

void useGrid(const Image& image) {
    testing::resetModuleState();
    g.geometry.planeCount = image.planes;
    g.geometry.hostPlanes = static_cast<std::int16_t>(image.planes + image.extraPlanes);
    g.geometry.sampleBytes = image.sampleBytes;
    g.production.gridWidth = image.width;
    g.production.gridHeight = image.height;
}

// The preview and the final pass with sampleStep 1: one whole image with padded rows.
void compareOverWholeImage(Image& image) {
    useGrid(image);
    g.buffers.workImage.address = image.bytes.data();
    g.geometry.workRowBytes = image.rowBytes;
    for (int i = 0; i < 3 && !::testing::Test::HasFatalFailure(); ++i) {
        g.production.currentRow = image.row(randomRow(image));
        expectSameRow(image, "whole image");
    }
}

// The final pass with sampleStep > 1: the host's current row or none, and a cache holding some
// of the rows the planes read and some others.
void compareOverCache(Image& image) {
    useGrid(image);
    g.geometry.imageWidth = image.width;
    g.geometry.imageHeight = image.height;
    g.geometry.hostRowBytes = image.rowBytes;
    g.geometry.sampleStep = 2;
    ASSERT_EQ(setupRowCache(), 0);
    auto file = [&](std::int32_t row) {
        if (row < 0 || row >= image.height) return;
        g.production.currentRow = image.row(row);
        g.production.currentRowIndex = static_cast<std::int16_t>(row);
        cacheInsert();
    };
    for (int i = 0; i < 3 && !::testing::Test::HasFatalFailure(); ++i) {
        const std::int16_t row = randomRow(image);
        const double filed = in(0, 2) * 0.45;
        if (chance(0.8)) file(row);
        std::int32_t y = g.production.posY;
        for (int k = 0; k < 3; ++k)
            if (y = addWrap32(y, g.effect.stepY); chance(filed)) file(wholePart(y));
        for (int extra = in(0, 3); extra > 0; --extra)
            file(in(0, image.height - 1));
        std::vector<std::uint8_t> current(image.row(row), image.row(row) + image.rowBytes);
        g.production.currentRow = chance(0.5) ? current.data() : nullptr;
        expectSameRow(image, g.production.currentRow ? "cache with current row" : "cache only");
        if (::testing::Test::HasFatalFailure() || image.extraPlanes == 0) continue;
        // The row as the module writes it into a host's buffer that starts at 0.
        std::vector<std::uint8_t> out(static_cast<std::size_t>(image.width) * image.pixelBytes());
        g.production.posX = withWholePart(g.production.posX, 0);
        if (transformRow(g.effect, out.data(), image.width) >= 0) continue;
        const std::size_t colourBytes = static_cast<std::size_t>(image.planes * image.sampleBytes);
        for (std::size_t at = 0; at < out.size(); ++at) {
            if (at % static_cast<std::size_t>(image.pixelBytes()) < colourBytes) continue;
            ASSERT_EQ(out[at], image.row(row)[at]) << "extra plane byte " << at;
        }
    }
    freeRunBuffer(g.buffers.rowCache);
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
            Image image = randomImage(0, true);
            compareOverCache(image);
        } else {
            Image image = randomImage(in(0, 5), false);
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
        g.settings.strength = 100;
        g.settings.stretch = 32767;
        deriveEffect(g.effect, g.settings, g.geometry.previewMax, 65536);
        ASSERT_EQ(g.effect.stepX, 819175000);
        g.effect.stepY = 65536;
        g.effect.halfWidth = 32767;
        g.effect.halfHeight = 1;
        g.production.posX = 0;
        g.production.posY = 0;
        g.production.currentRow = image.bytes.data();
    };
    setUp();
    g.buffers.workImage.address = image.bytes.data();
    g.geometry.workRowBytes = image.rowBytes;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(image.rowBytes));
    ASSERT_EQ(transformRow(g.effect, out.data(), image.width), -1);
    EXPECT_EQ(out[0], image.bytes[0]);
    EXPECT_EQ(out[1], image.bytes[1]);
    EXPECT_EQ(out[2], image.row(3)[28037 * 3 + 2]);
    expectSameRow(image, "wrapped columns");

    // Over the cache, with none of rows 1 to 3 cached, plane 2 needs its row first: at column 0
    // it is the only plane inside the image.
    setUp();
    g.geometry.imageWidth = image.width;
    g.geometry.imageHeight = image.height;
    g.geometry.hostRowBytes = image.rowBytes;
    g.geometry.sampleStep = 2;
    ASSERT_EQ(setupRowCache(), 0);
    EXPECT_EQ(transformRow(g.effect, out.data(), image.width), 3);
    EXPECT_EQ(g.production.posX, 0);
    expectSameRow(image, "wrapped plane missing");
    freeRunBuffer(g.buffers.rowCache);
}

} // namespace
} // namespace vexel
