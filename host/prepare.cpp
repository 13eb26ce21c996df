// PLACEHOLDER: replaced by the real Prepare selector.
#include "host/dispatch.h"
namespace vexel {
void prepareGeometry() {}
} // namespace vexel
