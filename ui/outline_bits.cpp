// Edge detection and dash animation of the selection outline, on 1-bit rows of maskStride bytes
// (most significant bit leftmost, the layout of a monochrome bitmap with 16-bit padded rows).
#include "ui/outline_bits.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "host/plugin_globals.h"
#include "ui/run_state.h"

namespace vexel {

namespace {

constexpr std::uint8_t rotateLeft8(std::uint8_t v) {
    return static_cast<std::uint8_t>((v << 1) | (v >> 7));
}

constexpr bool patternsAgree() {
    for (std::size_t r = 0; r < 8; ++r) {
        if (kOutlineStartPattern[r] != rotateLeft8(kOutlineStartPattern[(r + 7) % 8])) return false;
        const std::uint8_t delta = kOutlineStartPattern[r] ^ kOutlineStartPattern[(r + 7) % 8];
        if (kOutlineDeltaPattern[r] != delta || kOutlineDeltaPattern[r + 8] != delta) return false;
    }
    return true;
}
static_assert(patternsAgree());

// A word is two bytes, the left one in the low half: pixels run from bit 7 down to bit 0, then
// from bit 15 down to bit 8.
std::uint16_t loadWord(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
void storeWord(std::uint8_t* p, std::uint16_t w) {
    p[0] = static_cast<std::uint8_t>(w);
    p[1] = static_cast<std::uint8_t>(w >> 8);
}
std::uint16_t rotateRight16(std::uint16_t w) {
    return static_cast<std::uint16_t>((w >> 1) | (w << 15));
}
std::uint16_t rotateLeft16(std::uint16_t w) {
    return static_cast<std::uint16_t>((w << 1) | (w >> 15));
}

constexpr std::uint16_t kFirstPixel = 0x0080;
constexpr std::uint16_t kSecondPixel = 0x0040;
constexpr std::uint16_t kSecondToLastPixel = 0x0200;
constexpr std::uint16_t kLastPixel = 0x0100;

bool tileHasBits(std::int16_t x0, std::int16_t y0, std::int16_t rows) {
    const std::int32_t first = x0 / 8;
    const std::int32_t last =
        std::min<std::int32_t>(first + kOutlineTile / 8, g.buffers.maskStride);
    for (std::int32_t i = y0; i < y0 + rows; ++i) {
        const std::uint8_t* row = outlineWorkRow(i);
        for (std::int32_t b = first; b < last; ++b) {
            if (row[b] != 0) return true;
        }
    }
    return false;
}

} // namespace

std::uint8_t* maskFrameRow(std::int32_t i) {
    return g.buffers.maskFrame.address + static_cast<std::ptrdiff_t>(i + 1) * g.buffers.maskStride;
}

std::uint8_t* outlineWorkRow(std::int32_t i) {
    return g.buffers.outlineWork.address + static_cast<std::ptrdiff_t>(i) * g.buffers.maskStride;
}

bool outlineBuffersFit() {
    if (!selectionMaskInUse() || g.buffers.maskFrame.address == nullptr ||
        g.buffers.outlineWork.address == nullptr || g.buffers.maskBits.address == nullptr) {
        return false;
    }
    if (g.geometry.previewWidth <= 0 || g.geometry.previewHeight <= 0 ||
        g.buffers.maskRowWords <= 0)
        return false;
    if (g.buffers.maskStride != 2 * g.buffers.maskRowWords ||
        g.buffers.maskRowWords * 16 < g.geometry.previewWidth)
        return false;
    const std::int64_t bytes = std::int64_t{g.buffers.maskStride} * g.geometry.previewHeight;
    if (g.buffers.maskBitmapBytes != bytes) return false;
    return lockedCapacity(g.buffers.maskFrame) >= bytes + std::int64_t{2} * g.buffers.maskStride &&
           lockedCapacity(g.buffers.outlineWork) >= bytes &&
           lockedCapacity(g.buffers.maskBits) >= bytes;
}

namespace {

// Erodes one row of 16-bit words in place: a pixel stays set only when both horizontal neighbours
// are set; left of the row counts as set, right of it as clear.
void erodeRowHorizontally(std::uint8_t* row, std::int16_t words) {
    std::uint16_t previous = 0;
    std::uint16_t current = words > 0 ? loadWord(row) : 0;
    for (std::int16_t k = 0; k < words; ++k) {
        const std::uint16_t next = k + 1 < words ? loadWord(row + std::ptrdiff_t{2} * (k + 1)) : 0;
        // Both neighbours of the 14 inner pixels at once; the word's first and last pixel need
        // the neighbouring words.
        std::uint16_t keep =
            static_cast<std::uint16_t>(rotateRight16(current) & rotateLeft16(current) & 0xFE7F);
        const bool leftOfFirst = k == 0 || (previous & kLastPixel) != 0;
        if (leftOfFirst && (current & kSecondPixel) != 0) keep |= kFirstPixel;
        if ((current & kSecondToLastPixel) != 0 && (next & kFirstPixel) != 0) keep |= kLastPixel;
        storeWord(row + std::ptrdiff_t{2} * k, static_cast<std::uint16_t>(current & keep));
        previous = current;
        current = next;
    }
}

} // namespace

bool buildOutlineBits() {
    if (!outlineBuffersFit()) return false;
    const std::int16_t rows = g.geometry.previewHeight;
    const std::int32_t stride = g.buffers.maskStride;
    std::memcpy(g.buffers.maskBits.address, maskFrameRow(0),
                static_cast<std::size_t>(g.buffers.maskBitmapBytes));
    std::memset(maskFrameRow(-1), 0, static_cast<std::size_t>(stride));
    std::memset(maskFrameRow(rows), 0, static_cast<std::size_t>(stride));

    // Vertical erosion: the guard rows make everything above and below the preview unselected.
    for (std::int32_t i = 0; i < rows; ++i) {
        const std::uint8_t* above = maskFrameRow(i - 1);
        const std::uint8_t* here = maskFrameRow(i);
        const std::uint8_t* below = maskFrameRow(i + 1);
        std::uint8_t* work = outlineWorkRow(i);
        for (std::int32_t b = 0; b < stride; ++b) {
            work[b] = static_cast<std::uint8_t>(above[b] & here[b] & below[b]);
        }
    }
    for (std::int32_t i = 0; i < rows; ++i)
        erodeRowHorizontally(outlineWorkRow(i), g.buffers.maskRowWords);

    // The edge: selected pixels that did not survive the erosion.
    for (std::int32_t i = 0; i < rows; ++i) {
        std::uint8_t* edge = maskFrameRow(i);
        const std::uint8_t* work = outlineWorkRow(i);
        for (std::int32_t b = 0; b < stride; ++b)
            edge[b] = static_cast<std::uint8_t>(edge[b] & ~work[b]);
    }
    g.outline.outlinePrimed = 0;
    return true;
}

void primeOutlineState() {
    g.outline.outlinePrimed = 1;
    g.outline.outlinePattern = kOutlineStartPattern.data();
    g.outline.outlinePhase = 0;
}

void advanceOutlinePattern() {
    g.outline.outlinePattern = kOutlineDeltaPattern.data() + (g.outline.outlinePhase & 7);
    g.outline.outlinePhase = static_cast<std::int16_t>((g.outline.outlinePhase - 1) & 7);
}

void maskEdgeWithPattern(std::span<const std::uint8_t, 8> pattern) {
    for (std::int32_t i = 0; i < g.geometry.previewHeight; ++i) {
        const std::uint8_t* edge = maskFrameRow(i);
        std::uint8_t* work = outlineWorkRow(i);
        const std::uint8_t p = pattern[static_cast<std::size_t>(i & 7)];
        for (std::int32_t b = 0; b < g.buffers.maskStride; ++b)
            work[b] = static_cast<std::uint8_t>(edge[b] & p);
    }
}

std::array<std::uint8_t, 8> shownOutlinePattern() {
    // After n ticks following the priming tick the phase is (7 - n) mod 8 and row r shows
    // Start[(r - n) mod 8].
    const int n = (7 - g.outline.outlinePhase) & 7;
    std::array<std::uint8_t, 8> shown{};
    for (int r = 0; r < 8; ++r)
        shown[static_cast<std::size_t>(r)] =
            kOutlineStartPattern[static_cast<std::size_t>((r - n) & 7)];
    return shown;
}

OutlineRuns outlineTileRuns() {
    OutlineRuns runs;
    auto add = [&runs](const BlitRect& run) {
        if (runs.count < runs.runs.size()) runs.runs[runs.count++] = run;
    };
    const std::int16_t width = g.geometry.previewWidth;
    for (std::int16_t y0 = 0; y0 < g.geometry.previewHeight;
         y0 = static_cast<std::int16_t>(y0 + kOutlineTile)) {
        const auto rows = static_cast<std::int16_t>(
            std::min<std::int32_t>(kOutlineTile, g.geometry.previewHeight - y0));
        std::int16_t open = -1;
        for (std::int16_t x0 = 0; x0 < width; x0 = static_cast<std::int16_t>(x0 + kOutlineTile)) {
            if (tileHasBits(x0, y0, rows)) {
                if (open < 0) open = x0;
            } else if (open >= 0) {
                add({open, y0, static_cast<std::int16_t>(x0 - open), rows});
                open = -1;
            }
        }
        if (open >= 0) add({open, y0, static_cast<std::int16_t>(width - open), rows});
    }
    return runs;
}

} // namespace vexel
