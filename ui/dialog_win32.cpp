// The parameter dialog: its procedure FilterDlg, the five value rows and the two ways the
// template is opened (measuring the big preview control at Start, and the real dialog).
#include <windows.h>

#include <cstdint>

#include "host/platform.h"
#include "host/plugin_globals.h"

extern "C" INT_PTR CALLBACK FilterDlg(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

namespace vexel {
namespace {

constexpr int kBigViewId = 100;

HWND hostWindow() {
    if (g.hostRecord == nullptr) return nullptr;
    const PlatformData* platform = filterRecord().platformData;
    if (platform == nullptr) return nullptr;
    return reinterpret_cast<HWND>(platform->hwnd);
}

// The measuring pass only records the client size of the big preview control; the dialog is
// never shown, centred or filled.
void measureAndClose(HWND dialog) {
    RECT client{};
    GetClientRect(GetDlgItem(dialog, kBigViewId), &client);
    g.measuredWidth = static_cast<std::int16_t>(client.right);
    g.measuredHeight = static_cast<std::int16_t>(client.bottom);
    EndDialog(dialog, 0);
}

INT_PTR openDialogTemplate() {
    return DialogBoxParamA(static_cast<HINSTANCE>(g.moduleInstance), "FILTERDLG", hostWindow(),
                           &FilterDlg, 0);
}

} // namespace

void measurePreviewControl() {
    g.measuredWidth = 0;
    openDialogTemplate();
}

std::int16_t runParameterDialog() {
    return static_cast<std::int16_t>(openDialogTemplate());
}

} // namespace vexel

extern "C" INT_PTR CALLBACK FilterDlg(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    using namespace vexel;
    g.dialogWindow = dialog;
    switch (message) {
    case WM_INITDIALOG:
        if (g.measuredWidth == 0) measureAndClose(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(dialog, 2);
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}
