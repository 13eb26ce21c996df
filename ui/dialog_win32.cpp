// The parameter dialog: its procedure FilterDlg, the five value rows and the two ways the
// template is opened (measuring the big preview control at Start, and the real dialog).
#include <windows.h>

#include <cstdint>

#include "effect/dispersion.h"
#include "host/param_block.h"
#include "host/platform.h"
#include "host/plugin_globals.h"
#include "host/windows_win32.h"
#include "resources/resource_ids.h"
#include "ui/dialog_logic.h"
#include "ui/markers.h"
#include "ui/outline.h"
#include "ui/preview.h"
#include "ui/run_state.h"

extern "C" INT_PTR CALLBACK FilterDlg(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

namespace vexel {
namespace {

static_assert(kLivePreviewTimer != kOutlineTimer, "the live preview needs a timer of its own");

void applyLiveSteps(const LiveSteps& steps);

INT_PTR openDialogTemplate() {
    // A drag cannot outlive the dialog it started in.
    g.dialog.bigDragging = 0;
    g.dialog.smallDragging = 0;
    // The measuring pass opens the same language's template as the real one: the big preview's
    // size in pixels follows the template's font.
    const auto dialogTemplate = loadUserTexts(RT_DIALOG, res::kDialogTemplate);
    if (dialogTemplate.empty()) return -1;
    const INT_PTR result = DialogBoxIndirectParamA(
        static_cast<HINSTANCE>(g.host.moduleInstance),
        reinterpret_cast<LPCDLGTEMPLATEA>(dialogTemplate.data()), hostWindow(), &FilterDlg, 0);
    // The window is gone: between dialogs the control look-ups must find nothing rather than
    // reach a stale handle.
    g.dialog.dialogWindow = nullptr;
    return result;
}

// The measuring pass only records the client size of the big preview control; the dialog is
// never shown, centred or filled.
void measureAndClose(HWND dialog) {
    RECT client{};
    GetClientRect(GetDlgItem(dialog, res::kBigView), &client);
    g.geometry.measuredWidth = static_cast<std::int16_t>(client.right);
    g.geometry.measuredHeight = static_cast<std::int16_t>(client.bottom);
    EndDialog(dialog, 0);
}

void centerDialog(HWND window) {
    RECT frame{};
    GetWindowRect(window, &frame);
    const std::int32_t width = frame.right - frame.left;
    const std::int32_t height = frame.bottom - frame.top;
    MoveWindow(window, centredOrigin(GetSystemMetrics(SM_CXSCREEN), width),
               centredOrigin(GetSystemMetrics(SM_CYSCREEN), height), width, height, TRUE);
}

// A negative value means the row's text is invalid: the bar keeps its last position.
void setRowScrollPos(HWND bar, std::int16_t value) {
    if (value >= 0) SetScrollPos(bar, SB_CTL, value, TRUE);
}

struct BarRange {
    std::int16_t min;
    std::int16_t max;
};

// The range lives in the bar; every read of a row takes its bounds from there.
BarRange barRange(HWND bar) {
    int min = 0;
    int max = 0;
    GetScrollRange(bar, SB_CTL, &min, &max);
    return {static_cast<std::int16_t>(min), static_cast<std::int16_t>(max)};
}

void initValueRow(std::int16_t value, std::int16_t min, std::int16_t max, int editId, int barId) {
    HWND bar = dialogControl(barId);
    SetScrollRange(bar, SB_CTL, min, max, FALSE);
    setRowScrollPos(bar, value);
    // Setting the text notifies like typing, which reads the row back into its setting.
    SetDlgItemInt(dialogHandle(), editId, static_cast<UINT>(static_cast<int>(value)), FALSE);
    SendMessageA(dialogControl(editId), EM_LIMITTEXT, static_cast<WPARAM>(editTextLimit(min, max)),
                 0);
}

std::int16_t readValueRow(int editId, std::int16_t min, std::int16_t max) {
    BOOL translated = FALSE;
    const UINT parsed = GetDlgItemInt(dialogHandle(), editId, &translated, FALSE);
    return rowValueFromText(translated != FALSE, parsed, min, max);
}

// Re-reads a row after any notification of its edit, with its markers taken off for the old
// value and drawn again for the new one.
void rereadRow(const ValueRow& row) {
    if (row.redrawScope) redrawAroundCenter(*row.redrawScope);
    HWND bar = dialogControl(row.barId);
    const BarRange range = barRange(bar);
    const std::int16_t before = g.settings.*row.setting;
    g.settings.*row.setting = readValueRow(row.editId, range.min, range.max);
    if (row.redrawScope) drawMarkers(*row.redrawScope);
    setRowScrollPos(bar, g.settings.*row.setting);
    applyLiveSteps(
        liveAfterChange(g.dialog.live, rowChangeAccepted(before, g.settings.*row.setting)));
}

void selectEditText(int editId) {
    HWND edit = dialogControl(editId);
    SendMessageA(edit, EM_SETSEL, 0, -1);
    SetFocus(edit);
}

void rejectValueRow(int editId) {
    MessageBeep(0);
    selectEditText(editId);
}

// Every invalid row beeps and has its text selected; the focus ends on the last of them.
bool allRowsValid() {
    bool valid = true;
    for (const ValueRow& row : kValueRows) {
        if (g.settings.*row.setting < 0) {
            rejectValueRow(row.editId);
            valid = false;
        }
    }
    return valid;
}

// The effect of the current settings and centre, at preview scale, for the next redraw.
void deriveEffectForPreview() {
    g.dialog.previewEffect = 1;
    g.effect.gridCenterX = previewToWork(g.settings.previewCenterX);
    g.effect.gridCenterY = previewToWork(g.settings.previewCenterY);
    deriveEffect(g.effect, g.settings, g.geometry.previewMax, g.geometry.previewScale);
}

void showEffectInPreview() {
    deriveEffectForPreview();
    redrawPreview();
}

void applyLiveSteps(const LiveSteps& steps) {
    if (steps.stopTimer) KillTimer(dialogHandle(), kLivePreviewTimer);
    // Setting the timer again restarts its delay: the render waits for the changes to pause.
    if (steps.startTimer) SetTimer(dialogHandle(), kLivePreviewTimer, kLivePreviewDelayMs, nullptr);
    if (steps.render) showEffectInPreview();
}

void endDialog(INT_PTR result) {
    if (selectionMaskInUse()) KillTimer(dialogHandle(), kOutlineTimer);
    applyLiveSteps(liveAfterStop(g.dialog.live));
    EndDialog(dialogHandle(), result);
}

// The bar never writes a setting: it rewrites the edit, whose notification re-reads the row.
void moveScrollTo(int barId, std::int16_t proposed) {
    const ValueRow* row = rowForBar(barId);
    if (row == nullptr) return;
    HWND bar = dialogControl(barId);
    const BarRange range = barRange(bar);
    const std::int16_t position = clampToRange(proposed, range.min, range.max);
    if (position == GetScrollPos(bar, SB_CTL)) return;
    setRowScrollPos(bar, position);
    SetDlgItemInt(dialogHandle(), row->editId, static_cast<UINT>(position), FALSE);
}

void applyScrollCode(int barId, std::uint16_t code, std::int16_t thumb) {
    HWND bar = dialogControl(barId);
    const BarRange range = barRange(bar);
    const auto current = static_cast<std::int16_t>(GetScrollPos(bar, SB_CTL));
    const auto proposed = proposedScrollPosition(code, current, thumb, range.min, range.max);
    if (proposed) moveScrollTo(barId, *proposed);
}

// The saved centre is in force from the start, so that OK or Preview pressed before the first
// paint already use it.
void loadPreviewCenter() {
    const PreviewPoint center = startingPreviewCenter(readPreviewCenter(), g.geometry.previewWidth,
                                                      g.geometry.previewHeight);
    g.settings.previewCenterX = center.x;
    g.settings.previewCenterY = center.y;
}

void initDialog(HWND dialog) {
    loadPreviewCenter();
    centerDialog(dialog);
    for (const ValueRow& row : kValueRows)
        initValueRow(g.settings.*row.setting, row.min, row.max, row.editId, row.barId);
    // The first paint draws the effect of the opening values, as Preview would.
    if (liveOpensWithEffect(g.dialog.live, g.settings)) deriveEffectForPreview();
    if (selectionMaskInUse()) buildSelectionOutline(); // also starts the outline timer
}

INT_PTR handleCommand(int id) {
    if (const ValueRow* row = rowForEdit(id)) {
        rereadRow(*row);
        return TRUE;
    }
    switch (id) {
    case res::kPreviewButton:
        if (allRowsValid()) {
            applyLiveSteps(liveAfterPreview(g.dialog.live));
            showEffectInPreview();
        }
        return TRUE;
    case res::kOkButton:
        if (allRowsValid()) endDialog(1);
        return TRUE;
    case res::kCancelButton:
        endDialog(2);
        return TRUE;
    case res::kRestoreButton:
        applyLiveSteps(liveAfterStop(g.dialog.live));
        if (g.dialog.previewEffect == 1) {
            g.dialog.previewEffect = 0;
            redrawPreview();
        }
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void centreChangeEnded() {
    if (g.dialog.dialogWindow != nullptr) applyLiveSteps(liveAfterChange(g.dialog.live, true));
}

void liveTimerFired() {
    applyLiveSteps(liveAfterTimer(g.dialog.live, g.settings));
}

void measurePreviewControl() {
    g.geometry.measuredWidth = 0;
    openDialogTemplate();
}

std::int16_t runParameterDialog() {
    return static_cast<std::int16_t>(openDialogTemplate());
}

} // namespace vexel

extern "C" INT_PTR CALLBACK FilterDlg(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    using namespace vexel;
    g.dialog.dialogWindow = dialog;
    switch (message) {
    case WM_INITDIALOG:
        if (g.geometry.measuredWidth == 0)
            measureAndClose(dialog);
        else
            initDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        return handleCommand(LOWORD(wParam));
    case WM_HSCROLL:
        applyScrollCode(GetDlgCtrlID(reinterpret_cast<HWND>(lParam)), LOWORD(wParam),
                        static_cast<std::int16_t>(HIWORD(wParam)));
        return TRUE;
    case WM_TIMER:
        if (wParam == kLivePreviewTimer)
            liveTimerFired();
        else if (selectionMaskInUse() && g.dialog.previewReady != 0)
            outlineTick();
        return TRUE;
    default:
        return FALSE;
    }
}
