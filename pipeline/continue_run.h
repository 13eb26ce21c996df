// The continue driver: mask prepass, image prepass (ending with the dialog), render pass.
#pragma once

#include <cstdint>

namespace vexel {

void continueRun();
void readMaskRow();
void maskRowToBits(const std::uint8_t* mask);
void copyWorkRow();
void reportProgress(std::int32_t done, std::int32_t total);

} // namespace vexel
