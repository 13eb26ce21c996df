// Preview pixels, the strip and block loops, and the display conversions. No window system here:
// the Win32 side only takes device contexts and hands the filled buffers to the screen.
#include "ui/preview_pixels.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "effect/dispersion.h"
#include "host/image_modes.h"
#include "host/int_math.h"
#include "host/plugin_globals.h"
#include "ui/preview.h"
#include "ui/run_state.h"

namespace vexel {

namespace {

constexpr std::int32_t kHalf = 32768; // samples are taken at the centre of a preview pixel

// Work column or row sampled by preview column or row v.
std::int32_t sampleOf(std::int32_t v) {
    return static_cast<std::int32_t>((std::int64_t{v} * g.geometry.previewScale + kHalf) >> 16);
}

std::int16_t countSampled(std::int16_t previewSide, std::int16_t workSide) {
    std::int16_t n = 0;
    while (n < previewSide && sampleOf(n) < workSide)
        ++n;
    return n;
}

void copyBytes(const void* source, void* destination, std::uint16_t n) {
    if (n != 0) std::memmove(destination, source, n);
}

std::uint8_t* workRowAddress(std::int32_t row) {
    return g.buffers.workImage.address + static_cast<std::ptrdiff_t>(row) * g.geometry.workRowBytes;
}

// Computes preview row i (work row `workRow`) into `slot`, copying repeated work columns.
void renderRow(std::int16_t i, std::int32_t workRow, std::uint8_t* slot, std::int16_t columns) {
    const std::int16_t planes = g.geometry.planeCount;
    g.production.currentRow = workRowAddress(workRow);
    g.production.posX = kHalf;
    std::int32_t lastColumn = -1;
    for (std::int16_t j = 0; j < columns; ++j) {
        std::uint8_t* destination = slot + std::ptrdiff_t{j} * planes;
        const std::int32_t column = wholePart(g.production.posX);
        if (column == lastColumn) {
            // Same work pixel as its left neighbour: same result, selection decision included.
            copyBytes(destination - planes, destination, static_cast<std::uint16_t>(planes));
            g.production.posX = addWrap32(g.production.posX, g.geometry.previewScale);
        } else {
            lastColumn = column;
            previewPixel(j, i, destination);
        }
    }
}

} // namespace

std::uint8_t maskBit(std::int16_t x, std::int16_t y) {
    if (g.buffers.maskBits.address == nullptr || g.geometry.previewWidth <= 0 ||
        g.geometry.previewHeight <= 0)
        return 0;
    // Callers only go past the right and bottom edges; the lower clamp keeps a stray negative
    // coordinate inside the buffer too.
    x = std::clamp<std::int16_t>(x, 0, static_cast<std::int16_t>(g.geometry.previewWidth - 1));
    y = std::clamp<std::int16_t>(y, 0, static_cast<std::int16_t>(g.geometry.previewHeight - 1));
    const std::uint8_t byte =
        g.buffers.maskBits
            .address[std::ptrdiff_t{y} * g.buffers.maskStride + std::ptrdiff_t{x} / 8];
    return static_cast<std::uint8_t>(byte & (0x80 >> (x % 8)));
}

std::uint8_t previewSample(std::uint16_t value) {
    return static_cast<std::uint8_t>(
        std::min<std::uint32_t>((std::uint32_t{value} * 255 + 16384) >> 15, 255));
}

void previewPixel(std::int16_t x, std::int16_t y, std::uint8_t* destination) {
    const std::int16_t planes = g.geometry.planeCount;
    const std::int16_t sampleBytes = g.geometry.sampleBytes == 2 ? 2 : 1;
    const std::uint8_t* original =
        g.production.currentRow +
        std::ptrdiff_t{wholePart(g.production.posX)} * planes * sampleBytes;
    const bool selected = !selectionMaskInUse() || maskBit(x, y) != 0;
    std::uint8_t scratch[2 * kMaxPlanes] = {};
    const std::uint8_t* shown = original;
    if (!selected && filterRecord().isFloating != 0) {
        std::memset(destination, 255, static_cast<std::size_t>(planes));
        shown = nullptr;
    } else if (selected && g.dialog.previewEffect == 1) {
        // Never reports a missing row: the work image is complete.
        transformPixel(g.effect, scratch);
        shown = scratch;
    }
    if (shown != nullptr && sampleBytes == 1) {
        copyBytes(shown, destination, static_cast<std::uint16_t>(planes));
    } else if (shown != nullptr) {
        // The preview shows 16-bit samples as bytes, whatever their range.
        for (std::int16_t k = 0; k < planes && k < kMaxPlanes; ++k) {
            std::uint16_t value;
            std::memcpy(&value, shown + std::ptrdiff_t{2} * k, sizeof value);
            destination[k] = previewSample(value);
        }
    }
    g.production.posX = addWrap32(g.production.posX, g.geometry.previewScale);
}

std::int16_t sampledColumns() {
    return countSampled(g.geometry.previewWidth, g.geometry.workWidth);
}
std::int16_t sampledRows() {
    return countSampled(g.geometry.previewHeight, g.geometry.workHeight);
}

std::int16_t renderPreviewStrips(ShowRowsFn show, void* context) {
    const std::int16_t columns = sampledColumns();
    const std::int16_t rows = sampledRows();
    if (columns == 0 || rows == 0 || !rowsFitBuffers(columns, kStripRows)) return 0;
    const std::int32_t stripRowBytes = std::int32_t{columns} * g.geometry.planeCount;
    std::uint8_t* strip = g.buffers.previewStrip.address;

    std::int32_t lastWorkRow = -1;
    const std::uint8_t* lastSlot = nullptr;
    g.production.posY = kHalf;
    std::int16_t i = 0;
    for (; i < rows; ++i) {
        std::uint8_t* slot = strip + std::ptrdiff_t{i % kStripRows} * stripRowBytes;
        const std::int32_t workRow = wholePart(g.production.posY);
        if (workRow == lastWorkRow) {
            copyBytes(lastSlot, slot, static_cast<std::uint16_t>(stripRowBytes));
        } else {
            lastWorkRow = workRow;
            lastSlot = slot;
            renderRow(i, workRow, slot, columns);
        }
        if (i % kStripRows == kStripRows - 1) {
            show(context, 0, static_cast<std::int16_t>(i - (kStripRows - 1)), columns, kStripRows);
        }
        g.production.posY = addWrap32(g.production.posY, g.geometry.previewScale);
    }
    const std::int16_t rest = static_cast<std::int16_t>(i % kStripRows);
    if (rest != 0) show(context, 0, static_cast<std::int16_t>(i - rest), columns, rest);
    return i;
}

PreviewBlock centerBlock() {
    const std::int32_t cx = g.settings.previewCenterX;
    const std::int32_t cy = g.settings.previewCenterY;
    const std::int32_t x0 = std::max(cx - 4, 0);
    const std::int32_t y0 = std::max(cy - 4, 0);
    std::int32_t x1 = cx + 4;
    std::int32_t y1 = cy + 4;
    while (x1 > x0 && sampleOf(x1 - 1) >= g.geometry.workWidth)
        --x1;
    while (y1 > y0 && sampleOf(y1 - 1) >= g.geometry.workHeight)
        --y1;
    return {wrap16(x0), wrap16(y0), wrap16(x1), wrap16(y1)};
}

bool renderBlock(const PreviewBlock& block) {
    if (block.x1 <= block.x0 || block.y1 <= block.y0) return false;
    if (!rowsFitBuffers(static_cast<std::int16_t>(block.x1 - block.x0),
                        static_cast<std::int16_t>(block.y1 - block.y0))) {
        return false;
    }
    std::uint8_t* out = g.buffers.previewStrip.address;
    for (std::int16_t y = block.y0; y < block.y1; ++y) {
        g.production.posY = addWrap32(mulWrap32(y, g.geometry.previewScale), kHalf);
        g.production.currentRow = workRowAddress(wholePart(g.production.posY));
        g.production.posX = addWrap32(mulWrap32(block.x0, g.geometry.previewScale), kHalf);
        for (std::int16_t x = block.x0; x < block.x1; ++x) {
            previewPixel(x, y, out);
            out += g.geometry.planeCount;
        }
    }
    return true;
}

Rgb displayColor(const std::uint8_t* pixel, std::int16_t planes) {
    if (planes == 3) return {pixel[0], pixel[1], pixel[2]};
    if (planes != 4) return {pixel[0], pixel[0], pixel[0]};
    // Four planes: each colour plane weighted by plane 3, then the strongest of green and blue
    // toned down against the others.
    std::uint32_t r = std::uint32_t{pixel[0]} * pixel[3];
    std::uint32_t gr = std::uint32_t{pixel[1]} * pixel[3];
    std::uint32_t b = std::uint32_t{pixel[2]} * pixel[3];
    if (r < gr) {
        if (gr < b) {
            b = b / 2 + gr / 2;
        } else {
            gr = gr - gr / 8;
        }
    } else if (r < b) {
        b = b / 2 + r / 2;
    }
    return {static_cast<std::uint8_t>(r >> 8), static_cast<std::uint8_t>(gr >> 8),
            static_cast<std::uint8_t>(b >> 8)};
}

std::uint8_t ditherChannel(std::uint8_t v, bool raise) {
    const int e = std::min({int{v}, 64, 255 - int{v}});
    return static_cast<std::uint8_t>(raise ? v + e : v - e);
}

namespace {

// Dither sign of screen pixel (x, y): 1 where x + y is even.
bool ditherRaises(std::int32_t x, std::int32_t y) {
    return ((x + y) & 1) == 0;
}

} // namespace

std::int32_t dibRowBytes(std::int16_t count) {
    return (std::int32_t{count} * 3 + 3) & ~3;
}

bool rowsFitBuffers(std::int16_t count, std::int16_t lines) {
    if (count < 0 || lines < 0 || g.geometry.planeCount <= 0) return false;
    const std::int64_t stripBytes = std::int64_t{count} * lines * g.geometry.planeCount;
    if (stripBytes > lockedCapacity(g.buffers.previewStrip)) return false;
    if (hostDisplays()) return true;
    return std::int64_t{lines} * dibRowBytes(count) <= lockedCapacity(g.buffers.dibBuffer);
}

void setPixelMapConstants() {
    PSPixelMap& map = g.dialog.pixelMap;
    map.version = 0;
    map.bounds.top = 0;
    map.bounds.left = 0;
    map.imageMode = imageModeInfo(filterRecord().imageMode).previewMode; // the strip is 8-bit
    map.colBytes = g.geometry.planeCount;
    map.planeBytes = 1;
    map.baseAddr = g.buffers.previewStrip.address;
}

void setDibHeaderConstants() {
    DibHeader& header = g.dialog.dibHeader;
    header.biSize = 40;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = 0; // BI_RGB
    header.biXPelsPerMeter = 0;
    header.biYPelsPerMeter = 0;
    header.biClrUsed = 0;
    header.biClrImportant = 0;
}

void setPixelMapRows(std::int16_t count, std::int16_t lines) {
    PSPixelMap& map = g.dialog.pixelMap;
    map.rowBytes = std::int32_t{count} * g.geometry.planeCount;
    map.bounds.bottom = lines;
    map.bounds.right = count;
    map.baseAddr = g.buffers.previewStrip.address;
}

void stripToDib(std::int16_t x, std::int16_t y, std::int16_t count, std::int16_t lines) {
    const std::int16_t planes = g.geometry.planeCount;
    const std::int32_t rowBytes = dibRowBytes(count);
    const std::int32_t stripRowBytes = std::int32_t{count} * planes;
    const bool dither = g.dialog.lowColor == 1;
    for (std::int16_t r = 0; r < lines; ++r) {
        // DIB rows run bottom-up: row 0 is the block's last strip row.
        const std::int16_t stripRow = static_cast<std::int16_t>(lines - 1 - r);
        const std::uint8_t* source =
            g.buffers.previewStrip.address + std::ptrdiff_t{stripRow} * stripRowBytes;
        std::uint8_t* target = g.buffers.dibBuffer.address + std::ptrdiff_t{r} * rowBytes;
        // The sign follows the screen position, so a re-rendered block matches what surrounds it.
        bool raise = ditherRaises(x, std::int32_t{y} + stripRow);
        for (std::int16_t c = 0; c < count; ++c) {
            Rgb rgb = displayColor(source, planes);
            if (dither) {
                rgb = {ditherChannel(rgb.r, raise), ditherChannel(rgb.g, raise),
                       ditherChannel(rgb.b, raise)};
            }
            target[0] = rgb.b;
            target[1] = rgb.g;
            target[2] = rgb.r;
            target += 3;
            source += planes;
            raise = !raise;
        }
        std::memset(target, 0, static_cast<std::size_t>(rowBytes - std::int32_t{count} * 3));
    }
    g.dialog.dibHeader.biWidth = count;
    g.dialog.dibHeader.biHeight = lines;
    g.dialog.dibHeader.biSizeImage = static_cast<std::uint32_t>(std::int32_t{lines} * rowBytes);
}

} // namespace vexel
