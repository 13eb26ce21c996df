// PLACEHOLDER: replaced by the dispersion transform.
#include "effect/dispersion.h"
namespace vexel {
std::int16_t saturatingProduct(std::int16_t, std::int16_t) { return 0; }
void deriveEffect(std::int32_t) {}
std::int16_t transformPixel(std::uint8_t*) { return -1; }
} // namespace vexel
