#include "ui/dialog_logic.h"

#include "host/int_math.h"

namespace vexel {

const ValueRow* rowForEdit(int editId) {
    for (const ValueRow& row : kValueRows)
        if (row.editId == editId) return &row;
    return nullptr;
}

const ValueRow* rowForBar(int barId) {
    for (const ValueRow& row : kValueRows)
        if (row.barId == barId) return &row;
    return nullptr;
}

std::int16_t rowValueFromText(bool translated, std::uint32_t parsed, std::int16_t min,
                              std::int16_t max) {
    // The whole parsed number is compared, so text such as "65541" cannot pass as its low 16
    // bits (5).
    if (!translated || parsed > 0x7FFF) return -1;
    const auto value = static_cast<std::int16_t>(parsed);
    return (value >= min && value <= max) ? value : std::int16_t{-1};
}

std::int32_t editTextLimit(std::int16_t min, std::int16_t max) {
    return 2 + (max >= 100 ? 1 : 0) + (min < 0 ? 1 : 0);
}

std::optional<std::int16_t> proposedScrollPosition(std::uint16_t code, std::int16_t current,
                                                   std::int16_t thumb, std::int16_t min,
                                                   std::int16_t max) {
    switch (code) {
    case 0:
        return wrap16(current - 1); // SB_LINELEFT
    case 1:
        return wrap16(current + 1); // SB_LINERIGHT
    case 2:
        return wrap16(std::int64_t{wrap16(current - 1) / 10} * 10); // SB_PAGELEFT, truncating
    case 3:
        return wrap16(std::int64_t{current / 10 + 1} * 10); // SB_PAGERIGHT
    case 4:                                                 // SB_THUMBPOSITION
    case 5:
        return thumb; // SB_THUMBTRACK
    case 6:
        return min; // SB_LEFT
    case 7:
        return max; // SB_RIGHT
    default:
        return std::nullopt; // SB_ENDSCROLL and above
    }
}

std::int16_t clampToRange(std::int16_t value, std::int16_t min, std::int16_t max) {
    return min16(max16(value, min), max);
}

PreviewPoint startingPreviewCenter(PreviewPoint saved, std::int16_t previewWidth,
                                   std::int16_t previewHeight) {
    PreviewPoint center = saved;
    if (center.x == 0) center = {wrap16(previewWidth / 2), wrap16(previewHeight / 2)};
    const auto lastColumn = max16(wrap16(previewWidth - 1), 0);
    const auto lastRow = max16(wrap16(previewHeight - 1), 0);
    return {clampToRange(center.x, 0, lastColumn), clampToRange(center.y, 0, lastRow)};
}

std::int16_t centredOrigin(std::int32_t screenSize, std::int32_t windowSize) {
    const std::int16_t origin = wrap16(wrap16(std::int64_t{screenSize} - windowSize) / 2);
    return origin > 0 ? origin : std::int16_t{0};
}

bool allSettingsValid(const Settings& settings) {
    for (const ValueRow& row : kValueRows)
        if (settings.*row.setting < 0) return false;
    return true;
}

bool rowChangeAccepted(std::int16_t before, std::int16_t after) {
    return after >= 0 && after != before;
}

LiveSteps liveAfterChange(LiveState& live, bool accepted) {
    if (!accepted || live.on == 0) return {};
    live.renderDue = 1;
    return {.startTimer = true};
}

LiveSteps liveAfterTimer(LiveState& live, const Settings& settings) {
    const bool render = live.on != 0 && live.renderDue != 0 && allSettingsValid(settings);
    live.renderDue = 0;
    return {.stopTimer = true, .render = render};
}

LiveSteps liveAfterPreview(LiveState& live) {
    live.on = 1;
    live.renderDue = 0;
    return {.stopTimer = true};
}

LiveSteps liveAfterStop(LiveState& live) {
    live.on = 0;
    live.renderDue = 0;
    return {.stopTimer = true};
}

bool liveOpensWithEffect(LiveState& live, const Settings& settings) {
    live.on = 1;
    live.renderDue = 0;
    return allSettingsValid(settings);
}

} // namespace vexel
