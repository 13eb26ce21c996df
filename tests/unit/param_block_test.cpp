// The saved parameter block: exact bytes, the selectors that create and mark it, the dialog's
// write-back, hostile handles, and the image/preview/work conversions.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "host/dispatch.h"
#include "host/memory.h"
#include "host/param_block.h"
#include "host/plugin_globals.h"
#include "host/remembered_settings.h"
#include "tests/unit/test_support.h"

namespace vexel {
namespace {

struct HostFixture : ::testing::Test {
    alignas(8) std::array<std::uint8_t, kHostFilterRecordBytes> recordBytes{};
    FilterRecord& record = *reinterpret_cast<FilterRecord*>(recordBytes.data());

    void SetUp() override {
        testing::resetModuleState();
        g.host.hostRecord = &record;
    }
    void TearDown() override {
        if (record.parameters != nullptr) freeBlock(record.parameters);
    }
    std::vector<std::uint8_t> blockContents() {
        auto* p = static_cast<std::uint8_t*>(lockBlock(record.parameters));
        std::vector<std::uint8_t> bytes(p, p + blockSize(record.parameters));
        unlockBlock(record.parameters);
        return bytes;
    }
    std::int16_t call(std::int16_t sel) {
        std::int16_t resultWord = 0x5555;
        dispatchSelector(sel, &record, &resultWord);
        return resultWord;
    }
};

TEST_F(HostFixture, NewBlockHoldsTheDefaultBytes) {
    ensureParamBlock();
    const std::vector<std::uint8_t> expected = {0,    0, 0,    0, 0, 0, 0x14, 0, 0x32, 0,
                                                0x32, 0, 0x32, 0, 0, 0, 1,    0, 0,    0};
    EXPECT_EQ(blockContents(), expected);
    EXPECT_EQ(testing::memoryFake.liveLocks, 0);
}

TEST_F(HostFixture, ParametersMarksAnExistingBlockAndCreatesNone) {
    EXPECT_EQ(call(selector::parameters), 0);
    EXPECT_EQ(HostHandle{record.parameters}, nullptr); // a copy: the field is only 4-byte aligned
    EXPECT_EQ(testing::memoryFake.allocations, 0);
    EXPECT_EQ(readShowDialog(), 1); // no block: the dialog is due

    ensureParamBlock();
    auto* p = static_cast<std::uint8_t*>(lockBlock(record.parameters));
    p[16] = 0;
    unlockBlock(record.parameters);
    EXPECT_EQ(readShowDialog(), 0);
    EXPECT_EQ(call(selector::parameters), 0);
    EXPECT_EQ(readShowDialog(), 1);
}

TEST_F(HostFixture, BlockTooSmallIsNeverTouchedAndReplacedAtStart) {
    BlockHandle small = allocBlock(6);
    auto* p = static_cast<std::uint8_t*>(lockBlock(small));
    std::memset(p, 0xAB, 6);
    unlockBlock(small);
    record.parameters = small;

    markShowDialog(1);
    EXPECT_EQ(readShowDialog(), 1);
    EXPECT_EQ(readPreviewCenter().x, 0);
    runDialogIfRequested();
    EXPECT_EQ(testing::platformFake.dialogsRun, 0);

    ensureParamBlock();
    ASSERT_NE(HostHandle{record.parameters}, small);
    EXPECT_EQ(blockContents().size(), 20u);
    EXPECT_EQ(readShowDialog(), 1);
    p = static_cast<std::uint8_t*>(lockBlock(small));
    EXPECT_EQ(std::vector<std::uint8_t>(p, p + 6), std::vector<std::uint8_t>(6, 0xAB));
    unlockBlock(small);
    freeBlock(small);
}

TEST_F(HostFixture, DialogOkStoresSettingsAndCentreCancelOnlyClearsShowDialog) {
    ensureParamBlock();
    g.geometry.imageScale = 0x30000;
    g.geometry.imageWidth = 400;
    g.geometry.imageHeight = 200;
    testing::platformFake.dialog = [] {
        g.settings.angle = 90;
        g.settings.stretch = 7;
        g.settings.strength = 33;
        g.settings.height = 60;
        g.settings.width = 70;
        g.settings.previewCenterX = 100;
        g.settings.previewCenterY = 1;
        return std::int16_t{1};
    };
    runDialogIfRequested();
    EXPECT_EQ(g.host.runResult, 0);
    const ParamBlock ok =
        decodeParamBlock(std::span<const std::uint8_t, 20>(blockContents().data(), 20));
    EXPECT_EQ(ok.angle, 90);
    EXPECT_EQ(ok.stretch, 7);
    EXPECT_EQ(ok.strength, 33);
    EXPECT_EQ(ok.height, 60);
    EXPECT_EQ(ok.width, 70);
    EXPECT_EQ(ok.centerX, 300);
    EXPECT_EQ(ok.centerY, 3);
    EXPECT_EQ(ok.showDialog, 0);
    // OK also remembers them for the user, with the rectangle the centre belongs to.
    const auto remembered = encodeRemembered({90, 7, 33, 60, 70, 300, 3, 400, 200});
    EXPECT_EQ(testing::platformFake.rememberedValue,
              std::vector<std::uint8_t>(remembered.begin(), remembered.end()));

    // Not asked again until Parameters marks the block.
    runDialogIfRequested();
    EXPECT_EQ(testing::platformFake.dialogsRun, 1);

    for (std::int16_t cancelled : {std::int16_t{2}, std::int16_t{-1}, std::int16_t{0}}) {
        markShowDialog(1);
        g.host.runResult = 0;
        testing::platformFake.dialog = [cancelled] {
            g.settings.angle = 5;
            return cancelled;
        };
        const std::vector<std::uint8_t> before = blockContents();
        runDialogIfRequested();
        EXPECT_EQ(g.host.runResult, 1);
        std::vector<std::uint8_t> after = blockContents();
        EXPECT_EQ(after[16], 0);
        after[16] = 1;
        EXPECT_EQ(after, before);
    }
    EXPECT_EQ(testing::platformFake.rememberedWrites, 1); // a cancel remembers nothing
    EXPECT_EQ(testing::memoryFake.liveLocks, 0);
}

TEST_F(HostFixture, ConversionsRoundAsSpecified) {
    g.geometry.imageScale = 0x30000;
    EXPECT_EQ(imageToPreview(0), 0);
    EXPECT_EQ(imageToPreview(1), 0);
    EXPECT_EQ(imageToPreview(2), 1);
    EXPECT_EQ(imageToPreview(300), 100);
    EXPECT_EQ(previewToImage(1), 3);
    EXPECT_EQ(previewToImage(100), 300);
    g.geometry.imageScale = 0x28000;
    EXPECT_EQ(imageToPreview(301), 120);
    EXPECT_EQ(previewToImage(120), 300);
    g.geometry.imageScale = 18204;
    EXPECT_EQ(previewToImage(359), 100);
    g.geometry.previewScale = 0x18000; // 1.5: halves round up
    EXPECT_EQ(previewToWork(1), 2);
    EXPECT_EQ(previewToWork(3), 5);

    // A stored centre of 1 at scale 3 lands on preview column 0, which reads as "unset".
    ensureParamBlock();
    auto* p = static_cast<std::uint8_t*>(lockBlock(record.parameters));
    p[0] = 1;
    p[2] = 30;
    unlockBlock(record.parameters);
    g.geometry.imageScale = 0x30000;
    EXPECT_EQ(readPreviewCenter().x, 0);
    EXPECT_EQ(readPreviewCenter().y, 10);

    // Hostile scales neither divide by zero nor overflow.
    g.geometry.imageScale = 0;
    EXPECT_EQ(imageToPreview(500), 0);
    g.geometry.imageScale = -1;
    EXPECT_EQ(imageToPreview(-32768), 0);
    g.geometry.imageScale = INT32_MAX;
    (void)previewToImage(32767);
}

TEST_F(HostFixture, PrepareChoosesPlanesAndGeometry) {
    record.filterRect = {10, 20, 60, 120}; // 100 wide, 50 high
    ensureParamBlock();
    markShowDialog(0);
    // mode, planes, bytes per sample: the 16-bit modes 10..15 are the twins of 1, 3, 9, 4, 7, 8.
    const std::array<std::int16_t, 3> modes[] = {
        {0, 3, 1},  {1, 1, 1},  {2, 3, 1},  {3, 3, 1},  {4, 4, 1},  {5, 3, 1},  {6, 3, 1},
        {7, 1, 1},  {8, 1, 1},  {9, 3, 1},  {42, 3, 1}, {10, 1, 2}, {11, 3, 2}, {12, 3, 2},
        {13, 4, 2}, {14, 1, 2}, {15, 1, 2}, {18, 3, 1}, {-1, 3, 1}};
    for (auto [mode, planes, sampleBytes] : modes) {
        record.imageMode = mode;
        record.bufferSpace = 1234;
        EXPECT_EQ(call(selector::prepare), 0);
        EXPECT_EQ(g.geometry.planeCount, planes) << "mode " << mode;
        EXPECT_EQ(g.geometry.sampleBytes, sampleBytes) << "mode " << mode;
        EXPECT_EQ(g.geometry.imageWidth, 100);
        EXPECT_EQ(g.geometry.imageHeight, 50);
        EXPECT_EQ(g.geometry.imageRowBytes, 100 * planes * sampleBytes);
        EXPECT_EQ(g.geometry.workRowBytes, g.geometry.imageRowBytes);
        EXPECT_EQ(record.bufferSpace, 0);
    }
    EXPECT_TRUE(testing::platformFake.warnings.empty()); // Lab without the dialog due is silent

    markShowDialog(1);
    for (std::int16_t lab : {imagemode::lab, imagemode::lab48}) {
        record.imageMode = lab;
        testing::platformFake.warnings.clear();
        EXPECT_EQ(call(selector::prepare), 0);
        ASSERT_EQ(testing::platformFake.warnings.size(), 1u);
        EXPECT_EQ(
            testing::platformFake.warnings[0].rfind("This plug-in does not support Lab Color.", 0),
            0u);
    }
}

// Float samples (RGB96, Gray32) are refused; a refused mode leaves nothing to filter and the
// record as it was, also at a Start that comes anyway.
TEST_F(HostFixture, PrepareRefusesModesItCannotFilter) {
    record.filterRect = {0, 0, 50, 100};
    ensureParamBlock();
    markShowDialog(1);
    for (std::int16_t mode : {imagemode::rgb96, imagemode::gray32}) {
        record.imageMode = mode;
        record.bufferSpace = 1234;
        EXPECT_EQ(call(selector::prepare), result::filterBadMode) << mode;
        EXPECT_EQ(record.bufferSpace, 1234);
        EXPECT_EQ(g.geometry.imageWidth, 0);
        EXPECT_EQ(g.geometry.imageRowBytes, 0);
        EXPECT_EQ(call(selector::start), result::filterBadMode) << mode;
        EXPECT_FALSE(g.production.runPlanned);
    }
    EXPECT_TRUE(testing::platformFake.warnings.empty());
    EXPECT_EQ(testing::memoryFake.liveBlocks, 1); // the parameter block only
}

TEST_F(HostFixture, PrepareWidensRowsAndRefusesWhatDoesNotFit) {
    record.imageMode = imagemode::cmyk;
    record.filterRect = {0, 0, 2, 30000};
    EXPECT_EQ(call(selector::prepare), 0);
    EXPECT_EQ(g.geometry.imageRowBytes, 120000); // far past 16 bits, no wrap

    record.filterRect = {0, -20000, 10, 20000};
    EXPECT_EQ(call(selector::prepare), 1);
    EXPECT_EQ(testing::platformFake.warnings.size(), 1u);
    EXPECT_EQ(g.geometry.imageWidth, 0);

    record.filterRect = {50, 50, 40, 40}; // inverted: nothing to filter, no negative sizes
    EXPECT_EQ(call(selector::prepare), 0);
    EXPECT_EQ(g.geometry.imageWidth, 0);
    EXPECT_EQ(g.geometry.imageHeight, 0);
}

TEST_F(HostFixture, SelectorsWithoutARecordAreRefused) {
    for (std::int16_t sel = 1; sel <= 5; ++sel) {
        std::int16_t resultWord = 0;
        dispatchSelector(sel, nullptr, &resultWord);
        EXPECT_EQ(resultWord, result::filterBadParameters);
    }
    EXPECT_EQ(testing::memoryFake.allocations, 0);
}

} // namespace
} // namespace vexel
