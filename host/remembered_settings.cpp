// The remembered settings record: its codec, its validation and the centre rule.
#include "host/remembered_settings.h"

#include <algorithm>

#include "host/plugin_globals.h"
#include "ui/dialog_logic.h"

namespace vexel {

namespace {

// The record's int16 fields in their order after the version byte.
constexpr std::array<std::int16_t RememberedSettings::*, 9> kFields{
    &RememberedSettings::angle,   &RememberedSettings::stretch,   &RememberedSettings::strength,
    &RememberedSettings::height,  &RememberedSettings::width,     &RememberedSettings::centerX,
    &RememberedSettings::centerY, &RememberedSettings::rectWidth, &RememberedSettings::rectHeight};
static_assert(1 + 2 * kFields.size() == kRememberedBytes);

Settings asSettings(const RememberedSettings& r) {
    Settings s;
    s.angle = r.angle;
    s.stretch = r.stretch;
    s.strength = r.strength;
    s.height = r.height;
    s.width = r.width;
    return s;
}

// Every value the dialog would accept, and a rectangle the centre can belong to.
bool isAcceptable(const RememberedSettings& r) {
    const Settings s = asSettings(r);
    for (const ValueRow& row : kValueRows)
        if (s.*row.setting < row.min || s.*row.setting > row.max) return false;
    return r.rectWidth > 0 && r.rectHeight > 0;
}

// A centre is a position: from 0 up to and including the size (one past the last pixel).
bool isInside(std::int16_t v, std::int16_t size) {
    return v >= 0 && v <= size;
}

// v of `from` at the same relative position in `to`, to the nearest pixel (halves up).
std::int16_t scaleNearest(std::int16_t v, std::int16_t from, std::int16_t to) {
    const std::int64_t scaled = (std::int64_t{v} * to * 2 + from) / (std::int64_t{from} * 2);
    return static_cast<std::int16_t>(scaled); // within 0..to for v within 0..from
}

} // namespace

std::array<std::uint8_t, kRememberedBytes> encodeRemembered(const RememberedSettings& settings) {
    std::array<std::uint8_t, kRememberedBytes> bytes{};
    bytes[0] = kRememberedVersion;
    std::size_t at = 1;
    for (const auto field : kFields) {
        const auto u = static_cast<std::uint16_t>(settings.*field);
        bytes[at++] = static_cast<std::uint8_t>(u & 0xFF);
        bytes[at++] = static_cast<std::uint8_t>(u >> 8);
    }
    return bytes;
}

std::optional<RememberedSettings> decodeRemembered(std::span<const std::uint8_t> bytes) {
    if (bytes.size() != kRememberedBytes || bytes[0] != kRememberedVersion) return std::nullopt;
    RememberedSettings settings;
    std::size_t at = 1;
    for (const auto field : kFields) {
        settings.*field = static_cast<std::int16_t>(bytes[at] | (bytes[at + 1] << 8));
        at += 2;
    }
    if (!isAcceptable(settings)) return std::nullopt;
    return settings;
}

ParamBlock blockFromRemembered(const std::optional<RememberedSettings>& remembered,
                               std::int16_t rectWidth, std::int16_t rectHeight) {
    ParamBlock block;
    if (!remembered) return block;
    const RememberedSettings& r = *remembered;
    block.angle = r.angle;
    block.stretch = r.stretch;
    block.strength = r.strength;
    block.height = r.height;
    block.width = r.width;
    // Outside its own rectangle the centre has no place in the new one: leave it unset.
    if (!isInside(r.centerX, r.rectWidth) || !isInside(r.centerY, r.rectHeight)) return block;
    const bool sameSize = r.rectWidth == rectWidth && r.rectHeight == rectHeight;
    block.centerX = sameSize ? r.centerX : scaleNearest(r.centerX, r.rectWidth, rectWidth);
    block.centerY = sameSize ? r.centerY : scaleNearest(r.centerY, r.rectHeight, rectHeight);
    return block;
}

ParamBlock rememberedParamBlock() {
    std::array<std::uint8_t, kRememberedBytes> buffer{};
    const std::size_t length = readRememberedValue(buffer);
    // The store never reports more than the buffer holds; a wrong length fails the decode.
    const std::span<const std::uint8_t> bytes(buffer.data(), std::min(length, buffer.size()));
    return blockFromRemembered(decodeRemembered(bytes), g.geometry.imageWidth,
                               g.geometry.imageHeight);
}

void rememberParamBlock(const ParamBlock& block) {
    const RememberedSettings settings{block.angle,   block.stretch,         block.strength,
                                      block.height,  block.width,           block.centerX,
                                      block.centerY, g.geometry.imageWidth, g.geometry.imageHeight};
    writeRememberedValue(encodeRemembered(settings));
}

} // namespace vexel
