// Start's memory plan against the host's budget, the preview geometry, and the one release
// routine for every run resource.
#pragma once

#include <cstdint>

namespace vexel {

void planRun();
void computePreviewGeometry(std::int16_t width, std::int16_t height);
void releaseRunResources();

} // namespace vexel
