// Decorations over the preview windows (centre marker, effect frame, overview rectangle and
// direction indicator) and moving the centre with the mouse.
#pragma once

#include <cstdint>

namespace vexel {

// Window-system side (markers_win32.cpp).
void drawMarkers(std::int16_t scope);
void showEffectFrame(std::int16_t state, std::int16_t x, std::int16_t y);
void moveCenter(std::int16_t x, std::int16_t y, std::int16_t fromOverview);

// Platform-free decisions (markers.cpp).

// Where a mouse position puts the centre and which scope the move redraws. A position from the
// overview counts double; the result is clamped to the big preview. moves is false when the
// centre would stay where it is.
struct CenterMove {
    bool moves;
    std::int16_t x;
    std::int16_t y;
    std::int16_t scope; // 1: same overview pixel, 0: the overview changes too
};
CenterMove planCenterMove(std::int16_t x, std::int16_t y, std::int16_t fromOverview);

// End point of the overview's direction line relative to the centre: 25 pixels along angle
// (0 right, 90 up), each part truncated toward zero.
struct LineOffset {
    std::int16_t dx;
    std::int16_t dy;
};
LineOffset overviewDirection(std::int16_t angle);

} // namespace vexel
