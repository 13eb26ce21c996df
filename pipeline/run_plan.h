// Start's memory plan against the host's budget, the preview geometry, the one release routine
// for every run resource, and the step into the final pass.
#pragma once

#include <cstdint>

#include "host/plugin_globals.h"

namespace vexel {

// Four rows of the widest preview (512 pixels): four planes for the strip, padded 24-bit rows for
// the device-independent bitmap.
inline constexpr std::int32_t kPreviewStripBytes = 4 * 512 * 4;
inline constexpr std::int32_t kDibBufferBytes = 4 * ((512 * 3 + 3) & ~3);
static_assert(kPreviewStripBytes == 8192 && kDibBufferBytes == 6144);

void planRun();
// The preview that fits a control of width x height for the geometry's work image and step.
void computePreviewGeometry(RunGeometry& geometry, std::int16_t width, std::int16_t height);
// The mask geometry of the current preview size and its three blocks (selection bits, outline
// scratch with one extra row, and the mask rows between two guard rows). False, with none of
// them held, when a block cannot be had.
bool allocateMaskBuffers();
// Frees every buffer and object of the run and unregisters the classes; the run is no longer
// planned. Safe to call any number of times.
void releaseRunResources();
// After the prepass's release and the row cache: the transform's grid becomes the whole image,
// no host row is held yet, and the run is planned again for the final pass.
void enterFinalPass();

} // namespace vexel
