// Window handles every Win32 part needs: the host window that owns our boxes and dialogs, and the
// controls of the open parameter dialog.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>

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

// A resource of the user's texts (the dialog template or a string-table block) in the language
// chosen for the Windows user; empty when the module lacks it.
std::span<const std::uint8_t> loadUserTexts(const char* type, const char* name);
// String `id` of the user's texts in the ANSI code page, as LoadStringA would give it.
void loadUserString(std::int32_t id, char* buffer, std::int32_t bufferBytes);

} // namespace vexel
