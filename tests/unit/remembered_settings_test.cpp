// The remembered settings record: validation of everything read back and the centre rule (the
// Wine tests cover the exact bytes, the registry and which blocks take the record).
#include <gtest/gtest.h>

#include <vector>

#include "host/param_block.h"
#include "host/plugin_globals.h"
#include "host/remembered_settings.h"
#include "ui/dialog_logic.h"

namespace vexel {
namespace {

constexpr RememberedSettings kSample{135, 33, 70, 40, 60, 200, 150, 400, 300};

std::vector<std::uint8_t> sampleBytes() {
    const auto bytes = encodeRemembered(kSample);
    return {bytes.begin(), bytes.end()};
}

// The sample with one int16 field (0 angle .. 8 rectangle height) replaced.
std::vector<std::uint8_t> withField(std::size_t field, int v) {
    std::vector<std::uint8_t> b = sampleBytes();
    b[1 + 2 * field] = static_cast<std::uint8_t>(v & 0xFF);
    b[2 + 2 * field] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    return b;
}

TEST(RememberedSettings, AnyWrongByteLengthOrValueIsRefusedWhole) {
    std::vector<std::vector<std::uint8_t>> bad{
        withField(7, 0), withField(7, -400), withField(8, 0), {}};
    for (std::uint8_t version : {0, 2}) {
        bad.push_back(sampleBytes());
        bad.back()[0] = version;
    }
    bad.push_back(sampleBytes());
    bad.back().pop_back();
    bad.push_back(sampleBytes());
    bad.back().push_back(0);
    // Each of the five values just outside the dialog's range, in either direction.
    for (std::size_t row = 0; row < kValueRows.size(); ++row)
        for (int v : {kValueRows[row].min - 1, kValueRows[row].max + 1})
            bad.push_back(withField(row, v));
    for (std::size_t i = 0; i < bad.size(); ++i)
        EXPECT_FALSE(decodeRemembered(bad[i])) << "case " << i;
    // The ranges' own ends are fine, and a record decodes to what was encoded.
    const auto ends = decodeRemembered(encodeRemembered({360, 1, 0, 5, 100, 0, 0, 1, 1}));
    ASSERT_TRUE(ends);
    EXPECT_EQ(encodeRemembered(*ends), encodeRemembered({360, 1, 0, 5, 100, 0, 0, 1, 1}));
}

struct CentreCase {
    std::int16_t x, y, fromWidth, fromHeight, toWidth, toHeight, expectX, expectY;
};

TEST(RememberedSettings, CentreKeepsItsRelativePlaceOrIsUnset) {
    const CentreCase cases[] = {
        {200, 150, 400, 300, 400, 300, 200, 150}, // same size: as stored
        {400, 300, 400, 300, 400, 300, 400, 300}, // the far edges are positions too
        {200, 150, 400, 300, 100, 50, 50, 25},    // another size: same relative place
        {1, 1, 3, 4, 2, 2, 1, 1},                 // 0.67 and 0.5 round to the nearest, halves up
        {1, 1, 4, 4, 1, 1, 0, 0},                 // 0.25 rounds down
        {-1, 5, 400, 300, 400, 300, 0, 0},        // outside its rectangle: unset
        {5, 301, 400, 300, 800, 600, 0, 0},
        {0, 0, 400, 300, 50, 60, 0, 0}, // unset stays unset
    };
    for (const CentreCase& c : cases) {
        RememberedSettings r = kSample;
        r.centerX = c.x;
        r.centerY = c.y;
        r.rectWidth = c.fromWidth;
        r.rectHeight = c.fromHeight;
        const ParamBlock block = blockFromRemembered(r, c.toWidth, c.toHeight);
        EXPECT_EQ(block.centerX, c.expectX) << c.x << "," << c.y << " to " << c.toWidth;
        EXPECT_EQ(block.centerY, c.expectY) << c.x << "," << c.y << " to " << c.toWidth;
        EXPECT_EQ(block.angle, 135);
        EXPECT_EQ(block.width, 60);
        EXPECT_EQ(block.showDialog, 1);
    }
}

} // namespace
} // namespace vexel
