// Start: the memory plan against maxSpace, the preview geometry, the mask memory, and every way
// Start can fail without leaving anything behind. Expected numbers are worked out by hand in the
// comments (probe P = (rowBytes + 1) x 32 + height + 2000, fixed reserve 4352 for colour and 512
// for grey, preview strip 8192, DIB buffer 6144 without displayPixels, and with a mask one host
// mask row plus the three mask blocks of the step's own preview).
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "host/dispatch.h"
#include "host/memory.h"
#include "host/platform.h"
#include "host/plugin_globals.h"
#include "pipeline/run_plan.h"
#include "tests/unit/fake_host.h"
#include "tests/unit/test_support.h"

namespace vexel {
namespace {

using testing::FakeHost;
using testing::memoryFake;
using testing::platformFake;

ParamBlock quietSettings() {
    ParamBlock block;
    block.showDialog = 0;
    return block;
}

std::int16_t startRun(FakeHost& host) {
    host.setSettings(quietSettings());
    const std::int16_t prepared = host.call(selector::prepare);
    if (prepared != 0) return prepared;
    return host.call(selector::start);
}

// Nothing of the run is held: only the host's 20-byte parameter block is alive.
void expectNothingHeld() {
    EXPECT_EQ(memoryFake.liveBlocks, 1);
    EXPECT_EQ(memoryFake.liveBytes, 20);
    EXPECT_EQ(memoryFake.liveLocks, 0);
    EXPECT_EQ(platformFake.markerBitmaps, 0);
    EXPECT_EQ(platformFake.outlineBitmaps, 0);
    EXPECT_FALSE(g.host.classesRegistered);
}

struct RunPlan : ::testing::Test {
    void SetUp() override { testing::resetModuleState(); }
};

TEST_F(RunPlan, WorkedExample2000x1500PlansStepTwoInsideMaxSpace) {
    FakeHost host(2000, 1500, 3, 4'000'000);
    ASSERT_EQ(startRun(host), 0);

    EXPECT_EQ(g.geometry.sampleStep, 2);
    EXPECT_EQ(g.geometry.workWidth, 1000);
    EXPECT_EQ(g.geometry.workHeight, 750);
    EXPECT_EQ(g.geometry.workRowBytes, 3000);
    EXPECT_EQ(g.production.decimationSkip, 3);
    EXPECT_EQ(g.production.gridWidth, 1000);
    EXPECT_EQ(g.production.gridHeight, 750);
    EXPECT_EQ(g.production.workRowsDone, 0);
    EXPECT_EQ(g.production.maskRowsDone, 9999);
    EXPECT_EQ(g.production.runPhase, RunPhase::prepass);
    EXPECT_EQ(g.buffers.maskFrame.holding, Holding::notUsed);
    EXPECT_EQ(blockSize(g.buffers.workImage.handle), 2'250'000u);
    EXPECT_EQ(blockSize(g.buffers.previewStrip.handle), 8192u);
    EXPECT_EQ(blockSize(g.buffers.dibBuffer.handle), 6144u);
    EXPECT_EQ(g.buffers.dibBuffer.address, nullptr); // the display code locks it on first use
    EXPECT_EQ(platformFake.markerBitmaps, 1);

    const HostRect firstRow{100, 20, 101, 2020};
    EXPECT_EQ(std::memcmp(&host.record.inRect, &firstRow, sizeof firstRow), 0);
    EXPECT_EQ(std::memcmp(&host.record.outRect, &firstRow, sizeof firstRow), 0);
    EXPECT_EQ(host.record.inLoPlane, 0);
    EXPECT_EQ(host.record.inHiPlane, 2);
    EXPECT_EQ(host.record.outLoPlane, 0);
    EXPECT_EQ(host.record.outHiPlane, 2);

    // Work 1000 x 750 in a 270 x 270 control: xRatio 65,536,000 / 270 = 242,725, yRatio
    // 49,152,000 / 270 = 182,044, width-limited, 750 x 270 / 1000 = 202 rows.
    EXPECT_EQ(g.geometry.previewWidth, 270);
    EXPECT_EQ(g.geometry.previewHeight, 202);
    EXPECT_EQ(g.geometry.previewScale, 242'725);
    EXPECT_EQ(g.geometry.imageScale, 485'450);
    EXPECT_EQ(g.geometry.previewMax, 270);

    // Held at the peak: the probe P = 6001 x 32 + 1500 + 2000 = 195,532, the strip, the DIB
    // buffer, the work image and the host's parameter block; the probe is gone afterwards.
    EXPECT_EQ(memoryFake.peakBytes, 195'532 + 8192 + 6144 + 2'250'000 + 20);
    EXPECT_EQ(memoryFake.liveBytes, 8192 + 6144 + 2'250'000 + 20);
    EXPECT_LE(memoryFake.peakBytes, 4'000'000);

    EXPECT_EQ(host.call(selector::finish), 0);
    expectNothingHeld();
    EXPECT_EQ(host.call(selector::finish), 0); // a second release frees nothing twice
    expectNothingHeld();
    EXPECT_EQ(platformFake.unregistrations, 2);
}

struct BudgetCase {
    std::int16_t planes;
    bool displayPixels;
    std::int32_t maxSpace;
    std::int16_t expectedStep; // 0: memFullErr
};

// 2000 x 1500. Colour: before the work image the budget holds back P 195,532 + 4352 + 8192 +
// 6144 = 214,220, so need(1) = 9,000,000 fits strictly above maxSpace 9,214,220. For steps 2..5
// two rows (12,000) more: need 2,250,000 / 999,000 / 562,500 / 360,000 fit from maxSpace
// 2,476,220 / 1,225,220 / 788,720 / 586,220 on. With displayPixels there is no DIB buffer (6144
// less). Grey: P = 2001 x 32 + 3500 = 67,532, reserve 512: need(1) 3,000,000 + 82,380.
TEST_F(RunPlan, BudgetBoundariesPickTheSmallestStepThatFits) {
    const BudgetCase cases[] = {
        {3, false, 9'214'221, 1}, {3, false, 9'214'220, 2}, {3, false, 2'476'220, 2},
        {3, false, 2'476'219, 3}, {3, false, 1'225'220, 3}, {3, false, 1'225'219, 4},
        {3, false, 788'720, 4},   {3, false, 788'719, 5},   {3, false, 586'220, 5},
        {3, false, 586'219, 0},   {3, true, 9'208'077, 1},  {3, true, 9'208'076, 2},
        {1, false, 3'082'381, 1}, {1, false, 3'082'380, 2},
    };
    for (const BudgetCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "planes " << c.planes << " maxSpace " << c.maxSpace);
        testing::resetModuleState();
        FakeHost host(2000, 1500, c.planes, c.maxSpace);
        if (c.displayPixels)
            host.record.displayPixels = [](const PSPixelMap*, const HostVRect*, std::int32_t,
                                           std::int32_t, void*) -> std::int16_t { return 0; };
        const std::int16_t result = startRun(host);
        if (c.expectedStep == 0) {
            EXPECT_EQ(result, result::memFullErr);
            expectNothingHeld();
            continue;
        }
        ASSERT_EQ(result, 0);
        EXPECT_EQ(g.geometry.sampleStep, c.expectedStep);
        EXPECT_LE(memoryFake.peakBytes, c.maxSpace);
        EXPECT_EQ(g.buffers.dibBuffer.holding, c.displayPixels ? Holding::none : Holding::block);
        if (c.expectedStep == 1) {
            // The host holds the whole rectangle and the prepass has nothing to copy.
            EXPECT_EQ(g.buffers.workImage.holding, Holding::heldByHost);
            EXPECT_EQ(host.record.inRect.bottom, 1600);
            EXPECT_EQ(host.record.outRect.bottom, 101);
            EXPECT_EQ(g.production.workRowsDone, 1500);
        } else {
            EXPECT_EQ(g.buffers.workImage.holding, Holding::block);
            EXPECT_EQ(host.record.inRect.bottom, 101);
        }
        host.call(selector::finish);
        expectNothingHeld();
    }
}

// A 16-bit image is planned as an 8-bit one of the same bytes: 16-bit W x H against 8-bit
// 2W x H of the same planes (W a multiple of 60, so every decimated row has the same bytes too).
// At each of the 8-bit image's budget boundaries both take the same step, or both refuse.
TEST_F(RunPlan, SixteenBitImagesPlanAsEightBitOnesOfTheSameBytes) {
    auto stepWith = [](int planes, int depth, std::int32_t maxSpace) {
        testing::resetModuleState();
        FakeHost host(static_cast<std::int16_t>(depth == 16 ? 180 : 360), 150,
                      static_cast<std::int16_t>(planes), maxSpace, 0, depth);
        const std::int16_t result = startRun(host);
        const std::int16_t step = result == 0 ? g.geometry.sampleStep : std::int16_t{0};
        EXPECT_TRUE(result == 0 || result == result::memFullErr) << result;
        if (result == 0) {
            EXPECT_EQ(g.geometry.workRowBytes, g.geometry.workWidth * planes * (depth / 8));
            EXPECT_LE(memoryFake.peakBytes, maxSpace);
        }
        return step;
    };
    for (int planes : {1, 3, 4}) {
        // The smallest maxSpace at which the 8-bit image gets each step, found by bisection.
        for (std::int16_t step = 1; step <= 5; ++step) {
            std::int32_t low = 0, high = 2'000'000; // stepWith(high) <= step < stepWith(low)
            while (high - low > 1) {
                const std::int32_t middle = low + (high - low) / 2;
                const std::int16_t got = stepWith(planes, 8, middle);
                (got != 0 && got <= step ? high : low) = middle;
            }
            SCOPED_TRACE(::testing::Message() << planes << " planes, step " << step);
            EXPECT_EQ(stepWith(planes, 16, high), stepWith(planes, 8, high));
            EXPECT_EQ(stepWith(planes, 16, low), stepWith(planes, 8, low));
        }
    }
}

TEST_F(RunPlan, HostileMaxSpaceNeverWrapsIntoALargeBudget) {
    for (std::int32_t maxSpace : {INT32_MIN, -1, 0, 195'532}) {
        SCOPED_TRACE(maxSpace);
        testing::resetModuleState();
        FakeHost host(2000, 1500, 3, maxSpace);
        EXPECT_EQ(startRun(host), result::memFullErr);
        expectNothingHeld();
    }
    testing::resetModuleState();
    FakeHost host(2000, 1500, 3, INT32_MAX);
    EXPECT_EQ(startRun(host), 0);
    EXPECT_EQ(g.geometry.sampleStep, 1);
}

TEST_F(RunPlan, WorkImageBeyond32BitsIsNotMistakenForASmallOne) {
    // 32767 x 32767 CMYK: need(1) = 32767 x 131,068 = 4,294,705,156 bytes, which a 32-bit product
    // would wrap to -262,140 and take for a fit. Steps 2..4 need 1,073,610,756 / 477,160,336 /
    // 268,369,924 bytes, refused by the allocator here; step 5 needs 6553 x 26,212 = 171,767,236.
    alignas(8) std::array<std::uint8_t, 512> bytes{};
    auto& record = *reinterpret_cast<FilterRecord*>(bytes.data());
    record.filterRect = HostRect{0, 0, 32767, 32767};
    record.imageMode = imagemode::cmyk;
    record.planes = 4;
    record.maxSpace = INT32_MAX;
    memoryFake.failAbove = 200'000'000;
    std::int16_t result = 0;
    dispatchSelector(selector::prepare, &record, &result);
    ASSERT_EQ(result, 0);
    dispatchSelector(selector::start, &record, &result);
    ASSERT_EQ(result, 0);
    EXPECT_EQ(g.geometry.sampleStep, 5);
    EXPECT_EQ(blockSize(g.buffers.workImage.handle), 171'767'236u);
    dispatchSelector(selector::finish, &record, &result);
    EXPECT_EQ(memoryFake.liveBlocks, 1);
    freeBlock(record.parameters);
}

TEST_F(RunPlan, EveryFailedAllocationReleasesEverything) {
    // Allocation 1 is the host's parameter block; Start then takes the probe (2), the strip (3),
    // the DIB buffer (4) and the work image (5).
    for (std::int64_t failing : {2, 3, 4}) {
        SCOPED_TRACE(failing);
        testing::resetModuleState();
        memoryFake.failAt = failing;
        FakeHost host(2000, 1500, 3, 4'000'000);
        EXPECT_EQ(startRun(host), result::memFullErr);
        expectNothingHeld();
    }
    // A work image that cannot be had is tried at the next step.
    testing::resetModuleState();
    memoryFake.failAt = 5;
    FakeHost host(2000, 1500, 3, 4'000'000);
    ASSERT_EQ(startRun(host), 0);
    EXPECT_EQ(g.geometry.sampleStep, 3);
    EXPECT_EQ(blockSize(g.buffers.workImage.handle), 666u * 500u * 3u);
}

TEST_F(RunPlan, MaskMemoryFailuresReleaseEverything) {
    // 1000 x 600 at maxSpace 1,000,000 takes step 2. The mask memory follows the work image
    // (allocation 5): the outline bitmap, then maskBits (6), outlineWork (7) and maskFrame (8).
    for (std::int64_t failing : {0, 6, 7, 8}) {
        SCOPED_TRACE(failing);
        testing::resetModuleState();
        memoryFake.failAt = failing;
        platformFake.outlineBitmapFails = failing == 0;
        FakeHost host(1000, 600, 3, 1'000'000);
        host.setMask(std::vector<std::uint8_t>(1000u * 600u, 255));
        EXPECT_EQ(startRun(host), result::memFullErr);
        expectNothingHeld();
    }
}

TEST_F(RunPlan, MaskBlocksFollowTheSpecifiedGeometry) {
    // Work 1000 x 600 in 270 x 270: 270 x 162, 17 words, stride 34, 5508 bytes of bits.
    FakeHost host(1000, 600, 3, 10'000'000);
    host.setMask(std::vector<std::uint8_t>(1000u * 600u, 255));
    ASSERT_EQ(startRun(host), 0);
    EXPECT_EQ(g.geometry.sampleStep, 1);
    EXPECT_EQ(g.buffers.maskRowWords, 17);
    EXPECT_EQ(g.buffers.maskStride, 34);
    EXPECT_EQ(g.buffers.maskBitmapBytes, 5508);
    EXPECT_EQ(blockSize(g.buffers.maskBits.handle), 5508u);
    EXPECT_EQ(blockSize(g.buffers.outlineWork.handle), 5542u);
    EXPECT_EQ(blockSize(g.buffers.maskFrame.handle), 5576u);
    EXPECT_EQ(platformFake.outlineBitmaps, 1);
    EXPECT_EQ(g.production.maskRowsDone, 0);
    const HostRect firstRow{100, 20, 101, 1020};
    EXPECT_EQ(std::memcmp(&host.record.maskRect, &firstRow, sizeof firstRow), 0);
    host.call(selector::finish);
    expectNothingHeld();
}

TEST_F(RunPlan, MaskMemoryIsInTheBudget) {
    // 1000 x 600 with a mask: P = 3001 x 32 + 2600 = 98,632; + 4352 + 8192 + 6144, one host
    // mask row of 1000 and the three blocks 5508 + 5542 + 5576 = 16,626: 134,946 before need(1)
    // = 1,800,000.
    for (auto [maxSpace, step] : {std::pair{1'934'947, 1}, std::pair{1'934'946, 2}}) {
        testing::resetModuleState();
        FakeHost host(1000, 600, 3, maxSpace);
        host.setMask(std::vector<std::uint8_t>(1000u * 600u, 255));
        ASSERT_EQ(startRun(host), 0);
        EXPECT_EQ(g.geometry.sampleStep, step);
        EXPECT_LE(memoryFake.peakBytes, maxSpace);
    }
}

TEST_F(RunPlan, PreviewGeometryFitsTheControl) {
    g.geometry.sampleStep = 1;
    g.geometry.workWidth = 1000;
    g.geometry.workHeight = 600;
    computePreviewGeometry(g.geometry, 270, 270);
    EXPECT_EQ(g.geometry.previewXRatio, 242'725);
    EXPECT_EQ(g.geometry.previewYRatio, 145'635); // = 39,321,600 / 270
    EXPECT_EQ(g.geometry.previewScale, 242'725);
    EXPECT_EQ(g.geometry.previewWidth, 270);
    EXPECT_EQ(g.geometry.previewHeight, 162);
    EXPECT_EQ(g.geometry.previewMax, 270);

    g.geometry.workWidth = 540;
    g.geometry.workHeight = 540; // a tie takes the height-limited branch
    computePreviewGeometry(g.geometry, 270, 270);
    EXPECT_EQ(g.geometry.previewScale, 131'072);
    EXPECT_EQ(g.geometry.previewWidth, 270);
    EXPECT_EQ(g.geometry.previewHeight, 270);

    g.geometry.sampleStep = 3;
    g.geometry.workWidth = 2000;
    g.geometry.workHeight = 500;
    computePreviewGeometry(g.geometry, 600, 300); // 512 wide at most: 256,000 against 109,226
    EXPECT_EQ(g.geometry.previewWidth, 512);
    EXPECT_EQ(g.geometry.previewHeight, 128);
    EXPECT_EQ(g.geometry.previewScale, 256'000);
    EXPECT_EQ(g.geometry.imageScale, 768'000);
}

TEST_F(RunPlan, DegenerateGeometryNeitherDividesByZeroNorLosesItsLastRow) {
    g.geometry.sampleStep = 1;
    g.geometry.workWidth = 1000;
    g.geometry.workHeight = 600;
    for (auto [w, h] : {std::pair{0, 270}, std::pair{270, 0}, std::pair{-5, 270}}) {
        computePreviewGeometry(g.geometry, static_cast<std::int16_t>(w),
                               static_cast<std::int16_t>(h));
        EXPECT_EQ(g.geometry.previewWidth, 0);
        EXPECT_EQ(g.geometry.previewHeight, 0);
        EXPECT_EQ(g.geometry.previewScale, 0);
        EXPECT_EQ(g.geometry.imageScale, 0);
    }
    g.geometry.workWidth = 0;
    computePreviewGeometry(g.geometry, 270, 270);
    EXPECT_EQ(g.geometry.previewWidth, 0);

    // 10000 x 1: 270 x 1 / 10000 would leave no preview row at all.
    g.geometry.workWidth = 10000;
    g.geometry.workHeight = 1;
    computePreviewGeometry(g.geometry, 270, 270);
    EXPECT_EQ(g.geometry.previewWidth, 270);
    EXPECT_EQ(g.geometry.previewHeight, 1);

    // A one-pixel control over the widest work image: 32767 x 65536 = 2,147,418,112, and five
    // times that wraps to 10,737,090,560 - 2 x 2^32 = 2,147,155,968.
    g.geometry.sampleStep = 5;
    g.geometry.workWidth = 32767;
    g.geometry.workHeight = 32767;
    computePreviewGeometry(g.geometry, 1, 1);
    EXPECT_EQ(g.geometry.previewScale, 2'147'418'112);
    EXPECT_EQ(g.geometry.imageScale, 2'147'155'968);
}

TEST_F(RunPlan, EmptyFilterRectangleEndsCleanly) {
    for (auto [w, h] : {std::pair{0, 50}, std::pair{50, 0}}) {
        testing::resetModuleState();
        FakeHost host(static_cast<std::int16_t>(w), static_cast<std::int16_t>(h), 3, 4'000'000);
        host.setMask({});
        EXPECT_EQ(host.run(), 0);
        EXPECT_TRUE(isEmpty(host.record.inRect));
        EXPECT_TRUE(isEmpty(host.record.outRect));
        EXPECT_TRUE(isEmpty(host.record.maskRect));
        EXPECT_TRUE(host.requests.empty()); // nothing was asked for
        EXPECT_EQ(memoryFake.liveBlocks, 1);
        EXPECT_EQ(platformFake.markerBitmaps, 0);
        // A host that calls Continue anyway gets nothing written and nothing asked for.
        EXPECT_EQ(host.continueOnce(), 0);
        EXPECT_FALSE(host.pending());
        EXPECT_EQ(memoryFake.liveBlocks, 1);
    }
}

TEST_F(RunPlan, UnmeasurableDialogFailsStartAndALaterStartSucceeds) {
    FakeHost host(200, 100, 3, 4'000'000);
    host.setSettings(quietSettings());
    ASSERT_EQ(host.call(selector::prepare), 0);
    platformFake.registrationFails = true;
    EXPECT_EQ(host.call(selector::start), 1);
    EXPECT_EQ(platformFake.warnings.size(), 1u);

    // The classes count as registered, so the dialog cannot be made and records no size.
    platformFake.registrationFails = false;
    platformFake.measuredWidth = 0;
    EXPECT_EQ(host.call(selector::start), 1);
    expectNothingHeld();
    // The user is told, not left with a filter that silently does nothing.
    ASSERT_EQ(platformFake.warnings.size(), 2u);
    EXPECT_EQ(platformFake.warnings[1], kDialogUnavailableWarning);

    platformFake.measuredWidth = 270;
    EXPECT_EQ(host.call(selector::start), 0);
    EXPECT_EQ(platformFake.registrations, 2);
    EXPECT_EQ(host.call(selector::finish), 0);
    expectNothingHeld();
}

} // namespace
} // namespace vexel
