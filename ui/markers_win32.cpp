// Drawing the decorations over the two preview windows and moving the centre. Every operation
// takes the control's device context for itself and gives it back at the end.
#include <windows.h>

#include <cstdint>

#include "effect/dispersion.h"
#include "host/int_math.h"
#include "host/plugin_globals.h"
#include "host/windows_win32.h"
#include "resources/resource_ids.h"
#include "ui/markers.h"
#include "ui/preview.h"

namespace vexel {
namespace {

// The decorations are defined in black on white; the defaults of a common DC are not relied on.
void useMarkerColours(HDC dc) {
    SelectObject(dc, GetStockObject(BLACK_PEN));
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, RGB(255, 255, 255));
}

void hollowRectangle(HDC dc, std::int32_t x, std::int32_t y, std::int32_t halfWidth,
                     std::int32_t halfHeight) {
    SelectObject(dc, GetStockObject(NULL_BRUSH));
    Rectangle(dc, x - halfWidth, y - halfHeight, x + halfWidth, y + halfHeight);
}

void drawOverview(std::int16_t x, std::int16_t y) {
    if (g.dialog.previewReady == 0 || g.settings.angle < 0 || g.settings.height < 0 ||
        g.settings.width < 0)
        return;
    HWND overview = dialogControl(res::kSmallView);
    if (overview == nullptr) return;
    HDC dc = GetDC(overview);
    useMarkerColours(dc);
    hollowRectangle(dc, x, y, saturatingProduct(g.settings.width, g.geometry.previewMax),
                    saturatingProduct(g.settings.height, g.geometry.previewMax));
    const LineOffset direction = overviewDirection(g.settings.angle);
    const std::int32_t endX = x + direction.dx;
    const std::int32_t endY = y + direction.dy;
    MoveToEx(dc, x, y, nullptr);
    LineTo(dc, endX, endY);
    Ellipse(dc, endX - 2, endY - 2, endX + 3, endY + 3);
    ReleaseDC(overview, dc);
}

void drawCenterMarker(std::int16_t inOverview) {
    std::int32_t x = g.settings.previewCenterX;
    std::int32_t y = g.settings.previewCenterY;
    if (inOverview != 0) {
        x >>= 1;
        y >>= 1;
    }
    HWND window = dialogControl(inOverview != 0 ? res::kSmallView : res::kBigView);
    if (window == nullptr || g.buffers.markerBitmap == nullptr) return;
    HDC dc = GetDC(window);
    useMarkerColours(dc);
    HDC source = CreateCompatibleDC(dc);
    HGDIOBJ previous = SelectObject(source, static_cast<HBITMAP>(g.buffers.markerBitmap));
    // Left half: the halo, whitened (1 bits take the white background colour). Right half: the
    // cross, inverted on top of it.
    BitBlt(dc, x - 4, y - 4, 8, 8, source, 0, 0, SRCPAINT);
    BitBlt(dc, x - 4, y - 4, 8, 8, source, 8, 0, SRCINVERT);
    SelectObject(source, previous);
    DeleteDC(source);
    ReleaseDC(window, dc);
}

} // namespace

void moveCenter(std::int16_t x, std::int16_t y, std::int16_t fromOverview) {
    const CenterMove move = planCenterMove(x, y, fromOverview);
    if (!move.moves) return;
    redrawAroundCenter(move.scope); // removes what was drawn for the old centre
    g.settings.previewCenterX = move.x;
    g.settings.previewCenterY = move.y;
    drawMarkers(move.scope);
}

void drawMarkers(std::int16_t scope) {
    if (scope <= 0) {
        drawOverview(wrap16(g.settings.previewCenterX / 2), wrap16(g.settings.previewCenterY / 2));
        drawCenterMarker(1);
    }
    if (scope == -1) return;
    showEffectFrame(1, g.settings.previewCenterX, g.settings.previewCenterY);
    if (scope < 0 || scope >= 2) return;
    drawCenterMarker(0);
}

void showEffectFrame(std::int16_t state, std::int16_t x, std::int16_t y) {
    if (g.dialog.previewReady == 0 || state == g.dialog.effectFrameState || g.settings.height < 0 ||
        g.settings.width < 0)
        return;
    g.dialog.effectFrameState = state;
    HWND bigView = dialogControl(res::kBigView);
    if (bigView == nullptr) return;
    HDC dc = GetDC(bigView);
    useMarkerColours(dc);
    SetROP2(dc, R2_NOTXORPEN); // inverts under the outline, so a second drawing restores it
    hollowRectangle(dc, x, y,
                    saturatingProduct(wrap16(2 * g.settings.width), g.geometry.previewMax),
                    saturatingProduct(wrap16(2 * g.settings.height), g.geometry.previewMax));
    ReleaseDC(bigView, dc);
}

} // namespace vexel
