// PLACEHOLDER: replaced by the parameter block codec and operations.
#include "host/param_block.h"
namespace vexel {
ParamBlock decodeParamBlock(std::span<const std::uint8_t, kParamBlockBytes>) { return {}; }
void encodeParamBlock(const ParamBlock&, std::span<std::uint8_t, kParamBlockBytes>) {}
void ensureParamBlock() {}
void markShowDialog(std::uint8_t) {}
std::int32_t readShowDialog() { return 1; }
PreviewPoint readPreviewCenter() { return {0, 0}; }
void runDialogIfRequested() {}
std::uint8_t* lockParamBlock() { return nullptr; }
void unlockParamBlock() {}
std::int16_t imageToPreview(std::int16_t v) { return v; }
std::int16_t previewToImage(std::int16_t v) { return v; }
std::int16_t previewToWork(std::int16_t v) { return v; }
} // namespace vexel
