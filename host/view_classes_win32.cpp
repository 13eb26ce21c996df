// Registration of the two preview window classes at Start, and their removal at every release,
// so each run registers them afresh whether or not the host kept the module loaded.
#include <windows.h>

#include "host/param_block.h"
#include "host/platform.h"
#include "host/plugin_globals.h"

extern "C" LRESULT CALLBACK big_procedure(HWND, UINT, WPARAM, LPARAM);
extern "C" LRESULT CALLBACK small_procedure(HWND, UINT, WPARAM, LPARAM);

namespace vexel {

namespace {

constexpr const char* kBigClass = "big_view";
constexpr const char* kSmallClass = "small_view";

bool registerViewClass(const char* name, WNDPROC procedure) {
    WNDCLASSA windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = static_cast<HINSTANCE>(g.host.moduleInstance);
    windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = name;
    return RegisterClassA(&windowClass) != 0;
}

} // namespace

void registerViewClasses() {
    if (!g.host.classesRegistered) {
        g.host.classesRegistered = true;
        if (!registerViewClass(kBigClass, big_procedure)) {
            showWarning("Error while registering big class. Restart host.");
            g.host.runResult = result::reported;
            return;
        }
        if (!registerViewClass(kSmallClass, small_procedure)) {
            showWarning("Error while registering small class. Restart host.");
            g.host.runResult = result::reported;
            return;
        }
    }
    ensureParamBlock();
}

void unregisterViewClasses() {
    const auto instance = static_cast<HINSTANCE>(g.host.moduleInstance);
    UnregisterClassA(kBigClass, instance);
    UnregisterClassA(kSmallClass, instance);
    g.host.classesRegistered = false;
}

} // namespace vexel
