// The settings the user last confirmed with OK, kept for the Windows user outside any host so a
// block created at Start can begin from them. The record is a fixed little-endian layout shared by
// both builds; everything read back is validated before a value is used.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "host/param_block.h"

namespace vexel {

// Version 1 layout: uint8 version, then int16 angle, stretch, strength, height, width, centerX,
// centerY, and the width and height of the filter rectangle the centre was taken in.
inline constexpr std::uint8_t kRememberedVersion = 1;
inline constexpr std::size_t kRememberedBytes = 19;

struct RememberedSettings {
    std::int16_t angle = 0;
    std::int16_t stretch = 0;
    std::int16_t strength = 0;
    std::int16_t height = 0;
    std::int16_t width = 0;
    std::int16_t centerX = 0;
    std::int16_t centerY = 0;
    std::int16_t rectWidth = 0;
    std::int16_t rectHeight = 0;
};

std::array<std::uint8_t, kRememberedBytes> encodeRemembered(const RememberedSettings& settings);
// Nothing unless the bytes are exactly one record of this version whose five values lie in the
// dialog's ranges and whose rectangle is not empty.
std::optional<RememberedSettings> decodeRemembered(std::span<const std::uint8_t> bytes);

// The block Start creates for a filter rectangle of the given size: the remembered values when
// there are any, else the defaults; the dialog shows either way.
ParamBlock blockFromRemembered(const std::optional<RememberedSettings>& remembered,
                               std::int16_t rectWidth, std::int16_t rectHeight);

// Reads the platform's store into a new block for the current filter rectangle.
ParamBlock rememberedParamBlock();
// Keeps a block's settings and centre, taken in the current filter rectangle.
void rememberParamBlock(const ParamBlock& block);

// The platform's store of one binary value (the DLL: the current user's registry). A read gives
// the value's length when it is binary and fits the buffer, else 0; failures change nothing.
std::size_t readRememberedValue(std::span<std::uint8_t> buffer);
void writeRememberedValue(std::span<const std::uint8_t> bytes);

} // namespace vexel
