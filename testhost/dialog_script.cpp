// Dialog scripting: a second thread works the module's modal dialog while the host's thread sits
// in the dialog's message loop, the way a user would, and records what it sees.
//
// Controls get messages as a user's actions produce them: WM_SETTEXT / WM_CHAR for edits (the
// edit then notifies EN_CHANGE itself), WM_COMMAND BN_CLICKED for buttons, WM_HSCROLL from the
// scroll bar, posted mouse and key messages. Sent messages return when handled; a posted message
// is waited for with a WH_GETMESSAGE hook on the host's thread (it sees the message taken from the
// queue) followed by a sent WM_NULL, which is handled only after that message's dispatch ended.
// GCC 12 reports overlaps that cannot happen inside inlined std::string code (GCC bug 105329).
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wrestrict"
#endif

#include <cstdio>
#include <utility>

#include "testhost/testhost.h"

namespace testhost {
namespace {

constexpr DWORD kDefaultWaitMs = 20000;
constexpr UINT kSendTimeoutMs = 60000;

struct ScriptLine {
    int number;
    std::string text;
    std::vector<std::string> words;
    std::string rest; // everything after the second word (set-text / type text)
};

std::vector<ScriptLine> scriptLines;
HANDLE scriptGo = nullptr;    // set when the host is ready for the script to start
HANDLE scriptOver = nullptr;  // set when the script (or the dialog answering) has ended
HANDLE runFinished = nullptr; // set when the host's runs are over
HHOOK getMessageHook = nullptr;

// The posted message the script waits for; the hook sets `seen` when the host's thread takes it.
struct AwaitedMessage {
    HWND window = nullptr;
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    volatile LONG seen = 0;
};
AwaitedMessage awaited;

LRESULT CALLBACK getMessageProc(int code, WPARAM removal, LPARAM lParam) {
    const auto* msg = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && removal == PM_REMOVE && msg != nullptr &&
        msg->hwnd == awaited.window && msg->message == awaited.message &&
        msg->wParam == awaited.wParam && msg->lParam == awaited.lParam)
        InterlockedExchange(&awaited.seen, 1);
    return CallNextHookEx(nullptr, code, removal, lParam);
}

std::wstring wideFromUtf8(const std::string& text) {
    int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 1), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), n);
    wide.resize(wide.size() - 1);
    return wide;
}

bool runIsOver() {
    return WaitForSingleObject(runFinished, 0) == WAIT_OBJECT_0;
}

// Waits up to `ms` for `ready`, giving up early once the host's runs are over.
template <typename F> bool waitFor(DWORD ms, F ready) {
    DWORD start = GetTickCount();
    for (;;) {
        if (ready()) return true;
        if (GetTickCount() - start >= ms || runIsOver()) return ready();
        Sleep(10);
    }
}

std::string controlText(HWND window) {
    wchar_t text[1024];
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                             kSendTimeoutMs, &got))
        return "";
    text[got < 1024 ? got : 1023] = 0;
    return utf8FromWide(text);
}

struct FindDialog {
    HWND found = nullptr;
};

BOOL CALLBACK findDialogProc(HWND window, LPARAM param) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    if (className(window) != "#32770") return TRUE;
    wchar_t caption[16];
    int n = GetWindowTextW(window, caption, 16);
    if (n >= 5 && std::wstring(caption, 5) == L"Vexel") {
        reinterpret_cast<FindDialog*>(param)->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND findVexelDialog() {
    FindDialog find;
    EnumWindows(findDialogProc, reinterpret_cast<LPARAM>(&find));
    return find.found;
}

// Per-thread script state: the dialog found by wait-dialog.
HWND dialog = nullptr;

bool sendWait(HWND window, UINT message, WPARAM wParam, LPARAM lParam, std::string& error) {
    DWORD_PTR ignored = 0;
    if (SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &ignored))
        return true;
    error = "the dialog did not answer within 60 s";
    return false;
}

// Posts a message to the host's thread and returns once its handling is over.
bool postWait(HWND window, UINT message, WPARAM wParam, LPARAM lParam, std::string& error) {
    awaited.window = window;
    awaited.message = message;
    awaited.wParam = wParam;
    awaited.lParam = lParam;
    InterlockedExchange(&awaited.seen, 0);
    if (!PostMessageW(window, message, wParam, lParam)) {
        error = "PostMessage failed";
        return false;
    }
    if (!waitFor(kSendTimeoutMs, [] { return awaited.seen != 0; })) {
        error = "the posted message was not taken from the queue";
        return false;
    }
    awaited.window = nullptr;
    return sendWait(window, WM_NULL, 0, 0, error);
}

bool dialogOpen(std::string& error) {
    if (dialog != nullptr && IsWindow(dialog)) return true;
    error = "no dialog (wait-dialog first)";
    return false;
}

bool control(const ScriptLine& line, std::size_t word, HWND& window, std::string& error) {
    long long id = 0;
    if (line.words.size() <= word || !parseLong(line.words[word], id)) {
        error = "needs a control id";
        return false;
    }
    if (!dialogOpen(error)) return false;
    window = id == 0 ? dialog : GetDlgItem(dialog, static_cast<int>(id));
    if (window == nullptr) {
        error = "no control " + line.words[word];
        return false;
    }
    return true;
}

bool numberAt(const ScriptLine& line, std::size_t word, long long& value, std::string& error) {
    if (line.words.size() <= word || !parseLong(line.words[word], value)) {
        error = "needs a number in place " + std::to_string(word + 1);
        return false;
    }
    return true;
}

long long scrollCode(const std::string& name) {
    static const std::pair<const char*, long long> codes[] = {{"LINELEFT", SB_LINELEFT},
                                                              {"LINERIGHT", SB_LINERIGHT},
                                                              {"PAGELEFT", SB_PAGELEFT},
                                                              {"PAGERIGHT", SB_PAGERIGHT},
                                                              {"THUMBPOSITION", SB_THUMBPOSITION},
                                                              {"THUMBTRACK", SB_THUMBTRACK},
                                                              {"LEFT", SB_LEFT},
                                                              {"RIGHT", SB_RIGHT},
                                                              {"ENDSCROLL", SB_ENDSCROLL}};
    for (const auto& [text, code] : codes)
        if (name == text || name == std::string("SB_") + text) return code;
    long long value = -1;
    return parseLong(name, value) ? value : -1;
}

long long virtualKey(const std::string& name) {
    static const std::pair<const char*, long long> keys[] = {
        {"RETURN", VK_RETURN}, {"ESCAPE", VK_ESCAPE}, {"TAB", VK_TAB},   {"SPACE", VK_SPACE},
        {"LEFT", VK_LEFT},     {"RIGHT", VK_RIGHT},   {"UP", VK_UP},     {"DOWN", VK_DOWN},
        {"BACK", VK_BACK},     {"DELETE", VK_DELETE}, {"HOME", VK_HOME}, {"END", VK_END}};
    for (const auto& [text, code] : keys)
        if (name == text) return code;
    long long value = -1;
    return parseLong(name, value) ? value : -1;
}

// Copies a window's client area (as the screen shows it) to a PNG.
bool captureWindow(HWND window, const std::string& path, std::string& valueJson,
                   std::string& error) {
    RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    if (!sendWait(window, WM_NULL, 0, 0, error)) return false;
    RECT rc;
    GetClientRect(window, &rc);
    int w = rc.right - rc.left, h = rc.bottom - rc.top;
    if (w <= 0 || h <= 0) {
        error = "the window has no client area";
        return false;
    }
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    int rowBytes = (w * 3 + 3) / 4 * 4;
    std::vector<std::uint8_t> bits(static_cast<std::size_t>(rowBytes) *
                                   static_cast<std::size_t>(h));
    int rows =
        GetDIBits(memory, bitmap, 0, static_cast<UINT>(h), bits.data(), &info, DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    if (rows != h) {
        error = "GetDIBits failed";
        return false;
    }
    if (!saveBgrPng(path, w, h, bits, rowBytes, error)) return false;
    valueJson = JsonObject().str("file", path).num("width", w).num("height", h).done();
    return true;
}

std::string windowJson(HWND window) {
    if (window == nullptr) return "null";
    RECT rc;
    GetWindowRect(window, &rc);
    if (dialog != nullptr) MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rc), 2);
    return JsonObject()
        .num("id", GetDlgCtrlID(window))
        .str("class", className(window))
        .str("text", controlText(window))
        .raw("rect", numbersJson({rc.left, rc.top, rc.right, rc.bottom}))
        .boolean("enabled", IsWindowEnabled(window))
        .boolean("visible", IsWindowVisible(window))
        .done();
}

// One call of a script command: its line, the window it acts on (the control of an ID command,
// the dialog for the others that need one) and where its recorded value and error go.
struct Call {
    const ScriptLine& line;
    HWND target;
    std::string& value;
    std::string& error;
    bool fail(const char* what) const {
        error = what;
        return false;
    }
    bool ok(std::string recorded) const {
        value = std::move(recorded);
        return true;
    }
};

// The optional time limit in place 1, in milliseconds.
bool waitLimit(const Call& c, long long& ms) {
    ms = kDefaultWaitMs;
    return c.line.words.size() <= 1 || numberAt(c.line, 1, ms, c.error);
}

bool waitDialog(const Call& c) {
    long long ms = 0;
    if (!waitLimit(c, ms)) return false;
    if (!waitFor(static_cast<DWORD>(ms), [] { return findVexelDialog() != nullptr; }))
        return c.fail(runIsOver() ? "the run ended without the dialog" : "no dialog appeared");
    dialog = findVexelDialog();
    if (!sendWait(dialog, WM_NULL, 0, 0, c.error)) return false;
    return c.ok(jsonQuoted(controlText(dialog)));
}

bool waitClosed(const Call& c) {
    long long ms = 0;
    if (!waitLimit(c, ms)) return false;
    HWND d = dialog;
    if (!waitFor(static_cast<DWORD>(ms),
                 [d] { return d == nullptr || !IsWindow(d) || !IsWindowVisible(d); }))
        return c.fail("the dialog is still open");
    dialog = nullptr;
    return true;
}

bool sleepFor(const Call& c) {
    long long ms = 0;
    if (!numberAt(c.line, 1, ms, c.error)) return false;
    Sleep(static_cast<DWORD>(ms));
    return true;
}

bool beeps(const Call& c) {
    Guard guard(host.lock);
    return c.ok(std::to_string(host.beeps));
}

bool displayCount(const Call& c) {
    Guard guard(host.lock);
    return c.ok(std::to_string(host.displayCount));
}

// The size of the control's text in the control's own font beside its client area, so that a
// test can tell whether the text fits.
bool textExtent(const Call& c) {
    const std::wstring text = wideFromUtf8(controlText(c.target));
    DWORD_PTR font = 0;
    if (!SendMessageTimeoutW(c.target, WM_GETFONT, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &font))
        return c.fail("the control did not answer WM_GETFONT");
    HDC dc = GetDC(c.target);
    HGDIOBJ old =
        SelectObject(dc, font != 0 ? reinterpret_cast<HGDIOBJ>(font) : GetStockObject(SYSTEM_FONT));
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    SelectObject(dc, old);
    ReleaseDC(c.target, dc);
    RECT client{};
    GetClientRect(c.target, &client);
    return c.ok(JsonObject()
                    .num("text_width", size.cx)
                    .num("text_height", size.cy)
                    .num("client_width", client.right)
                    .num("client_height", client.bottom)
                    .num("dpi", dpi)
                    .done());
}

bool focus(const Call& c) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(host.mainThread, &info)) return c.fail("GetGUIThreadInfo failed");
    return c.ok(windowJson(info.hwndFocus));
}

bool controls(const Call& c) {
    c.value = "[";
    for (HWND child = GetWindow(c.target, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (c.value.size() > 1) c.value += ",";
        c.value += windowJson(child);
    }
    c.value += "]";
    return true;
}

bool setText(const Call& c) {
    std::wstring text = wideFromUtf8(c.line.rest);
    return sendWait(c.target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), c.error);
}

bool typeText(const Call& c) {
    if (!sendWait(c.target, EM_SETSEL, 0, -1, c.error)) return false;
    for (wchar_t ch : wideFromUtf8(c.line.rest))
        if (!sendWait(c.target, WM_CHAR, ch, 1, c.error)) return false;
    return true;
}

bool click(const Call& c) {
    if (!IsWindowEnabled(c.target)) return c.fail("the control is disabled");
    return sendWait(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(c.target), BN_CLICKED),
                    reinterpret_cast<LPARAM>(c.target), c.error);
}

bool scroll(const Call& c) {
    long long code = scrollCode(c.line.words[2]), pos = 0;
    if (code < 0) return c.fail("needs a scroll code");
    if (c.line.words.size() > 3 && !numberAt(c.line, 3, pos, c.error)) return false;
    return sendWait(dialog, WM_HSCROLL, MAKEWPARAM(static_cast<WORD>(code), static_cast<WORD>(pos)),
                    reinterpret_cast<LPARAM>(c.target), c.error);
}

bool mouse(const Call& c, UINT message, WPARAM keys) {
    long long x = 0, y = 0;
    if (!numberAt(c.line, 2, x, c.error) || !numberAt(c.line, 3, y, c.error)) return false;
    // Put the real pointer where the scripted one is: the window system sends mouse moves of its
    // own at the real pointer position (when windows appear or resize under it), and one of those
    // in the middle of a scripted drag would move the centre there.
    POINT screen{static_cast<LONG>(x), static_cast<LONG>(y)};
    ClientToScreen(c.target, &screen);
    SetCursorPos(screen.x, screen.y);
    return postWait(c.target, message, keys, MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)),
                    c.error);
}

bool key(const Call& c) {
    long long vk = virtualKey(c.line.words[2]);
    if (vk < 0) return c.fail("needs a virtual key");
    return postWait(c.target, WM_KEYDOWN, static_cast<WPARAM>(vk), 1, c.error) &&
           postWait(c.target, WM_KEYUP, static_cast<WPARAM>(vk), 0xC0000001, c.error);
}

bool getScroll(const Call& c) {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    if (!GetScrollInfo(c.target, SB_CTL, &info)) return c.fail("not a scroll bar");
    return c.ok(
        JsonObject().num("pos", info.nPos).num("min", info.nMin).num("max", info.nMax).done());
}

// What a command acts on: nothing, the dialog wait-dialog found, or the control whose id is its
// first argument (id 0 is the dialog itself).
enum class Acts { alone, onDialog, onControl };

struct Command {
    const char* name;
    // The arguments as --help shows them: [X] may be left out, TEXT is the rest of the line (it
    // may be empty); the others are required.
    const char* args;
    Acts acts;
    bool (*run)(const Call&);
    const char* help; // lines after the first start with a newline
};

constexpr Command kCommands[] = {
    {"wait-dialog", "[MS]", Acts::alone, waitDialog,
     "wait for the visible dialog captioned Vexel..."},
    {"set-text", "ID TEXT", Acts::onControl, setText,
     "WM_SETTEXT to the control (the edit reports EN_CHANGE)"},
    {"type", "ID TEXT", Acts::onControl, typeText, "select all, then one WM_CHAR per character"},
    {"click", "ID", Acts::onControl, click, "WM_COMMAND BN_CLICKED as a button click sends it"},
    {"scroll", "ID CODE [POS]", Acts::onControl, scroll,
     "WM_HSCROLL from the scroll bar; CODE a number or\nLINELEFT LINERIGHT PAGELEFT PAGERIGHT "
     "THUMBPOSITION\nTHUMBTRACK LEFT RIGHT ENDSCROLL"},
    {"mouse-down", "ID X Y", Acts::onControl,
     [](const Call& c) { return mouse(c, WM_LBUTTONDOWN, MK_LBUTTON); },
     "posted with MK_LBUTTON, waited for"},
    {"mouse-move", "ID X Y", Acts::onControl,
     [](const Call& c) { return mouse(c, WM_MOUSEMOVE, MK_LBUTTON); },
     "posted with MK_LBUTTON, waited for"},
    {"mouse-up", "ID X Y", Acts::onControl, [](const Call& c) { return mouse(c, WM_LBUTTONUP, 0); },
     "posted, waited for"},
    {"key", "ID VK", Acts::onControl, key,
     "WM_KEYDOWN and WM_KEYUP to the control; VK a number or\nRETURN ESCAPE TAB SPACE LEFT RIGHT "
     "UP DOWN BACK DELETE HOME END"},
    {"sleep", "MS", Acts::alone, sleepFor, "let the dialog run"},
    {"capture", "FILE.png", Acts::onDialog,
     [](const Call& c) { return captureWindow(c.target, c.line.words[1], c.value, c.error); },
     "the dialog's client area"},
    {"capture-control", "ID FILE.png", Acts::onControl,
     [](const Call& c) { return captureWindow(c.target, c.line.words[2], c.value, c.error); },
     "a control's client area"},
    {"get-text", "ID", Acts::onControl,
     [](const Call& c) { return c.ok(jsonQuoted(controlText(c.target))); },
     "record the control's text"},
    {"get-scroll", "ID", Acts::onControl, getScroll, "record the scroll bar's pos, min and max"},
    {"focus", "", Acts::alone, focus, "record the window with the keyboard focus"},
    {"beeps", "", Acts::alone, beeps, "record how many times the module beeped"},
    {"display-count", "", Acts::alone, displayCount,
     "record how many displayPixels calls the module made"},
    {"text-extent", "ID", Acts::onControl, textExtent,
     "record the control's text size in its font, its client\nsize and the screen's DPI"},
    {"enabled", "ID", Acts::onControl,
     [](const Call& c) { return c.ok(IsWindowEnabled(c.target) ? "true" : "false"); },
     "record whether the control is enabled"},
    {"controls", "", Acts::onDialog, controls, "record the dialog's controls"},
    {"wait-closed", "[MS]", Acts::alone, waitClosed, "wait until the dialog is gone"},
};

const Command* findCommand(const std::string& name) {
    for (const Command& command : kCommands)
        if (name == command.name) return &command;
    return nullptr;
}

// The arguments a command cannot do without.
std::size_t requiredArgs(const Command& command) {
    std::size_t count = 0;
    for (const std::string& w : splitWords(command.args))
        count += w[0] != '[' && w != "TEXT";
    return count;
}

bool execute(const ScriptLine& line, std::string& value, std::string& error) {
    const Command& command = *findCommand(line.words[0]); // loadScript took known ones only
    HWND target = nullptr;
    if (command.acts == Acts::onControl) {
        if (!control(line, 1, target, error)) return false;
    } else if (command.acts == Acts::onDialog) {
        if (!dialogOpen(error)) return false;
        target = dialog;
    }
    if (line.words.size() - 1 < requiredArgs(command)) {
        error = std::string("needs ") + command.args;
        return false;
    }
    return command.run(Call{line, target, value, error});
}

DWORD WINAPI scriptMain(void*) {
    for (const ScriptLine& line : scriptLines) {
        ScriptResult result{line.number, line.text, false, "", ""};
        result.ok = execute(line, result.valueJson, result.error);
        {
            Guard guard(host.lock);
            host.script.push_back(result);
        }
        if (!host.opt.quiet) {
            std::printf("script %d: %s -> %s%s\n", line.number, line.text.c_str(),
                        result.ok ? "ok" : "FAILED: ", result.error.c_str());
            std::fflush(stdout);
        }
        if (!result.ok) break; // the rest would act on the wrong state
    }
    Guard guard(host.lock);
    host.scriptDone = true;
    return 0;
}

// --dialog-answer: press OK or Cancel on every parameter dialog that opens, until the runs end.
DWORD WINAPI dialogAnswerMain(void*) {
    int id = host.opt.dialogAnswer == "cancel" ? IDCANCEL : IDOK;
    int count = 0;
    while (!runIsOver()) {
        HWND found = findVexelDialog();
        if (found == nullptr) {
            Sleep(10);
            continue;
        }
        std::string error;
        ScriptResult result{++count, "dialog-answer " + host.opt.dialogAnswer, false, "", ""};
        result.valueJson = jsonQuoted(controlText(found));
        result.ok = sendWait(found, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(found, id)), error) &&
                    waitFor(kDefaultWaitMs,
                            [found] { return !IsWindow(found) || !IsWindowVisible(found); });
        if (!result.ok) result.error = error.empty() ? "the dialog stayed open" : error;
        Guard guard(host.lock);
        host.script.push_back(result);
        if (!result.ok) break;
    }
    return 0;
}

} // namespace

bool loadScript(const std::string& path, std::string& error) {
    std::vector<std::uint8_t> bytes;
    if (!readFile(path, bytes)) {
        error = "cannot read " + path;
        return false;
    }
    const std::string all(bytes.begin(), bytes.end());
    int number = 0;
    for (std::size_t start = 0; start < all.size();) {
        std::size_t end = all.find('\n', start);
        if (end == std::string::npos) end = all.size();
        std::string text = all.substr(start, end - start);
        start = end + 1;
        ++number;
        if (!text.empty() && text.back() == '\r') text.pop_back();
        ScriptLine line{number, text, splitWords(text), ""};
        if (line.words.empty() || line.words[0][0] == '#') continue;
        if (findCommand(line.words[0]) == nullptr) {
            error = path + ":" + std::to_string(number) + ": unknown command " + line.words[0];
            return false;
        }
        // The text of set-text / type: everything after the control id and one space.
        if (line.words.size() >= 2) {
            std::size_t at = text.find(line.words[0]) + line.words[0].size();
            at = text.find(line.words[1], at) + line.words[1].size();
            line.rest = at < text.size() ? text.substr(at + 1) : "";
        }
        scriptLines.push_back(line);
    }
    return true;
}

void printScriptHelp() {
    std::printf(
        "\nScript commands (one per line, # starts a comment; control ID 0 is the dialog):\n");
    for (const Command& command : kCommands) {
        std::string left = std::string(command.name) + (command.args[0] ? " " : "") + command.args;
        std::string help = command.help;
        for (std::size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at))
            help.insert(++at, 30, ' ');
        std::printf("  %-27s %s\n", left.c_str(), help.c_str());
    }
}

void installScriptHooks() {
    runFinished = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    scriptGo = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    scriptOver = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    getMessageHook =
        SetWindowsHookExW(WH_GETMESSAGE, getMessageProc, nullptr, GetCurrentThreadId());
}

void runScript() {
    WaitForSingleObject(scriptGo, INFINITE);
    (host.opt.script.empty() ? dialogAnswerMain : scriptMain)(nullptr);
    SetEvent(scriptOver);
}

void startScript() {
    SetEvent(scriptGo);
}

void waitScript(DWORD milliseconds) {
    if (runFinished != nullptr) SetEvent(runFinished);
    if (scriptOver == nullptr) return;
    // The script may still be sending to windows of this thread: keep answering while waiting.
    DWORD start = GetTickCount();
    while (MsgWaitForMultipleObjects(1, &scriptOver, FALSE, milliseconds, QS_ALLINPUT) ==
               WAIT_OBJECT_0 + 1 &&
           GetTickCount() - start < milliseconds) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&msg);
    }
    if (getMessageHook != nullptr) UnhookWindowsHookEx(getMessageHook);
}

} // namespace testhost
