// Calls that need the window system. The DLL implements them with Win32 in the *_win32.cpp
// files; native unit tests link stand-ins so the platform-free logic can run under sanitizers.
#pragma once

#include <cstdint>

namespace vexel {

// Modal message box owned by the host window, caption "Warning", MB_OK. When even the box
// cannot be shown there is nothing more to do: the caller's result stands.
void showWarning(const char* text);
// What the user reads when the filter's dialog cannot be created at all (no window station, no
// display, no memory for windows).
inline constexpr const char* kDialogUnavailableWarning =
    "The filter's dialog could not be opened, so the filter cannot run. The image is unchanged.";
// The about box from string table entries 1 and 2.
void showAboutBox();
// First half of Start: registers big_view and small_view (once per release), then ensures the
// parameter block. Leaves runResult at 0, 1 or memFullErr.
void registerViewClasses();
// UnregisterClass of both preview classes; clears classesRegistered.
void unregisterViewClasses();
// Opens the dialog template once to measure the big preview control into measuredWidth/Height.
void measurePreviewControl();
// Runs the parameter dialog modally; returns the dialog result (1 OK, 2 Cancel, -1 failure).
std::int16_t runParameterDialog();
// The 16 x 8 centre-marker bitmap into markerBitmap.
void createMarkerBitmap();
// outlineBitmap (widthPixels x rows, 1 bpp) selected into outlineDC; false when it cannot be made.
bool createOutlineBitmap(std::int32_t widthPixels, std::int32_t rows);
// DeleteObject/DeleteDC of markerBitmap, outlineDC and outlineBitmap; sets them to none.
void releaseGdiObjects();

} // namespace vexel
