// The exported host entry point and the DLL entry point.
#include <windows.h>

#include <cstdint>

#include "host/dispatch.h"
#include "host/plugin_globals.h"

extern "C" void ENTRYPOINT1(std::int16_t selector, void* record,
                            std::intptr_t* /*data: never used*/, std::int16_t* result) {
    vexel::dispatchSelector(selector, record, result);
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) vexel::g.moduleInstance = instance;
    return TRUE;
}
