// The dispersion effect: values derived from the settings, and single pixels of the transform over
// a whole image (preview, final pass with sampleStep 1) and over the row cache.
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
constexpr Pixel kUntouched = {0xEE, 0xEE, 0xEE, 0xEE};

// A whole image whose byte k at (x, y) is value(x, y, k), read as the preview reads the work image.
struct WholeImage {
    std::vector<std::uint8_t> bytes;

    template <typename Value>
    WholeImage(std::int16_t width, std::int16_t height, std::int16_t planes, Value value) {
        testing::resetModuleState();
        g.planeCount = planes;
        g.gridWidth = width;
        g.gridHeight = height;
        g.workRowBytes = width * planes;
        bytes.resize(static_cast<std::size_t>(width * height * planes));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int k = 0; k < planes; ++k)
                    bytes[static_cast<std::size_t>((y * width + x) * planes + k)] =
                        static_cast<std::uint8_t>(value(x, y, k));
        g.workImage.address = bytes.data();
    }
};

// Produces the pixel at (x, y) plus the 16-bit fractions, as the preview positions it.
Pixel produce(std::int32_t x, std::int32_t y, std::int32_t fractionX = 0,
              std::int32_t fractionY = 0) {
    g.posX = x * 65536 + fractionX;
    g.posY = y * 65536 + fractionY;
    g.currentRow = g.workImage.address + y * g.workRowBytes;
    Pixel out = kUntouched;
    EXPECT_EQ(transformPixel(out.data()), -1);
    return out;
}

void useFullStrength() {
    g.mixEffect = 256;
    g.mixOriginal = 0;
}

// Blend weights from a strength, with a rectangle that takes in the whole test image.
void deriveWithStrength(std::int16_t strength) {
    g.strength = strength;
    deriveEffect(65536);
    g.halfWidth = 1000;
    g.halfHeight = 1000;
}

TEST(DeriveEffect, BlendWeightsFollowStrength) {
    testing::resetModuleState();
    for (auto [strength, effect, original] :
         {std::array{0, 0, 256}, std::array{33, 84, 172}, std::array{50, 128, 128},
          std::array{99, 253, 3}, std::array{100, 256, 0},
          // Stored values the dialog cannot produce keep the weights within a byte's blend.
          std::array{-1, 0, 256}, std::array{101, 256, 0}, std::array{32767, 256, 0}}) {
        g.strength = static_cast<std::int16_t>(strength);
        deriveEffect(65536);
        EXPECT_EQ(g.mixEffect, effect) << strength;
        EXPECT_EQ(g.mixOriginal, original) << strength;
    }
}

TEST(DeriveEffect, StepsFollowAngleAndStretchButNotScale) {
    testing::resetModuleState();
    struct Case {
        std::int16_t angle, stretch;
        std::int32_t stepX, stepY;
    };
    for (const Case& c :
         {Case{0, 100, 2500000, 0}, Case{90, 100, 0, 2500000}, Case{60, 100, 1249999, 2165063},
          Case{180, 100, -2500000, 0}, Case{0, 1, 25000, 0}, Case{270, 100, 0, -2500000}}) {
        for (std::int32_t scale : {65536, 163840, 1}) {
            g.angle = c.angle;
            g.stretch = c.stretch;
            deriveEffect(scale);
            EXPECT_EQ(g.stepX, c.stepX) << c.angle << " " << c.stretch;
            EXPECT_EQ(g.stepY, c.stepY) << c.angle << " " << c.stretch;
        }
    }
    g.angle = 120;
    g.stretch = 100;
    deriveEffect(65536);
    EXPECT_EQ(g.stepX, -1250000);
    g.angle = 0;
    g.stretch = 32767; // the largest stored stretch still fits 32 bits
    deriveEffect(65536);
    EXPECT_EQ(g.stepX, 819175000);
}

TEST(DeriveEffect, SaturatingProductRoundsAndSaturates) {
    for (auto [a, b, product] :
         {std::array{100, 512, 200}, std::array{5, 270, 5}, std::array{50, 270, 53},
          std::array{-1, 128, 0}, std::array{-1, 129, -1}, std::array{32767, 32767, 32767},
          std::array{-32768, 32767, -32767}, std::array{-32768, -32768, 32767},
          std::array{256, -32767, -32767}})
        EXPECT_EQ(saturatingProduct(static_cast<std::int16_t>(a), static_cast<std::int16_t>(b)),
                  product)
            << a << " x " << b;
}

TEST(DeriveEffect, RectangleScalesWithTheGrid) {
    testing::resetModuleState();
    g.height = 50;
    g.width = 50;
    g.previewMax = 270;
    deriveEffect(65536);
    EXPECT_EQ(g.halfWidth, 106);
    EXPECT_EQ(g.halfHeight, 106);
    deriveEffect(163840);
    EXPECT_EQ(g.halfWidth, 265);
    EXPECT_EQ(g.halfHeight, 265);

    // A stored width of 32767 saturates to 32767 preview units; times 2.0 the 32-bit product
    // wraps to -131072, which leaves a half width of -4: an empty rectangle, not a fault.
    g.width = 32767;
    g.previewMax = 512;
    deriveEffect(131072);
    EXPECT_EQ(g.halfWidth, -4);
}

TEST(TransformPixel, RectangleEdgesAreOutside) {
    // Byte k of pixel (x, y) is x * 10 + y + k; one step samples one pixel to the left.
    WholeImage image(21, 21, 3, [](int x, int y, int k) { return x * 10 + y + k; });
    useFullStrength();
    g.gridCenterX = 10;
    g.gridCenterY = 10;
    g.halfWidth = 3;
    g.halfHeight = 3;
    g.stepX = 65536;
    for (int d : {-3, 3}) {
        EXPECT_EQ(produce(10 + d, 10),
                  (Pixel{std::uint8_t(100 + d * 10 + 10), std::uint8_t(100 + d * 10 + 11),
                         std::uint8_t(100 + d * 10 + 12), 0xEE}))
            << "dx " << d;
        EXPECT_EQ(produce(10, 10 + d), (Pixel{std::uint8_t(110 + d), std::uint8_t(111 + d),
                                              std::uint8_t(112 + d), 0xEE}))
            << "dy " << d;
    }
    // dx = 2 and dy = -2 are inside: plane k comes from column x - (k + 1).
    EXPECT_EQ(produce(12, 8), (Pixel{118, 109, 100, 0xEE}));
    g.halfWidth = 0;
    EXPECT_EQ(produce(10, 10), (Pixel{110, 111, 112, 0xEE})) << "empty rectangle";
}

TEST(TransformPixel, PlanesFanOutBySteps) {
    WholeImage image(128, 4, 3, [](int x, int, int) { return x; });
    useFullStrength();
    g.gridCenterX = 100;
    g.halfWidth = 1000;
    g.halfHeight = 1000;
    g.stepX = 250000;
    EXPECT_EQ(produce(100, 1, 0x8000), (Pixel{96, 92, 89, 0xEE}));

    // A grey image has plane 0 only, sampled one step away.
    WholeImage grey(20, 1, 1, [](int x, int, int) { return x; });
    useFullStrength();
    g.halfWidth = 1000;
    g.halfHeight = 1000;
    g.stepX = 2 * 65536;
    EXPECT_EQ(produce(5, 0), (Pixel{3, 0xEE, 0xEE, 0xEE}));
}

TEST(TransformPixel, BlendsWithTheOriginalByStrength) {
    // Original bytes 200, displaced samples 100.
    WholeImage image(4, 1, 3, [](int x, int, int) { return x == 3 ? 200 : 100; });
    for (auto [strength, blended] : {std::pair{50, 150}, std::pair{33, 167}, std::pair{0, 200}}) {
        deriveWithStrength(static_cast<std::int16_t>(strength));
        g.stepX = 65536 / 2; // planes land on columns 2, 2 and 1
        const auto b = static_cast<std::uint8_t>(blended);
        EXPECT_EQ(produce(3, 0), (Pixel{b, b, b, 0xEE})) << strength;
    }
}

TEST(TransformPixel, BlackPlaneOfCmykIsNeverDisplaced) {
    WholeImage image(10, 1, 4, [](int x, int, int k) { return x * 20 + k; });
    for (std::int16_t strength : {100, 50}) {
        deriveWithStrength(strength);
        g.stepX = 65536;
        const Pixel out = produce(8, 0);
        EXPECT_EQ(out[3], 163) << strength;
        if (strength == 100) {
            EXPECT_EQ(out, (Pixel{140, 121, 102, 163}));
        }
    }
}

TEST(TransformPixel, SamplesOutsideTheImageKeepThatPlanesByte) {
    WholeImage image(10, 10, 3, [](int x, int y, int k) { return 100 + x * 10 + y + k; });
    useFullStrength();
    g.halfWidth = 1000;
    g.halfHeight = 1000;
    g.stepX = 65536; // plane 0 at column 0, planes 1 and 2 left of the image
    EXPECT_EQ(produce(1, 5), (Pixel{105, 116, 117, 0xEE}));
    g.stepX = 0x8001; // half a pixel and a bit from column 0.5: column -1, not 0
    EXPECT_EQ(produce(0, 5, 0x8000), (Pixel{105, 106, 107, 0xEE}));
    g.stepX = -65536; // right of the image from column 8 on: plane 0 at 9, then 10 and 11
    EXPECT_EQ(produce(8, 5), (Pixel{195, 186, 187, 0xEE}));
    g.stepX = 0;
    g.stepY = 2 * 65536; // below: rows 7, 9, then 11
    EXPECT_EQ(produce(4, 5), (Pixel{147, 150, 147, 0xEE}));
    g.stepY = -3 * 65536; // above: row 2, then -1 and -4
    EXPECT_EQ(produce(4, 5), (Pixel{142, 146, 147, 0xEE}));
}

// The final pass over the row cache: 8 x 10 pixels, producing (3, 4). Byte k of cached row r is
// r * 10 + k.
struct CachedImage {
    std::vector<std::uint8_t> row;

    explicit CachedImage(std::int16_t planes = 3) : row(static_cast<std::size_t>(8 * planes)) {
        testing::resetModuleState();
        g.planeCount = planes;
        g.imageWidth = 8;
        g.imageHeight = 10;
        g.imageRowBytes = 8 * planes;
        g.gridWidth = 8;
        g.gridHeight = 10;
        g.sampleStep = 2;
        EXPECT_EQ(setupRowCache(), 0);
        useFullStrength();
        g.halfWidth = 1000;
        g.halfHeight = 1000;
    }
    ~CachedImage() { freeRunBuffer(g.rowCache); }

    void insert(std::int16_t index) {
        for (std::size_t i = 0; i < row.size(); ++i)
            row[i] = static_cast<std::uint8_t>(index * 10 + static_cast<int>(i) % g.planeCount);
        g.currentRow = row.data();
        g.currentRowIndex = index;
        cacheInsert();
        g.currentRow = nullptr;
    }
    std::int16_t produce(Pixel& out) {
        g.posX = 3 << 16;
        g.posY = 4 << 16;
        return transformPixel(out.data());
    }
};

TEST(TransformPixel, FinalPassReportsTheFirstMissingRow) {
    {
        CachedImage cache;
        g.stepY = 2 * 65536; // planes read rows 6, 8 and (outside) 10
        Pixel out = kUntouched;
        EXPECT_EQ(cache.produce(out), 4) << "the pixel's own row";
        cache.insert(4);
        EXPECT_EQ(cache.produce(out), 6);
        cache.insert(8);
        EXPECT_EQ(cache.produce(out), 6) << "plane 0's row is asked for first";
        EXPECT_EQ(out, kUntouched);
        cache.insert(6);
        EXPECT_EQ(cache.produce(out), -1);
        EXPECT_EQ(out, (Pixel{60, 81, 42, 0xEE}));
    }
    {
        // Outside the rectangle only the pixel's own row is needed.
        CachedImage cache;
        cache.insert(4);
        g.halfWidth = 0;
        g.stepY = 65536;
        Pixel out = kUntouched;
        EXPECT_EQ(cache.produce(out), -1);
        EXPECT_EQ(out, (Pixel{40, 41, 42, 0xEE}));
    }
}

TEST(TransformPixel, BlackPlaneNeedsNoRowOfItsOwn) {
    CachedImage cache(4); // plane 3 would lie on row 8, which is never cached
    for (std::int16_t row : {4, 5, 6, 7})
        cache.insert(row);
    g.stepY = 65536;
    Pixel out = kUntouched;
    EXPECT_EQ(cache.produce(out), -1);
    EXPECT_EQ(out, (Pixel{50, 61, 72, 43}));
}

} // namespace
} // namespace vexel
