// vexel_testhost: loads a filter module and drives it as an image editor does (see --help).
#include <cstdio>

#include "testhost/testhost.h"

namespace testhost {

HostState host;

void protocolError(const std::string& what) {
    Guard guard(host.lock);
    host.protocolErrors.push_back({host.run, host.selector, host.continueCall, what});
    if (!host.opt.quiet)
        std::fprintf(stderr, "protocol: %s: %s\n", host.selector.c_str(), what.c_str());
}

std::string hexBytes(const std::uint8_t* bytes, std::size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

std::string utf8FromWide(const wchar_t* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return "";
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

std::string utf8FromAnsi(const char* text) {
    int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 1) return "";
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), n);
    return utf8FromWide(wide.c_str());
}

std::string className(HWND window) {
    wchar_t name[64];
    int n = GetClassNameW(window, name, 64);
    name[n > 0 ? n : 0] = 0;
    return utf8FromWide(name);
}

namespace {

// The exit status (the first failure's, else `status`), after the report is written.
int finish(int status) {
    if (host.exitStatus == kExitOk) host.exitStatus = status;
    writeReport();
    std::fflush(nullptr);
    return host.exitStatus;
}

// A failure to set up or write out: said on stderr and in the report.
int failUsage(const std::string& error) {
    std::fprintf(stderr, "%s\n", error.c_str());
    host.error = error;
    return finish(kExitUsage);
}

// An exception that escapes the module ends the process with a report instead of a debugger.
LONG WINAPI onUnhandledException(EXCEPTION_POINTERS* info) {
    char text[160];
    const EXCEPTION_RECORD* rec = info->ExceptionRecord;
    auto address = reinterpret_cast<std::uintptr_t>(rec->ExceptionAddress);
    auto base = reinterpret_cast<std::uintptr_t>(host.module);
    std::snprintf(text, sizeof text, "exception 0x%08lx at 0x%08lx (module offset 0x%lx) in %s",
                  static_cast<unsigned long>(rec->ExceptionCode),
                  static_cast<unsigned long>(address), static_cast<unsigned long>(address - base),
                  host.selector.c_str());
    std::fprintf(stderr, "crash: %s\n", text);
    host.error = text;
    host.exitStatus = kExitCrash;
    ExitProcess(static_cast<UINT>(finish(kExitCrash)));
}

// The one helper thread: it runs the dialog script, if any, and is the watchdog, and it is never
// ended before the process. Under qemu's user-mode i386 emulation (qemu-user 7.2), a thread that
// Wine stops with a signal at the exit and that was not the thread created last goes on with the
// TEB of the one created last: with a watchdog and a script thread (ended by then), the watchdog
// died with signal 11 after the report was written. With one helper, the thread created last is
// the one left.
DWORD WINAPI helperMain(void* withScript) {
    DWORD start = GetTickCount();
    if (withScript != nullptr) runScript();
    DWORD limit = static_cast<DWORD>(host.opt.timeoutSeconds) * 1000;
    DWORD spent = GetTickCount() - start;
    if (spent < limit) Sleep(limit - spent);
    std::fprintf(stderr, "timeout after %d s in %s\n", host.opt.timeoutSeconds,
                 host.selector.c_str());
    {
        Guard guard(host.lock);
        host.error = "timeout in " + host.selector;
        host.exitStatus = kExitTimeout;
    }
    ExitProcess(static_cast<UINT>(finish(kExitTimeout)));
}

bool writeParamsOut(std::string& error) {
    std::string hex = finalParametersHex();
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    if (!writeFile(host.opt.paramsOut, bytes)) {
        error = "cannot write " + host.opt.paramsOut;
        return false;
    }
    return true;
}

} // namespace
} // namespace testhost

int main(int argc, char** argv) {
    using namespace testhost;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    int parsed = parseOptions(argc, argv, host.opt);
    if (parsed == 1) return kExitOk;
    if (parsed != 0) return kExitUsage;

    SetUnhandledExceptionFilter(onUnhandledException);
    std::string error;
    if (!host.opt.script.empty() && !loadScript(host.opt.script, error)) return failUsage(error);
    bool withScript = !host.opt.script.empty() || !host.opt.dialogAnswer.empty();
    if (withScript) installScriptHooks();
    HANDLE helper = CreateThread(nullptr, 0, helperMain, withScript ? &host : nullptr, 0, nullptr);
    if (helper != nullptr) CloseHandle(helper);

    if (!setUpUserSettings(error) || !setUpHost(error)) return failUsage(error);
    if (withScript) startScript();
    runAll();
    if (withScript) waitScript(5000);

    if (!host.opt.output.empty() &&
        !saveImage(host.opt.output, host.current, error, host.opt.fullScale))
        return failUsage(error);
    if (!host.opt.paramsOut.empty() && !writeParamsOut(error)) return failUsage(error);
    bool scriptFailed = false;
    {
        Guard guard(host.lock);
        for (const ScriptResult& s : host.script)
            scriptFailed |= !s.ok;
    }
    return finish(scriptFailed ? kExitScriptFailed : kExitOk);
}
