// The arithmetic behind the dialog's value rows and scroll bars, kept free of the window system
// so it can be checked natively.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "host/param_block.h"
#include "host/plugin_globals.h"
#include "resources/resource_ids.h"

namespace vexel {

// One value row: the setting it edits, its range and its controls. A row whose markers depend on
// the value has a redraw scope: its markers are removed and drawn again with that scope around
// each re-read.
struct ValueRow {
    std::int16_t Settings::*setting;
    std::int16_t min;
    std::int16_t max;
    int editId;
    int barId;
    std::optional<std::int16_t> redrawScope;
};

// In the order the rows are initialised and validated: angle, stretch, strength, height, width.
// Angle moves only the overview's direction line (-1); height and width also resize the effect
// frame (-2); stretch and strength are drawn nowhere before Preview.
inline constexpr std::array<ValueRow, 5> kValueRows{{
    {&Settings::angle, 0, 360, res::kAngleRow.edit, res::kAngleRow.scrollBar, -1},
    {&Settings::stretch, 1, 100, res::kStretchRow.edit, res::kStretchRow.scrollBar, {}},
    {&Settings::strength, 0, 100, res::kStrengthRow.edit, res::kStrengthRow.scrollBar, {}},
    {&Settings::height, 5, 100, res::kHeightRow.edit, res::kHeightRow.scrollBar, -2},
    {&Settings::width, 5, 100, res::kWidthRow.edit, res::kWidthRow.scrollBar, -2},
}};

const ValueRow* rowForEdit(int editId);
const ValueRow* rowForBar(int barId);

// The setting a row's text stands for: the parsed number when the parse succeeded and the number
// lies in [min, max], else -1.
std::int16_t rowValueFromText(bool translated, std::uint32_t parsed, std::int16_t min,
                              std::int16_t max);

// Characters an edit accepts: room for the largest magnitude and a sign.
std::int32_t editTextLimit(std::int16_t min, std::int16_t max);

// The position a scroll code proposes from the bar's current position, or nothing for
// SB_ENDSCROLL and above. Page steps land on multiples of 10.
std::optional<std::int16_t> proposedScrollPosition(std::uint16_t code, std::int16_t current,
                                                   std::int16_t thumb, std::int16_t min,
                                                   std::int16_t max);
std::int16_t clampToRange(std::int16_t value, std::int16_t min, std::int16_t max);

// The centre the dialog starts with, in preview pixels: the saved one, where x 0 counts as no
// centre (the middle of the preview is taken, whatever the saved y), kept inside the preview.
PreviewPoint startingPreviewCenter(PreviewPoint saved, std::int16_t previewWidth,
                                   std::int16_t previewHeight);

// Left or top edge that centres a window of the given size on the screen, never off its start.
std::int16_t centredOrigin(std::int32_t screenSize, std::int32_t windowSize);

// True when all five settings hold valid values, so the effect can be derived from them.
bool allSettingsValid(const Settings& settings);

// The live preview. It is on from the dialog's opening and from every Preview until Restore; while
// it is on, every accepted change (a row read back as a new valid value, or a click or drag of the
// centre ending) restarts a one-shot timer of the dialog, and when the changes have paused for its
// delay the big preview is drawn again with the effect. So a burst of changes (typing, dragging a
// scroll bar) costs one render, and no render queues up behind another.
inline constexpr std::uintptr_t kLivePreviewTimer = 2; // the outline's timer is 1
inline constexpr std::uint32_t kLivePreviewDelayMs = 100;

// What the dialog does with the live preview's timer and the big preview after an event.
struct LiveSteps {
    bool startTimer = false; // (re)start the one-shot timer: a render is due after the delay
    bool stopTimer = false;  // no render is due any more
    bool render = false;     // draw the big preview with the effect of the current settings
};

// A row read back: `before` and `after` are its setting's values around the read. Only a new
// valid value counts; an invalid text renders nothing and leaves the last preview.
bool rowChangeAccepted(std::int16_t before, std::int16_t after);
LiveSteps liveAfterChange(LiveState& live, bool accepted);
// The timer fired: it is stopped, and the effect is drawn unless the live preview went off or a
// setting has become invalid since the change.
LiveSteps liveAfterTimer(LiveState& live, const Settings& settings);
// Preview (with every row valid) draws the effect itself and turns the live preview on.
LiveSteps liveAfterPreview(LiveState& live);
// Restore, OK and Cancel turn it off; nothing pending renders.
LiveSteps liveAfterStop(LiveState& live);
// The dialog opens with the live preview on, showing the effect when the opening values allow it.
bool liveOpensWithEffect(LiveState& live, const Settings& settings);

} // namespace vexel
