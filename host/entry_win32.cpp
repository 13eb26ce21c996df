// The exported host entry point and the DLL entry point.
#include <windows.h>

#include <cstdint>

#include "effect/row_blend.h"
#include "host/dispatch.h"
#include "host/plugin_globals.h"
#include "pipeline/run_plan.h"

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

// A host may unload the module (FreeLibrary) in the middle of a run, without Finish; nothing else
// would ever give back what the run holds. This runs under the loader lock, so the release routine
// may only make calls that load no library and wait on no other thread, and it makes only these:
// - GlobalUnlock and GlobalFree of our blocks: kernel32 stays loaded as long as the process does;
// - DeleteDC and DeleteObject of our memory DC and bitmaps, and UnregisterClassA of our two
//   classes: gdi32 and user32 are our own imports, so they stay loaded and initialised until our
//   detach returns, and none of these calls loads anything or sends a message to another thread.
// No window of ours outlives the call that made it (both dialogs are modal, and the outline's
// timer is killed with its dialog), so there is no window to destroy and no timer to kill.
void releaseOnUnload() {
    vexel::releaseRunResources();
}

} // namespace

extern "C" void ENTRYPOINT1(std::int16_t selector, void* record,
                            std::intptr_t* /*data: never used*/, std::int16_t* result) {
    vexel::dispatchSelector(selector, record, result);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        vexel::g.host.moduleInstance = instance;
        chooseBlendPath();
    }
    // A null reserved means FreeLibrary. At process exit (non-null) nothing is done: the process
    // is going away with everything it holds, and the DLLs we would call may be detached already.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) releaseOnUnload();
    return TRUE;
}
