// Putting the selection outline on the big preview: edge bits through the monochrome outline
// bitmap, whitened once (SRCPAINT) and then animated with XOR deltas (SRCINVERT) every 100 ms.
#include <windows.h>

#include <algorithm>
#include <array>

#include "host/plugin_globals.h"
#include "host/windows_win32.h"
#include "resources/resource_ids.h"
#include "ui/markers.h"
#include "ui/outline.h"
#include "ui/outline_bits.h"
#include "ui/preview.h"

namespace vexel {

namespace {

constexpr UINT kOutlinePeriodMs = 100;

HBITMAP outlineBitmap() {
    return static_cast<HBITMAP>(g.buffers.outlineBitmap);
}
HDC outlineDC() {
    return static_cast<HDC>(g.buffers.outlineDC);
}

bool outlineDrawable() {
    return g.buffers.outlineBitmap != nullptr && g.buffers.outlineDC != nullptr &&
           outlineBuffersFit();
}

// A monochrome source puts its 1 bits in the destination's background colour and its 0 bits in
// the text colour; the blits rely on white and black whatever the platform's defaults are.
void useMonochromeColours(HDC dc) {
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, RGB(255, 255, 255));
}

void loadOutlineBitmap(const std::uint8_t* rows) {
    SetBitmapBits(outlineBitmap(), static_cast<DWORD>(g.buffers.maskBitmapBytes), rows);
}

void whitenEdge(HDC dc, int x, int y, int width, int height) {
    loadOutlineBitmap(maskFrameRow(0));
    BitBlt(dc, x, y, width, height, outlineDC(), x, y, SRCPAINT);
}

// Drops the outline's backlog. Another timer's message taken on the way (the live preview's) is
// handled once the backlog is gone, so it is not lost.
void dropPendingTicks() {
    if (g.dialog.dialogWindow == nullptr) return; // a null window would take every window's timers
    MSG message;
    bool otherTimer = false;
    while (PeekMessageA(&message, dialogHandle(), WM_TIMER, WM_TIMER, PM_REMOVE))
        if (message.wParam != kOutlineTimer) otherTimer = true;
    if (otherTimer) liveTimerFired();
}

} // namespace

void buildSelectionOutline() {
    if (!buildOutlineBits()) return;
    SetTimer(dialogHandle(), kOutlineTimer, kOutlinePeriodMs, nullptr);
}

void outlineTick() {
    const HWND preview = dialogControl(res::kBigView);
    if (preview != nullptr && outlineDrawable()) {
        const bool priming = g.outline.outlinePrimed == 0 || g.outline.outlinePattern == nullptr;
        // Whitening is not an inversion: under a drawn effect frame it would lose the frame's
        // inversion, and taking the frame off later would invert those edge pixels. So the frame
        // comes off before and goes back on after.
        const bool frameDrawn = priming && g.dialog.effectFrameState == 1;
        if (frameDrawn) showEffectFrame(0, g.settings.previewCenterX, g.settings.previewCenterY);
        const HDC dc = GetDC(preview);
        useMonochromeColours(dc);
        if (priming) {
            whitenEdge(dc, 0, 0, g.geometry.previewWidth, g.geometry.previewHeight);
            primeOutlineState();
        }
        maskEdgeWithPattern(std::span<const std::uint8_t, 8>(g.outline.outlinePattern, 8));
        loadOutlineBitmap(outlineWorkRow(0));
        for (const BlitRect& run : outlineTileRuns()) {
            BitBlt(dc, run.x, run.y, run.width, run.height, outlineDC(), run.x, run.y, SRCINVERT);
        }
        ReleaseDC(preview, dc);
        if (frameDrawn) showEffectFrame(1, g.settings.previewCenterX, g.settings.previewCenterY);
        advanceOutlinePattern();
    }
    dropPendingTicks();
}

void restoreOutlineInBlock(void* dcHandle, std::int16_t x, std::int16_t y, std::int16_t width,
                           std::int16_t height) {
    if (g.outline.outlinePrimed == 0 || !outlineDrawable()) return;
    // The block may reach past the preview's right and bottom edges, where the bitmap ends.
    const int w = std::min<int>(width, g.geometry.previewWidth - x);
    const int h = std::min<int>(height, g.geometry.previewHeight - y);
    if (x < 0 || y < 0 || w <= 0 || h <= 0) return;
    const HDC dc = static_cast<HDC>(dcHandle);
    useMonochromeColours(dc);
    whitenEdge(dc, x, y, w, h);
    const std::array<std::uint8_t, 8> shown = shownOutlinePattern();
    maskEdgeWithPattern(shown);
    loadOutlineBitmap(outlineWorkRow(0));
    BitBlt(dc, x, y, w, h, outlineDC(), x, y, SRCINVERT);
}

} // namespace vexel
