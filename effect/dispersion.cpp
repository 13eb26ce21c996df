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

// The blend of 8- and 16-bit samples alike: 32-bit sums, stored in the sample's width. The
// weights sum to 256, so the result never exceeds the larger of the two samples.
std::uint32_t blend(const Effect& effect, std::uint32_t original, std::uint32_t sample) {
    return (original * effect.mixOriginal + sample * effect.mixEffect) >> 8;
}

std::uint32_t readSample(const std::uint8_t* pixel, std::size_t plane, int sampleBytes) {
    if (sampleBytes == 1) return pixel[plane];
    std::uint16_t value;
    std::memcpy(&value, pixel + 2 * plane, sizeof value);
    return value;
}

void writeSample(std::uint8_t* pixel, std::size_t plane, int sampleBytes, std::uint32_t value) {
    if (sampleBytes == 1) {
        pixel[plane] = static_cast<std::uint8_t>(value);
        return;
    }
    const auto narrowed = static_cast<std::uint16_t>(value);
    std::memcpy(pixel + 2 * plane, &narrowed, sizeof narrowed);
}

} // namespace

int transformPlanes() {
    return std::clamp<int>(g.geometry.planeCount, 0, kMaxPlanes);
}

int transformPixelPlanes() {
    return std::max(gridPixelPlanes(), transformPlanes());
}

int transformSampleBytes() {
    return g.geometry.sampleBytes == 2 ? 2 : 1;
}

int transformPixelBytes() {
    return transformPixelPlanes() * transformSampleBytes();
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
    const int sampleBytes = transformSampleBytes();
    const auto pixelBytes = static_cast<std::size_t>(transformPixelBytes());
    const std::int16_t dx = wrap16(wholePart(g.production.posX) - effect.gridCenterX);
    const std::int16_t dy = wrap16(wholePart(g.production.posY) - effect.gridCenterY);
    // Outside the rectangle every plane, inside it those past the effect's, keep their samples.
    if (!insideEffect(effect, dx, dy)) {
        std::memcpy(destination, original, pixelBytes);
        return -1;
    }
    std::array<std::uint32_t, kMaxPlanes> sample{};
    std::int32_t x = g.production.posX;
    std::int32_t y = g.production.posY;
    const auto count = static_cast<std::size_t>(planes);
    for (std::size_t k = 0; k < count; ++k) {
        x = subWrap32(x, effect.stepX);
        y = addWrap32(y, effect.stepY);
        if (k >= kDisplacedPlanes) {
            sample[k] = readSample(original, k, sampleBytes);
            continue;
        }
        const std::uint8_t* source = sourcePixel(wrap16(wholePart(x)), wrap16(wholePart(y)));
        if (source == kPixelMissing) return wrap16(wholePart(y));
        sample[k] = readSample(source == kPixelOutside ? original : source, k, sampleBytes);
    }
    const std::size_t effectBytes = count * static_cast<std::size_t>(sampleBytes);
    std::memcpy(destination + effectBytes, original + effectBytes, pixelBytes - effectBytes);
    for (std::size_t k = 0; k < count; ++k)
        writeSample(destination, k, sampleBytes,
                    blend(effect, readSample(original, k, sampleBytes), sample[k]));
    return -1;
}

} // namespace vexel
