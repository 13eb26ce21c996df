// The row kernel must give exactly what transformPixel gives column by column: the same bytes,
// the same missing row, the same position left behind. Random images, settings, centres and
// positions, over a whole image and over the row cache, exercise every way a row can be cut.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "effect/dispersion.h"
#include "host/int_math.h"
#include "host/memory.h"
#include "host/plugin_globals.h"
#include "pipeline/row_cache.h"
#include "tests/unit/test_support.h"

namespace vexel {
namespace {

std::int16_t rowColumnByColumn(std::uint8_t* destination, std::int16_t columns) {
    for (std::int16_t column = 0; column < columns; ++column) {
        g.posX = withWholePart(g.posX, column);
        const std::int16_t missing = transformPixel(destination + column * g.planeCount);
        if (missing >= 0) return missing;
    }
    return -1;
}

class Random {
  public:
    explicit Random(std::uint32_t seed) : engine_(seed) {}
    std::int32_t in(std::int64_t low, std::int64_t high) {
        return static_cast<std::int32_t>(
            std::uniform_int_distribution<std::int64_t>(low, high)(engine_));
    }
    std::int16_t any16() { return static_cast<std::int16_t>(in(-32768, 32767)); }
    std::int32_t any32() { return in(INT32_MIN, INT32_MAX); }
    bool chance(double p) { return std::bernoulli_distribution(p)(engine_); }
    std::uint8_t byte() { return static_cast<std::uint8_t>(in(0, 255)); }

  private:
    std::mt19937 engine_;
};

enum class Shape { small, medium, wide, tall };

struct Scenario {
    std::int16_t planes = 3;
    std::int16_t width = 0;
    std::int16_t height = 0;
    std::int32_t rowBytes = 0;
    std::vector<std::uint8_t> image;
    const std::uint8_t* row(std::int32_t y) const {
        return image.data() + std::int64_t{y} * rowBytes;
    }
};

Scenario randomImage(Random& random, Shape shape) {
    Scenario s;
    const std::int16_t planeChoices[] = {1, 3, 4};
    s.planes = planeChoices[random.in(0, 2)];
    switch (shape) {
    case Shape::small:
        s.width = static_cast<std::int16_t>(random.in(1, 64));
        s.height = static_cast<std::int16_t>(random.in(1, 40));
        break;
    case Shape::medium:
        s.width = static_cast<std::int16_t>(random.in(65, 600));
        s.height = static_cast<std::int16_t>(random.in(1, 12));
        break;
    case Shape::wide:
        s.planes = 1;
        s.width = static_cast<std::int16_t>(random.in(28000, 32767));
        s.height = static_cast<std::int16_t>(random.in(1, 3));
        break;
    case Shape::tall:
        s.planes = 1;
        s.width = static_cast<std::int16_t>(random.in(1, 3));
        s.height = static_cast<std::int16_t>(random.in(28000, 32767));
        break;
    }
    s.rowBytes = s.width * s.planes;
    s.image.resize(static_cast<std::size_t>(s.rowBytes) * s.height);
    for (auto& b : s.image)
        b = random.byte();
    return s;
}

void randomEffect(Random& random, const Scenario& s) {
    g.angle = random.chance(0.8) ? static_cast<std::int16_t>(random.in(0, 360)) : random.any16();
    g.stretch = random.chance(0.8) ? static_cast<std::int16_t>(random.in(1, 100)) : random.any16();
    g.strength = static_cast<std::int16_t>(random.in(0, 100));
    g.height = random.chance(0.8) ? static_cast<std::int16_t>(random.in(5, 100)) : random.any16();
    g.width = random.chance(0.8) ? static_cast<std::int16_t>(random.in(5, 100)) : random.any16();
    g.previewMax = static_cast<std::int16_t>(random.in(1, 512));
    deriveEffect(random.chance(0.8) ? random.in(4096, 10 << 16) : random.any32());
    if (random.chance(0.15)) g.halfWidth = random.any16();
    if (random.chance(0.15)) g.halfHeight = random.any16();
    if (random.chance(0.3)) g.halfWidth = static_cast<std::int16_t>(random.in(0, s.width / 2 + 2));
    if (random.chance(0.15)) g.stepX = random.any32();
    if (random.chance(0.15)) g.stepY = random.any32();
    if (random.chance(0.2)) g.stepX = random.in(-4 * 65536, 4 * 65536);
    if (random.chance(0.2)) g.stepY = random.in(-4 * 65536, 4 * 65536);
    const bool nearImage = random.chance(0.7);
    g.gridCenterX =
        nearImage ? static_cast<std::int16_t>(random.in(-20, s.width + 20)) : random.any16();
    g.gridCenterY =
        nearImage ? static_cast<std::int16_t>(random.in(-20, s.height + 20)) : random.any16();
}

std::int16_t randomRow(Random& random, const Scenario& s) {
    // Tall images are there for rows far enough down that wrapped vertical steps land inside.
    if (s.height > 1000 && random.chance(0.7))
        return static_cast<std::int16_t>(random.in(s.height - 200, s.height - 1));
    return static_cast<std::int16_t>(random.in(0, s.height - 1));
}

// Produces one row both ways from the same state and compares everything they leave behind.
void expectSameRow(Random& random, const Scenario& s, const char* situation) {
    const std::size_t bytes = static_cast<std::size_t>(s.rowBytes);
    std::vector<std::uint8_t> expected(bytes);
    for (auto& b : expected)
        b = random.byte();
    std::vector<std::uint8_t> actual = expected;
    const std::int32_t posX = g.posX;
    const std::int16_t expectedResult = rowColumnByColumn(expected.data(), s.width);
    const std::int32_t expectedPosX = g.posX;
    g.posX = posX;
    const std::int16_t actualResult = transformRow(actual.data(), s.width);
    ASSERT_EQ(actualResult, expectedResult) << situation;
    ASSERT_EQ(g.posX, expectedPosX) << situation;
    for (std::size_t i = 0; i < bytes; ++i)
        ASSERT_EQ(actual[i], expected[i])
            << situation << ": byte " << i << " of " << bytes << ", planes " << s.planes
            << ", centre " << g.gridCenterX << "," << g.gridCenterY << ", half " << g.halfWidth
            << "," << g.halfHeight << ", steps " << g.stepX << "," << g.stepY << ", pos " << posX
            << "," << g.posY;
}

void setPosition(Random& random, std::int16_t row) {
    g.posX = random.in(0, 0xFFFF); // the fraction the row keeps
    g.posY = withWholePart(random.in(0, 0xFFFF), row);
    if (random.chance(0.15)) // on the top or bottom edge of the rectangle, or just inside
        g.gridCenterY =
            wrap16(row + (random.chance(0.5) ? 1 : -1) * (g.halfHeight - random.in(0, 1)));
}

// The preview and the final pass with sampleStep 1: one whole image, padded rows.
void compareOverWholeImage(Random& random, Scenario& s) {
    testing::resetModuleState();
    s.rowBytes += random.in(0, 5);
    s.image.resize(static_cast<std::size_t>(s.rowBytes) * s.height);
    g.planeCount = s.planes;
    g.gridWidth = s.width;
    g.gridHeight = s.height;
    g.workImage.address = s.image.data();
    g.workRowBytes = s.rowBytes;
    for (int i = 0; i < 3; ++i) {
        randomEffect(random, s);
        const std::int16_t row = randomRow(random, s);
        setPosition(random, row);
        g.currentRow = s.image.data() + std::int64_t{row} * s.rowBytes;
        expectSameRow(random, s, "whole image");
    }
}

void fileRow(const Scenario& s, std::int32_t row) {
    if (row < 0 || row >= s.height) return;
    g.currentRow = const_cast<std::uint8_t*>(s.row(row));
    g.currentRowIndex = static_cast<std::int16_t>(row);
    cacheInsert();
}

// The final pass with sampleStep > 1: the host's current row (or none) and the cache, which
// holds some of the rows the planes read and some others.
void compareOverCache(Random& random, const Scenario& s) {
    testing::resetModuleState();
    g.planeCount = s.planes;
    g.imageWidth = s.width;
    g.imageHeight = s.height;
    g.imageRowBytes = s.rowBytes;
    g.gridWidth = s.width;
    g.gridHeight = s.height;
    g.sampleStep = 2;
    ASSERT_EQ(setupRowCache(), 0);
    for (int i = 0; i < 3; ++i) {
        randomEffect(random, s);
        const std::int16_t row = randomRow(random, s);
        setPosition(random, row);
        const double filed = random.in(0, 2) * 0.45;
        if (random.chance(0.8)) fileRow(s, row);
        std::int32_t y = g.posY;
        for (int k = 0; k < 3; ++k) {
            y = addWrap32(y, g.stepY);
            if (random.chance(filed)) fileRow(s, wholePart(y));
        }
        for (int extra = random.in(0, 3); extra > 0; --extra)
            fileRow(s, random.in(0, s.height - 1));
        std::vector<std::uint8_t> current(s.row(row), s.row(row) + s.rowBytes);
        g.currentRow = random.chance(0.5) ? current.data() : nullptr;
        expectSameRow(random, s, g.currentRow ? "cache with current row" : "cache only");
    }
    freeRunBuffer(g.rowCache);
}

TEST(TransformRow, MatchesThePixelTransformOnRandomRows) {
    Random random(20240611);
    for (int n = 0; n < 1500; ++n) {
        const int pick = random.in(0, 99);
        const Shape shape = pick < 2    ? Shape::wide
                            : pick < 5  ? Shape::tall
                            : pick < 35 ? Shape::medium
                                        : Shape::small;
        Scenario s = randomImage(random, shape);
        if (random.chance(0.5))
            compareOverCache(random, s);
        else
            compareOverWholeImage(random, s);
        if (HasFatalFailure()) return;
    }
}

// A column shifted past 16 bits wraps as the pixel-wise position does: on a 32767-pixel row with
// the largest stretch, plane 0 of column 0 lies at -12500, plane 1 at -25000 (both outside) and
// plane 2 at wrap16(-37499) = column 28037.
struct WideRow {
    Scenario s;
    WideRow() {
        testing::resetModuleState();
        s.planes = 3;
        s.width = 32767;
        s.height = 4;
        s.rowBytes = 3 * 32767;
        s.image.resize(static_cast<std::size_t>(s.rowBytes) * 4);
        for (std::size_t i = 0; i < s.image.size(); ++i)
            s.image[i] = static_cast<std::uint8_t>(i / 3 * 7 + i % 3);
        g.planeCount = 3;
        g.gridWidth = s.width;
        g.gridHeight = 4;
        g.strength = 100;
        g.stretch = 32767;
        deriveEffect(65536);
        EXPECT_EQ(g.stepX, 819175000);
        g.halfWidth = 32767;
        g.halfHeight = 1;
        g.posX = 0;
        g.posY = 0;
    }
};

TEST(TransformRow, WrapsDisplacedColumnsLikeSixteenBitPositions) {
    WideRow wide;
    const Scenario& s = wide.s;
    g.workImage.address = wide.s.image.data();
    g.workRowBytes = s.rowBytes;
    g.currentRow = wide.s.image.data();
    std::vector<std::uint8_t> out(static_cast<std::size_t>(s.rowBytes));
    ASSERT_EQ(transformRow(out.data(), s.width), -1);
    EXPECT_EQ(out[2], s.image[28037 * 3 + 2]);
    EXPECT_EQ(out[0], s.image[0]) << "plane 0 outside: keeps its byte";
    EXPECT_EQ(out[1], s.image[1]) << "plane 1 outside: keeps its byte";
    Random random(7);
    expectSameRow(random, s, "wrapped columns");
}

TEST(TransformRow, ReportsTheRowOfThePlaneThatFirstNeedsOne) {
    // Planes read rows 1, 2 and 3, none of them cached. At column 0 only plane 2's wrapped
    // column lies inside the row, so its row comes first although planes 0 and 1 come before it.
    WideRow wide;
    const Scenario& s = wide.s;
    g.imageWidth = s.width;
    g.imageHeight = s.height;
    g.imageRowBytes = s.rowBytes;
    g.sampleStep = 2;
    ASSERT_EQ(setupRowCache(), 0);
    g.currentRow = wide.s.image.data();
    g.stepY = 65536;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(s.rowBytes));
    EXPECT_EQ(transformRow(out.data(), s.width), 3);
    EXPECT_EQ(g.posX, 0);
    Random random(8);
    expectSameRow(random, s, "wrapped plane missing");
    freeRunBuffer(g.rowCache);
}

} // namespace
} // namespace vexel
