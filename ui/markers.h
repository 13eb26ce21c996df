// Decorations over the preview windows (centre marker, effect frame, overview rectangle and
// direction indicator) and moving the centre with the mouse.
#pragma once

#include <cstdint>

namespace vexel {

void drawMarkers(std::int16_t scope);
void showEffectFrame(std::int16_t state, std::int16_t x, std::int16_t y);
void moveCenter(std::int16_t x, std::int16_t y, std::int16_t fromOverview);

} // namespace vexel
