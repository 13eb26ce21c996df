// The remembered settings record: exact bytes, validation of everything read back, the centre
// rule, and that only a block Start creates takes them.
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "host/host_records.h"
#include "host/memory.h"
#include "host/param_block.h"
#include "host/plugin_globals.h"
#include "host/remembered_settings.h"
#include "tests/unit/test_support.h"
#include "ui/dialog_logic.h"

namespace vexel {
namespace {

constexpr RememberedSettings kSample{135, 33, 70, 40, 60, 200, 150, 400, 300};

std::vector<std::uint8_t> sampleBytes() {
    const auto bytes = encodeRemembered(kSample);
    return {bytes.begin(), bytes.end()};
}

TEST(RememberedSettings, EncodesTheFixedLayoutAndDecodesItBack) {
    const std::vector<std::uint8_t> expected = {1, 0x87, 0, 0x21, 0, 0x46, 0,    0x28, 0,   0x3C,
                                                0, 0xC8, 0, 0x96, 0, 0x90, 0x01, 0x2C, 0x01};
    EXPECT_EQ(sampleBytes(), expected);
    const auto decoded = decodeRemembered(sampleBytes());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(encodeRemembered(*decoded), encodeRemembered(kSample));
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
    // The ranges' own ends are fine.
    EXPECT_TRUE(decodeRemembered(encodeRemembered({360, 1, 0, 5, 100, 0, 0, 1, 1})));
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

TEST(RememberedSettings, OnlyABlockStartCreatesTakesThem) {
    testing::resetModuleState();
    alignas(8) std::array<std::uint8_t, kHostFilterRecordBytes> recordBytes{};
    auto& record = *reinterpret_cast<FilterRecord*>(recordBytes.data());
    g.host.hostRecord = &record;
    g.geometry.imageWidth = 800;
    g.geometry.imageHeight = 600;
    testing::platformFake.rememberedValue = sampleBytes();
    auto blockNow = [&record] {
        auto* p = static_cast<std::uint8_t*>(lockBlock(record.parameters));
        const ParamBlock b = decodeParamBlock(std::span<const std::uint8_t, 20>(p, 20));
        unlockBlock(record.parameters);
        return b;
    };

    ensureParamBlock(); // none held: the remembered values, the centre scaled to 800 x 600
    ParamBlock created = blockNow();
    EXPECT_EQ(created.angle, 135);
    EXPECT_EQ(created.centerX, 400);
    EXPECT_EQ(created.centerY, 300);
    EXPECT_EQ(created.showDialog, 1);

    // A block the host holds decides, whatever is remembered.
    testing::platformFake.rememberedValue->at(1) = 10;
    ensureParamBlock();
    EXPECT_EQ(blockNow().angle, 135);
    freeBlock(record.parameters);

    // Nothing usable stored: the defaults.
    record.parameters = nullptr;
    testing::platformFake.rememberedValue->at(0) = 9;
    ensureParamBlock();
    EXPECT_EQ(blockNow().angle, ParamBlock{}.angle);
    EXPECT_EQ(blockNow().stretch, ParamBlock{}.stretch);
    freeBlock(record.parameters);
}

} // namespace
} // namespace vexel
