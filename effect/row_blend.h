// The inner loop of the row kernel: blending a straight run of pixels with, for each plane, a
// straight run of samples. A plain path that runs everywhere and an SSE2 path, chosen once from
// what the processor offers; both give the same bytes.
#pragma once

#include <array>
#include <cstdint>

#include "effect/dispersion.h"

namespace vexel {

// Run i of `samples` supplies byte k of pixel i for plane k; a plane that keeps its own byte points
// at the original run.
using PlaneRuns = std::array<const std::uint8_t*, kMaxPlanes>;

enum class BlendPath : std::uint8_t { automatic, plain, vector };

// Where the vector path can run: always on x86-64, with SSE2 on i686, never elsewhere.
bool vectorBlendSupported();
// The path blendRun takes. Tests and benchmarks force one; automatic (the default) takes the
// vector path where it is supported. Forcing the vector path where it is not supported keeps the
// plain one.
void forceBlendPath(BlendPath path);
BlendPath activeBlendPath();

// out[i] = (original[i] x mixOriginal + sample x mixEffect) >> 8 for the `count` pixels of
// `planes` bytes, the sample of byte i being samples[i % planes][i]. The weights sum to 256.
void blendRun(int planes, std::uint8_t* out, const std::uint8_t* original, const PlaneRuns& samples,
              std::int32_t count, std::uint16_t mixOriginal, std::uint16_t mixEffect);

// The plain path alone, whatever is chosen.
void blendRunPlain(int planes, std::uint8_t* out, const std::uint8_t* original,
                   const PlaneRuns& samples, std::int32_t count, std::uint16_t mixOriginal,
                   std::uint16_t mixEffect);

} // namespace vexel
