// Platform-free half of the selection outline: the edge of the selection found by bit-parallel
// erosion of the mask rows, the dash pattern applied per tick, and the 32 x 32 tiles that hold
// changing bits. The Win32 side only moves bits to the outline bitmap and blits.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <cstddef>

namespace vexel {

// Five set and three clear pixels per byte, each row the row above rotated left by one.
inline constexpr std::array<std::uint8_t, 8> kOutlineStartPattern = {0xF1, 0xE3, 0xC7, 0x8F,
                                                                     0x1F, 0x3E, 0x7C, 0xF8};
// Start[r] XOR Start[r - 1]: the pixels that change when the dashes move one step. Stored twice
// so an 8-byte window can start at any offset 0..7.
inline constexpr std::array<std::uint8_t, 16> kOutlineDeltaPattern = {
    0x09, 0x12, 0x24, 0x48, 0x90, 0x21, 0x42, 0x84, 0x09, 0x12, 0x24, 0x48, 0x90, 0x21, 0x42, 0x84};

inline constexpr std::int16_t kOutlineTile = 32;

// Mask frame row F(i) for i in -1 .. previewHeight (the guard rows included), and scratch row i.
std::uint8_t* maskFrameRow(std::int32_t i);
std::uint8_t* outlineWorkRow(std::int32_t i);

// True when the mask buffers exist and hold the rows the current preview geometry needs.
bool outlineBuffersFit();

// Copies the selection into maskBits and turns the mask rows into the edge rows; clears
// outlinePrimed. False (nothing changed) when the buffers do not fit.
bool buildOutlineBits();

// Animation state of a priming tick, and the step every tick ends with.
void primeOutlineState();
void advanceOutlinePattern();
// outlineWork row i = edge row i AND pattern[i mod 8] in every byte.
void maskEdgeWithPattern(std::span<const std::uint8_t, 8> pattern);
// The pattern byte each row mod 8 shows on the screen after the ticks run so far (primed only).
std::array<std::uint8_t, 8> shownOutlinePattern();

// Rectangles of outlineWork that hold set bits: bands of 32 rows, neighbouring non-empty 32-pixel
// tiles merged, a run reaching the last tile ending at previewWidth.
struct BlitRect {
    std::int16_t x, y, width, height;
};
// Fixed storage, since the timer path must not allocate: a band of a preview at most 512 wide
// has 16 tiles, so at most 8 runs, and there are at most 16 bands.
inline constexpr std::size_t kMaxOutlineRuns = std::size_t{16} * 8;
struct OutlineRuns {
    std::array<BlitRect, kMaxOutlineRuns> runs{};
    std::size_t count = 0;

    const BlitRect* begin() const { return runs.data(); }
    const BlitRect* end() const { return runs.data() + count; }
};
OutlineRuns outlineTileRuns();

} // namespace vexel
