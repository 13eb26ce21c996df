// PLACEHOLDER: replaced by the parameter dialog.
#include <windows.h>
#include "host/platform.h"
extern "C" INT_PTR CALLBACK FilterDlg(HWND, UINT, WPARAM, LPARAM) { return FALSE; }
namespace vexel {
void measurePreviewControl() {}
std::int16_t runParameterDialog() { return 1; }
} // namespace vexel
