// Which played values the module takes, and how the host's playInfo decides the dialog. The
// descriptor procs themselves are driven under Wine (tests/wine/test_scripting.py).
#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "host/descriptor.h"

namespace vexel {
namespace {

constexpr DescType kLong = kTypeInteger;

std::array<std::int32_t, 8> fields(const ParamBlock& b) {
    return {b.centerX, b.centerY, b.angle, b.stretch, b.strength, b.height, b.width, b.showDialog};
}

TEST(Descriptor, TakesIntegersOfOurKeysWithinTheDialogsRanges) {
    struct Case {
        const char* key;
        DescType type;
        std::int32_t value;
        bool taken;
    };
    for (const Case c : {Case{"vxSt", kLong, 1, true},
                         {"vxSt", kLong, 100, true},
                         {"vxSt", kLong, 0, false},
                         {"vxSt", kLong, 101, false},
                         {"vxAn", kLong, 360, true},
                         {"vxAn", kLong, 65536, false},
                         {"vxHt", kLong, 4, false},
                         {"vxWd", kLong, 5, true},
                         {"vxSg", kLong, 0, true},
                         {"vxCx", kLong, 32767, true},
                         {"vxCy", kLong, -1, false},
                         {"vxAn", fourCharCode("doub"), 90, false},
                         {"VxAn", kLong, 90, false}}) {
        PlayedValues played;
        EXPECT_EQ(takePlayedValue(fourCharCode({c.key[0], c.key[1], c.key[2], c.key[3], 0}), c.type,
                                  c.value, played),
                  c.taken)
            << c.key << " " << c.value;
        EXPECT_EQ(played.read != 0, c.taken);
    }
}

TEST(Descriptor, PlayInfoDecidesTheDialogAndMissingValuesComeFromTheBlock) {
    PlayedValues all, angleOnly;
    const std::int32_t values[] = {30, 90, 40, 60, 70, 20, 15};
    for (std::size_t i = 0; i < kDescriptorKeyCount; ++i)
        takePlayedValue(kDescriptorKeys[i].key, kLong, values[i], all);
    takePlayedValue(kDescriptorKeys[1].key, kLong, 90, angleOnly);
    struct Case {
        const PlayedValues& played;
        std::int16_t playInfo;
        ParamBlock expected;
    };
    const PlayedValues nothing;
    const ParamBlock stored{1, 2, 3, 4, 5, 6, 7, 0};
    for (const Case& c :
         std::vector<Case>{{all, playinfo::dontDisplay, {20, 15, 90, 30, 70, 40, 60, 0}},
                           {all, playinfo::display, {20, 15, 90, 30, 70, 40, 60, 1}},
                           {angleOnly, playinfo::dontDisplay, {1, 2, 90, 4, 5, 6, 7, 1}},
                           {angleOnly, playinfo::silent, {1, 2, 90, 4, 5, 6, 7, 0}},
                           {angleOnly, 3, {1, 2, 90, 4, 5, 6, 7, 0}},
                           {nothing, playinfo::display, stored}}) {
        ParamBlock block = stored;
        applyPlayedValues(c.played, c.playInfo, block);
        EXPECT_EQ(fields(block), fields(c.expected)) << c.playInfo;
    }
}

} // namespace
} // namespace vexel
