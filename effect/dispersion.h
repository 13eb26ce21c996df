// The dispersion effect: values derived from the settings and the per-pixel transform, shared by
// the preview and the final pass.
#pragma once

#include <cstdint>

#include "host/plugin_globals.h"

namespace vexel {

inline constexpr int kMaxPlanes = 4;
inline constexpr int kDisplacedPlanes = 3; // plane 3, the black plane of CMYK, keeps its own byte

// The planes the effect works on: planeCount, bounded to what a pixel can hold.
int transformPlanes();
// The planes of one pixel of the rows it reads and writes: these and, in the render pass, every
// further plane the host has, which is copied unchanged.
int transformPixelPlanes();
// Bytes of one sample (1, or 2 for 16-bit images) and of one such pixel.
int transformSampleBytes();
int transformPixelBytes();

std::int16_t saturatingProduct(std::int16_t a, std::int16_t b);
// The rectangle's half extents, the plane steps and the blend weights from the settings, for a
// grid of `scale` (16.16) grid pixels per preview pixel. The centre is the caller's to set.
void deriveEffect(Effect& effect, const Settings& settings, std::int16_t previewMax,
                  std::int32_t scale);
// The pixel at g.production.posX/posY, where the fetch operations read it too: writes the whole
// pixel (the planes past planeCount as they are) and returns -1, or writes nothing and returns the
// missing row.
std::int16_t transformPixel(const Effect& effect, std::uint8_t* destination);
// The whole row at posY, columns 0 .. columns-1 (posX's whole part is set to each column in turn,
// its fraction kept). Byte-identical to calling transformPixel column by column: returns -1 when
// every pixel was written, else the missing row transformPixel would have reported first (pixels
// before that point may already be written).
std::int16_t transformRow(const Effect& effect, std::uint8_t* destination, std::int16_t columns);

} // namespace vexel
