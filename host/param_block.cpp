// The saved parameter block in the host's parameters handle, and the conversions between image,
// preview and work pixels.
#include "host/param_block.h"

#include "host/descriptor.h"
#include "host/int_math.h"
#include "host/memory.h"
#include "host/platform.h"
#include "host/plugin_globals.h"
#include "host/remembered_settings.h"

namespace vexel {

namespace {

std::int16_t readInt16(std::span<const std::uint8_t, kParamBlockBytes> bytes, std::size_t at) {
    return static_cast<std::int16_t>(bytes[at] | (bytes[at + 1] << 8));
}

void writeInt16(std::span<std::uint8_t, kParamBlockBytes> bytes, std::size_t at, std::int16_t v) {
    const auto u = static_cast<std::uint16_t>(v);
    bytes[at] = static_cast<std::uint8_t>(u & 0xFF);
    bytes[at + 1] = static_cast<std::uint8_t>(u >> 8);
}

void writeInt32(std::span<std::uint8_t, kParamBlockBytes> bytes, std::size_t at, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (std::size_t i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<std::uint8_t>(u >> (8 * i));
}

HostHandle hostParameters() {
    if (g.host.hostRecord == nullptr) return nullptr;
    return filterRecord().parameters;
}

// A handle the host hands back is only used when it is a block at least as large as ours; a
// smaller one is never read or written (it cannot be a block this module made).
bool isUsableBlock(HostHandle handle) {
    return handle != nullptr && blockSize(handle) >= static_cast<std::uint32_t>(kParamBlockBytes);
}

std::span<std::uint8_t, kParamBlockBytes> blockBytes(std::uint8_t* address) {
    return std::span<std::uint8_t, kParamBlockBytes>(address, kParamBlockBytes);
}

} // namespace

ParamBlock decodeParamBlock(std::span<const std::uint8_t, kParamBlockBytes> bytes) {
    ParamBlock block;
    block.centerX = readInt16(bytes, 0);
    block.centerY = readInt16(bytes, 2);
    block.angle = readInt16(bytes, 4);
    block.stretch = readInt16(bytes, 6);
    block.strength = readInt16(bytes, 8);
    block.height = readInt16(bytes, 10);
    block.width = readInt16(bytes, 12);
    block.showDialog = static_cast<std::int32_t>(static_cast<std::uint32_t>(bytes[16]) |
                                                 (static_cast<std::uint32_t>(bytes[17]) << 8) |
                                                 (static_cast<std::uint32_t>(bytes[18]) << 16) |
                                                 (static_cast<std::uint32_t>(bytes[19]) << 24));
    return block;
}

void encodeParamBlock(const ParamBlock& block, std::span<std::uint8_t, kParamBlockBytes> bytes) {
    writeInt16(bytes, 0, block.centerX);
    writeInt16(bytes, 2, block.centerY);
    writeInt16(bytes, 4, block.angle);
    writeInt16(bytes, 6, block.stretch);
    writeInt16(bytes, 8, block.strength);
    writeInt16(bytes, 10, block.height);
    writeInt16(bytes, 12, block.width);
    writeInt32(bytes, kShowDialogOffset, block.showDialog);
}

void loadSettings(const ParamBlock& block, Settings& settings) {
    settings.angle = block.angle;
    settings.stretch = block.stretch;
    settings.strength = block.strength;
    settings.height = block.height;
    settings.width = block.width;
}

namespace {

void storeSettings(const Settings& settings, ParamBlock& block) {
    block.angle = settings.angle;
    block.stretch = settings.stretch;
    block.strength = settings.strength;
    block.height = settings.height;
    block.width = settings.width;
}

} // namespace

std::uint8_t* lockParamBlock() {
    HostHandle handle = hostParameters();
    if (!isUsableBlock(handle)) return nullptr;
    return static_cast<std::uint8_t*>(lockBlock(handle));
}

void unlockParamBlock() {
    HostHandle handle = hostParameters();
    if (handle != nullptr) unlockBlock(handle);
}

void ensureParamBlock() {
    if (g.host.hostRecord == nullptr) return;
    FilterRecord& record = filterRecord();
    if (isUsableBlock(record.parameters)) return;
    // No block, or one too small to be ours: start from the user's last confirmed settings, or
    // the defaults (either asks the user). The host's own small block stays the host's; we never
    // free what we did not allocate.
    BlockHandle block = allocBlock(kParamBlockBytes);
    record.parameters = block;
    if (block == nullptr) {
        g.host.runResult = result::memFullErr;
        return;
    }
    auto* address = static_cast<std::uint8_t*>(lockBlock(block));
    if (address != nullptr) encodeParamBlock(rememberedParamBlock(), blockBytes(address));
    unlockBlock(block);
}

void markShowDialog(std::uint8_t flag) {
    std::uint8_t* address = lockParamBlock();
    if (address == nullptr) return;
    writeInt32(blockBytes(address), kShowDialogOffset, flag);
    unlockParamBlock();
}

std::int32_t readShowDialog() {
    std::uint8_t* address = lockParamBlock();
    if (address == nullptr) return 1;
    const std::int32_t show = decodeParamBlock(blockBytes(address)).showDialog;
    unlockParamBlock();
    return show;
}

PreviewPoint readPreviewCenter() {
    std::uint8_t* address = lockParamBlock();
    if (address == nullptr) return {0, 0};
    const ParamBlock block = decodeParamBlock(blockBytes(address));
    unlockParamBlock();
    return {imageToPreview(block.centerX), imageToPreview(block.centerY)};
}

void runDialogIfRequested() {
    std::uint8_t* address = lockParamBlock();
    if (address == nullptr) return;
    ParamBlock block = decodeParamBlock(blockBytes(address));
    if (block.showDialog == 0) {
        unlockParamBlock();
        recordDescriptor(block);
        return;
    }
    loadSettings(block, g.settings);
    g.dialog.previewEffect = 0;
    g.dialog.previewReady = 0;
    g.dialog.effectFrameState = 0; // a new dialog's preview has no frame drawn yet

    const std::int16_t dialogResult = runParameterDialog();
    // Only OK keeps the settings: Cancel, a dialog that could not be made (-1), or any other
    // ending the platform reports counts as cancelled.
    if (dialogResult != kDialogOk) g.host.runResult = result::reported;
    if (dialogResult == kDialogFailed) showWarning(kDialogUnavailableWarning);

    if (g.host.runResult == result::noErr) {
        storeSettings(g.settings, block);
        block.centerX = previewToImage(g.settings.previewCenterX);
        block.centerY = previewToImage(g.settings.previewCenterY);
        rememberParamBlock(block);
    }
    block.showDialog = 0;
    encodeParamBlock(block, blockBytes(address));
    unlockParamBlock();
    if (g.host.runResult == result::noErr) recordDescriptor(block);
}

std::int16_t imageToPreview(std::int16_t v) {
    // A zero scale (no geometry yet) has no preview position; keep the unset centre.
    if (g.geometry.imageScale == 0) return 0;
    const std::int32_t numerator = addWrap32(mulWrap32(v, 65536), g.geometry.imageScale / 2);
    return wrap16(std::int64_t{numerator} /
                  g.geometry.imageScale); // 64-bit: INT32_MIN / -1 is defined
}

std::int16_t previewToImage(std::int16_t v) {
    return wrap16(addWrap32(mulWrap32(v, g.geometry.imageScale), 32768) >> 16);
}

std::int16_t previewToWork(std::int16_t v) {
    return wrap16(addWrap32(mulWrap32(v, g.geometry.previewScale), 32768) >> 16);
}

} // namespace vexel
