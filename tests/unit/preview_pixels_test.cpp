// Preview pixels and the display conversions: colour and dither rules, DIB layout, the pixel each
// preview position shows (effect, selection, floating selection), the strip loop's rows, copies and
// clipping, and the block under the centre marker.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <utility>
#include <vector>

#include "host/host_records.h"
#include "host/memory.h"
#include "host/plugin_globals.h"
#include "tests/unit/test_support.h"
#include "ui/preview.h"
#include "ui/preview_pixels.h"

namespace vexel {
namespace {

using testing::resetModuleState;

// Buffer sizes that hold four rows of the widest (512-pixel) preview.
constexpr std::int32_t kStripBytes = 8192;
constexpr std::int32_t kDibBytes = 6144;

class PreviewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        resetModuleState();
        g.host.hostRecord = record_.data();
        allocRunBuffer(g.buffers.previewStrip, kStripBytes);
        allocRunBuffer(g.buffers.dibBuffer, kDibBytes);
    }
    void TearDown() override {
        for (RunBuffer* b : {&g.buffers.previewStrip, &g.buffers.dibBuffer, &g.buffers.maskFrame,
                             &g.buffers.maskBits}) {
            freeRunBuffer(*b);
        }
    }

    FilterRecord& host() { return filterRecord(); }

    // A work image whose every byte tells its column, row and plane apart.
    static std::uint8_t workValue(int x, int y, int k) {
        return static_cast<std::uint8_t>(1 + (x * 7 + y * 13 + k * 61) % 250);
    }
    void makeWork(std::int16_t width, std::int16_t height, std::int16_t planes) {
        work_.assign(static_cast<std::size_t>(width * height * planes), 0);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                for (int k = 0; k < planes; ++k)
                    work_[static_cast<std::size_t>((y * width + x) * planes + k)] =
                        workValue(x, y, k);
        g.geometry.planeCount = planes;
        g.geometry.workWidth = g.production.gridWidth = width;
        g.geometry.workHeight = g.production.gridHeight = height;
        g.geometry.workRowBytes = width * planes;
        g.buffers.workImage = RunBuffer{Holding::heldByHost, nullptr, work_.data()};
    }
    void setPreview(std::int16_t width, std::int16_t height, std::int32_t scale) {
        g.geometry.previewWidth = width;
        g.geometry.previewHeight = height;
        g.geometry.previewScale = scale;
    }
    // Selection bits for the preview: `selected(x, y)` decides each bit.
    template <typename F> void makeMask(F selected) {
        g.buffers.maskRowWords = static_cast<std::int16_t>((g.geometry.previewWidth + 15) >> 4);
        g.buffers.maskStride = static_cast<std::int16_t>(2 * g.buffers.maskRowWords);
        g.buffers.maskBitmapBytes = g.buffers.maskStride * g.geometry.previewHeight;
        allocRunBuffer(g.buffers.maskFrame, g.buffers.maskBitmapBytes + 2 * g.buffers.maskStride);
        allocRunBuffer(g.buffers.maskBits, g.buffers.maskBitmapBytes);
        for (int y = 0; y < g.geometry.previewHeight; ++y)
            for (int x = 0; x < g.geometry.previewWidth; ++x)
                if (selected(x, y))
                    g.buffers.maskBits.address[y * g.buffers.maskStride + x / 8] |=
                        static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
    // Every pixel inside the effect takes plane k from k + 1 columns to the right, unblended.
    static void shiftEffect() {
        g.effect.halfWidth = g.effect.halfHeight = 1000;
        g.effect.gridCenterX = g.effect.gridCenterY = 0;
        g.effect.stepX = -65536;
        g.effect.stepY = 0;
        g.effect.mixEffect = 256;
        g.effect.mixOriginal = 0;
    }
    std::array<std::uint8_t, 4> originalAt(int x, int y) const {
        std::array<std::uint8_t, 4> p{};
        for (int k = 0; k < g.geometry.planeCount; ++k)
            p[k] = workValue(x, y, k);
        return p;
    }
    std::array<std::uint8_t, 4> shiftedAt(int x, int y) const {
        std::array<std::uint8_t, 4> p{};
        for (int k = 0; k < g.geometry.planeCount; ++k)
            p[k] = workValue(x + k + 1 < g.geometry.workWidth ? x + k + 1 : x, y, k);
        return p;
    }

    std::vector<std::uint8_t> record_ = std::vector<std::uint8_t>(kHostFilterRecordBytes);
    std::vector<std::uint8_t> work_;
};

TEST(PreviewColour, FourPlanesWeighByTheFourthAndToneDownTheStrongestOfGreenAndBlue) {
    struct Case {
        std::array<std::uint8_t, 4> pixel;
        Rgb shown;
    };
    const Case cases[] = {
        {{100, 200, 150, 255}, {99, 174, 149}}, {{100, 150, 200, 255}, {99, 149, 174}},
        {{200, 100, 250, 255}, {199, 99, 224}}, {{50, 60, 60, 255}, {49, 52, 59}},
        {{128, 128, 128, 128}, {64, 64, 64}},   {{255, 255, 255, 255}, {254, 254, 254}},
    };
    for (const Case& c : cases) {
        const Rgb rgb = displayColor(c.pixel.data(), 4);
        EXPECT_EQ(rgb.r, c.shown.r) << int{c.pixel[0]} << "," << int{c.pixel[1]};
        EXPECT_EQ(rgb.g, c.shown.g) << int{c.pixel[0]} << "," << int{c.pixel[1]};
        EXPECT_EQ(rgb.b, c.shown.b) << int{c.pixel[0]} << "," << int{c.pixel[1]};
    }
    const std::uint8_t grey[1] = {77};
    const std::uint8_t rgb3[3] = {1, 2, 3};
    EXPECT_EQ(displayColor(grey, 1).g, 77);
    EXPECT_EQ(displayColor(rgb3, 3).b, 3);
}

TEST(PreviewColour, DitherMovesByUpToSixtyFourAndStaysInRange) {
    const std::pair<int, std::pair<int, int>> cases[] = {
        {10, {20, 0}},     {100, {164, 36}}, {192, {255, 129}},
        {250, {255, 245}}, {0, {0, 0}},      {255, {255, 255}},
    };
    for (const auto& [v, shown] : cases) {
        EXPECT_EQ(ditherChannel(static_cast<std::uint8_t>(v), true), shown.first) << v;
        EXPECT_EQ(ditherChannel(static_cast<std::uint8_t>(v), false), shown.second) << v;
    }
}

TEST(PreviewColour, DibRowsArePaddedToFourBytes) {
    EXPECT_EQ(dibRowBytes(500), 1500);
    EXPECT_EQ(dibRowBytes(10), 32);
    EXPECT_EQ(dibRowBytes(512), 1536);
}

// On a low-colour screen the dither sign of screen pixel (X, Y) is 1 exactly where X + Y is even,
// for full strips and for short blocks alike, so a block drawn again matches its surroundings.
TEST_F(PreviewTest, DitherSignFollowsTheScreenPositionForStripsAndBlocks) {
    g.geometry.planeCount = 1;
    g.dialog.lowColor = 1;
    std::memset(g.buffers.previewStrip.address, 100, kStripBytes);
    const std::array<std::int16_t, 4> blocks[] = {
        {0, 0, 512, 4}, {0, 4, 37, 4}, {3, 188, 50, 2}, {0, 189, 20, 1},
        {6, 7, 8, 3},   {7, 7, 8, 8},  {1, 0, 5, 5},    {0, 3, 8, 6},
    };
    for (const auto& [x, y, count, lines] : blocks) {
        stripToDib(x, y, count, lines);
        const std::int32_t rowBytes = dibRowBytes(count);
        for (int r = 0; r < lines; ++r) {
            const int screenY = y + lines - 1 - r;
            for (int c = 0; c < count; ++c) {
                const int expected = (x + c + screenY) % 2 == 0 ? 164 : 36;
                const std::uint8_t* p = g.buffers.dibBuffer.address + r * rowBytes + 3 * c;
                ASSERT_TRUE(p[0] == expected && p[1] == expected && p[2] == expected)
                    << "block at " << x << "," << y << " lines " << lines << " pixel " << x + c
                    << "," << screenY;
            }
        }
    }
}

TEST_F(PreviewTest, MaskBitClampsToTheLastColumnAndRow) {
    setPreview(20, 6, 65536);
    makeMask([](int x, int y) { return x == 19 && y == 5; });
    EXPECT_NE(maskBit(19, 5), 0);
    EXPECT_NE(maskBit(22, 5), 0);  // previewWidth + 2 reads column 19
    EXPECT_NE(maskBit(19, 40), 0); // past the bottom reads row 5
    EXPECT_NE(maskBit(300, 300), 0);
    EXPECT_EQ(maskBit(18, 5), 0);
    EXPECT_EQ(maskBit(19, 4), 0);
    EXPECT_EQ(maskBit(-3, 5), 0); // a stray negative stays inside the buffer
}

// The pixel shown for every combination of effect, selection and floating selection.
TEST_F(PreviewTest, PixelShownFollowsEffectSelectionAndFloating) {
    makeWork(10, 4, 3);
    setPreview(10, 4, 65536);
    shiftEffect();
    const std::array<std::uint8_t, 4> white = {255, 255, 255, 0};
    const int x = 2, y = 1;
    auto shown = [&](bool maskPresent, bool selected, bool floating, int effect) {
        freeRunBuffer(g.buffers.maskFrame);
        freeRunBuffer(g.buffers.maskBits);
        if (maskPresent) makeMask([&](int, int) { return selected; });
        host().isFloating = floating ? 1 : 0;
        g.dialog.previewEffect = static_cast<std::int16_t>(effect);
        g.production.posY = (y << 16) | 0x8000;
        g.production.posX = (x << 16) | 0x8000;
        g.production.currentRow = work_.data() + y * g.geometry.workRowBytes;
        std::array<std::uint8_t, 4> out{};
        previewPixel(static_cast<std::int16_t>(x), static_cast<std::int16_t>(y), out.data());
        EXPECT_EQ(g.production.posX, ((x + 1) << 16) | 0x8000) << "posX advances by previewScale";
        return out;
    };
    const auto original = originalAt(x, y);
    const auto effect = shiftedAt(x, y);
    ASSERT_NE(original, effect);
    for (bool floating : {false, true}) {
        EXPECT_EQ(shown(false, false, floating, 1), effect);
        EXPECT_EQ(shown(true, true, floating, 1), effect);
        EXPECT_EQ(shown(false, false, floating, 0), original);
        EXPECT_EQ(shown(true, true, floating, 0), original);
    }
    EXPECT_EQ(shown(true, false, true, 1), white);
    EXPECT_EQ(shown(true, false, true, 0), white);
    EXPECT_EQ(shown(true, false, false, 1), original);
    EXPECT_EQ(shown(true, false, false, 0), original);
}

TEST(PreviewColour, SixteenBitSamplesRoundToBytesAndStopAtWhite) {
    const std::pair<std::uint16_t, std::uint8_t> cases[] = {
        {0, 0},       {64, 0},      {65, 1},      {128, 1},     {16384, 128},
        {32639, 254}, {32767, 255}, {32768, 255}, {40000, 255}, {65535, 255},
    };
    for (auto [value, shown] : cases)
        EXPECT_EQ(previewSample(value), shown) << value;
}

// A 16-bit work image shows through the same rules as an 8-bit one, each sample made a byte, and
// the host's pixel map is told the 8-bit twin of the image mode.
TEST_F(PreviewTest, SixteenBitWorkImageShowsOneBytePerPlane) {
    constexpr int width = 6, height = 2, planes = 4;
    std::vector<std::uint16_t> samples(width * height * planes);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::uint16_t>(i * 2731 + 17); // up to 65535 and past 32768
    g.geometry.planeCount = planes;
    g.geometry.sampleBytes = 2;
    g.geometry.workWidth = g.production.gridWidth = width;
    g.geometry.workHeight = g.production.gridHeight = height;
    g.geometry.workRowBytes = width * planes * 2;
    auto* bytes = reinterpret_cast<std::uint8_t*>(samples.data());
    g.buffers.workImage = RunBuffer{Holding::heldByHost, nullptr, bytes};
    setPreview(width, height, 65536);
    for (bool floating : {false, true}) {
        host().isFloating = floating ? 1 : 0;
        makeMask([](int x, int) { return x != 3; });
        g.production.posY = (1 << 16) | 0x8000;
        g.production.posX = 0x8000;
        g.production.currentRow = bytes + g.geometry.workRowBytes;
        for (std::int16_t x = 0; x < width; ++x) {
            std::array<std::uint8_t, planes> out{};
            previewPixel(x, 1, out.data());
            for (int k = 0; k < planes; ++k) {
                const std::uint16_t value =
                    samples[static_cast<std::size_t>((width + x) * planes + k)];
                EXPECT_EQ(out[k], x == 3 && floating ? 255 : previewSample(value)) << x << "," << k;
            }
        }
        freeRunBuffer(g.buffers.maskFrame);
        freeRunBuffer(g.buffers.maskBits);
    }
    // With the effect: computed at 16 bits, then shown as bytes (plane 3 keeps its own sample).
    shiftEffect();
    g.dialog.previewEffect = 1;
    g.production.posX = (1 << 16) | 0x8000;
    std::array<std::uint8_t, planes> shifted{};
    previewPixel(1, 1, shifted.data());
    for (int k = 0; k < planes; ++k) {
        const int from = k < 3 ? 1 + k + 1 : 1;
        EXPECT_EQ(shifted[k],
                  previewSample(samples[static_cast<std::size_t>((width + from) * planes + k)]));
    }
    for (auto [mode, shownAs] : {std::pair{imagemode::rgb48, imagemode::rgb},
                                 std::pair{imagemode::cmyk64, imagemode::cmyk},
                                 std::pair{imagemode::duotone16, imagemode::duotone},
                                 std::pair{imagemode::rgb, imagemode::rgb}}) {
        host().imageMode = mode;
        setPixelMapConstants();
        EXPECT_EQ(g.dialog.pixelMap.imageMode, shownAs);
    }
}

// Collects the showRows calls of a full redraw.
struct ShownRows {
    std::vector<std::array<std::int16_t, 4>> calls;
    std::vector<std::uint8_t> picture; // what reached the screen, previewWidth x rows
    int width = 0;
};
void recordRows(void* context, std::int16_t x, std::int16_t y, std::int16_t count,
                std::int16_t lines) {
    auto& shown = *static_cast<ShownRows*>(context);
    shown.calls.push_back({x, y, count, lines});
    const int planes = g.geometry.planeCount;
    for (int r = 0; r < lines; ++r) {
        const std::uint8_t* row = g.buffers.previewStrip.address + r * count * planes;
        std::memcpy(shown.picture.data() + ((y + r) * shown.width + x) * planes, row,
                    static_cast<std::size_t>(count * planes));
    }
}

// A work image smaller than the preview: every preview pixel shows the work pixel at its centre,
// the repeated ones copied with the first one's selection decision, and columns and rows whose
// centre lies past the work image are never drawn.
TEST_F(PreviewTest, EnlargedPreviewCopiesRepeatsAndStopsAtTheWorkImage) {
    makeWork(10, 7, 3);
    setPreview(512, 350, 1280);                         // 0.0195 work pixels per preview pixel
    const int columns = (655360 - 32768 + 1279) / 1280; // (32768 + j * 1280) < 10 << 16
    const int rows = (7 * 65536 - 32768 + 1279) / 1280;
    EXPECT_EQ(sampledColumns(), columns);
    EXPECT_EQ(sampledRows(), rows);
    // Selected only at each work pixel's first preview column; floating, so the rest would be
    // white if they were decided on their own.
    auto sample = [](int v) { return (32768 + v * 1280) >> 16; };
    makeMask([&](int x, int) { return x == 0 || sample(x) != sample(x - 1); });
    host().isFloating = 1;
    ShownRows shown;
    shown.width = columns;
    shown.picture.assign(static_cast<std::size_t>(columns * rows * 3), 0);
    EXPECT_EQ(renderPreviewStrips(recordRows, &shown), rows);
    for (const auto& call : shown.calls)
        EXPECT_EQ(call[2], columns);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x)
            for (int k = 0; k < 3; ++k)
                ASSERT_EQ(shown.picture[(y * columns + x) * 3 + k],
                          workValue(sample(x), sample(y), k))
                    << x << "," << y;
}

TEST_F(PreviewTest, CentreBlockIsClippedAtTheEdgesOfTheDrawablePreview) {
    makeWork(10, 7, 1);
    setPreview(512, 350, 1280);
    g.settings.previewCenterX = 2;
    g.settings.previewCenterY = 3;
    PreviewBlock b = centerBlock();
    EXPECT_EQ((std::array<int, 4>{b.x0, b.y0, b.x1, b.y1}), (std::array<int, 4>{0, 0, 6, 7}));
    g.settings.previewCenterX = 484; // columns up to 486 sample inside the 10-pixel work row
    g.settings.previewCenterY = 340; // rows up to 333 sample inside the 7 work rows
    b = centerBlock();
    EXPECT_EQ(b.x0, 480);
    EXPECT_EQ(b.x1, 487);
    EXPECT_EQ(b.y0, 336);
    EXPECT_LE(b.y1, b.y0);        // every row of it lies below the drawable rows
    EXPECT_FALSE(renderBlock(b)); // so nothing is computed
}

} // namespace
} // namespace vexel
