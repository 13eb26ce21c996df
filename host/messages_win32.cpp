// The about box and the warning box, both owned by the host window.
#include <windows.h>

#include "host/platform.h"
#include "host/windows_win32.h"
#include "resources/resource_ids.h"
#include "host/plugin_globals.h"

namespace vexel {

void showWarning(const char* text) {
    MessageBoxA(hostWindow(), text, "Warning", MB_OK);
}

void showAboutBox() {
    char text[res::kAboutTextBufferBytes] = {};
    char caption[res::kAboutCaptionBufferBytes] = {};
    loadUserString(res::kAboutTextString, text, sizeof text);
    loadUserString(res::kAboutCaptionString, caption, sizeof caption);
    const auto* about = static_cast<const AboutRecord*>(g.host.hostRecord);
    MessageBoxA(windowOf(about != nullptr ? about->platformData : nullptr), text, caption,
                MB_OK | MB_ICONINFORMATION);
}

} // namespace vexel
