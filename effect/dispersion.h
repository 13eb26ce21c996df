// The dispersion effect: values derived from the settings and the per-pixel transform, shared by
// the preview and the final pass.
#pragma once

#include <cstdint>

namespace vexel {

std::int16_t saturatingProduct(std::int16_t a, std::int16_t b);
void deriveEffect(std::int32_t scale);
// Writes planeCount bytes and returns -1, or writes nothing and returns the missing row.
std::int16_t transformPixel(std::uint8_t* destination);

} // namespace vexel
