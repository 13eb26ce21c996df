// Drawing the big preview on the screen: window sizing at the first paint, the full redraw in
// strips of four rows, the block under the centre marker, and the two display paths (the host's
// displayPixels, or a 24-bit DIB through SetDIBitsToDevice).
#include <windows.h>

#include <algorithm>

#include "host/memory.h"
#include "host/plugin_globals.h"
#include "host/windows_win32.h"
#include "resources/resource_ids.h"
#include "ui/markers.h"
#include "ui/outline.h"
#include "ui/preview.h"
#include "ui/preview_pixels.h"
#include "ui/run_state.h"

namespace vexel {

namespace {

// Chooses the display path and fills the record fields that stay the same for the whole dialog.
void setupDisplay() {
    if (hostDisplays()) {
        setPixelMapConstants();
        return;
    }
    if (g.buffers.dibBuffer.holding == Holding::block && g.buffers.dibBuffer.address == nullptr) {
        g.buffers.dibBuffer.address =
            static_cast<std::uint8_t*>(lockBlock(g.buffers.dibBuffer.handle));
        const HDC dc = GetDC(dialogHandle());
        const int bits = GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES);
        g.dialog.lowColor = bits <= 8 ? 1 : 0;
        ReleaseDC(dialogHandle(), dc);
    }
    setDibHeaderConstants();
}

// Puts `lines` rows of `count` pixels from the start of previewStrip at (x, y) of the preview.
void showRows(HDC dc, std::int16_t x, std::int16_t y, std::int16_t count, std::int16_t lines) {
    if (count <= 0 || lines <= 0 || !rowsFitBuffers(count, lines)) return;
    if (hostDisplays()) {
        setPixelMapRows(count, lines);
        filterRecord().displayPixels(&g.dialog.pixelMap, &g.dialog.pixelMap.bounds, y, x, dc);
        return;
    }
    stripToDib(x, y, count, lines);
    SetDIBitsToDevice(dc, x, y, static_cast<DWORD>(count), static_cast<DWORD>(lines), 0, 0, 0,
                      static_cast<UINT>(lines), g.buffers.dibBuffer.address,
                      reinterpret_cast<const BITMAPINFO*>(&g.dialog.dibHeader), DIB_RGB_COLORS);
}

void showStripRows(void* context, std::int16_t x, std::int16_t y, std::int16_t count,
                   std::int16_t lines) {
    showRows(static_cast<HDC>(context), x, y, count, lines);
}

// Moves a child of the dialog so that its client area is width x height; its border stays outside
// the picture, so the last row and column remain visible.
void sizeClientArea(HWND window, int width, int height) {
    RECT frame;
    RECT client;
    GetWindowRect(window, &frame);
    GetClientRect(window, &client);
    POINT corner{frame.left, frame.top};
    ScreenToClient(dialogHandle(), &corner);
    const int borderX = (frame.right - frame.left) - client.right;
    const int borderY = (frame.bottom - frame.top) - client.bottom;
    MoveWindow(window, corner.x, corner.y, width + borderX, height + borderY, TRUE);
}

// First paint since the dialog opened: fit both windows to the preview. The centre was placed
// when the dialog was initialised.
void preparePreviewWindows(HWND preview, HWND overview) {
    sizeClientArea(preview, g.geometry.previewWidth, g.geometry.previewHeight);
    sizeClientArea(overview, g.geometry.previewWidth / 2, g.geometry.previewHeight / 2);
    setupDisplay();
    g.dialog.previewReady = 1;
    // A move to the size a window already has asks for no repaint (a preview exactly the
    // control's size), so the paints that draw both windows are asked for here.
    InvalidateRect(preview, nullptr, FALSE);
    InvalidateRect(overview, nullptr, TRUE);
}

} // namespace

void redrawPreview() {
    const HWND preview = dialogControl(res::kBigView);
    const HWND overview = dialogControl(res::kSmallView);
    if (preview == nullptr || overview == nullptr) return;
    if (g.dialog.previewReady == 0) {
        // Nothing is drawn now: the repaint asked for draws the preview.
        preparePreviewWindows(preview, overview);
        return;
    }
    g.settings.previewCenterX = std::clamp<std::int16_t>(
        g.settings.previewCenterX, 0, std::max<std::int16_t>(g.geometry.previewWidth - 1, 0));
    g.settings.previewCenterY = std::clamp<std::int16_t>(
        g.settings.previewCenterY, 0, std::max<std::int16_t>(g.geometry.previewHeight - 1, 0));
    const HDC dc = GetDC(preview);
    renderPreviewStrips(showStripRows, dc);
    ReleaseDC(preview, dc);
    // The new picture replaced the effect frame, the marker and the outline.
    g.dialog.effectFrameState = 0;
    drawMarkers(1);
    g.outline.outlinePrimed = 0;
}

void redrawAroundCenter(std::int16_t scope) {
    const HWND overview = dialogControl(res::kSmallView);
    if (scope <= 0 && overview != nullptr) {
        RECT area{};
        GetClientRect(overview, &area);
        const HDC dc = GetDC(overview);
        FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        ReleaseDC(overview, dc);
    }
    if (scope == -1) return;
    showEffectFrame(0, g.settings.previewCenterX, g.settings.previewCenterY);
    // Before the first paint nothing is drawn, and the display records are not set up yet.
    if (scope < 0 || scope >= 2 || g.dialog.previewReady == 0) return;

    const PreviewBlock block = centerBlock();
    if (!renderBlock(block)) return;
    const auto width = static_cast<std::int16_t>(block.x1 - block.x0);
    const auto height = static_cast<std::int16_t>(block.y1 - block.y0);
    const HWND preview = dialogControl(res::kBigView);
    if (preview == nullptr) return;
    const HDC dc = GetDC(preview);
    showRows(dc, block.x0, block.y0, width, height);
    if (selectionMaskInUse()) restoreOutlineInBlock(dc, block.x0, block.y0, width, height);
    ReleaseDC(preview, dc);
}

} // namespace vexel
