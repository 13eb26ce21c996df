// Whole rows of the final pass, produced column by column for now.
#include "effect/dispersion.h"
#include "host/int_math.h"
#include "host/plugin_globals.h"

namespace vexel {

std::int16_t transformRow(std::uint8_t* destination, std::int16_t columns) {
    for (std::int16_t column = 0; column < columns; ++column) {
        g.posX = withWholePart(g.posX, column);
        const std::int16_t missing = transformPixel(destination);
        if (missing >= 0) return missing;
        destination += g.planeCount;
    }
    return -1;
}

} // namespace vexel
