// PLACEHOLDER: replaced by the continue driver.
#include "pipeline/continue_run.h"
namespace vexel {
void continueRun() {}
void readMaskRow() {}
void maskRowToBits(const std::uint8_t*) {}
void copyWorkRow() {}
void reportProgress(std::int32_t, std::int32_t) {}
} // namespace vexel
