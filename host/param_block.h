// The 20-byte saved settings record the host keeps in its parameters handle, and the three
// fixed-point conversions between image, preview and work pixels.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "host/plugin_globals.h"

namespace vexel {

struct ParamBlock {
    std::int16_t centerX = 0;
    std::int16_t centerY = 0;
    std::int16_t angle = 0;
    std::int16_t stretch = 20;
    std::int16_t strength = 50;
    std::int16_t height = 50;
    std::int16_t width = 50;
    std::int32_t showDialog = 1;
};

inline constexpr std::int32_t kParamBlockBytes = 20;
inline constexpr std::size_t kShowDialogOffset = 16;

// Little-endian codec of the persistent layout (bytes 14..15 are reserved and left alone).
ParamBlock decodeParamBlock(std::span<const std::uint8_t, kParamBlockBytes> bytes);
void encodeParamBlock(const ParamBlock& block, std::span<std::uint8_t, kParamBlockBytes> bytes);

// The five settings from a block into the working values the dialog and the transform use.
void loadSettings(const ParamBlock& block, Settings& settings);

void ensureParamBlock();
void markShowDialog(std::uint8_t flag);
std::int32_t readShowDialog();
struct PreviewPoint {
    std::int16_t x;
    std::int16_t y;
};
PreviewPoint readPreviewCenter();
// The dialog result of OK; every other result of the parameter dialog is a cancel.
inline constexpr std::int16_t kDialogOk = 1;
inline constexpr std::int16_t kDialogFailed = -1; // the dialog could not be created
void runDialogIfRequested();
// Locks the host's block and returns its 20 bytes, or nullptr when the host holds none or hands
// back a block too small to be ours. Pair with unlockParamBlock.
std::uint8_t* lockParamBlock();
void unlockParamBlock();

std::int16_t imageToPreview(std::int16_t v);
std::int16_t previewToImage(std::int16_t v);
std::int16_t previewToWork(std::int16_t v);

} // namespace vexel
