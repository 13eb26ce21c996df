// The continue driver through the selector entry, with a host that fills and takes buffers as
// real hosts do: the requests call by call, progress, the end of the run, the mask rows, the
// output against a plainly written transform, failures, leaks and the memory held.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iostream>
#include <vector>

#include "host/host_records.h"
#include "host/memory.h"
#include "host/plugin_globals.h"
#include "tests/unit/fake_host.h"
#include "tests/unit/test_support.h"

namespace vexel {
namespace {

using testing::FakeHost;
using testing::memoryFake;
using testing::platformFake;

struct ContinueRun : ::testing::Test {
    void SetUp() override { testing::resetModuleState(); }
};

// 12 x 10 RGB in an 8 x 8 control. Step 1 and step 2 give the same preview: 8 x 6 with
// imageScale 98,304 (1.5), so preview row n reads filter row (n x 98,304 + 32,768) >> 16 =
// 0, 2, 3, 5, 6, 8. With maxSpace 22,200 the whole rectangle does not fit (P 3194 + 4352 + 8192 +
// 6144 + one mask row 12 + mask blocks 42 = 21,936, and need(1) 360 needs more than 22,296), but
// step 2 does (90 + 42 <= 22,200 - 21,894 - 72).
constexpr std::int16_t kSmallWidth = 12;
constexpr std::int16_t kSmallHeight = 10;
constexpr std::int32_t kForcesStepTwo = 22'200;
constexpr std::int32_t kRoomy = 1'000'000;
constexpr int kMaskRows[] = {0, 2, 3, 5, 6, 8};
constexpr int kMaskColumns[] = {0, 2, 3, 5, 6, 8, 9, 11}; // (i x 98,304 + 32,768) >> 16 < 12

std::vector<std::uint8_t> patternMask(int width, int height) {
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            mask[static_cast<std::size_t>(y) * width + x] =
                (x + 2 * y) % 3 != 0 ? 255 : (x % 2 != 0 ? 254 : 0);
    return mask;
}

// Angle 90, stretch 3: stepX 0, stepY 75,000. From a row's centre (0x8000) plane k is taken
// (32,768 + (k + 1) x 75,000) >> 16 = k + 1 rows further down. Height and width 100 at previewMax
// 8 and imageScale 98,304 give half extents ((100 x 8 + 128) >> 8) x 98,304 >> 15 = 9, so with the
// centre at (6, 5) every pixel is inside; strength 100 takes the displaced samples only.
ParamBlock fanDownSettings(std::int32_t showDialog) {
    ParamBlock block;
    block.centerX = 6;
    block.centerY = 5;
    block.angle = 90;
    block.stretch = 3;
    block.strength = 100;
    block.height = 100;
    block.width = 100;
    block.showDialog = showDialog;
    return block;
}

std::vector<std::uint8_t> fanDownReference(FakeHost& host) {
    std::vector<std::uint8_t> expected = host.source;
    const int size = host.sampleBytes;
    for (int y = 0; y < host.height; ++y)
        for (int x = 0; x < host.width; ++x)
            for (int k = 0; k < host.planes; ++k) {
                const int from = k < 3 && y + k + 1 < host.height ? y + k + 1 : y; // 3: black
                std::memcpy(host.pixel(expected, x, y) + k * size,
                            host.pixel(host.source, x, from) + k * size,
                            static_cast<std::size_t>(size));
            }
    return expected;
}

HostRect hostRow(int row) {
    return HostRect{static_cast<std::int16_t>(FakeHost::kTop + row), FakeHost::kLeft,
                    static_cast<std::int16_t>(FakeHost::kTop + row + 1),
                    static_cast<std::int16_t>(FakeHost::kLeft + kSmallWidth)};
}
const HostRect kWholeSmall{FakeHost::kTop, FakeHost::kLeft, FakeHost::kTop + kSmallHeight,
                           FakeHost::kLeft + kSmallWidth};
const HostRect kEmpty{0, 0, 0, 0};

bool same(const HostRect& a, const HostRect& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void expectRequests(const FakeHost& host, std::size_t call, const HostRect& in, const HostRect& out,
                    const HostRect& mask) {
    SCOPED_TRACE(::testing::Message() << "Continue call " << call);
    ASSERT_LT(call, host.requests.size());
    const testing::Requests& r = host.requests[call];
    EXPECT_TRUE(same(r.in, in)) << "inRect top " << r.in.top << " bottom " << r.in.bottom;
    EXPECT_TRUE(same(r.out, out)) << "outRect top " << r.out.top;
    EXPECT_TRUE(same(r.mask, mask)) << "maskRect top " << r.mask.top;
}

// The mask rows as the prepass must have written them, checked while the dialog runs.
void expectSmallMaskBits(const FakeHost& host) {
    ASSERT_EQ(g.buffers.maskStride, 2);
    const std::uint8_t* frame = g.buffers.maskFrame.address;
    EXPECT_EQ(frame[0] | frame[1], 0); // leading guard row
    for (int n = 0; n < 6; ++n) {
        std::uint8_t expected[2] = {0, 0};
        for (int i = 0; i < 8; ++i)
            if (host.mask[static_cast<std::size_t>(kMaskRows[n]) * kSmallWidth + kMaskColumns[i]] ==
                255)
                expected[i / 8] |= static_cast<std::uint8_t>(0x80 >> (i % 8));
        EXPECT_EQ(frame[2 * (n + 1)], expected[0]) << "mask row " << n;
        EXPECT_EQ(frame[2 * (n + 1) + 1], expected[1]) << "mask row " << n;
    }
    EXPECT_EQ(frame[14] | frame[15], 0); // trailing guard row
}

// The render calls (input row, output row) of the small fan-down run, whatever the prepass held:
// row 0 needs rows 1, 2, 3, fetched one per call; every later row needs only the row three below
// it, until the displaced rows fall outside the image.
constexpr int kFanDownRender[][2] = {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {1, 1}, {4, 1}, {2, 2},
                                     {5, 2}, {3, 3}, {6, 3}, {4, 4}, {7, 4}, {5, 5}, {8, 5},
                                     {6, 6}, {9, 6}, {7, 7}, {8, 8}, {9, 9}};

// The worked small run: the pattern mask, fan-down settings, and the 8 x 8 control above.
void setUpSmallMaskedRun(FakeHost& host, std::int32_t showDialog) {
    host.setMask(patternMask(kSmallWidth, kSmallHeight));
    host.setSettings(fanDownSettings(showDialog));
    platformFake.measuredWidth = 8;
    platformFake.measuredHeight = 8;
}

TEST_F(ContinueRun, DecimatedRunAsksForEveryRowInTurnAndFetchesMissingOnes) {
    FakeHost host(kSmallWidth, kSmallHeight, 3, kForcesStepTwo);
    setUpSmallMaskedRun(host, 1);
    platformFake.dialog = [&host] {
        EXPECT_EQ(g.geometry.sampleStep, 2);
        expectSmallMaskBits(host);
        // Work pixel (i, j) is filter pixel (2i, 2j).
        for (int j = 0; j < 5; ++j)
            for (int i = 0; i < 6; ++i)
                EXPECT_EQ(
                    std::memcmp(g.buffers.workImage.address + j * g.geometry.workRowBytes + i * 3,
                                host.pixel(host.source, 2 * i, 2 * j), 3),
                    0);
        // Where a preview would have left the production position must not matter.
        g.production.posX = 0x1234FFFF;
        g.production.posY = 0x0007FFFF;
        g.settings.previewCenterX = 4; // (4 x 98,304 + 32,768) >> 16 = 6
        g.settings.previewCenterY = 3; // (3 x 98,304 + 32,768) >> 16 = 5
        return std::int16_t{1};
    };
    ASSERT_EQ(host.run(), 0);
    EXPECT_EQ(platformFake.dialogsRun, 1);

    std::size_t call = 0;
    for (int maskRow : kMaskRows)
        expectRequests(host, call++, hostRow(0), hostRow(0), hostRow(maskRow));
    for (int row = 0; row < kSmallHeight; row += 2)
        expectRequests(host, call++, hostRow(row), hostRow(0), kEmpty);
    for (const auto& [in, out] : kFanDownRender)
        expectRequests(host, call++, hostRow(in), hostRow(out), kEmpty);
    EXPECT_EQ(host.requests.size(), call);

    // Progress once per render call: (row, imageHeight), a row produced again reported again.
    std::vector<std::array<std::int32_t, 2>> expectedProgress;
    for (const auto& [in, out] : kFanDownRender)
        expectedProgress.push_back({out, kSmallHeight});
    EXPECT_EQ(host.progress, expectedProgress);

    EXPECT_EQ(host.output, fanDownReference(host));

    // The last call emptied the two rectangles and changed nothing else in the record.
    std::array<std::uint8_t, 512> expectedRecord = host.recordBeforeLastCall;
    std::memset(expectedRecord.data() + offsetof(FilterRecord, inRect), 0, sizeof(HostRect));
    std::memset(expectedRecord.data() + offsetof(FilterRecord, outRect), 0, sizeof(HostRect));
    EXPECT_EQ(host.recordBytes, expectedRecord);
    EXPECT_TRUE(same(host.record.maskRect, kEmpty));
    EXPECT_EQ(memoryFake.liveBlocks, 1); // only the host's parameter block
}

// The host holds the whole rectangle for the one prepass call only; the render pass then asks for
// rows exactly as after a decimated prepass, so a host that copies the requested input on every
// call copies one row per call, not the image.
TEST_F(ContinueRun, WholeRectangleRunAsksForRowsAfterItsOnePrepassCall) {
    FakeHost host(kSmallWidth, kSmallHeight, 3, kRoomy);
    setUpSmallMaskedRun(host, 0);
    host.record.progressProc = nullptr;
    ASSERT_EQ(host.run(), 0);
    EXPECT_EQ(platformFake.dialogsRun, 0);
    EXPECT_EQ(g.geometry.sampleStep, 1);

    std::size_t call = 0;
    for (int maskRow : kMaskRows)
        expectRequests(host, call++, kWholeSmall, hostRow(0), hostRow(maskRow));
    expectRequests(host, call++, kWholeSmall, hostRow(0), kEmpty);
    for (const auto& [in, out] : kFanDownRender)
        expectRequests(host, call++, hostRow(in), hostRow(out), kEmpty);
    EXPECT_EQ(host.requests.size(), call);
    EXPECT_FALSE(host.pending());
    EXPECT_TRUE(host.progress.empty());
    EXPECT_EQ(host.output, fanDownReference(host));
}

// A host may change the parameter block between two rows (here while the progress of row 4 and
// of row 6 is reported): each change takes effect from that row on, the change back included,
// exactly as a fresh derivation from the block gives it.
FakeHost* blockChangingHost = nullptr;
void changeBlockOnProgress(std::int32_t done, std::int32_t total) {
    FakeHost::onProgress(done, total);
    if (done != 4 && done != 6) return;
    ParamBlock settings = fanDownSettings(0);
    if (done == 4) settings.strength = 0;
    blockChangingHost->setSettings(settings);
}

TEST_F(ContinueRun, ChangedParameterBlockTakesEffectFromTheNextRow) {
    for (std::int32_t maxSpace : {kRoomy, kForcesStepTwo}) {
        testing::resetModuleState();
        FakeHost host(kSmallWidth, kSmallHeight, 3, maxSpace);
        host.setSettings(fanDownSettings(0));
        blockChangingHost = &host;
        host.record.progressProc = &changeBlockOnProgress;
        ASSERT_EQ(host.run(), 0);
        std::vector<std::uint8_t> expected = fanDownReference(host);
        const std::size_t rowBytes = std::size_t{kSmallWidth} * 3;
        std::copy_n(host.source.begin() + 4 * rowBytes, 2 * rowBytes,
                    expected.begin() + 4 * rowBytes);
        EXPECT_EQ(host.output, expected) << "maxSpace " << maxSpace;
    }
}

TEST_F(ContinueRun, MaskRowsFollowTheWorkedScale) {
    // 1000 x 600 in 270 x 270 at step 1: 162 preview rows, imageScale 242,725.
    FakeHost host(1000, 600, 3, 10'000'000);
    host.setMask(std::vector<std::uint8_t>(1000u * 600u, 255));
    host.setSettings(fanDownSettings(0));
    ASSERT_EQ(host.call(selector::prepare), 0);
    ASSERT_EQ(host.call(selector::start), 0);
    ASSERT_EQ(g.geometry.imageScale, 242'725);
    ASSERT_EQ(g.geometry.previewHeight, 162);
    constexpr int kFirstRows[] = {0, 4, 7, 11, 15};
    for (int n = 0; n < 162; ++n) {
        const int row = static_cast<int>((std::int64_t{n} * 242'725 + 32'768) >> 16);
        if (n < 5) {
            EXPECT_EQ(row, kFirstRows[n]);
        }
        EXPECT_TRUE(
            same(host.record.maskRect, HostRect{static_cast<std::int16_t>(100 + row), 20,
                                                static_cast<std::int16_t>(101 + row), 1020}))
            << "mask call " << n;
        ASSERT_EQ(host.continueOnce(), 0);
        EXPECT_EQ(host.record.inRect.bottom, 700); // the whole rectangle throughout
    }
    EXPECT_TRUE(same(host.record.maskRect, kEmpty));
    EXPECT_EQ(g.production.maskRowsDone, 162);
}

TEST_F(ContinueRun, MaskMemoryCoversTheFinalGeometryWithDecimation) {
    // 1124 x 600 RGB in a 320 x 240 control with maxSpace 250,000 takes step 5 (the step-5 work
    // image 224 x 120 needs 80,640 bytes and its mask memory 20,640). Undecimated the preview
    // would be 320 x 170; the final one is 320 x 171: xRatio 224 x 65,536 / 320 = 45,875,
    // 120 x 320 / 224 = 171 rows of 40 bytes, imageScale 229,375. 320 is a multiple of 16, and a
    // row's samples run on past it: (320 x 229,375 + 32,768) >> 16 = 1120 < 1124.
    const std::int16_t width = 1124, height = 600;
    FakeHost host(width, height, 3, 250'000);
    std::vector<std::uint8_t> mask(static_cast<std::size_t>(width) * height);
    for (std::size_t i = 0; i < mask.size(); ++i)
        mask[i] = (i * 7 / 5) % 3 != 0 ? 255 : 254;
    host.setMask(mask);
    host.setSettings(fanDownSettings(1));
    platformFake.measuredWidth = 320;
    platformFake.measuredHeight = 240;
    platformFake.dialog = [&] {
        EXPECT_EQ(g.geometry.sampleStep, 5);
        EXPECT_EQ(g.geometry.previewWidth, 320);
        EXPECT_EQ(g.geometry.previewHeight, 171);
        EXPECT_EQ(g.geometry.imageScale, 229'375);
        EXPECT_EQ(g.buffers.maskStride, 40);
        EXPECT_EQ(g.buffers.maskBitmapBytes, 6840);
        EXPECT_EQ(blockSize(g.buffers.maskFrame.handle), 6920u);
        EXPECT_EQ(blockSize(g.buffers.outlineWork.handle), 6880u);
        EXPECT_EQ(blockSize(g.buffers.maskBits.handle), 6840u);
        for (int n = -1; n <= 171; ++n) {
            const std::uint8_t* row = g.buffers.maskFrame.address + (n + 1) * 40;
            std::vector<std::uint8_t> expected(40, 0);
            if (n >= 0 && n < 171) {
                const std::int64_t filterRow = (std::int64_t{n} * 229'375 + 32'768) >> 16;
                for (int i = 0; i < 320; ++i) {
                    const std::int64_t column = (std::int64_t{i} * 229'375 + 32'768) >> 16;
                    if (mask[static_cast<std::size_t>(filterRow * width + column)] == 255)
                        expected[static_cast<std::size_t>(i / 8)] |=
                            static_cast<std::uint8_t>(0x80 >> (i % 8));
                }
            }
            EXPECT_EQ(std::vector<std::uint8_t>(row, row + 40), expected) << "frame row " << n;
        }
        return std::int16_t{2}; // cancel: the rest is another test's
    };
    EXPECT_EQ(host.run(), 1);
    EXPECT_EQ(platformFake.dialogsRun, 1);
}

TEST_F(ContinueRun, CancelledDialogEndsWithOneAndNothingHeld) {
    FakeHost host(kSmallWidth, kSmallHeight, 3, kForcesStepTwo);
    setUpSmallMaskedRun(host, 1);
    platformFake.dialog = [] { return std::int16_t{2}; };
    EXPECT_EQ(host.run(), 1);
    EXPECT_EQ(memoryFake.liveBlocks, 1);
    EXPECT_EQ(memoryFake.liveLocks, 0);
    EXPECT_EQ(platformFake.markerBitmaps, 0);
    EXPECT_EQ(platformFake.outlineBitmaps, 0);
    EXPECT_TRUE(same(host.record.outRect, hostRow(0)));
    EXPECT_EQ(host.output, host.source); // nothing written
}

TEST_F(ContinueRun, RowCacheThatCannotBeHadGivesMemFullErr) {
    // 2000 x 1500 at maxSpace 4,000,000 (step 2, 750 prepass calls) and 100,000,000 (step 1, one
    // prepass call). The smallest cache is 6001 x 35 + 1500 = 211,535 bytes; the 2000-byte reserve
    // is taken first.
    for (auto [maxSpace, prepassCalls] : {std::pair{4'000'000, 750u}, {100'000'000, 1u}})
        for (std::int64_t limit : {200'000, 1'000}) {
            SCOPED_TRACE(::testing::Message() << "maxSpace " << maxSpace << " limit " << limit);
            testing::resetModuleState();
            FakeHost host(2000, 1500, 3, maxSpace);
            host.setSettings(fanDownSettings(1));
            platformFake.dialog = [limit] {
                memoryFake.failAbove = limit;
                return std::int16_t{1};
            };
            EXPECT_EQ(host.run(), result::memFullErr);
            EXPECT_EQ(host.requests.size(), prepassCalls);
            EXPECT_EQ(memoryFake.liveBlocks, 1);
            EXPECT_EQ(memoryFake.liveLocks, 0);
            EXPECT_FALSE(g.host.classesRegistered);
        }
}

TEST_F(ContinueRun, RepeatedRunsInOneLoadLeakNothing) {
    auto expectNothingHeld = [] {
        EXPECT_EQ(memoryFake.liveBlocks, 0);
        EXPECT_EQ(memoryFake.liveLocks, 0);
        EXPECT_EQ(platformFake.markerBitmaps, 0);
        EXPECT_EQ(platformFake.outlineBitmaps, 0);
        EXPECT_FALSE(g.host.classesRegistered);
    };
    platformFake.measuredWidth = 8;
    platformFake.measuredHeight = 8;
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        {
            FakeHost host(kSmallWidth, kSmallHeight, 3, kForcesStepTwo);
            host.setMask(patternMask(kSmallWidth, kSmallHeight));
            host.setSettings(fanDownSettings(0));
            EXPECT_EQ(host.run(), 0);
            EXPECT_EQ(host.output, fanDownReference(host));
        }
        expectNothingHeld();
        {
            FakeHost host(kSmallWidth, kSmallHeight, 4, kRoomy);
            host.setSettings(fanDownSettings(1));
            EXPECT_EQ(host.run(), 0);
        }
        expectNothingHeld();
        {
            platformFake.dialog = [] { return std::int16_t{2}; };
            FakeHost host(kSmallWidth, kSmallHeight, 1, kForcesStepTwo);
            host.setMask(patternMask(kSmallWidth, kSmallHeight));
            host.setSettings(fanDownSettings(1));
            EXPECT_EQ(host.run(), 1);
            platformFake.dialog = nullptr;
        }
        expectNothingHeld();
        {
            FakeHost host(kSmallWidth, kSmallHeight, 3, 1000);
            EXPECT_EQ(host.run(), result::memFullErr);
        }
        expectNothingHeld();
        {
            // A host that stops in the middle of the final pass and never sends Finish: the
            // next Start takes back what the abandoned run held.
            FakeHost abandoned(kSmallWidth, kSmallHeight, 3, kForcesStepTwo);
            abandoned.setSettings(fanDownSettings(0));
            abandoned.finishOnDestroy = false;
            EXPECT_EQ(abandoned.call(selector::prepare), 0);
            EXPECT_EQ(abandoned.call(selector::start), 0);
            for (int i = 0; i < 16; ++i)
                EXPECT_EQ(abandoned.continueOnce(), 0);
            EXPECT_GT(memoryFake.liveBlocks, 1); // the row cache
        }
        {
            FakeHost host(kSmallWidth, kSmallHeight, 3, kForcesStepTwo);
            host.setSettings(fanDownSettings(0));
            EXPECT_EQ(host.run(), 0);
            EXPECT_EQ(host.output, fanDownReference(host));
        }
        expectNothingHeld();
    }
}

// Runs a whole image and reports the bytes held at the peak of Start (probe included) and of
// the final pass (the row cache) against maxSpace.
void expectRunWithinMaxSpace(std::int16_t width, std::int16_t height, std::int32_t maxSpace,
                             std::int16_t expectedStep) {
    testing::resetModuleState();
    FakeHost host(width, height, 3, maxSpace);
    ParamBlock settings = fanDownSettings(0);
    settings.centerX = static_cast<std::int16_t>(width / 2);
    settings.centerY = static_cast<std::int16_t>(height / 2);
    settings.angle = 45;
    settings.stretch = 100;
    settings.height = 20;
    settings.width = 20;
    host.setSettings(settings);
    ASSERT_EQ(host.call(selector::prepare), 0);
    ASSERT_EQ(host.call(selector::start), 0);
    EXPECT_EQ(g.geometry.sampleStep, expectedStep);
    const std::int64_t startPeak = memoryFake.peakBytes;
    memoryFake.peakBytes = memoryFake.liveBytes;
    std::int16_t result = 0;
    while (host.pending() && result == 0)
        result = host.continueOnce();
    ASSERT_EQ(result, 0);
    const std::int64_t continuePeak = memoryFake.peakBytes;
    std::cout << "[ memory   ] " << width << " x " << height << " maxSpace " << maxSpace
              << ": step " << g.geometry.sampleStep << ", Start peak " << startPeak
              << ", Continue peak " << continuePeak << " bytes, " << host.requests.size()
              << " Continue calls\n";
    EXPECT_LE(startPeak, maxSpace);
    EXPECT_LE(continuePeak, maxSpace);
    EXPECT_EQ(memoryFake.liveBlocks, 1);
}

// 16-bit samples (any value, also past 32768) take the same pixels as 8-bit ones, with the
// whole rectangle held and decimated; the mask stays a byte per pixel.
TEST_F(ContinueRun, SixteenBitRunsTakeTheSamePixels) {
    // Budgets that force step 2 at 16 bits (twice the bytes of the 8-bit worked example).
    const std::int32_t forcesStepTwo[] = {0, 17'900, 0, 23'600, 24'500};
    for (bool decimated : {false, true}) {
        for (int planes : {1, 3, 4}) {
            const std::int32_t maxSpace = decimated ? forcesStepTwo[planes] : kRoomy;
            SCOPED_TRACE(::testing::Message() << planes << " planes, maxSpace " << maxSpace);
            testing::resetModuleState();
            FakeHost host(kSmallWidth, kSmallHeight, static_cast<std::int16_t>(planes), maxSpace, 0,
                          16);
            setUpSmallMaskedRun(host, 0);
            ASSERT_EQ(host.run(), 0);
            EXPECT_EQ(g.geometry.sampleStep, decimated ? 2 : 1);
            EXPECT_EQ(host.output, fanDownReference(host));
            EXPECT_EQ(memoryFake.liveBlocks, 1);
        }
    }
}

// 16-bit rows counted in 8-bit bytes, or of odd length, are a host's fault: the run ends with
// paramErr before a byte is read or written.
TEST_F(ContinueRun, SixteenBitRowsTooShortOrOddAreRefused) {
    enum class Fault { eightBitInputRows, oddInputRows, eightBitOutputRows, oddOutputRows };
    for (Fault fault : {Fault::eightBitInputRows, Fault::oddInputRows, Fault::eightBitOutputRows,
                        Fault::oddOutputRows}) {
        for (std::int32_t maxSpace : {kRoomy, 23'600}) {
            testing::resetModuleState();
            FakeHost host(kSmallWidth, kSmallHeight, 3, maxSpace, 0, 16);
            host.setSettings(fanDownSettings(0));
            ASSERT_EQ(host.call(selector::prepare), 0);
            ASSERT_EQ(host.call(selector::start), 0);
            while (host.pending() && g.production.runPhase == RunPhase::prepass)
                ASSERT_EQ(host.continueOnce(), 0);
            FilterRecord& r = host.record;
            r.inData = host.fill(host.inBuffer, r.inRect, host.source, 3, r.inLoPlane, r.inHiPlane,
                                 r.inRowBytes, 2);
            r.outData = host.fill(host.outBuffer, r.outRect, host.output, 3, r.outLoPlane,
                                  r.outHiPlane, r.outRowBytes, 2);
            const std::vector<std::uint8_t> outBefore = host.outBuffer;
            switch (fault) {
            case Fault::eightBitInputRows:
                host.record.inRowBytes = kSmallWidth * 3;
                break;
            case Fault::oddInputRows:
                host.record.inRowBytes += 1;
                break;
            case Fault::eightBitOutputRows:
                host.record.outRowBytes = kSmallWidth * 3;
                break;
            case Fault::oddOutputRows:
                host.record.outRowBytes -= 1;
                break;
            }
            EXPECT_EQ(host.call(selector::continueRun), result::paramErr);
            EXPECT_FALSE(host.pending());
            EXPECT_EQ(memoryFake.liveBlocks, 1);
            EXPECT_EQ(host.outBuffer, outBefore);
        }
    }
}

// Hosts that call out of order or hand over unusable buffers: nothing is read or written through
// them, nothing stays held, and the next well-behaved run works.
TEST_F(ContinueRun, OddCallOrdersAndBadBuffersNeverTouchMemory) {
    {
        // Finish mid-run, then a new run's Prepare and a Continue before Start, with no buffers.
        FakeHost host(kSmallWidth, kSmallHeight, 3, kRoomy);
        host.setSettings(fanDownSettings(0));
        ASSERT_EQ(host.call(selector::prepare), 0);
        ASSERT_EQ(host.call(selector::start), 0);
        for (int i = 0; i < 4; ++i)
            ASSERT_EQ(host.continueOnce(), 0);
        host.call(selector::finish);
        ASSERT_EQ(host.call(selector::prepare), 0);
        host.record.inData = host.record.outData = nullptr;
        EXPECT_EQ(host.call(selector::continueRun), 0);
        EXPECT_FALSE(host.pending());
    }
    {
        // A decimated run abandoned in its prepass, then Prepare of a much larger rectangle and
        // a Continue: the old work image must not be filled with the new rows.
        FakeHost host(kSmallWidth, kSmallHeight, 3, kForcesStepTwo);
        host.setSettings(fanDownSettings(0));
        ASSERT_EQ(host.call(selector::prepare), 0);
        ASSERT_EQ(host.call(selector::start), 0);
        ASSERT_EQ(g.geometry.sampleStep, 2);
        host.finishOnDestroy = false;
        host.record.filterRect.bottom = static_cast<std::int16_t>(host.record.filterRect.top + 10);
        std::vector<std::uint8_t> wide(200 * 3, 7);
        host.record.filterRect.right = static_cast<std::int16_t>(host.record.filterRect.left + 200);
        ASSERT_EQ(host.call(selector::prepare), 0);
        host.record.inData = wide.data();
        host.record.inRowBytes = 600;
        EXPECT_EQ(host.call(selector::continueRun), 0);
        EXPECT_EQ(memoryFake.liveBlocks, 1); // the parameter block only
    }
    // Broken buffers inside a planned run (in the render pass of a host with an alpha plane) end
    // it with paramErr, release everything and write nothing.
    enum class Fault {
        noInput,
        shortInputRows,
        noOutput,
        shortOutputRows,
        outputRowOutside,
        fewerPlanes
    };
    for (Fault fault : {Fault::noInput, Fault::shortInputRows, Fault::noOutput,
                        Fault::shortOutputRows, Fault::outputRowOutside, Fault::fewerPlanes})
        for (int renderCalls : {0, 5}) {
            SCOPED_TRACE(::testing::Message() << "fault " << static_cast<int>(fault) << " after "
                                              << renderCalls << " render calls");
            testing::resetModuleState();
            FakeHost host(kSmallWidth, kSmallHeight, 3, kRoomy, 1);
            host.setSettings(fanDownSettings(0));
            ASSERT_EQ(host.call(selector::prepare), 0);
            ASSERT_EQ(host.call(selector::start), 0);
            do // the prepass, ending without a dialog
                ASSERT_EQ(host.continueOnce(), 0);
            while (g.production.runPhase == RunPhase::prepass);
            for (int n = 0; n < renderCalls; ++n)
                ASSERT_EQ(host.continueOnce(), 0);
            FilterRecord& r = host.record;
            ASSERT_EQ(r.inHiPlane, 3);
            r.inData = host.fill(host.inBuffer, r.inRect, host.source, 4, r.inLoPlane, r.inHiPlane,
                                 r.inRowBytes);
            r.outData = host.fill(host.outBuffer, r.outRect, host.output, 4, r.outLoPlane,
                                  r.outHiPlane, r.outRowBytes);
            const std::vector<std::uint8_t> delivered = host.outBuffer;
            switch (fault) {
            case Fault::noInput:
                r.inData = nullptr;
                break;
            case Fault::shortInputRows:
                r.inRowBytes = 4;
                break;
            case Fault::noOutput:
                r.outData = nullptr;
                break;
            case Fault::shortOutputRows:
                r.outRowBytes = 4;
                break;
            case Fault::outputRowOutside:
                r.outRect.top -= 40;
                break;
            case Fault::fewerPlanes:
                r.planes = 3;
                break;
            }
            EXPECT_EQ(host.call(selector::continueRun), result::paramErr);
            EXPECT_FALSE(host.pending());
            EXPECT_EQ(memoryFake.liveBlocks, 1);
            EXPECT_EQ(host.outBuffer, delivered);
        }
    {
        // A host with fewer planes than the image mode works on is never asked for any.
        testing::resetModuleState();
        FakeHost host(kSmallWidth, kSmallHeight, 3, kRoomy);
        host.record.planes = 2;
        ASSERT_EQ(host.call(selector::prepare), 0);
        EXPECT_EQ(host.call(selector::start), result::paramErr);
        EXPECT_FALSE(host.pending());
        EXPECT_EQ(memoryFake.liveBlocks, 1); // the host's parameter block
        EXPECT_FALSE(g.host.classesRegistered);
    }
    // A mask row the module cannot read whole (no buffer, or rows shorter than the filter row)
    // ends the run the same way, before a byte of it is read.
    for (bool noMask : {true, false}) {
        testing::resetModuleState();
        FakeHost host(kSmallWidth, kSmallHeight, 3, kRoomy);
        host.setMask(std::vector<std::uint8_t>(std::size_t{kSmallWidth} * kSmallHeight, 255));
        host.setSettings(fanDownSettings(0));
        ASSERT_EQ(host.call(selector::prepare), 0);
        ASSERT_EQ(host.call(selector::start), 0);
        ASSERT_FALSE(isEmpty(host.record.maskRect));
        // All that a host with short rows holds: ASan sees any read past it.
        std::vector<std::uint8_t> shortRow(std::size_t{kSmallWidth} - 1, 255);
        host.record.maskData = noMask ? nullptr : shortRow.data();
        host.record.maskRowBytes = kSmallWidth - 1;
        EXPECT_EQ(host.call(selector::continueRun), result::paramErr);
        EXPECT_FALSE(host.pending());
        EXPECT_EQ(memoryFake.liveBlocks, 1);
        EXPECT_EQ(g.production.maskRowsDone, 0);
    }
    // A Start without Prepare plans for the rectangle the host shows now.
    testing::resetModuleState();
    FakeHost host(kSmallWidth, kSmallHeight, 3, kRoomy);
    host.setSettings(fanDownSettings(0));
    ASSERT_EQ(host.call(selector::prepare), 0);
    host.record.filterRect.right = static_cast<std::int16_t>(host.record.filterRect.right - 4);
    ASSERT_EQ(host.call(selector::start), 0);
    EXPECT_EQ(g.geometry.imageWidth, kSmallWidth - 4);
    EXPECT_EQ(g.geometry.imageRowBytes, (kSmallWidth - 4) * 3);
}

// Planes beyond those the effect works on (alpha beside RGB or grey, a fifth plane beside CMYK)
// come back exactly as they went in, whether the host fills outData from the image, writes whole
// rows back from a destination that starts at 0, or takes every plane range as starting at plane
// 0. Every request starts at plane 0; the render pass asks for all the host's planes of the same
// rows as a run without the extra planes, and its colour planes come out the same.
TEST_F(ContinueRun, PlanesBeyondTheEffectsComeBackUnchanged) {
    struct Case {
        std::int16_t width, height, colourPlanes, extraPlanes;
        std::int32_t maxSpace; // of the run without the extra planes
        int depth;
    };
    enum class Host { fillsOutData, zeroUnrequestedPlanes, ignoresLowPlane };
    for (const Case& c : {Case{kSmallWidth, kSmallHeight, 3, 1, kRoomy, 8},
                          Case{kSmallWidth, kSmallHeight, 3, 1, kForcesStepTwo, 8},
                          Case{kSmallWidth, kSmallHeight, 4, 1, kRoomy, 8}, // the wide blend
                          Case{kSmallWidth, kSmallHeight, 1, 2, kForcesStepTwo, 16},
                          Case{3000, 200, 1, 1, 10'000'000, 8}})
        for (Host kind : {Host::fillsOutData, Host::zeroUnrequestedPlanes, Host::ignoresLowPlane}) {
            SCOPED_TRACE(::testing::Message()
                         << c.width << " x " << c.height << " x " << c.colourPlanes << " + "
                         << c.extraPlanes << ", " << c.depth << " bits, host "
                         << static_cast<int>(kind));
            testing::resetModuleState();
            FakeHost plain(c.width, c.height, c.colourPlanes, c.maxSpace, 0, c.depth);
            plain.setSettings(fanDownSettings(0));
            ASSERT_EQ(plain.run(), 0);
            const std::int16_t step = g.geometry.sampleStep;
            testing::resetModuleState();
            // The probe and the two host rows of the plan grow with the host's rows.
            const std::int32_t moreRowBytes = c.width * c.extraPlanes * plain.sampleBytes;
            FakeHost host(c.width, c.height, c.colourPlanes, c.maxSpace + 34 * moreRowBytes,
                          c.extraPlanes, c.depth);
            host.zeroUnrequestedPlanes = kind == Host::zeroUnrequestedPlanes;
            host.ignoreLowPlane = kind == Host::ignoresLowPlane;
            host.setSettings(fanDownSettings(0));
            const std::size_t colourBytes = static_cast<std::size_t>(plain.pixelBytes());
            const std::size_t pixelBytes = static_cast<std::size_t>(host.pixelBytes());
            for (std::size_t i = 0; i < host.source.size(); ++i) // plain's colours, varied others
                host.source[i] = i % pixelBytes < colourBytes
                                     ? plain.source[i / pixelBytes * colourBytes + i % pixelBytes]
                                     : static_cast<std::uint8_t>(i * 7);
            host.output = host.source;
            ASSERT_EQ(host.run(), 0);
            EXPECT_EQ(g.geometry.sampleStep, step);
            ASSERT_EQ(host.requests.size(), plain.requests.size());
            ASSERT_EQ(host.progress.size(), plain.progress.size());
            // One progress report per render call: the prepass asks for the colour planes only.
            const std::size_t firstRender = host.requests.size() - host.progress.size();
            for (std::size_t call = 0; call < plain.requests.size(); ++call) {
                const testing::Requests& r = plain.requests[call];
                expectRequests(host, call, r.in, r.out, r.mask);
                const auto high = static_cast<std::int16_t>(
                    (call < firstRender ? c.colourPlanes : host.planes) - 1);
                const std::array<std::int16_t, 4> planes{0, high, 0, high};
                EXPECT_EQ(host.requests[call].planes, planes) << "call " << call;
            }
            for (std::size_t i = 0; i < host.output.size(); ++i)
                ASSERT_EQ(host.output[i],
                          i % pixelBytes < colourBytes
                              ? plain.output[i / pixelBytes * colourBytes + i % pixelBytes]
                              : host.source[i])
                    << "byte " << i;
        }
}

TEST_F(ContinueRun, HeldMemoryStaysWithinMaxSpace) {
    expectRunWithinMaxSpace(2000, 1500, 4'000'000, 2);
    // 6000 x 4000: P = 18,001 x 32 + 6000 = 582,032; need(2) 18,000,000 fits 20,000,000 less
    // P, 4352, 14,336 and two rows of 18,000. The cache takes 18,001 x 255 + 4000 = 4,594,255.
    expectRunWithinMaxSpace(6000, 4000, 20'000'000, 2);
    // A tight budget: step 4 (562,500 bytes of work image), and a cache of 163 slots
    // (6001 x 163 + 1500 + the 2000-byte reserve) instead of the 255 that memory would allow.
    expectRunWithinMaxSpace(2000, 1500, 1'000'000, 4);
}

} // namespace
} // namespace vexel
