// The run's GDI objects: the centre-marker bitmap and the outline bitmap with its memory DC.
#include <windows.h>

#include <cstdint>

#include "host/host_records.h"
#include "host/platform.h"
#include "host/plugin_globals.h"
#include "host/windows_win32.h"

namespace vexel {

namespace {

// 16 x 8 pixels, two bytes a row, most significant bit leftmost: the left byte is one layer of
// the marker, the right byte the other.
constexpr std::uint8_t kMarkerBits[16] = {
    0xE7, 0x00, 0xFF, 0x42, 0xFF, 0x24, 0x7E, 0x18, 0x7E, 0x18, 0xFF, 0x24, 0xFF, 0x42, 0xE7, 0x00,
};

} // namespace

void createMarkerBitmap() {
    g.buffers.markerBitmap = CreateBitmap(16, 8, 1, 1, kMarkerBits);
}

bool createOutlineBitmap(std::int32_t widthPixels, std::int32_t rows) {
    HBITMAP bitmap = CreateBitmap(widthPixels, rows, 1, 1, nullptr);
    if (bitmap == nullptr) return false;
    g.buffers.outlineBitmap = bitmap;
    HWND window = hostWindow();
    HDC windowDC = GetDC(window);
    HDC memoryDC = CreateCompatibleDC(windowDC);
    if (memoryDC != nullptr) SelectObject(memoryDC, bitmap);
    ReleaseDC(window, windowDC);
    g.buffers.outlineDC = memoryDC;
    return true;
}

void releaseGdiObjects() {
    if (g.buffers.markerBitmap != nullptr)
        DeleteObject(static_cast<HBITMAP>(g.buffers.markerBitmap));
    if (g.buffers.outlineBitmap != nullptr) {
        // The DC goes first: a bitmap still selected into a DC cannot be deleted.
        if (g.buffers.outlineDC != nullptr) DeleteDC(static_cast<HDC>(g.buffers.outlineDC));
        DeleteObject(static_cast<HBITMAP>(g.buffers.outlineBitmap));
    }
    g.buffers.markerBitmap = nullptr;
    g.buffers.outlineBitmap = nullptr;
    g.buffers.outlineDC = nullptr;
}

} // namespace vexel
