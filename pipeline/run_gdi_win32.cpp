// PLACEHOLDER: replaced by the run's GDI objects.
#include "host/platform.h"
namespace vexel {
void createMarkerBitmap() {}
bool createOutlineBitmap(std::int32_t, std::int32_t) { return false; }
void releaseGdiObjects() {}
} // namespace vexel
