// PLACEHOLDER: replaced by the preview window class registration.
#include "host/platform.h"
namespace vexel {
void registerViewClasses() {}
void unregisterViewClasses() {}
} // namespace vexel
