// Window handles every Win32 part needs: the host window that owns our boxes and dialogs, and the
// controls of the open parameter dialog.
#pragma once

#include <windows.h>

#include "host/plugin_globals.h"

namespace vexel {

// The window a host platform record names; none when the host passes no record or a null window.
inline HWND windowOf(const PlatformData* platform) {
    return platform != nullptr ? reinterpret_cast<HWND>(platform->hwnd) : nullptr;
}

// The host window of the current FilterRecord, or none.
inline HWND hostWindow() {
    return g.host.hostRecord != nullptr ? windowOf(filterRecord().platformData) : nullptr;
}

inline HWND dialogHandle() {
    return static_cast<HWND>(g.dialog.dialogWindow);
}

// A control of the open dialog, or none: a null window must never reach GetDC, which would hand
// out the whole screen.
inline HWND dialogControl(int id) {
    return g.dialog.dialogWindow == nullptr ? nullptr : GetDlgItem(dialogHandle(), id);
}

} // namespace vexel
