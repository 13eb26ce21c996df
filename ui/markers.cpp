#include "ui/markers.h"

#include <algorithm>
#include <cmath>

#include "host/int_math.h"
#include "host/plugin_globals.h"

namespace vexel {

CenterMove planCenterMove(std::int16_t x, std::int16_t y, std::int16_t fromOverview) {
    // Doubled in 32 bits, so a far-off captured position cannot wrap onto the opposite edge.
    const std::int32_t factor = fromOverview != 0 ? 2 : 1;
    const std::int32_t wideX = std::min<std::int32_t>(std::max<std::int32_t>(x * factor, 0),
                                                      std::int32_t{g.geometry.previewWidth} - 1);
    const std::int32_t wideY = std::min<std::int32_t>(std::max<std::int32_t>(y * factor, 0),
                                                      std::int32_t{g.geometry.previewHeight} - 1);
    const std::int16_t newX = wrap16(wideX);
    const std::int16_t newY = wrap16(wideY);
    if (newX == g.settings.previewCenterX && newY == g.settings.previewCenterY)
        return {false, newX, newY, 0};
    const bool sameOverviewPixel =
        (((newX ^ g.settings.previewCenterX) | (newY ^ g.settings.previewCenterY)) & 0xFFFE) == 0;
    return {true, newX, newY, static_cast<std::int16_t>(sameOverviewPixel ? 1 : 0)};
}

LineOffset overviewDirection(std::int16_t angle) {
    // Multiplied first, then divided, with this value of pi: the end points depend on it.
    const double theta = angle * 3.14159265359 / 180;
    return {wrap16(static_cast<std::int32_t>(std::trunc(std::cos(theta) * 25.0))),
            wrap16(static_cast<std::int32_t>(std::trunc(std::sin(theta) * -25.0)))};
}

} // namespace vexel
