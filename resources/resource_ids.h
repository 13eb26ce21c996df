// Ids of the module's own resources that the code loads: the about-box strings and the items of
// the parameter dialog template FILTERDLG (vexel.rc holds the resources themselves).
#pragma once

#include <cstdint>

namespace vexel::res {

inline constexpr const char* kDialogTemplate = "FILTERDLG";

// The resource languages of the user's texts (vexel.rc says why the Chinese ones carry English).
inline constexpr std::uint16_t kChineseTextsLanguage = 0x0409;
inline constexpr std::uint16_t kEnglishTextsLanguage = 0x0009;

// String table entries of the about box and the LoadStringA buffers they are read into; the
// texts fit these buffers (terminator included) in code page 936.
inline constexpr int kAboutTextString = 1;
inline constexpr int kAboutCaptionString = 2;
inline constexpr int kAboutTextBufferBytes = 256;
inline constexpr int kAboutCaptionBufferBytes = 60;

// Dialog items.
inline constexpr int kBigView = 100;
inline constexpr int kSmallView = 101;
inline constexpr int kPreviewButton = 102;
inline constexpr int kRestoreButton = 103;
inline constexpr int kOkButton = 1;     // IDOK
inline constexpr int kCancelButton = 2; // IDCANCEL

// One value row: right-aligned label, edit box and horizontal scroll bar.
struct ValueRowIds {
    int label;
    int edit;
    int scrollBar;
};
inline constexpr ValueRowIds kStretchRow{440, 441, 442};
inline constexpr ValueRowIds kAngleRow{152, 153, 154};
inline constexpr ValueRowIds kHeightRow{155, 156, 157};
inline constexpr ValueRowIds kWidthRow{109, 114, 119};
inline constexpr ValueRowIds kStrengthRow{112, 117, 122};

} // namespace vexel::res
