// The inner loop of the row kernel: blending a straight run of pixels with, for each plane, a
// straight run of samples. A plain path that runs everywhere and two vector paths (SSE2, AVX2),
// chosen once from what the processor offers; all give the same bytes.
#pragma once

#include <array>
#include <cstdint>

#include "effect/dispersion.h"

namespace vexel {

// Run k of `samples` supplies byte k of each pixel for plane k; a plane that keeps its own byte
// points at the original run, as plane 3 (the black plane, never displaced) always does.
using PlaneRuns = std::array<const std::uint8_t*, kMaxPlanes>;

enum class BlendPath : std::uint8_t { automatic, plain, sse2, avx2 };

// Whether this processor can take the path (SSE2 is always there on x86-64).
bool blendPathSupported(BlendPath path);
// The path blendRun takes. Tests and benchmarks force one; automatic (the default) takes the
// widest one supported, as does a forced path that is not.
void forceBlendPath(BlendPath path);
BlendPath activeBlendPath();

// out[i] = (original[i] x mixOriginal + sample x mixEffect) >> 8 for the `count` pixels of
// `planes` bytes, the sample of byte i being samples[i % planes][i]; planes past the fourth (more
// than four only beside the image mode's planes, as extra channels) take their own sample. The
// derived weights sum to 256; any others are blended byte by byte. `out` may be `original` itself.
void blendRun(int planes, std::uint8_t* out, const std::uint8_t* original, const PlaneRuns& samples,
              std::int32_t count, std::uint16_t mixOriginal, std::uint16_t mixEffect);
// The same for 16-bit samples (2 bytes each, native order, any alignment): the runs are byte
// addresses as above, sample i of the run starting at byte 2i; each blended value is computed in
// 32 bits and stored as 16. Samples above 32768 (hosts that use 0..65535) blend the same way.
void blendRun16(int planes, std::uint8_t* out, const std::uint8_t* original,
                const PlaneRuns& samples, std::int32_t count, std::uint16_t mixOriginal,
                std::uint16_t mixEffect);

} // namespace vexel
