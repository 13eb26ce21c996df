// Redirects the module's imports (its import address table) to wrappers that count global memory
// blocks and GDI objects, inject allocation failures, count beeps and record message boxes. Only
// the module's own calls pass through them; the host's calls go straight to the system.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "testhost/testhost.h"

namespace testhost {
namespace {

template <typename F> F procAs(FARPROC proc) {
    F f;
    static_assert(sizeof f == sizeof proc);
    std::memcpy(&f, &proc, sizeof f);
    return f;
}

template <typename F> void* addressOf(F f) {
    void* p;
    static_assert(sizeof f == sizeof p);
    std::memcpy(&p, &f, sizeof p);
    return p;
}

struct Counters {
    Mutex lock;
    SmallMap<HGLOBAL, SIZE_T> blocks;
    SmallMap<HGDIOBJ, const char*> gdi;
    SmallMap<HDC, int> dcs;
    SmallSet<std::pair<std::string, HINSTANCE>> classes; // registered by the module, by name
    long long liveBytes = 0, runPeak = 0;
    AllocStats total; // cumulative counts
    AllocStats atRunStart;
    long long allocSerial = 0;
};

Counters counters;

void noteLiveBytes() {
    if (counters.liveBytes > counters.runPeak) counters.runPeak = counters.liveBytes;
    if (counters.liveBytes > counters.total.peakLiveBytes)
        counters.total.peakLiveBytes = counters.liveBytes;
}

// The real functions, looked up in the system DLLs.
HGLOBAL(WINAPI* realGlobalAlloc)(UINT, SIZE_T);
HGLOBAL(WINAPI* realGlobalReAlloc)(HGLOBAL, SIZE_T, UINT);
HGLOBAL(WINAPI* realGlobalFree)(HGLOBAL);
HBITMAP(WINAPI* realCreateBitmap)(int, int, UINT, UINT, const void*);
HBITMAP(WINAPI* realCreateBitmapIndirect)(const BITMAP*);
HBITMAP(WINAPI* realCreateCompatibleBitmap)(HDC, int, int);
HBITMAP(WINAPI* realCreateDIBitmap)
(HDC, const BITMAPINFOHEADER*, DWORD, const void*, const BITMAPINFO*, UINT);
HBITMAP(WINAPI* realCreateDIBSection)(HDC, const BITMAPINFO*, UINT, void**, HANDLE, DWORD);
HPEN(WINAPI* realCreatePen)(int, int, COLORREF);
HBRUSH(WINAPI* realCreateSolidBrush)(COLORREF);
HBRUSH(WINAPI* realCreatePatternBrush)(HBITMAP);
HBRUSH(WINAPI* realCreateHatchBrush)(int, COLORREF);
HBRUSH(WINAPI* realCreateBrushIndirect)(const LOGBRUSH*);
HRGN(WINAPI* realCreateRectRgn)(int, int, int, int);
HFONT(WINAPI* realCreateFontIndirectA)(const LOGFONTA*);
HDC(WINAPI* realCreateCompatibleDC)(HDC);
BOOL(WINAPI* realDeleteObject)(HGDIOBJ);
BOOL(WINAPI* realDeleteDC)(HDC);
HDC(WINAPI* realGetDC)(HWND);
HDC(WINAPI* realGetWindowDC)(HWND);
HDC(WINAPI* realGetDCEx)(HWND, HRGN, DWORD);
int(WINAPI* realReleaseDC)(HWND, HDC);
BOOL(WINAPI* realMessageBeep)(UINT);
int(WINAPI* realMessageBoxA)(HWND, LPCSTR, LPCSTR, UINT);
UINT_PTR(WINAPI* realSetTimer)(HWND, UINT_PTR, UINT, TIMERPROC);
BOOL(WINAPI* realKillTimer)(HWND, UINT_PTR);
ATOM(WINAPI* realRegisterClassA)(const WNDCLASSA*);
BOOL(WINAPI* realUnregisterClassA)(LPCSTR, HINSTANCE);

// Whether this allocation of the module is to fail (--fail-alloc-above, --fail-alloc-nth); a
// failure is counted and left as the system leaves one.
bool injectFailure(SIZE_T bytes) {
    ++counters.allocSerial;
    const Options& o = host.opt;
    bool fail = (o.failAllocAbove >= 0 && static_cast<long long>(bytes) > o.failAllocAbove) ||
                (o.failAllocNth > 0 && counters.allocSerial == o.failAllocNth);
    if (!fail) return false;
    ++counters.total.injectedFailures;
    ++counters.total.failedAllocs;
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return true;
}

// Counts a block the system returned (or its failure).
HGLOBAL noteBlock(HGLOBAL h, SIZE_T bytes) {
    if (h == nullptr) {
        ++counters.total.failedAllocs;
        return nullptr;
    }
    counters.blocks[h] = bytes;
    counters.liveBytes += static_cast<long long>(bytes);
    noteLiveBytes();
    return h;
}

// Stops counting a block; false for one that was not counted.
bool forgetBlock(HGLOBAL h) {
    auto it = counters.blocks.find(h);
    if (it == counters.blocks.end()) return false;
    counters.liveBytes -= static_cast<long long>(it->second);
    counters.blocks.erase(it);
    return true;
}

HGLOBAL WINAPI countingGlobalAlloc(UINT flags, SIZE_T bytes) {
    Guard guard(counters.lock);
    ++counters.total.allocCalls;
    if (injectFailure(bytes)) return nullptr;
    return noteBlock(realGlobalAlloc(flags, bytes), bytes);
}

HGLOBAL WINAPI countingGlobalReAlloc(HGLOBAL old, SIZE_T bytes, UINT flags) {
    Guard guard(counters.lock);
    ++counters.total.reallocCalls;
    if ((flags & GMEM_MODIFY) != 0) return realGlobalReAlloc(old, bytes, flags);
    if (injectFailure(bytes)) return nullptr;
    HGLOBAL h = realGlobalReAlloc(old, bytes, flags);
    if (h != nullptr) forgetBlock(old);
    return noteBlock(h, bytes);
}

HGLOBAL WINAPI countingGlobalFree(HGLOBAL h) {
    Guard guard(counters.lock);
    ++counters.total.freeCalls;
    if (counters.blocks.count(h) != 0) {
        if ((GlobalFlags(h) & GMEM_LOCKCOUNT) != 0) ++counters.total.freedWhileLocked;
        forgetBlock(h);
    } else if (h != nullptr && h != host.parameters) {
        ++counters.total.freeUnknown;
    }
    return realGlobalFree(h);
}

// Counts one event of a call that succeeded, and passes its result on.
template <typename R> R countSuccess(R result, long long AllocStats::*counter) {
    if (result) {
        Guard guard(counters.lock);
        ++(counters.total.*counter);
    }
    return result;
}

// Stops counting a GDI object or DC the module deletes, and counts the deletion.
template <typename Live, typename H>
void forgetObject(Live& live, H object, long long AllocStats::*deleted) {
    Guard guard(counters.lock);
    auto it = live.find(object);
    if (it == live.end()) return;
    ++(counters.total.*deleted);
    live.erase(it);
}

template <typename H> H noteGdi(H object, const char* kind) {
    if (object != nullptr) {
        Guard guard(counters.lock);
        ++counters.total.gdiCreated;
        counters.gdi[object] = kind;
    }
    return object;
}

HBITMAP WINAPI countingCreateBitmap(int w, int h, UINT planes, UINT bits, const void* data) {
    return noteGdi(realCreateBitmap(w, h, planes, bits, data), "CreateBitmap");
}
HBITMAP WINAPI countingCreateBitmapIndirect(const BITMAP* bm) {
    return noteGdi(realCreateBitmapIndirect(bm), "CreateBitmapIndirect");
}
HBITMAP WINAPI countingCreateCompatibleBitmap(HDC dc, int w, int h) {
    return noteGdi(realCreateCompatibleBitmap(dc, w, h), "CreateCompatibleBitmap");
}
HBITMAP WINAPI countingCreateDIBitmap(HDC dc, const BITMAPINFOHEADER* header, DWORD init,
                                      const void* bits, const BITMAPINFO* info, UINT usage) {
    return noteGdi(realCreateDIBitmap(dc, header, init, bits, info, usage), "CreateDIBitmap");
}
HBITMAP WINAPI countingCreateDIBSection(HDC dc, const BITMAPINFO* info, UINT usage, void** bits,
                                        HANDLE section, DWORD offset) {
    return noteGdi(realCreateDIBSection(dc, info, usage, bits, section, offset),
                   "CreateDIBSection");
}
HPEN WINAPI countingCreatePen(int style, int width, COLORREF colour) {
    return noteGdi(realCreatePen(style, width, colour), "CreatePen");
}
HBRUSH WINAPI countingCreateSolidBrush(COLORREF colour) {
    return noteGdi(realCreateSolidBrush(colour), "CreateSolidBrush");
}
HBRUSH WINAPI countingCreatePatternBrush(HBITMAP bitmap) {
    return noteGdi(realCreatePatternBrush(bitmap), "CreatePatternBrush");
}
HBRUSH WINAPI countingCreateHatchBrush(int style, COLORREF colour) {
    return noteGdi(realCreateHatchBrush(style, colour), "CreateHatchBrush");
}
HBRUSH WINAPI countingCreateBrushIndirect(const LOGBRUSH* brush) {
    return noteGdi(realCreateBrushIndirect(brush), "CreateBrushIndirect");
}
HRGN WINAPI countingCreateRectRgn(int l, int t, int r, int b) {
    return noteGdi(realCreateRectRgn(l, t, r, b), "CreateRectRgn");
}
HFONT WINAPI countingCreateFontIndirectA(const LOGFONTA* font) {
    return noteGdi(realCreateFontIndirectA(font), "CreateFontIndirectA");
}

BOOL WINAPI countingDeleteObject(HGDIOBJ object) {
    forgetObject(counters.gdi, object, &AllocStats::gdiDeleted);
    return realDeleteObject(object);
}

HDC WINAPI countingCreateCompatibleDC(HDC dc) {
    HDC made = realCreateCompatibleDC(dc);
    if (made != nullptr) {
        Guard guard(counters.lock);
        ++counters.total.dcCreated;
        counters.dcs[made] = 1;
    }
    return made;
}

BOOL WINAPI countingDeleteDC(HDC dc) {
    forgetObject(counters.dcs, dc, &AllocStats::dcDeleted);
    return realDeleteDC(dc);
}

HDC WINAPI countingGetDC(HWND window) {
    return countSuccess(realGetDC(window), &AllocStats::getDc);
}
HDC WINAPI countingGetWindowDC(HWND window) {
    return countSuccess(realGetWindowDC(window), &AllocStats::getDc);
}
HDC WINAPI countingGetDCEx(HWND window, HRGN clip, DWORD flags) {
    return countSuccess(realGetDCEx(window, clip, flags), &AllocStats::getDc);
}
int WINAPI countingReleaseDC(HWND window, HDC dc) {
    return countSuccess(realReleaseDC(window, dc), &AllocStats::releaseDc);
}

UINT_PTR WINAPI countingSetTimer(HWND window, UINT_PTR id, UINT ms, TIMERPROC proc) {
    return countSuccess(realSetTimer(window, id, ms, proc), &AllocStats::timersSet);
}
BOOL WINAPI countingKillTimer(HWND window, UINT_PTR id) {
    return countSuccess(realKillTimer(window, id), &AllocStats::timersKilled);
}

// A class name as given, or an atom as #N.
std::string classKey(LPCSTR name) {
    const auto value = reinterpret_cast<std::uintptr_t>(name);
    if ((value >> 16) != 0) return name;
    std::string atom = "#";
    atom += std::to_string(value);
    return atom;
}

ATOM WINAPI countingRegisterClassA(const WNDCLASSA* windowClass) {
    const ATOM atom = realRegisterClassA(windowClass);
    if (atom != 0) {
        Guard guard(counters.lock);
        counters.classes.insert({classKey(windowClass->lpszClassName), windowClass->hInstance});
    }
    return atom;
}

BOOL WINAPI countingUnregisterClassA(LPCSTR name, HINSTANCE instance) {
    const BOOL done = realUnregisterClassA(name, instance);
    if (done) {
        Guard guard(counters.lock);
        counters.classes.erase({classKey(name), instance});
    }
    return done;
}

BOOL WINAPI countingMessageBeep(UINT type) {
    {
        Guard guard(host.lock);
        ++host.beeps;
    }
    return realMessageBeep(type);
}

// A session in which the module's dialogs cannot be created (no window station, no display):
// DialogBoxIndirectParamA fails as it does there, from the --fail-dialogs-th call on.
INT_PTR(WINAPI* realDialogBoxIndirectParamA)(HINSTANCE, LPCDLGTEMPLATEA, HWND, DLGPROC, LPARAM);
long long dialogCalls = 0;

INT_PTR WINAPI failingDialogBoxIndirectParamA(HINSTANCE instance, LPCDLGTEMPLATEA dialogTemplate,
                                              HWND owner, DLGPROC proc, LPARAM param) {
    if (++dialogCalls >= host.opt.failDialogsFrom) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return -1;
    }
    return realDialogBoxIndirectParamA(instance, dialogTemplate, owner, proc, param);
}

int WINAPI recordingMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    return recordedMessageBox(owner, text, caption, style, realMessageBoxA);
}

struct Redirect {
    const char* dll;
    const char* name;
    void* wrapper;
    void* real;    // address of the real-function pointer to fill
    bool counting; // only with --instrument
};

template <typename F>
Redirect redirect(const char* dll, const char* name, F wrapper, F* real, bool counting) {
    return {dll, name, addressOf(wrapper), static_cast<void*>(real), counting};
}

std::vector<Redirect> redirects() {
    std::vector<Redirect> list{
        redirect("kernel32.dll", "GlobalAlloc", countingGlobalAlloc, &realGlobalAlloc, true),
        redirect("kernel32.dll", "GlobalReAlloc", countingGlobalReAlloc, &realGlobalReAlloc, true),
        redirect("kernel32.dll", "GlobalFree", countingGlobalFree, &realGlobalFree, true),
        redirect("gdi32.dll", "CreateBitmap", countingCreateBitmap, &realCreateBitmap, true),
        redirect("gdi32.dll", "CreateBitmapIndirect", countingCreateBitmapIndirect,
                 &realCreateBitmapIndirect, true),
        redirect("gdi32.dll", "CreateCompatibleBitmap", countingCreateCompatibleBitmap,
                 &realCreateCompatibleBitmap, true),
        redirect("gdi32.dll", "CreateDIBitmap", countingCreateDIBitmap, &realCreateDIBitmap, true),
        redirect("gdi32.dll", "CreateDIBSection", countingCreateDIBSection, &realCreateDIBSection,
                 true),
        redirect("gdi32.dll", "CreatePen", countingCreatePen, &realCreatePen, true),
        redirect("gdi32.dll", "CreateSolidBrush", countingCreateSolidBrush, &realCreateSolidBrush,
                 true),
        redirect("gdi32.dll", "CreatePatternBrush", countingCreatePatternBrush,
                 &realCreatePatternBrush, true),
        redirect("gdi32.dll", "CreateHatchBrush", countingCreateHatchBrush, &realCreateHatchBrush,
                 true),
        redirect("gdi32.dll", "CreateBrushIndirect", countingCreateBrushIndirect,
                 &realCreateBrushIndirect, true),
        redirect("gdi32.dll", "CreateRectRgn", countingCreateRectRgn, &realCreateRectRgn, true),
        redirect("gdi32.dll", "CreateFontIndirectA", countingCreateFontIndirectA,
                 &realCreateFontIndirectA, true),
        redirect("gdi32.dll", "CreateCompatibleDC", countingCreateCompatibleDC,
                 &realCreateCompatibleDC, true),
        redirect("gdi32.dll", "DeleteObject", countingDeleteObject, &realDeleteObject, true),
        redirect("gdi32.dll", "DeleteDC", countingDeleteDC, &realDeleteDC, true),
        redirect("user32.dll", "GetDC", countingGetDC, &realGetDC, true),
        redirect("user32.dll", "GetWindowDC", countingGetWindowDC, &realGetWindowDC, true),
        redirect("user32.dll", "GetDCEx", countingGetDCEx, &realGetDCEx, true),
        redirect("user32.dll", "ReleaseDC", countingReleaseDC, &realReleaseDC, true),
        redirect("user32.dll", "SetTimer", countingSetTimer, &realSetTimer, true),
        redirect("user32.dll", "KillTimer", countingKillTimer, &realKillTimer, true),
        redirect("user32.dll", "RegisterClassA", countingRegisterClassA, &realRegisterClassA, true),
        redirect("user32.dll", "UnregisterClassA", countingUnregisterClassA, &realUnregisterClassA,
                 true),
        redirect("user32.dll", "MessageBeep", countingMessageBeep, &realMessageBeep, false),
        redirect("user32.dll", "MessageBoxA", recordingMessageBoxA, &realMessageBoxA, false),
    };
    if (host.opt.failDialogsFrom > 0)
        list.push_back(redirect("user32.dll", "DialogBoxIndirectParamA",
                                failingDialogBoxIndirectParamA, &realDialogBoxIndirectParamA,
                                false));
    return list;
}

// Rewrites the module's import slot for dll!name, if it has one.
bool patchSlot(HMODULE module, const char* dll, const char* name, void* wrapper) {
    auto* base = reinterpret_cast<std::uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (dir.VirtualAddress == 0) return false;
    bool patched = false;
    for (auto* desc = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
         desc->Name != 0; ++desc) {
        if (_stricmp(reinterpret_cast<const char*>(base + desc->Name), dll) != 0) continue;
        DWORD namesRva =
            desc->OriginalFirstThunk != 0 ? desc->OriginalFirstThunk : desc->FirstThunk;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + namesRva);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + desc->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), name) != 0) continue;
            DWORD oldProtect = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                                &oldProtect))
                continue;
            slots->u1.Function = reinterpret_cast<std::uintptr_t>(wrapper);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, oldProtect, &oldProtect);
            patched = true;
        }
    }
    return patched;
}

} // namespace

void patchModuleImports(HMODULE module, bool instrument) {
    bool counting = instrument || host.opt.failAllocAbove >= 0 || host.opt.failAllocNth > 0;
    for (const Redirect& r : redirects()) {
        FARPROC real = GetProcAddress(GetModuleHandleA(r.dll), r.name);
        std::memcpy(r.real, &real, sizeof real);
        if (real == nullptr || (r.counting && !counting)) continue;
        // A module loaded again is patched again; its names are listed once.
        if (patchSlot(module, r.dll, r.name, r.wrapper) &&
            std::find(host.importsPatched.begin(), host.importsPatched.end(), r.name) ==
                host.importsPatched.end())
            host.importsPatched.push_back(r.name);
    }
}

void beginRunStats() {
    Guard guard(counters.lock);
    counters.atRunStart = counters.total;
    counters.runPeak = counters.liveBytes;
}

// Counts since the run began, and what is alive now. The host's parameter block, which the
// module allocates but the host then owns, is not counted as alive.
AllocStats allocStatsNow() {
    Guard guard(counters.lock);
    const AllocStats& t = counters.total;
    const AllocStats& s = counters.atRunStart;
    AllocStats a;
    for (const AllocField& f : kAllocFields) // the live counts and the peak are set below
        a.*f.member = t.*f.member - s.*f.member;
    a.peakLiveBytes = counters.runPeak;
    a.liveBlocks = static_cast<long long>(counters.blocks.size());
    a.liveBytes = counters.liveBytes;
    auto param = counters.blocks.find(static_cast<HGLOBAL>(host.parameters));
    if (param != counters.blocks.end()) {
        --a.liveBlocks;
        a.liveBytes -= static_cast<long long>(param->second);
    }
    a.liveGdi = static_cast<long long>(counters.gdi.size());
    a.liveDc = static_cast<long long>(counters.dcs.size());
    a.liveClasses = static_cast<long long>(counters.classes.size());
    return a;
}

// Totals over the whole process, and what is alive at the end, one entry per live object.
std::string instrumentJson(bool excludeParameters) {
    AllocStats a;
    std::string blocks, gdi;
    long long lockedLive = 0;
    {
        Guard guard(counters.lock);
        a = counters.total;
        for (const auto& [h, size] : counters.blocks) {
            if (excludeParameters && h == host.parameters) continue;
            ++a.liveBlocks;
            a.liveBytes += static_cast<long long>(size);
            if ((GlobalFlags(h) & GMEM_LOCKCOUNT) != 0) ++lockedLive;
            if (!blocks.empty()) blocks += ",";
            blocks += std::to_string(size);
        }
        for (const auto& [object, kind] : counters.gdi)
            gdi += std::string(gdi.empty() ? "" : ",") + "\"" + kind + "\"";
        a.liveGdi = static_cast<long long>(counters.gdi.size());
        a.liveDc = static_cast<long long>(counters.dcs.size());
        a.liveClasses = static_cast<long long>(counters.classes.size());
    }
    return allocStatsJson(a)
        .num("live_locked_blocks", lockedLive)
        .raw("live_block_sizes", "[" + blocks + "]")
        .raw("live_gdi_kinds", "[" + gdi + "]")
        .done();
}

} // namespace testhost
