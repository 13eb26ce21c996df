// Start's second half: measure the preview control, plan the run's memory against the host's
// maxSpace (choosing how far the work image is decimated), allocate what the prepass and the
// dialog need, and compute the preview geometry. Also the one routine that releases it all and
// the switch of the grid to the final pass.
//
// Buffers are locked when they are allocated and unlocked when they are freed, so their
// addresses stay valid for the whole prepass and dialog. The DIB buffer is the exception: the
// display code locks it on first use, which is how it knows to measure the display once per run.
#include "pipeline/run_plan.h"

#include <cstdint>

#include "host/dispatch.h"
#include "host/host_records.h"
#include "host/int_math.h"
#include "host/memory.h"
#include "host/platform.h"
#include "host/plugin_globals.h"
#include "pipeline/row_cache.h"

namespace vexel {

namespace {

constexpr std::int16_t kLargestPreview = 512;
constexpr std::int16_t kLargestSampleStep = 5;
constexpr std::int16_t kNoMaskRows = 9999; // exceeds any previewHeight: no mask prepass
constexpr std::int32_t kProbeSlots = 32;

// The preview that fits a control: the largest rectangle with the work image's aspect ratio
// inside the control and inside 512 x 512.
struct PreviewFit {
    std::int16_t width = 0;
    std::int16_t height = 0;
    std::int32_t scale = 0; // 16.16 work pixels per preview pixel
    std::int32_t xRatio = 0;
    std::int32_t yRatio = 0;
};

PreviewFit fitPreview(std::int16_t workWidth, std::int16_t workHeight, std::int16_t controlWidth,
                      std::int16_t controlHeight) {
    PreviewFit fit;
    // No control size (the dialog could not be made) or nothing to show: no geometry at all,
    // rather than a division by zero.
    if (controlWidth <= 0 || controlHeight <= 0 || workWidth <= 0 || workHeight <= 0) return fit;
    fit.width = min16(controlWidth, kLargestPreview);
    fit.height = min16(controlHeight, kLargestPreview);
    // workWidth x 65536 stays below 2^31 for any positive 16-bit size.
    fit.xRatio = std::int32_t{workWidth} * 65536 / fit.width;
    fit.yRatio = std::int32_t{workHeight} * 65536 / fit.height;
    if (fit.yRatio < fit.xRatio) {
        fit.scale = fit.xRatio;
        fit.height = wrap16(std::int32_t{workHeight} * fit.width / workWidth);
    } else {
        fit.scale = fit.yRatio;
        fit.width = wrap16(std::int32_t{workWidth} * fit.height / workHeight);
    }
    // A very long, thin image would truncate its short side to no preview row or column at all;
    // keep one so that every preview and mask routine has a row to work on.
    fit.width = max16(fit.width, 1);
    fit.height = max16(fit.height, 1);
    return fit;
}

std::int32_t maskStrideFor(std::int16_t previewWidth) {
    return 2 * ((std::int32_t{previewWidth} + 15) >> 4);
}

// maskBits + outlineWork + maskFrame: three blocks of previewHeight rows, with one and two extra
// rows.
std::int64_t maskMemoryBytes(const PreviewFit& fit) {
    const std::int64_t stride = maskStrideFor(fit.width);
    return 3 * (stride * fit.height + stride);
}

std::int16_t decimatedSize(std::int16_t size, std::int16_t step) {
    // At least one pixel, so that a strip thinner than the step still has a work row to copy.
    return max16(static_cast<std::int16_t>(size / step), 1);
}

void setWorkSize(std::int16_t step) {
    g.sampleStep = step;
    if (step == 1) {
        g.workWidth = g.imageWidth;
        g.workHeight = g.imageHeight;
    } else {
        g.workWidth = decimatedSize(g.imageWidth, step);
        g.workHeight = decimatedSize(g.imageHeight, step);
    }
    g.workRowBytes = std::int32_t{g.workWidth} * g.planeCount;
}

std::int64_t workImageBytes() {
    return std::int64_t{g.workHeight} * g.workRowBytes;
}

std::int64_t maskMemoryForCurrentStep(bool withMask) {
    if (!withMask) return 0;
    return maskMemoryBytes(
        fitPreview(g.workWidth, g.workHeight, g.measuredWidth, g.measuredHeight));
}

// Frees every buffer and window-system object of a run, leaving the classes registered.
void freeRunBuffersAndObjects() {
    freeRunBuffer(g.previewStrip);
    freeRunBuffer(g.workImage);
    freeRunBuffer(g.maskFrame);
    freeRunBuffer(g.outlineWork);
    freeRunBuffer(g.maskBits);
    freeRunBuffer(g.rowCache);
    g.rowSlotMap = nullptr;
    g.slotStamps = nullptr;
    g.slotData = nullptr;
    freeRunBuffer(g.dibBuffer);
    releaseGdiObjects();
}

void setFirstRequest(FilterRecord& record) {
    const HostRect& filter = g.filterRect;
    const HostRect firstRow{filter.top, filter.left, wrap16(filter.top + 1), filter.right};
    const auto lastPlane = static_cast<std::int16_t>(g.planeCount - 1);
    record.inRect = firstRow;
    record.inLoPlane = 0;
    record.inHiPlane = lastPlane;
    record.outRect = firstRow;
    record.outLoPlane = 0;
    record.outHiPlane = lastPlane;
}

bool measurePreview() {
    g.measuredWidth = 0;
    g.measuredHeight = 0;
    measurePreviewControl();
    return g.measuredWidth > 0 && g.measuredHeight > 0;
}

// The whole filter rectangle is held by the host when it fits strictly inside the budget;
// otherwise the smallest decimation 2..5 whose work image fits the budget less two host rows
// (the input and output row of the final pass) and can be allocated.
bool chooseSampleStep(FilterRecord& record, std::int64_t budget, bool withMask) {
    setWorkSize(1);
    if (workImageBytes() + maskMemoryForCurrentStep(withMask) < budget) {
        g.workImage.holding = Holding::heldByHost;
        record.inRect.bottom = g.filterRect.bottom;
        g.workRowsDone = g.workHeight; // nothing to copy
        return true;
    }
    budget -= 2 * std::int64_t{g.imageRowBytes};
    for (std::int16_t step = 2; step <= kLargestSampleStep; ++step) {
        setWorkSize(step);
        const std::int64_t need = workImageBytes();
        if (need + maskMemoryForCurrentStep(withMask) > budget || need > INT32_MAX) continue;
        if (allocRunBuffer(g.workImage, static_cast<std::int32_t>(need))) {
            g.workRowsDone = 0;
            return true;
        }
    }
    setWorkSize(1);
    g.workImage = RunBuffer{};
    return false;
}

// The mask blocks and the outline bitmap follow the final preview geometry, so every row the mask
// prepass and the outline touch lies inside them.
void allocateMaskMemory() {
    if (!allocateMaskBuffers()) return;
    if (!createOutlineBitmap(std::int32_t{g.maskStride} * 8, g.previewHeight)) {
        freeRunBuffer(g.maskFrame);
        freeRunBuffer(g.outlineWork);
        freeRunBuffer(g.maskBits);
    }
}

// Allocates everything the prepass and the dialog need. False when something could not be had.
//
// The budget holds back, besides the work image: a probe as large as a 32-slot row cache with its
// reserve, a fixed reserve, the preview strip and DIB buffer, and with a host mask the mask
// memory of the step's own preview geometry plus one host mask row.
bool allocateRunMemory(FilterRecord& record) {
    const std::int64_t probeBytes = cacheBlockBytes(kProbeSlots) + kCacheReserveBytes;
    BlockHandle probe =
        probeBytes <= INT32_MAX ? allocBlock(static_cast<std::int32_t>(probeBytes)) : nullptr;
    if (probe == nullptr) return false;

    const std::int64_t fixedReserve = g.planeCount > 1 ? 4352 : 512;
    std::int64_t budget = std::int64_t{record.maxSpace} - probeBytes - fixedReserve;

    const bool withMask = record.haveMask != 0;
    if (withMask) {
        g.maskFrame = RunBuffer{};
        record.maskRect = record.inRect;
        budget -= g.imageWidth;
    }
    allocRunBuffer(g.previewStrip, kPreviewStripBytes);
    budget -= kPreviewStripBytes;
    const bool needsDib = record.displayPixels == nullptr;
    if (needsDib) {
        if (allocRunBuffer(g.dibBuffer, kDibBufferBytes)) {
            unlockBlock(g.dibBuffer.handle);
            g.dibBuffer.address = nullptr;
        }
        budget -= kDibBufferBytes;
    }

    const bool stepTaken = chooseSampleStep(record, budget, withMask);
    computePreviewGeometry(g.measuredWidth, g.measuredHeight);
    if (stepTaken && withMask) allocateMaskMemory();
    freeBlock(probe);

    return stepTaken && g.previewStrip.holding == Holding::block &&
           (!needsDib || g.dibBuffer.holding == Holding::block) &&
           g.maskFrame.holding != Holding::none;
}

// Settings every Start ends with, also after a failure (they allocate nothing).
void settleRun() {
    g.runPhase = RunPhase::prepass;
    g.decimationSkip = std::int32_t{g.planeCount} * (g.sampleStep - 1);
    g.gridWidth = g.workWidth;
    g.gridHeight = g.workHeight;
    g.cacheActive = 0;
    g.maskRowsDone = g.maskFrame.holding == Holding::notUsed ? kNoMaskRows : 0;
    computePreviewGeometry(g.measuredWidth, g.measuredHeight);
}

// An empty filter rectangle: nothing to read, show or write. All requests are left empty, so the
// host has nothing to deliver; a Continue that comes anyway finds an empty output row.
void planEmptyRun(FilterRecord& record) {
    emptyRect(record.inRect);
    emptyRect(record.outRect);
    if (record.haveMask != 0) emptyRect(record.maskRect);
    g.measuredWidth = 0;
    g.measuredHeight = 0;
    g.runPhase = RunPhase::render;
    g.maskRowsDone = kNoMaskRows;
    g.decimationSkip = 0;
    g.gridWidth = g.imageWidth;
    g.gridHeight = g.imageHeight;
    computePreviewGeometry(0, 0);
}

} // namespace

void planRun() {
    FilterRecord& record = filterRecord();
    // A host that never sent Finish for the last run still holds nothing of it after this.
    freeRunBuffersAndObjects();
    g.runPlanned = false;
    g.sampleStep = 1;
    g.workImage = RunBuffer{};
    g.maskFrame = RunBuffer{Holding::notUsed};
    g.cacheActive = 0;
    g.currentRow = nullptr;

    // The rectangle as it is now: a host may change it after Prepare, or skip Prepare.
    if (!readFilterGeometry()) {
        releaseRunResources();
        return;
    }
    if (g.imageWidth <= 0 || g.imageHeight <= 0) {
        planEmptyRun(record);
        return;
    }
    if (!measurePreview()) {
        // The dialog cannot be created (no window station or display, for one). Releasing
        // unregisters the classes, so the next Start registers them again and can succeed.
        releaseRunResources();
        showWarning(kDialogUnavailableWarning);
        g.runResult = result::reported;
        settleRun();
        return;
    }
    createMarkerBitmap();
    setFirstRequest(record);
    if (!allocateRunMemory(record)) {
        releaseRunResources();
        g.runResult = result::memFullErr;
    }
    settleRun();
    g.runPlanned = g.runResult == result::noErr;
}

bool allocateMaskBuffers() {
    g.maskStride = static_cast<std::int16_t>(maskStrideFor(g.previewWidth));
    g.maskRowWords = static_cast<std::int16_t>(g.maskStride / 2);
    g.maskBitmapBytes = std::int32_t{g.maskStride} * g.previewHeight;
    const std::int32_t stride = g.maskStride;
    const std::int32_t bitmapBytes = g.maskBitmapBytes;
    if (!allocRunBuffer(g.maskBits, bitmapBytes)) return false;
    if (!allocRunBuffer(g.outlineWork, bitmapBytes + stride)) {
        freeRunBuffer(g.maskBits);
        return false;
    }
    if (!allocRunBuffer(g.maskFrame, bitmapBytes + 2 * stride)) {
        freeRunBuffer(g.outlineWork);
        freeRunBuffer(g.maskBits);
        return false;
    }
    return true;
}

void computePreviewGeometry(std::int16_t width, std::int16_t height) {
    const PreviewFit fit = fitPreview(g.workWidth, g.workHeight, width, height);
    g.previewWidth = fit.width;
    g.previewHeight = fit.height;
    g.previewScale = fit.scale;
    g.imageScale = mulWrap32(g.sampleStep, fit.scale);
    g.previewMax = max16(fit.width, fit.height);
    g.previewXRatio = fit.xRatio;
    g.previewYRatio = fit.yRatio;
}

void releaseRunResources() {
    g.runPlanned = false;
    g.rowEffectSource = RowEffectSource{};
    freeRunBuffersAndObjects();
    unregisterViewClasses();
    g.cacheActive = 0;
    g.rowCache = RunBuffer{};
    g.maskFrame = RunBuffer{};
    g.workImage = RunBuffer{};
    g.previewStrip = RunBuffer{};
}

void enterFinalPass() {
    g.gridWidth = g.imageWidth;
    g.gridHeight = g.imageHeight;
    g.currentRow = nullptr;
    g.runPlanned = true;
}

} // namespace vexel
