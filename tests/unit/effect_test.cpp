// The dispersion effect: values derived from the settings, and single pixels over a whole image
// (preview, final pass with sampleStep 1) and over the row cache.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "effect/dispersion.h"
#include "host/memory.h"
#include "host/plugin_globals.h"
#include "pipeline/row_cache.h"
#include "tests/unit/test_support.h"

namespace vexel {
namespace {

using Pixel = std::array<std::uint8_t, 4>;
constexpr std::uint8_t kUntouched = 0xEE;

TEST(DeriveEffect, WeightsStepsAndProducts) {
    testing::resetModuleState();
    // Strengths the dialog cannot produce (-1, 101, 32767) keep the blend within a byte.
    for (auto [strength, effect, original] :
         {std::array{0, 0, 256}, std::array{33, 84, 172}, std::array{50, 128, 128},
          std::array{99, 253, 3}, std::array{100, 256, 0}, std::array{-1, 0, 256},
          std::array{101, 256, 0}, std::array{32767, 256, 0}}) {
        g.settings.strength = static_cast<std::int16_t>(strength);
        deriveEffect(g.effect, g.settings, g.geometry.previewMax, 65536);
        EXPECT_EQ(g.effect.mixEffect, effect) << strength;
        EXPECT_EQ(g.effect.mixOriginal, original) << strength;
    }
    // The steps truncate as the effect's own pi (3.14159265359) makes them, whatever the scale.
    for (auto [angle, stretch, stepX, stepY] :
         {std::array{0, 100, 2500000, 0}, std::array{90, 100, 0, 2500000},
          std::array{60, 100, 1249999, 2165063}, std::array{120, 100, -1250000, 2165063},
          std::array{180, 100, -2500000, 0}, std::array{0, 1, 25000, 0},
          std::array{0, 32767, 819175000, 0}})
        for (std::int32_t scale : {65536, 163840, 1}) {
            g.settings.angle = static_cast<std::int16_t>(angle);
            g.settings.stretch = static_cast<std::int16_t>(stretch);
            deriveEffect(g.effect, g.settings, g.geometry.previewMax, scale);
            EXPECT_EQ(g.effect.stepX, stepX) << angle << " " << stretch;
            EXPECT_EQ(g.effect.stepY, stepY) << angle << " " << stretch;
        }
    for (auto [a, b, product] :
         {std::array{100, 512, 200}, std::array{5, 270, 5}, std::array{50, 270, 53},
          std::array{-1, 128, 0}, std::array{-1, 129, -1}, std::array{32767, 32767, 32767},
          std::array{-32768, 32767, -32767}, std::array{256, -32767, -32767}})
        EXPECT_EQ(saturatingProduct(static_cast<std::int16_t>(a), static_cast<std::int16_t>(b)),
                  product)
            << a << " x " << b;
}

TEST(DeriveEffect, RectangleScalesWithTheGrid) {
    testing::resetModuleState();
    g.settings.height = 50;
    g.settings.width = 50;
    g.geometry.previewMax = 270;
    deriveEffect(g.effect, g.settings, g.geometry.previewMax, 65536);
    EXPECT_EQ(g.effect.halfWidth, 106);
    EXPECT_EQ(g.effect.halfHeight, 106);
    deriveEffect(g.effect, g.settings, g.geometry.previewMax, 163840);
    EXPECT_EQ(g.effect.halfWidth, 265);
    EXPECT_EQ(g.effect.halfHeight, 265);
    // A stored width of 32767 saturates to 32767; times 2.0 the 32-bit product wraps to -131072,
    // leaving a half width of -4: an empty rectangle, not a fault.
    g.settings.width = 32767;
    g.geometry.previewMax = 512;
    deriveEffect(g.effect, g.settings, g.geometry.previewMax, 131072);
    EXPECT_EQ(g.effect.halfWidth, -4);
}

// A whole image whose byte k at (x, y) is value(x, y, k), with a rectangle over all of it and the
// displaced samples taken at full strength.
template <typename Value>
std::vector<std::uint8_t> wholeImage(int width, int height, int planes, Value value) {
    testing::resetModuleState();
    g.geometry.planeCount = static_cast<std::int16_t>(planes);
    g.production.gridWidth = static_cast<std::int16_t>(width);
    g.production.gridHeight = static_cast<std::int16_t>(height);
    g.geometry.workRowBytes = width * planes;
    std::vector<std::uint8_t> bytes;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int k = 0; k < planes; ++k)
                bytes.push_back(static_cast<std::uint8_t>(value(x, y, k)));
    g.effect.halfWidth = 1000;
    g.effect.halfHeight = 1000;
    g.effect.mixEffect = 256;
    g.effect.mixOriginal = 0;
    return bytes;
}

// The pixel at (x, y) plus a column fraction, as the preview produces it.
Pixel produce(std::vector<std::uint8_t>& image, int x, int y, std::int32_t fractionX = 0) {
    g.buffers.workImage.address = image.data();
    g.production.posX = x * 65536 + fractionX;
    g.production.posY = y * 65536;
    g.production.currentRow = image.data() + y * g.geometry.workRowBytes;
    Pixel out{kUntouched, kUntouched, kUntouched, kUntouched};
    EXPECT_EQ(transformPixel(g.effect, out.data()), -1);
    return out;
}

TEST(TransformPixel, RectangleEdgesAreOutside) {
    auto image = wholeImage(21, 21, 3, [](int x, int y, int k) { return x * 10 + y + k; });
    g.effect.gridCenterX = 10;
    g.effect.gridCenterY = 10;
    g.effect.halfWidth = 3;
    g.effect.halfHeight = 3;
    g.effect.stepX = 65536; // plane k from k + 1 columns to the left
    for (int d : {-3, 3}) {
        const auto b = static_cast<std::uint8_t>(110 + d * 10);
        EXPECT_EQ(produce(image, 10 + d, 10),
                  (Pixel{b, std::uint8_t(b + 1), std::uint8_t(b + 2), kUntouched}));
        const auto c = static_cast<std::uint8_t>(110 + d);
        EXPECT_EQ(produce(image, 10, 10 + d),
                  (Pixel{c, std::uint8_t(c + 1), std::uint8_t(c + 2), kUntouched}));
    }
    EXPECT_EQ(produce(image, 12, 8), (Pixel{118, 109, 100, kUntouched})) << "dx 2, dy -2: inside";
    g.effect.halfWidth = 0;
    EXPECT_EQ(produce(image, 10, 10), (Pixel{110, 111, 112, kUntouched})) << "empty rectangle";
}

TEST(TransformPixel, PlanesFanOutByStepsAndKeepTheirByteOutsideTheImage) {
    auto columns = wholeImage(128, 4, 3, [](int x, int, int) { return x; });
    g.effect.stepX = 250000;
    EXPECT_EQ(produce(columns, 100, 1, 0x8000), (Pixel{96, 92, 89, kUntouched}));

    auto grey = wholeImage(20, 1, 1, [](int x, int, int) { return x; });
    g.effect.stepX = 2 * 65536;
    EXPECT_EQ(produce(grey, 5, 0), (Pixel{3, kUntouched, kUntouched, kUntouched}));

    auto image = wholeImage(10, 10, 3, [](int x, int y, int k) { return 100 + x * 10 + y + k; });
    g.effect.stepX = 65536; // plane 0 at column 0, planes 1 and 2 left of the image
    EXPECT_EQ(produce(image, 1, 5), (Pixel{105, 116, 117, kUntouched}));
    g.effect.stepX = 0x8001; // from column 0.5 a little more than half a pixel: column -1, not 0
    EXPECT_EQ(produce(image, 0, 5, 0x8000), (Pixel{105, 106, 107, kUntouched}));
    g.effect.stepX = -65536; // plane 0 at column 9, then 10 and 11
    EXPECT_EQ(produce(image, 8, 5), (Pixel{195, 186, 187, kUntouched}));
    g.effect.stepX = 0;
    g.effect.stepY = 2 * 65536; // rows 7, 9, then 11
    EXPECT_EQ(produce(image, 4, 5), (Pixel{147, 150, 147, kUntouched}));
    g.effect.stepY = -3 * 65536; // row 2, then -1 and -4
    EXPECT_EQ(produce(image, 4, 5), (Pixel{142, 146, 147, kUntouched}));
}

TEST(TransformPixel, BlendsByStrengthAndNeverMovesTheBlackPlane) {
    auto image = wholeImage(4, 1, 3, [](int x, int, int) { return x == 3 ? 200 : 100; });
    for (auto [strength, blended] : {std::pair{50, 150}, std::pair{33, 167}, std::pair{0, 200}}) {
        g.settings.strength = static_cast<std::int16_t>(strength);
        deriveEffect(g.effect, g.settings, g.geometry.previewMax, 65536);
        g.effect.halfWidth = 1000;
        g.effect.halfHeight = 1000;
        g.effect.stepX = 65536 / 2; // samples of 100 from columns 2, 2 and 1
        const auto b =
            static_cast<std::uint8_t>(blended); // (200 x mixOriginal + 100 x mixEffect) >> 8
        EXPECT_EQ(produce(image, 3, 0), (Pixel{b, b, b, kUntouched})) << strength;
    }
    auto cmyk = wholeImage(10, 1, 4, [](int x, int, int k) { return x * 20 + k; });
    g.effect.stepX = 65536;
    EXPECT_EQ(produce(cmyk, 8, 0), (Pixel{140, 121, 102, 163}));
    g.effect.mixEffect = 128;
    g.effect.mixOriginal = 128;
    EXPECT_EQ(produce(cmyk, 8, 0)[3], 163);
}

// The final pass over the row cache: 8 x 10 pixels, producing (3, 4). Byte k of a cached row r
// is r * 10 + k.
struct CachedImage {
    std::vector<std::uint8_t> row;

    explicit CachedImage(std::int16_t planes) : row(static_cast<std::size_t>(8 * planes)) {
        wholeImage(8, 10, planes, [](int, int, int) { return 0; });
        g.geometry.imageWidth = 8;
        g.geometry.imageHeight = 10;
        g.geometry.hostRowBytes = 8 * planes;
        g.geometry.sampleStep = 2;
        EXPECT_EQ(setupRowCache(), 0);
    }
    ~CachedImage() { freeRunBuffer(g.buffers.rowCache); }

    void insert(std::int16_t index) {
        for (std::size_t i = 0; i < row.size(); ++i)
            row[i] =
                static_cast<std::uint8_t>(index * 10 + static_cast<int>(i) % g.geometry.planeCount);
        g.production.currentRow = row.data();
        g.production.currentRowIndex = index;
        cacheInsert();
        g.production.currentRow = nullptr;
    }
    std::int16_t produce(Pixel& out) {
        g.production.posX = 3 << 16;
        g.production.posY = 4 << 16;
        return transformPixel(g.effect, out.data());
    }
};

TEST(TransformPixel, FinalPassReportsTheFirstMissingRow) {
    const Pixel untouched{kUntouched, kUntouched, kUntouched, kUntouched};
    {
        CachedImage cache(3);
        g.effect.stepY = 2 * 65536; // planes read rows 6, 8 and (outside) 10
        Pixel out = untouched;
        EXPECT_EQ(cache.produce(out), 4) << "the pixel's own row";
        cache.insert(4);
        EXPECT_EQ(cache.produce(out), 6);
        cache.insert(8);
        EXPECT_EQ(cache.produce(out), 6) << "plane 0's row is asked for first";
        EXPECT_EQ(out, untouched);
        cache.insert(6);
        EXPECT_EQ(cache.produce(out), -1);
        EXPECT_EQ(out, (Pixel{60, 81, 42, kUntouched}));
        g.effect.halfWidth = 0; // outside the rectangle only the pixel's own row is needed
        g.effect.stepY = 65536;
        EXPECT_EQ(cache.produce(out), -1);
        EXPECT_EQ(out, (Pixel{40, 41, 42, kUntouched}));
    }
    CachedImage cmyk(4); // plane 3 would lie on row 8, which is never cached
    for (std::int16_t row : {4, 5, 6, 7})
        cmyk.insert(row);
    g.effect.stepY = 65536;
    Pixel out = untouched;
    EXPECT_EQ(cmyk.produce(out), -1);
    EXPECT_EQ(out, (Pixel{50, 61, 72, 43}));
}

} // namespace
} // namespace vexel
