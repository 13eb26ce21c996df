// PLACEHOLDER: replaced by the preview window procedures.
#include <windows.h>
extern "C" LRESULT CALLBACK big_procedure(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return DefWindowProcA(w, m, wp, lp);
}
extern "C" LRESULT CALLBACK small_procedure(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    return DefWindowProcA(w, m, wp, lp);
}
