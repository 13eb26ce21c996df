// The window procedures of the two preview controls: painting, and moving the effect centre by
// clicking or dragging.
#include <windows.h>

#include <cstdint>

#include "host/plugin_globals.h"
#include "ui/markers.h"
#include "ui/preview.h"

namespace vexel {
namespace {

// Mouse positions are signed: while the mouse is captured they can lie left of or above the
// window.
std::int16_t mouseX(LPARAM lParam) {
    return static_cast<std::int16_t>(LOWORD(lParam));
}
std::int16_t mouseY(LPARAM lParam) {
    return static_cast<std::int16_t>(HIWORD(lParam));
}

void paintBigView(HWND window) {
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    redrawPreview();
    EndPaint(window, &paint);
}

void paintOverview(HWND window) {
    PAINTSTRUCT paint;
    BeginPaint(window, &paint);
    redrawAroundCenter(-1); // fills the overview white
    drawMarkers(-1);
    EndPaint(window, &paint);
}

// One drag per window: it starts with a press there and ends with the release there, or when
// the capture goes elsewhere, so a lost button release cannot leave a drag running.
LRESULT handleMouse(HWND window, UINT message, WPARAM wParam, LPARAM lParam, std::int32_t& dragging,
                    std::int16_t fromOverview) {
    switch (message) {
    case WM_LBUTTONDOWN:
        SetCapture(window);
        dragging = 1;
        moveCenter(mouseX(lParam), mouseY(lParam), fromOverview);
        return 0;
    case WM_MOUSEMOVE:
        if (dragging != 0) moveCenter(mouseX(lParam), mouseY(lParam), fromOverview);
        return 0;
    case WM_LBUTTONUP:
        if (dragging != 0) {
            dragging = 0;
            ReleaseCapture();
            centreChangeEnded();
        }
        return 0;
    case WM_CAPTURECHANGED:
        if (reinterpret_cast<HWND>(lParam) != window && dragging != 0) {
            dragging = 0;
            centreChangeEnded();
        }
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

} // namespace
} // namespace vexel

extern "C" LRESULT CALLBACK big_procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        vexel::paintBigView(window);
        return 0;
    }
    return vexel::handleMouse(window, message, wParam, lParam, vexel::g.dialog.bigDragging, 0);
}

extern "C" LRESULT CALLBACK small_procedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam) {
    if (message == WM_PAINT) {
        vexel::paintOverview(window);
        return 0;
    }
    return vexel::handleMouse(window, message, wParam, lParam, vexel::g.dialog.smallDragging, 1);
}
