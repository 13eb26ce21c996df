// The exported host entry point and the DLL entry point.
#include <windows.h>

#include <cstdint>

#include "effect/row_blend.h"
#include "host/dispatch.h"
#include "host/plugin_globals.h"

namespace {

// VEXEL_BLEND=plain, sse2 or avx2 in the environment makes the row kernel take that blend (where
// the processor has it), so the tests and the benchmarks can run the real module every way on one
// processor.
void chooseBlendPath() {
    char value[16] = {};
    const DWORD length = GetEnvironmentVariableA("VEXEL_BLEND", value, sizeof value);
    if (length == 0 || length >= sizeof value) return;
    if (lstrcmpiA(value, "plain") == 0) vexel::forceBlendPath(vexel::BlendPath::plain);
    if (lstrcmpiA(value, "sse2") == 0) vexel::forceBlendPath(vexel::BlendPath::sse2);
    if (lstrcmpiA(value, "avx2") == 0) vexel::forceBlendPath(vexel::BlendPath::avx2);
}

} // namespace

extern "C" void ENTRYPOINT1(std::int16_t selector, void* record,
                            std::intptr_t* /*data: never used*/, std::int16_t* result) {
    vexel::dispatchSelector(selector, record, result);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) {
        vexel::g.host.moduleInstance = instance;
        chooseBlendPath();
    }
    return TRUE;
}
