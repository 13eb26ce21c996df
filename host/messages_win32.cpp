// The about box and the warning box, both owned by the host window.
#include <windows.h>

#include "host/platform.h"
#include "host/plugin_globals.h"

namespace vexel {

namespace {

HWND ownerFrom(const PlatformData* platform) {
    return platform != nullptr ? reinterpret_cast<HWND>(platform->hwnd) : nullptr;
}

HINSTANCE moduleInstance() {
    return static_cast<HINSTANCE>(g.moduleInstance);
}

} // namespace

void showWarning(const char* text) {
    const PlatformData* platform = g.hostRecord != nullptr ? filterRecord().platformData : nullptr;
    MessageBoxA(ownerFrom(platform), text, "Warning", MB_OK);
}

void showAboutBox() {
    char text[256] = {};
    char caption[60] = {};
    LoadStringA(moduleInstance(), 1, text, sizeof text);
    LoadStringA(moduleInstance(), 2, caption, sizeof caption);
    const auto* about = static_cast<const AboutRecord*>(g.hostRecord);
    MessageBoxA(ownerFrom(about != nullptr ? about->platformData : nullptr), text, caption,
                MB_OK | MB_ICONINFORMATION);
}

} // namespace vexel
