// The dialog's row and scroll-bar arithmetic, and the centre moves and direction line of the
// preview markers.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/plugin_globals.h"
#include "host/user_texts.h"
#include "tests/unit/test_support.h"
#include "ui/dialog_logic.h"
#include "ui/markers.h"

namespace vexel {
namespace {

// Scroll codes as the scroll bar sends them.
constexpr std::uint16_t kLineLeft = 0, kLineRight = 1, kPageLeft = 2, kPageRight = 3,
                        kThumbPosition = 4, kThumbTrack = 5, kLeft = 6, kRight = 7, kEndScroll = 8;

// Where a code leaves a bar: the proposal clamped into its range.
std::optional<std::int16_t> scrolledTo(std::uint16_t code, std::int16_t current, std::int16_t min,
                                       std::int16_t max, std::int16_t thumb = 0) {
    const auto proposed = proposedScrollPosition(code, current, thumb, min, max);
    if (!proposed) return std::nullopt;
    return clampToRange(*proposed, min, max);
}

TEST(ScrollCodes, PageStepsLandOnMultiplesOfTen) {
    EXPECT_EQ(scrolledTo(kPageRight, 25, 0, 100), 30);
    EXPECT_EQ(scrolledTo(kPageRight, 30, 0, 100), 40);
    EXPECT_EQ(scrolledTo(kPageLeft, 25, 0, 100), 20);
    EXPECT_EQ(scrolledTo(kPageLeft, 20, 0, 100), 10);
    EXPECT_EQ(scrolledTo(kPageRight, 95, 0, 100), 100);
    EXPECT_EQ(scrolledTo(kPageRight, 355, 0, 360), 360);
}

TEST(ScrollCodes, StepsPastTheEndsAreClamped) {
    // At 100 a page right proposes 110, clamped back to where the bar already is.
    EXPECT_EQ(proposedScrollPosition(kPageRight, 100, 0, 0, 100), 110);
    EXPECT_EQ(scrolledTo(kPageRight, 100, 0, 100), 100);
    // Height bar: from 5 a page left proposes 0, clamped to the minimum 5.
    EXPECT_EQ(proposedScrollPosition(kPageLeft, 5, 0, 5, 100), 0);
    EXPECT_EQ(scrolledTo(kPageLeft, 5, 5, 100), 5);
    // Strength bar at 0: (0 - 1) / 10 truncates to 0, so nothing moves below the range.
    EXPECT_EQ(proposedScrollPosition(kPageLeft, 0, 0, 0, 100), 0);
    EXPECT_EQ(scrolledTo(kLineLeft, 0, 0, 100), 0);
    EXPECT_EQ(scrolledTo(kLineRight, 360, 0, 360), 360);
    EXPECT_EQ(scrolledTo(kThumbTrack, 50, 1, 100, 250), 100);
    EXPECT_EQ(scrolledTo(kThumbTrack, 50, 1, 100, -3), 1);
}

TEST(ScrollCodes, LineThumbAndEndCodes) {
    EXPECT_EQ(scrolledTo(kLineLeft, 42, 0, 100), 41);
    EXPECT_EQ(scrolledTo(kLineRight, 42, 0, 100), 43);
    EXPECT_EQ(scrolledTo(kThumbPosition, 42, 0, 360, 275), 275);
    EXPECT_EQ(scrolledTo(kThumbTrack, 42, 0, 360, 7), 7);
    EXPECT_EQ(scrolledTo(kLeft, 42, 5, 100), 5);
    EXPECT_EQ(scrolledTo(kRight, 42, 5, 100), 100);
    EXPECT_EQ(scrolledTo(kEndScroll, 42, 0, 100), std::nullopt);
    EXPECT_EQ(scrolledTo(9, 42, 0, 100), std::nullopt);
    EXPECT_EQ(scrolledTo(0xFFFF, 42, 0, 100), std::nullopt);
}

TEST(ValueRows, TextCountsOnlyWhenParsedAndInRange) {
    // Empty text and "-5" fail the unsigned parse.
    EXPECT_EQ(rowValueFromText(false, 0, 0, 360), -1);
    EXPECT_EQ(rowValueFromText(false, 5, 0, 360), -1);
    EXPECT_EQ(rowValueFromText(true, 400, 0, 360), -1);
    EXPECT_EQ(rowValueFromText(true, 360, 0, 360), 360);
    EXPECT_EQ(rowValueFromText(true, 0, 0, 360), 0);
    EXPECT_EQ(rowValueFromText(true, 4, 5, 100), -1);
    EXPECT_EQ(rowValueFromText(true, 5, 5, 100), 5);
    EXPECT_EQ(rowValueFromText(true, 101, 5, 100), -1);
    // A number whose low 16 bits fall in range is still out of range.
    EXPECT_EQ(rowValueFromText(true, 65541, 5, 100), -1);
    EXPECT_EQ(rowValueFromText(true, 0xFFFFFFFFu, 0, 100), -1);
}

TEST(ValueRows, EveryRowTakesThreeCharacters) {
    for (const ValueRow& row : kValueRows)
        EXPECT_EQ(editTextLimit(row.min, row.max), 3);
    EXPECT_EQ(editTextLimit(0, 99), 2);
    EXPECT_EQ(editTextLimit(-5, 99), 3);
    EXPECT_EQ(editTextLimit(-5, 100), 4);
}

TEST(CenterDialog, CentresAndNeverStartsOffScreen) {
    EXPECT_EQ(centredOrigin(1280, 700), 290);
    EXPECT_EQ(centredOrigin(1025, 700), 162);
    EXPECT_EQ(centredOrigin(600, 700), 0);
    EXPECT_EQ(centredOrigin(700, 700), 0);
}

TEST(StartingCenter, UnsetXTakesTheMiddleAndEverySavedCentreStaysInside) {
    auto starts = [](PreviewPoint saved, std::int16_t w, std::int16_t h) {
        const PreviewPoint p = startingPreviewCenter(saved, w, h);
        return std::pair<int, int>{p.x, p.y};
    };
    using P = std::pair<int, int>;
    // x 0 means no saved centre, whatever y holds; the middle truncates.
    EXPECT_EQ(starts({0, 0}, 270, 162), P(135, 81));
    EXPECT_EQ(starts({0, 17}, 271, 163), P(135, 81));
    EXPECT_EQ(starts({40, 0}, 270, 162), P(40, 0));
    EXPECT_EQ(starts({269, 161}, 270, 162), P(269, 161));
    // A centre saved for a larger preview, or below zero, lands on the nearest edge pixel.
    EXPECT_EQ(starts({270, 162}, 270, 162), P(269, 161));
    EXPECT_EQ(starts({-3, -8}, 270, 162), P(0, 0));
    EXPECT_EQ(starts({1, 30000}, 1, 1), P(0, 0));
    EXPECT_EQ(starts({0, 5}, 0, 0), P(0, 0));
}

class CenterMoves : public ::testing::Test {
  protected:
    void SetUp() override {
        testing::resetModuleState();
        g.geometry.previewWidth = 270;
        g.geometry.previewHeight = 162;
    }
    void centreAt(std::int16_t x, std::int16_t y) {
        g.settings.previewCenterX = x;
        g.settings.previewCenterY = y;
    }
};

TEST_F(CenterMoves, ScopeOneOnlyInsideTheSameOverviewPixel) {
    centreAt(11, 20);
    CenterMove move = planCenterMove(10, 20, 0);
    EXPECT_TRUE(move.moves);
    EXPECT_EQ(move.scope, 1);
    EXPECT_EQ(move.x, 10);
    EXPECT_EQ(move.y, 20);

    centreAt(10, 20);
    move = planCenterMove(12, 20, 0);
    EXPECT_TRUE(move.moves);
    EXPECT_EQ(move.scope, 0);

    centreAt(10, 20);
    EXPECT_EQ(planCenterMove(11, 21, 0).scope, 1);
    EXPECT_EQ(planCenterMove(10, 22, 0).scope, 0);
    EXPECT_EQ(planCenterMove(9, 20, 0).scope, 0);
}

TEST_F(CenterMoves, ClickOnTheCentreMovesNothing) {
    centreAt(100, 50);
    EXPECT_FALSE(planCenterMove(100, 50, 0).moves);
    EXPECT_FALSE(planCenterMove(50, 25, 1).moves);
    // Clamped onto the current centre counts as no move too.
    centreAt(269, 0);
    EXPECT_FALSE(planCenterMove(400, -30, 0).moves);
}

TEST_F(CenterMoves, PositionsAreClampedToThePreview) {
    centreAt(100, 50);
    CenterMove move = planCenterMove(300, -7, 0);
    EXPECT_EQ(move.x, 269);
    EXPECT_EQ(move.y, 0);
    move = planCenterMove(-1, 500, 0);
    EXPECT_EQ(move.x, 0);
    EXPECT_EQ(move.y, 161);
}

TEST_F(CenterMoves, OverviewPositionsCountDouble) {
    centreAt(100, 50);
    CenterMove move = planCenterMove(33, 40, 1);
    EXPECT_EQ(move.x, 66);
    EXPECT_EQ(move.y, 80);
    move = planCenterMove(135, 81, 1); // 270, 162: one past the last pixel
    EXPECT_EQ(move.x, 269);
    EXPECT_EQ(move.y, 161);
    // Far outside while captured: stays on the near edge instead of wrapping to the far one.
    move = planCenterMove(-20000, 20000, 1);
    EXPECT_EQ(move.x, 0);
    EXPECT_EQ(move.y, 161);
}

TEST(OverviewDirection, EndPointsOfTheTwentyFivePixelLine) {
    struct Case {
        std::int16_t angle, dx, dy;
    };
    // cos and sin times 25, truncated toward zero; y grows downward on the screen.
    const Case cases[] = {{0, 25, 0},   {30, 21, -12},   {45, 17, -17}, {60, 12, -21},
                          {90, 0, -25}, {135, -17, -17}, {180, -25, 0}, {225, -17, 17},
                          {270, 0, 25}, {315, 17, 17},   {360, 25, 0}};
    for (const Case& c : cases) {
        const LineOffset end = overviewDirection(c.angle);
        EXPECT_EQ(end.dx, c.dx) << "angle " << c.angle;
        EXPECT_EQ(end.dy, c.dy) << "angle " << c.angle;
    }
}

// The live preview driven by a sequence of dialog events, with the one-shot timer modelled: each
// letter is one event, and the result counts the renders and says whether a render is still due.
//   o open, c accepted change, x rejected change (invalid text or no new value), t timer fires
//   (only while it runs), i a setting turns invalid, v it turns valid, p Preview, r Restore
struct LiveRun {
    int renders;
    bool timerRunning;
    bool effectAtOpening;
};

LiveRun runLive(const std::string& events, Settings settings) {
    LiveState live;
    LiveRun run{0, false, false};
    auto apply = [&](const LiveSteps& steps) {
        if (steps.stopTimer) run.timerRunning = false;
        if (steps.startTimer) run.timerRunning = true;
        if (steps.render) ++run.renders;
    };
    for (const char event : events) {
        switch (event) {
        case 'o':
            run.effectAtOpening = liveOpensWithEffect(live, settings);
            break;
        case 'c':
        case 'x':
            apply(liveAfterChange(live, event == 'c'));
            break;
        case 't':
            if (run.timerRunning) apply(liveAfterTimer(live, settings));
            break;
        case 'i':
            settings.width = -1;
            break;
        case 'v':
            settings.width = 40;
            break;
        case 'p':
            apply(liveAfterPreview(live));
            break;
        case 'r':
            apply(liveAfterStop(live));
            break;
        default:
            ADD_FAILURE() << "unknown event " << event;
        }
    }
    return run;
}

Settings validSettings() {
    return Settings{.angle = 90, .stretch = 30, .strength = 75, .height = 20, .width = 40};
}

TEST(LivePreview, RendersOnceAfterEachPauseInTheChanges) {
    struct Case {
        const char* events;
        int renders;
        bool stillDue;
    };
    const Case cases[] = {
        {"o", 0, false},       // the opening paint draws the effect; no timer
        {"oc", 0, true},       // a change waits for the pause
        {"oct", 1, false},     // and renders once it comes
        {"occccct", 1, false}, // a burst is one render
        {"octct", 2, false},   // every pause renders
        {"ox", 0, false},      // an invalid text (or no new value) renders nothing
        {"octxt", 1, false},   // and leaves the last preview
        {"ocit", 0, false},    // a setting invalid by the time the timer fires: nothing
        {"ocivct", 1, false},  // valid again: the next pause renders
        {"ocrt", 0, false},    // Restore drops what was due
        {"orct", 0, false},    // and stops the live preview
        {"orcpct", 1, false},  // until Preview turns it on again
        {"ocp", 0, false},     // Preview renders itself; nothing stays due
    };
    for (const Case& c : cases) {
        const LiveRun run = runLive(c.events, validSettings());
        EXPECT_EQ(run.renders, c.renders) << c.events;
        EXPECT_EQ(run.timerRunning, c.stillDue) << c.events;
    }
}

TEST(LivePreview, OpensWithTheEffectOnlyWhenEveryValueIsValid) {
    EXPECT_TRUE(runLive("o", validSettings()).effectAtOpening);
    for (std::int16_t Settings::*field : {&Settings::stretch, &Settings::angle, &Settings::height,
                                          &Settings::width, &Settings::strength}) {
        Settings settings = validSettings();
        settings.*field = -1;
        const LiveRun run = runLive("oc", settings);
        EXPECT_FALSE(run.effectAtOpening);
        // Live all the same: once the value is corrected, the change is drawn.
        EXPECT_EQ(runLive("ovct", settings).renders, field == &Settings::width ? 1 : 0);
    }
}

TEST(LivePreview, OnlyANewValidRowValueIsAChange) {
    EXPECT_TRUE(rowChangeAccepted(40, 41));
    EXPECT_TRUE(rowChangeAccepted(-1, 40)); // corrected text
    EXPECT_TRUE(rowChangeAccepted(5, 0));
    EXPECT_FALSE(rowChangeAccepted(40, 40)); // focus notifications re-read the same text
    EXPECT_FALSE(rowChangeAccepted(40, -1));
    EXPECT_FALSE(rowChangeAccepted(-1, -1));
}

TEST(UserTexts, ChineseForEveryChineseUiLanguageEnglishForTheRest) {
    for (const std::uint16_t chinese :
         {0x0804, 0x0404, 0x0C04, 0x1004, 0x1404, 0x0004, 0x7804, 0x7C04})
        EXPECT_EQ(textsLanguageFor(chinese), res::kChineseTextsLanguage) << std::hex << chinese;
    // English, German, French, Japanese, Korean, Russian, and the neutral and default ids.
    for (const std::uint16_t other :
         {0x0409, 0x0809, 0x0407, 0x040C, 0x0411, 0x0412, 0x0419, 0x0000, 0x0400, 0x0800, 0x0C00})
        EXPECT_EQ(textsLanguageFor(other), res::kEnglishTextsLanguage) << std::hex << other;
    EXPECT_NE(res::kChineseTextsLanguage, res::kEnglishTextsLanguage);
}

TEST(UserTexts, StringsAreFoundByTheirPlaceInTheBlock) {
    // Counted UTF-16 strings one after the other: "" (0), "Ab" (1), "c" (2), and no more.
    const std::uint8_t block[] = {0, 0, 2, 0, 'A', 0, 'b', 0, 1, 0, 'c', 0};
    const std::span<const std::uint8_t> whole(block);
    auto bytesOf = [](std::span<const std::uint8_t> s) {
        return std::vector<std::uint8_t>(s.begin(), s.end());
    };
    EXPECT_TRUE(tableString(whole, 0).empty());
    EXPECT_EQ(bytesOf(tableString(whole, 1)), (std::vector<std::uint8_t>{'A', 0, 'b', 0}));
    EXPECT_EQ(bytesOf(tableString(whole, 2)), (std::vector<std::uint8_t>{'c', 0}));
    // Past the end, or a count running past it, gives nothing instead of stray bytes.
    EXPECT_TRUE(tableString(whole, 3).empty());
    EXPECT_TRUE(tableString(whole.first(7), 1).empty());
    EXPECT_TRUE(tableString(whole.first(1), 0).empty());
}

} // namespace
} // namespace vexel
