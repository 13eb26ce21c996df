// PLACEHOLDER: replaced by the warning and about boxes.
#include "host/platform.h"
namespace vexel {
void showWarning(const char*) {}
void showAboutBox() {}
} // namespace vexel
