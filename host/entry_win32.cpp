// The exported host entry point and the DLL entry point.
#include <windows.h>

#include <cstdint>

#include "effect/row_blend.h"
#include "host/dispatch.h"
#include "host/plugin_globals.h"

namespace {

// VEXEL_BLEND=plain in the environment keeps the final pass on the plain blend, so the tests and
// the benchmarks can run the real module both ways on one processor.
void chooseBlendPath() {
    char value[16] = {};
    const DWORD length = GetEnvironmentVariableA("VEXEL_BLEND", value, sizeof value);
    if (length > 0 && length < sizeof value && lstrcmpiA(value, "plain") == 0)
        vexel::forceBlendPath(vexel::BlendPath::plain);
}

} // namespace

extern "C" void ENTRYPOINT1(std::int16_t selector, void* record,
                            std::intptr_t* /*data: never used*/, std::int16_t* result) {
    vexel::dispatchSelector(selector, record, result);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        vexel::g.moduleInstance = instance;
        chooseBlendPath();
    }
    return TRUE;
}
