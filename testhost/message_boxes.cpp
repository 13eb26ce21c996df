// The module's message boxes: every MessageBoxA call is recorded with its arguments; with
// --auto-answer the real box is shown and answered with its default button. A WH_CALLWNDPROCRET
// hook on the calling thread sees the box's WM_INITDIALOG return (its texts are set by then),
// reads what the box shows and posts the default button's click, which the box's own modal loop
// then handles. That needs no second thread and no timing assumptions.
#include "testhost/testhost.h"

namespace testhost {
namespace {

struct BoxInProgress {
    MessageBoxRecord* record = nullptr;
    HWND box = nullptr;
};

thread_local BoxInProgress current;

std::string windowText(HWND window) {
    wchar_t text[2048];
    int n = GetWindowTextW(window, text, 2048);
    text[n < 0 ? 0 : n] = 0;
    return utf8FromWide(text);
}

// The message text: the static control with the message box's text id, else the first static
// with any text.
std::string messageText(HWND box) {
    HWND text = GetDlgItem(box, 0xFFFF);
    if (text != nullptr && GetWindowTextLengthW(text) > 0) return windowText(text);
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        if (className(child) == "Static" && GetWindowTextLengthW(child) > 0)
            return windowText(child);
    }
    return "";
}

LRESULT CALLBACK answerHook(int code, WPARAM wParam, LPARAM lParam) {
    const auto* msg = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && msg != nullptr && msg->message == WM_INITDIALOG &&
        current.record != nullptr && current.box == nullptr && className(msg->hwnd) == "#32770") {
        HWND box = msg->hwnd;
        current.box = box;
        MessageBoxRecord& rec = *current.record;
        rec.seen = true;
        rec.shownCaption = windowText(box);
        rec.shownText = messageText(box);
        rec.actualOwner = reinterpret_cast<std::uintptr_t>(GetWindow(box, GW_OWNER));
        LRESULT def = SendMessageW(box, DM_GETDEFID, 0, 0);
        int id = HIWORD(def) == DC_HASDEFID ? LOWORD(def) : IDOK;
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

} // namespace

int recordedMessageBox(HWND owner, const char* text, const char* caption, UINT style,
                       int(WINAPI* real)(HWND, LPCSTR, LPCSTR, UINT)) {
    MessageBoxRecord rec;
    rec.run = host.run;
    rec.selector = host.selector;
    rec.argText = text != nullptr ? utf8FromAnsi(text) : "";
    rec.argCaption = caption != nullptr ? utf8FromAnsi(caption) : "";
    rec.ownerArg = reinterpret_cast<std::uintptr_t>(owner);
    rec.style = style;
    if (owner != nullptr && !IsWindow(owner)) protocolError("message box owner is not a window");

    int answer = 0;
    if (host.opt.failMessageBoxes) {
        // As when no box can be created: nothing shown, 0 returned.
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    } else if (host.opt.autoAnswer) {
        BoxInProgress saved = current;
        current = {&rec, nullptr};
        HHOOK hook =
            SetWindowsHookExW(WH_CALLWNDPROCRET, answerHook, nullptr, GetCurrentThreadId());
        answer = real(owner, text, caption, style);
        if (hook != nullptr) UnhookWindowsHookEx(hook);
        current = saved;
    } else {
        answer = real(owner, text, caption, style);
    }
    rec.answer = answer;
    Guard guard(host.lock);
    host.messageBoxes.push_back(rec);
    return answer;
}

} // namespace testhost
