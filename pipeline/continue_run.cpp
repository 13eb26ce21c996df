// The continue driver. Each Continue call does one step of the run: one host mask row into the
// preview-sized mask bits, one decimated row into the work image (the last one runs the dialog),
// or one output row of the final pass with its own source row, asking the host for a single
// missing source row when the row cache lacks one and producing the same row again on the next
// call. The render pass asks for every plane the host has, all from plane 0, and gives the planes
// the effect leaves alone (alpha, further channels) back from the row's own source row.
#include "pipeline/continue_run.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "effect/dispersion.h"
#include "host/host_records.h"
#include "host/int_math.h"
#include "host/memory.h"
#include "host/param_block.h"
#include "host/plugin_globals.h"
#include "pipeline/row_cache.h"
#include "pipeline/run_plan.h"

namespace vexel {

namespace {

// Every final-pass row starts at the middle of its pixels, as the preview does, so the output
// never depends on whether or how a preview was drawn.
constexpr std::int32_t kHalfPixel = 0x8000;

// The row steps, defined below with the driver.
void readMaskRow();
void maskRowToBits(const std::uint8_t* mask);
void copyWorkRow();
void reportProgress(std::int32_t done, std::int32_t total);

std::int16_t rowBelowTop(std::int16_t hostRow) {
    return wrap16(std::int32_t{hostRow} - g.geometry.filterRect.top);
}

// One row of the filter rectangle, given in host coordinates.
HostRect filterRow(std::int32_t top) {
    const HostRect& filter = g.geometry.filterRect;
    return HostRect{wrap16(top), filter.left, wrap16(top + 1), filter.right};
}

// Every request starts at plane 0: some hosts fill inData and write outData back from plane 0
// whatever the low plane says. The render pass asks for all the host's planes, so the planes the
// effect leaves alone come back from the module, unchanged, however a host fills outData.
void requestRenderPlanes(FilterRecord& record) {
    record.inLoPlane = record.outLoPlane = 0;
    record.inHiPlane = record.outHiPlane = wrap16(std::int32_t{g.geometry.hostPlanes} - 1);
}

// Nothing (more) to do: leave every request empty so the host stops calling.
void endWithoutOutput(FilterRecord& record) {
    emptyRect(record.inRect);
    emptyRect(record.outRect);
    if (record.haveMask != 0) emptyRect(record.maskRect);
}

// A Continue can only do sound work inside a run that Start planned: the prepass needs the
// buffers Start allocated, the final pass an output row and, with a decimated work image, the
// row cache. Anything else (a Continue after a failed Start, after Finish, after the last row, or
// after a new Prepare) ends the run without touching the host's buffers.
bool canContinue(const FilterRecord& record) {
    if (!g.production.runPlanned) return false;
    switch (g.production.runPhase) {
    case RunPhase::prepass:
        if (g.buffers.previewStrip.holding != Holding::block) return false;
        return g.geometry.sampleStep == 1 || g.buffers.workImage.holding == Holding::block;
    default:
        return !isEmpty(record.outRect) && g.cache.cacheActive != 0;
    }
}

// The bytes of one row of what this call asked for, of 8- or 16-bit samples: the image mode's
// planes in the prepass, every plane the host has in the render pass.
std::int32_t requestedRowBytes() {
    if (g.production.runPhase != RunPhase::prepass) return g.geometry.hostRowBytes;
    return std::int32_t{g.geometry.imageWidth} * g.geometry.planeCount * g.geometry.sampleBytes;
}

// The host's buffers for this call, checked before anything reads or writes them: input rows at
// least as long as the request's, and after the prepass an output buffer of such rows for a row
// inside the rectangle.
bool hostBuffersUsable(const FilterRecord& record) {
    const std::int32_t rowBytes = requestedRowBytes();
    if (record.inData == nullptr || record.inRowBytes < rowBytes) return false;
    // 16-bit rows hold whole samples; an odd row length is a host's fault.
    if (g.geometry.sampleBytes == 2 && record.inRowBytes % 2 != 0) return false;
    if (g.production.runPhase == RunPhase::prepass) return true;
    if (record.outData == nullptr || record.outRowBytes < rowBytes) return false;
    if (g.geometry.sampleBytes == 2 && record.outRowBytes % 2 != 0) return false;
    const HostRect& filter = g.geometry.filterRect;
    return record.outRect.top >= filter.top && record.outRect.top < filter.bottom;
}

// The host's mask row for this call: the module reads one byte per pixel of the filter row.
bool hostMaskUsable(const FilterRecord& record) {
    return record.maskData != nullptr && record.maskRowBytes >= g.geometry.imageWidth;
}

// Buffers the module cannot use end the run before anything reads or writes them.
void refuseHostBuffers(FilterRecord& record) {
    releaseRunResources();
    endWithoutOutput(record);
    g.host.runResult = result::paramErr;
}

// The settings of every row come from the parameter block, so the final pass does not depend on
// the dialog's working values. A block we cannot read counts as the defaults. The derivation (a
// decode, a cosine and a sine) is repeated only when the block's bytes differ from those of the
// last row; otherwise the values it left are still exactly what it would give.
bool sameRowEffectSource(const std::uint8_t* bytes) {
    const RowEffectSource& last = g.effect.rowEffectSource;
    if (!last.valid || last.scale != g.geometry.imageScale ||
        last.previewMax != g.geometry.previewMax)
        return false;
    if (bytes == nullptr) return !last.fromBlock;
    return last.fromBlock && std::memcmp(last.block.data(), bytes, last.block.size()) == 0;
}

void deriveRowEffect(std::int16_t renderRow) {
    static_assert(sizeof(RowEffectSource::block) == kParamBlockBytes);
    reportProgress(renderRow, g.geometry.imageHeight);
    const std::uint8_t* bytes = lockParamBlock();
    if (!sameRowEffectSource(bytes)) {
        ParamBlock stored;
        RowEffectSource source{
            true, bytes != nullptr, g.geometry.imageScale, g.geometry.previewMax, {}};
        if (bytes != nullptr) {
            stored = decodeParamBlock(std::span<const std::uint8_t, kParamBlockBytes>(
                bytes, static_cast<std::size_t>(kParamBlockBytes)));
            std::memcpy(source.block.data(), bytes, source.block.size());
        }
        loadSettings(stored, g.settings);
        g.effect.gridCenterX = stored.centerX;
        g.effect.gridCenterY = stored.centerY;
        deriveEffect(g.effect, g.settings, g.geometry.previewMax, g.geometry.imageScale);
        g.effect.rowEffectSource = source;
    }
    if (bytes != nullptr) unlockParamBlock();
}

// Moving past a produced row (or past the end of the prepass): the row's own source row goes
// into the cache, and the next call asks for the next output row and its source row.
void finishCall(FilterRecord& record) {
    cacheInsert();
    record.inRect = record.outRect;
    g.production.runPhase = RunPhase::render;
    if (g.geometry.filterRect.bottom > record.outRect.top) return;
    // Nothing reads the row cache any more; a host that never sends Finish loses nothing.
    releaseRunResources();
    emptyRect(record.inRect);
    emptyRect(record.outRect);
}

// The last image-prepass call: the dialog, the release of everything it used, the row cache.
// False when the run stops here (cancelled, dialog failure, no memory for the cache).
bool endPrepass() {
    runDialogIfRequested();
    releaseRunResources(); // the prepass's buffers, whatever the dialog's outcome
    if (g.host.runResult != result::noErr) return false;
    if (setupRowCache() != 0) return false;
    enterFinalPass();
    return true;
}

void imagePrepassStep(FilterRecord& record) {
    if (g.geometry.sampleStep > 1) {
        copyWorkRow();
        record.inRect = filterRow(std::int32_t{record.inRect.top} + g.geometry.sampleStep);
    } else {
        g.geometry.workRowBytes = record.inRowBytes;
    }
    // With the whole rectangle held by the host the counter already stands at workHeight.
    const std::int32_t rowsDone = std::int32_t{g.production.workRowsDone} + 1;
    g.production.workRowsDone = wrap16(std::min<std::int32_t>(rowsDone, g.geometry.workHeight));
    if (rowsDone < g.geometry.workHeight) return;
    if (!endPrepass()) return;
    requestRenderPlanes(record);
    finishCall(record);
}

void renderStep(FilterRecord& record) {
    const std::int16_t renderRow = g.production.currentRowIndex;
    if (g.production.runPhase == RunPhase::fetchPending) {
        // The host has just delivered the missing row: file it, then produce the output row
        // again from its first column, with its own source row now coming from the cache.
        g.production.currentRowIndex = rowBelowTop(record.inRect.top);
        cacheInsert();
        record.inRect = record.outRect;
        g.production.currentRow = nullptr;
    }
    deriveRowEffect(renderRow);
    g.production.posY = wrap32((std::int64_t{renderRow} << 16) | kHalfPixel);
    g.production.posX = kHalfPixel;
    const std::int16_t missing =
        transformRow(g.effect, static_cast<std::uint8_t*>(record.outData), g.geometry.imageWidth);
    if (missing >= 0) {
        cacheInsert();
        record.inRect = filterRow(std::int32_t{g.geometry.filterRect.top} + missing);
        g.production.runPhase = RunPhase::fetchPending;
        return;
    }
    record.outRect = filterRow(std::int32_t{record.outRect.top} + 1);
    finishCall(record);
}

} // namespace

void continueRun() {
    FilterRecord& record = filterRecord();
    if (!canContinue(record)) {
        endWithoutOutput(record);
        return;
    }
    // Every request was made for the planes the host had at Start.
    if (record.planes < g.geometry.hostPlanes) {
        refuseHostBuffers(record);
        return;
    }
    if (g.production.maskRowsDone < g.geometry.previewHeight) {
        if (hostMaskUsable(record))
            readMaskRow();
        else
            refuseHostBuffers(record);
        return;
    }
    if (!hostBuffersUsable(record)) {
        refuseHostBuffers(record);
        return;
    }
    auto* input = static_cast<std::uint8_t*>(record.inData);
    g.production.currentRow = input;
    if (g.buffers.workImage.holding == Holding::heldByHost) g.buffers.workImage.address = input;
    g.production.currentRowIndex = rowBelowTop(record.outRect.top);
    if (g.production.runPhase == RunPhase::prepass)
        imagePrepassStep(record);
    else
        renderStep(record);
}

namespace {

void readMaskRow() {
    FilterRecord& record = filterRecord();
    if (g.buffers.maskFrame.holding != Holding::block) return;
    maskRowToBits(static_cast<const std::uint8_t*>(record.maskData));
    ++g.production.maskRowsDone;
    const std::int32_t nextTop =
        std::int32_t{g.geometry.filterRect.top} + previewToImage(g.production.maskRowsDone);
    if (g.production.maskRowsDone >= g.geometry.previewHeight ||
        nextTop + 1 > g.geometry.filterRect.bottom) {
        g.production.maskRowsDone = g.geometry.previewHeight;
        emptyRect(record.maskRect);
        return;
    }
    record.maskRect = filterRow(nextTop);
}

void maskRowToBits(const std::uint8_t* mask) {
    if (g.production.maskRowsDone < 0 || g.production.maskRowsDone >= g.geometry.previewHeight)
        return;
    const std::int32_t stride = g.buffers.maskStride;
    std::uint8_t* row =
        g.buffers.maskFrame.address + std::ptrdiff_t{g.production.maskRowsDone + 1} * stride;
    std::memset(row, 0, static_cast<std::size_t>(stride));
    if (mask == nullptr) return;
    // Preview pixel i takes host mask byte (i x imageScale + 1/2) >> 16. The samples stop at the
    // image's right edge and, unlike a plain walk would, at the row's own end: bits past it would
    // only land in the next row, which is cleared before it is written.
    const std::int32_t rowBits = stride * 8;
    std::int32_t position = kHalfPixel;
    for (std::int32_t bit = 0; bit < rowBits; ++bit) {
        const std::int32_t column = wholePart(position);
        if (mask[column] == 255) row[bit >> 3] |= static_cast<std::uint8_t>(0x80 >> (bit & 7));
        position = addWrap32(position, g.geometry.imageScale);
        const std::int32_t next = wholePart(position);
        if (next >= g.geometry.imageWidth || next < 0) break;
    }
}

void copyWorkRow() {
    if (g.production.workRowsDone < 0 || g.production.workRowsDone >= g.geometry.workHeight) return;
    const std::int32_t pixelBytes = std::int32_t{g.geometry.planeCount} * g.geometry.sampleBytes;
    const std::int32_t sourceStride = pixelBytes + g.production.decimationSkip;
    std::uint8_t* target = g.buffers.workImage.address +
                           std::ptrdiff_t{g.production.workRowsDone} * g.geometry.workRowBytes;
    const std::uint8_t* source = g.production.currentRow;
    for (std::int32_t i = 0; i < g.geometry.workWidth; ++i)
        std::memcpy(target + std::ptrdiff_t{i} * pixelBytes,
                    source + std::ptrdiff_t{i} * sourceStride,
                    static_cast<std::size_t>(pixelBytes));
}

void reportProgress(std::int32_t done, std::int32_t total) {
    if (ProgressProc progress = filterRecord().progressProc) progress(done, total);
}

} // namespace

} // namespace vexel
