// The dispersion effect. Inside a rectangle around the centre, plane k of a pixel is taken k + 1
// steps away along the chosen direction and blended with the pixel itself; outside it the pixel is
// copied. The transform reaches source pixels only through the fetch operations of the row cache,
// so the preview and both kinds of final pass share it.
#include "effect/dispersion.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "host/int_math.h"
#include "host/plugin_globals.h"
#include "pipeline/row_cache.h"

namespace vexel {

namespace {

// Not the full-precision constant: the steps are defined with this value, and it decides where
// they truncate (60 degrees at stretch 100 gives 1249999, not 1250000).
constexpr double kPi = 3.14159265359;
constexpr double kStepPerStretch = 25000.0; // 16.16 grid pixels per plane and stretch unit

// The 32-bit build computes in the x87's extended precision; a store through a volatile rounds each
// intermediate to a double, as the steps are defined.
double roundedToDouble(double value) {
    volatile double stored = value;
    return stored;
}

std::int32_t truncateToInt32(double value) {
    if (!(value > -2147483649.0)) return INT32_MIN; // NaN cannot occur, but must not be converted
    if (value >= 2147483648.0) return INT32_MAX;
    return static_cast<std::int32_t>(value);
}

// Half extent of the rectangle in grid pixels: twice the setting's share of the preview, scaled.
std::int16_t halfExtent(std::int16_t setting, std::int16_t previewMax, std::int32_t scale) {
    return wrap16(mulWrap32(saturatingProduct(setting, previewMax), scale) >> 15);
}

bool insideEffect(const Effect& effect, std::int16_t dx, std::int16_t dy) {
    return -effect.halfWidth < dx && dx < effect.halfWidth && -effect.halfHeight < dy &&
           dy < effect.halfHeight;
}

std::uint8_t blend(const Effect& effect, std::uint8_t original, std::uint8_t sample) {
    return static_cast<std::uint8_t>(
        (std::uint32_t{original} * effect.mixOriginal + std::uint32_t{sample} * effect.mixEffect) >>
        8);
}

} // namespace

int transformPlanes() {
    return std::clamp<int>(g.geometry.planeCount, 0, kMaxPlanes);
}

std::int16_t saturatingProduct(std::int16_t a, std::int16_t b) {
    const std::int32_t rounded = (std::int32_t{a} * std::int32_t{b} + 128) >> 8;
    return static_cast<std::int16_t>(std::clamp(rounded, -32767, 32767));
}

void deriveEffect(Effect& effect, const Settings& settings, std::int16_t previewMax,
                  std::int32_t scale) {
    const double angleRad = roundedToDouble(roundedToDouble(settings.angle * kPi) / 180.0);
    effect.halfHeight = halfExtent(settings.height, previewMax, scale);
    effect.halfWidth = halfExtent(settings.width, previewMax, scale);
    const double cosine = roundedToDouble(std::cos(angleRad));
    const double sine = roundedToDouble(std::sin(angleRad));
    effect.stepX = truncateToInt32(
        roundedToDouble(roundedToDouble(cosine * settings.stretch) * kStepPerStretch));
    effect.stepY = truncateToInt32(
        roundedToDouble(roundedToDouble(sine * settings.stretch) * kStepPerStretch));
    // A stored strength outside 0..100 would give weights whose blend overflows a byte.
    const std::int32_t strength = std::clamp<std::int32_t>(settings.strength, 0, 100);
    effect.mixEffect = static_cast<std::uint16_t>(strength * 256 / 100);
    effect.mixOriginal = static_cast<std::uint16_t>(256 - effect.mixEffect);
}

std::int16_t transformPixel(const Effect& effect, std::uint8_t* destination) {
    const std::uint8_t* original = originalPixel();
    if (original == kPixelMissing) return wrap16(wholePart(g.production.posY));
    const int planes = transformPlanes();
    const std::int16_t dx = wrap16(wholePart(g.production.posX) - effect.gridCenterX);
    const std::int16_t dy = wrap16(wholePart(g.production.posY) - effect.gridCenterY);
    if (!insideEffect(effect, dx, dy)) {
        std::memcpy(destination, original, static_cast<std::size_t>(planes));
        return -1;
    }
    std::array<std::uint8_t, kMaxPlanes> sample{};
    std::int32_t x = g.production.posX;
    std::int32_t y = g.production.posY;
    const auto count = static_cast<std::size_t>(planes);
    for (std::size_t k = 0; k < count; ++k) {
        x = subWrap32(x, effect.stepX);
        y = addWrap32(y, effect.stepY);
        if (k >= kDisplacedPlanes) {
            sample[k] = original[k];
            continue;
        }
        const std::uint8_t* source = sourcePixel(wrap16(wholePart(x)), wrap16(wholePart(y)));
        if (source == kPixelMissing) return wrap16(wholePart(y));
        sample[k] = source == kPixelOutside ? original[k] : source[k];
    }
    for (std::size_t k = 0; k < count; ++k)
        destination[k] = blend(effect, original[k], sample[k]);
    return -1;
}

} // namespace vexel
