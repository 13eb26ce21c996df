// Selector dispatch: result words for every selector value.
#include <gtest/gtest.h>

#include "host/dispatch.h"
#include "host/host_records.h"
#include "host/plugin_globals.h"
#include "tests/unit/test_support.h"

namespace vexel {
namespace {

TEST(Dispatch, UnknownSelectorsGiveBadParametersAndReplaceTheRecord) {
    testing::resetModuleState();
    int marker = 0;
    for (std::int16_t sel : {std::int16_t{6}, std::int16_t{255}, std::int16_t{-1}}) {
        std::int16_t resultWord = 0x1234;
        dispatchSelector(sel, &marker, &resultWord);
        EXPECT_EQ(resultWord, result::filterBadParameters);
        EXPECT_EQ(static_cast<std::uint16_t>(resultWord), 0x8A6C);
        EXPECT_EQ(g.host.hostRecord, &marker);
    }
    EXPECT_EQ(testing::memoryFake.allocations, 0);
}

} // namespace
} // namespace vexel
