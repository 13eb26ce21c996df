// The seven settings in the host's scripting descriptors, so that an action that recorded the
// filter replays it with the same settings: played at Start on top of the parameter block,
// recorded once a run ended with OK or ran without the dialog.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "host/descriptor_records.h"
#include "host/param_block.h"

namespace vexel {

constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

// One parameter of the terminology: its key, the block field it carries and the values accepted.
struct DescriptorKey {
    DescriptorKeyID key;
    std::int16_t ParamBlock::*field;
    std::int16_t min;
    std::int16_t max;
};

// In the terminology's order: stretch, angle, height, width, strength, centre x, centre y. The
// keys are ours (lower-case first with an upper-case letter); the 'AETE' resource names them too.
inline constexpr std::size_t kDescriptorKeyCount = 7;
extern const std::array<DescriptorKey, kDescriptorKeyCount> kDescriptorKeys;
inline constexpr std::size_t kNoDescriptorKey = kDescriptorKeyCount;
std::size_t descriptorKeyIndex(DescriptorKeyID key); // kNoDescriptorKey for a key not ours

// What a descriptor carried: bit i of `read` is set when key i came as a valid integer.
struct PlayedValues {
    ParamBlock values;
    std::uint8_t read = 0;
};
inline constexpr std::uint8_t kAllDescriptorKeys = (1u << kDescriptorKeyCount) - 1;

// Whether one reported value is taken: a key of ours, an integer, within its key's range.
bool takePlayedValue(DescriptorKeyID key, DescType type, std::int32_t value, PlayedValues& played);

// The played values over the block, and whether the dialog is due by the host's playInfo. A
// descriptor that carried nothing usable changes nothing.
void applyPlayedValues(const PlayedValues& played, std::int16_t playInfo, ParamBlock& block);

// At Start, once the block exists: reads the host's descriptor into the block and gives the
// descriptor back to the host's handle procs. Hosts without usable procs are left as they are.
void playDescriptor();
// After a run that ended with OK or ran without the dialog: the block's seven values into a new
// descriptor, dialog optional.
void recordDescriptor(const ParamBlock& block);

} // namespace vexel
