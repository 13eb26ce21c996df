// PLACEHOLDER: replaced by the memory plan, preview geometry and release.
#include "pipeline/run_plan.h"
namespace vexel {
void planRun() {}
void computePreviewGeometry(std::int16_t, std::int16_t) {}
void releaseRunResources() {}
} // namespace vexel
