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

void setWorkSize(RunGeometry& geometry, std::int16_t step) {
    geometry.sampleStep = step;
    if (step == 1) {
        geometry.workWidth = geometry.imageWidth;
        geometry.workHeight = geometry.imageHeight;
    } else {
        geometry.workWidth = decimatedSize(geometry.imageWidth, step);
        geometry.workHeight = decimatedSize(geometry.imageHeight, step);
    }
    geometry.workRowBytes =
        std::int32_t{geometry.workWidth} * geometry.planeCount * geometry.sampleBytes;
}

std::int64_t workImageBytes() {
    return std::int64_t{g.geometry.workHeight} * g.geometry.workRowBytes;
}

std::int64_t maskMemoryForCurrentStep(bool withMask) {
    if (!withMask) return 0;
    return maskMemoryBytes(fitPreview(g.geometry.workWidth, g.geometry.workHeight,
                                      g.geometry.measuredWidth, g.geometry.measuredHeight));
}

// Frees every buffer and window-system object of a run, leaving the classes registered.
void freeRunBuffersAndObjects() {
    freeRunBuffer(g.buffers.previewStrip);
    freeRunBuffer(g.buffers.workImage);
    freeRunBuffer(g.buffers.maskFrame);
    freeRunBuffer(g.buffers.outlineWork);
    freeRunBuffer(g.buffers.maskBits);
    freeRunBuffer(g.buffers.rowCache);
    g.cache.rowSlotMap = nullptr;
    g.cache.slotStamps = nullptr;
    g.cache.slotData = nullptr;
    freeRunBuffer(g.buffers.dibBuffer);
    releaseGdiObjects();
}

void setFirstRequest(FilterRecord& record) {
    const HostRect& filter = g.geometry.filterRect;
    const HostRect firstRow{filter.top, filter.left, wrap16(filter.top + 1), filter.right};
    const auto lastPlane = static_cast<std::int16_t>(g.geometry.planeCount - 1);
    record.inRect = firstRow;
    record.inLoPlane = 0;
    record.inHiPlane = lastPlane;
    record.outRect = firstRow;
    record.outLoPlane = 0;
    record.outHiPlane = lastPlane;
}

bool measurePreview() {
    g.geometry.measuredWidth = 0;
    g.geometry.measuredHeight = 0;
    measurePreviewControl();
    return g.geometry.measuredWidth > 0 && g.geometry.measuredHeight > 0;
}

// The whole filter rectangle is held by the host when it fits strictly inside the budget;
// otherwise the smallest decimation 2..5 whose work image fits the budget less two host rows
// (the input and output row of the final pass, every plane the host has) and can be allocated.
bool chooseSampleStep(FilterRecord& record, std::int64_t budget, bool withMask) {
    setWorkSize(g.geometry, 1);
    if (workImageBytes() + maskMemoryForCurrentStep(withMask) < budget) {
        g.buffers.workImage.holding = Holding::heldByHost;
        record.inRect.bottom = g.geometry.filterRect.bottom;
        g.production.workRowsDone = g.geometry.workHeight; // nothing to copy
        return true;
    }
    budget -= 2 * std::int64_t{g.geometry.hostRowBytes};
    for (std::int16_t step = 2; step <= kLargestSampleStep; ++step) {
        setWorkSize(g.geometry, step);
        const std::int64_t need = workImageBytes();
        if (need + maskMemoryForCurrentStep(withMask) > budget || need > INT32_MAX) continue;
        if (allocRunBuffer(g.buffers.workImage, static_cast<std::int32_t>(need))) {
            g.production.workRowsDone = 0;
            return true;
        }
    }
    setWorkSize(g.geometry, 1);
    g.buffers.workImage = RunBuffer{};
    return false;
}

// The mask blocks and the outline bitmap follow the final preview geometry, so every row the mask
// prepass and the outline touch lies inside them.
void allocateMaskMemory() {
    if (!allocateMaskBuffers()) return;
    if (!createOutlineBitmap(std::int32_t{g.buffers.maskStride} * 8, g.geometry.previewHeight)) {
        freeRunBuffer(g.buffers.maskFrame);
        freeRunBuffer(g.buffers.outlineWork);
        freeRunBuffer(g.buffers.maskBits);
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

    const std::int64_t fixedReserve = g.geometry.planeCount > 1 ? 4352 : 512;
    std::int64_t budget = std::int64_t{record.maxSpace} - probeBytes - fixedReserve;

    const bool withMask = record.haveMask != 0;
    if (withMask) {
        g.buffers.maskFrame = RunBuffer{};
        record.maskRect = record.inRect;
        budget -= g.geometry.imageWidth;
    }
    allocRunBuffer(g.buffers.previewStrip, kPreviewStripBytes);
    budget -= kPreviewStripBytes;
    const bool needsDib = record.displayPixels == nullptr;
    if (needsDib) {
        if (allocRunBuffer(g.buffers.dibBuffer, kDibBufferBytes)) {
            unlockBlock(g.buffers.dibBuffer.handle);
            g.buffers.dibBuffer.address = nullptr;
        }
        budget -= kDibBufferBytes;
    }

    const bool stepTaken = chooseSampleStep(record, budget, withMask);
    computePreviewGeometry(g.geometry, g.geometry.measuredWidth, g.geometry.measuredHeight);
    if (stepTaken && withMask) allocateMaskMemory();
    freeBlock(probe);

    return stepTaken && g.buffers.previewStrip.holding == Holding::block &&
           (!needsDib || g.buffers.dibBuffer.holding == Holding::block) &&
           g.buffers.maskFrame.holding != Holding::none;
}

// Settings every Start ends with, also after a failure (they allocate nothing).
void settleRun() {
    g.production.runPhase = RunPhase::prepass;
    g.production.decimationSkip =
        std::int32_t{g.geometry.planeCount} * g.geometry.sampleBytes * (g.geometry.sampleStep - 1);
    g.production.gridWidth = g.geometry.workWidth;
    g.production.gridHeight = g.geometry.workHeight;
    g.cache.cacheActive = 0;
    g.production.maskRowsDone = g.buffers.maskFrame.holding == Holding::notUsed ? kNoMaskRows : 0;
    computePreviewGeometry(g.geometry, g.geometry.measuredWidth, g.geometry.measuredHeight);
}

// An empty filter rectangle: nothing to read, show or write. All requests are left empty, so the
// host has nothing to deliver; a Continue that comes anyway finds an empty output row.
void planEmptyRun(FilterRecord& record) {
    emptyRect(record.inRect);
    emptyRect(record.outRect);
    if (record.haveMask != 0) emptyRect(record.maskRect);
    g.geometry.measuredWidth = 0;
    g.geometry.measuredHeight = 0;
    g.production.runPhase = RunPhase::render;
    g.production.maskRowsDone = kNoMaskRows;
    g.production.decimationSkip = 0;
    g.production.gridWidth = g.geometry.imageWidth;
    g.production.gridHeight = g.geometry.imageHeight;
    computePreviewGeometry(g.geometry, 0, 0);
}

// A host that never sent Finish for the last run still holds nothing of it after this.
void forgetEarlierRun() {
    freeRunBuffersAndObjects();
    g.production.runPlanned = false;
    g.geometry.sampleStep = 1;
    g.buffers.workImage = RunBuffer{};
    g.buffers.maskFrame = RunBuffer{Holding::notUsed};
    g.cache.cacheActive = 0;
    g.production.currentRow = nullptr;
}

} // namespace

void planRun() {
    FilterRecord& record = filterRecord();
    forgetEarlierRun();
    // The rectangle as it is now: a host may change it after Prepare, or skip Prepare.
    if (!readFilterGeometry()) {
        releaseRunResources();
        return;
    }
    if (g.geometry.imageWidth <= 0 || g.geometry.imageHeight <= 0) {
        planEmptyRun(record);
        return;
    }
    // No request may reach past the planes the host has; a host with fewer than the image mode
    // needs cannot be served.
    if (record.planes < g.geometry.planeCount) {
        releaseRunResources();
        g.host.runResult = result::paramErr;
        return;
    }
    g.geometry.hostPlanes = record.planes;
    // Below 2^31: both counts are 16-bit and a sample has at most two bytes.
    g.geometry.hostRowBytes =
        std::int32_t{g.geometry.imageWidth} * g.geometry.hostPlanes * g.geometry.sampleBytes;
    if (!measurePreview()) {
        // The dialog cannot be created (no window station or display, for one). Releasing
        // unregisters the classes, so the next Start registers them again and can succeed.
        releaseRunResources();
        showWarning(kDialogUnavailableWarning);
        g.host.runResult = result::reported;
        settleRun();
        return;
    }
    createMarkerBitmap();
    setFirstRequest(record);
    if (!allocateRunMemory(record)) {
        releaseRunResources();
        g.host.runResult = result::memFullErr;
    }
    settleRun();
    g.production.runPlanned = g.host.runResult == result::noErr;
}

bool allocateMaskBuffers() {
    g.buffers.maskStride = static_cast<std::int16_t>(maskStrideFor(g.geometry.previewWidth));
    g.buffers.maskRowWords = static_cast<std::int16_t>(g.buffers.maskStride / 2);
    g.buffers.maskBitmapBytes = std::int32_t{g.buffers.maskStride} * g.geometry.previewHeight;
    const std::int32_t stride = g.buffers.maskStride;
    const std::int32_t bitmapBytes = g.buffers.maskBitmapBytes;
    if (!allocRunBuffer(g.buffers.maskBits, bitmapBytes)) return false;
    if (!allocRunBuffer(g.buffers.outlineWork, bitmapBytes + stride)) {
        freeRunBuffer(g.buffers.maskBits);
        return false;
    }
    if (!allocRunBuffer(g.buffers.maskFrame, bitmapBytes + 2 * stride)) {
        freeRunBuffer(g.buffers.outlineWork);
        freeRunBuffer(g.buffers.maskBits);
        return false;
    }
    return true;
}

void computePreviewGeometry(RunGeometry& geometry, std::int16_t width, std::int16_t height) {
    const PreviewFit fit = fitPreview(geometry.workWidth, geometry.workHeight, width, height);
    geometry.previewWidth = fit.width;
    geometry.previewHeight = fit.height;
    geometry.previewScale = fit.scale;
    geometry.imageScale = mulWrap32(geometry.sampleStep, fit.scale);
    geometry.previewMax = max16(fit.width, fit.height);
    geometry.previewXRatio = fit.xRatio;
    geometry.previewYRatio = fit.yRatio;
}

void releaseRunResources() {
    g.production.runPlanned = false;
    g.effect.rowEffectSource = RowEffectSource{};
    freeRunBuffersAndObjects();
    unregisterViewClasses();
    g.cache.cacheActive = 0;
    g.buffers.rowCache = RunBuffer{};
    g.buffers.maskFrame = RunBuffer{};
    g.buffers.workImage = RunBuffer{};
    g.buffers.previewStrip = RunBuffer{};
}

void enterFinalPass() {
    g.production.gridWidth = g.geometry.imageWidth;
    g.production.gridHeight = g.geometry.imageHeight;
    g.production.currentRow = nullptr;
    g.production.runPlanned = true;
}

} // namespace vexel
