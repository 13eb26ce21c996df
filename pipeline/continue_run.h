// The continue driver: mask prepass, image prepass (ending with the dialog), render pass.
#pragma once

#include <cstdint>

namespace vexel {

void continueRun();

} // namespace vexel
