// Platform-free half of the preview: which pixel each preview position shows, the strip and block
// loops that fill previewStrip, and the conversions that hand the strip to the display (the host's
// pixel map or a 24-bit bottom-up DIB, dithered on low-colour screens).
#pragma once

#include <cstdint>

namespace vexel {

// Rows per strip of the full redraw; previewStrip and dibBuffer hold one strip at the widest
// preview.
inline constexpr std::int16_t kStripRows = 4;

// Nonzero when preview pixel (x, y) is selected; coordinates are clamped into the preview.
std::uint8_t maskBit(std::int16_t x, std::int16_t y);
// A 16-bit sample as the preview shows it: v x 255 / 32768 rounded to nearest, at most 255 (so
// the 0..32768 range fills the bytes, and larger values, as hosts of 0..65535 hand, show white).
std::uint8_t previewSample(std::uint16_t value);
// Writes the pixel shown at preview (x, y) for the current posX/posY/currentRow, one byte per
// plane at every sample size, then advances posX by previewScale.
void previewPixel(std::int16_t x, std::int16_t y, std::uint8_t* destination);

// Preview columns and rows whose sample lies inside the work image; the rest are never drawn.
std::int16_t sampledColumns();
std::int16_t sampledRows();

// Called with the rows at the start of previewStrip that are ready to be put on the screen.
using ShowRowsFn = void (*)(void* context, std::int16_t x, std::int16_t y, std::int16_t count,
                            std::int16_t lines);
// The full redraw: every sampled row in strips of four, rows and columns that sample the same work
// pixel copied instead of computed again. Returns the number of rows drawn.
std::int16_t renderPreviewStrips(ShowRowsFn show, void* context);

// The block under the centre marker, clipped to the drawable preview: [x0, x1) x [y0, y1).
struct PreviewBlock {
    std::int16_t x0, y0, x1, y1;
};
PreviewBlock centerBlock();
// Renders the block's pixels packed row after row from the start of previewStrip; false when the
// block is empty.
bool renderBlock(const PreviewBlock& block);

// Display conversion of one pixel of `planes` bytes to red, green and blue.
struct Rgb {
    std::uint8_t r, g, b;
};
Rgb displayColor(const std::uint8_t* pixel, std::int16_t planes);
// One channel of the low-colour dither: raised (sign 1) or lowered by min(v, 64, 255 - v).
std::uint8_t ditherChannel(std::uint8_t v, bool raise);
// Bytes of one 24-bit DIB row of `count` pixels, padded to four.
std::int32_t dibRowBytes(std::int16_t count);

// True when `lines` rows of `count` pixels fit previewStrip and, on the bitmap path, dibBuffer.
bool rowsFitBuffers(std::int16_t count, std::int16_t lines);
// Constant fields of the pixel map (host path) or of the DIB header (bitmap path).
void setPixelMapConstants();
void setDibHeaderConstants();
// Per-call fields of the pixel map for rows at the start of previewStrip.
void setPixelMapRows(std::int16_t count, std::int16_t lines);
// Converts the rows at the start of previewStrip into dibBuffer for display at (x, y), bottom row
// first, and sets the header's size fields.
void stripToDib(std::int16_t x, std::int16_t y, std::int16_t count, std::int16_t lines);

} // namespace vexel
