// Both blend paths against the byte formula: every pixel size, run lengths around the word and
// vector groups (so every tail length occurs), misaligned runs, and the weights at their ends.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "effect/row_blend.h"

namespace vexel {
namespace {

struct Weights {
    std::uint16_t original, effect;
};

std::vector<std::uint8_t> expectedBlend(int planes, const std::uint8_t* original,
                                        const PlaneRuns& samples, std::int32_t count, Weights w) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(count * planes));
    for (std::int32_t at = 0; at < count * planes; ++at)
        out[static_cast<std::size_t>(at)] = static_cast<std::uint8_t>(
            (original[at] * w.original +
             samples[static_cast<std::size_t>(at % planes)][at] * w.effect) >>
            8);
    return out;
}

class RowBlend : public ::testing::TestWithParam<BlendPath> {
  protected:
    void SetUp() override {
        if (!blendPathSupported(GetParam())) GTEST_SKIP() << "not on this processor";
        forceBlendPath(GetParam());
    }
    void TearDown() override { forceBlendPath(BlendPath::automatic); }
};

TEST_P(RowBlend, GivesTheByteFormulaForEveryRunShape) {
    std::mt19937 engine(77);
    std::vector<std::uint8_t> pool(4 * 4 * 1100 + 64);
    for (auto& b : pool)
        b = static_cast<std::uint8_t>(engine());
    // Three runs in one pool as in a row of the image; the last weights do not sum to 256 (never
    // derived, but a plain byte loop must still handle them).
    const std::array<Weights, 6> weights{
        {{256, 0}, {0, 256}, {128, 128}, {172, 84}, {3, 253}, {200, 100}}};
    for (int planes = 1; planes <= 4; ++planes)
        for (std::int32_t count = 0; count <= 1000; count = count < 70 ? count + 1 : count * 3) {
            const std::size_t shift = static_cast<std::size_t>(count % 13);
            const std::uint8_t* original = pool.data() + 1 + shift;
            PlaneRuns samples{pool.data() + 4400 + shift, pool.data() + 8803,
                              pool.data() + 13205 - shift, original};
            if (planes == 1) samples[0] = pool.data() + 2 * shift + 5;
            for (const Weights& w : weights) {
                const auto expected = expectedBlend(planes, original, samples, count, w);
                std::vector<std::uint8_t> out(expected.size() + 32, 0xA5);
                blendRun(planes, out.data() + 3, original, samples, count, w.original, w.effect);
                const std::vector<std::uint8_t> written(out.begin() + 3,
                                                        out.begin() + 3 + count * planes);
                ASSERT_EQ(written, expected)
                    << planes << " planes, " << count << " pixels, weights " << w.original << "/"
                    << w.effect;
                EXPECT_EQ(out[2], 0xA5);
                EXPECT_EQ(out[static_cast<std::size_t>(3 + count * planes)], 0xA5);
            }
        }
}

// The output may be the original run itself (a host can hand the same buffer for both).
TEST_P(RowBlend, BlendsInPlace) {
    std::vector<std::uint8_t> bytes(3 * 500), sample(3 * 500);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7);
        sample[i] = static_cast<std::uint8_t>(i * 13 + 5);
    }
    const PlaneRuns samples{sample.data(), sample.data(), sample.data(), nullptr};
    const auto expected = expectedBlend(3, bytes.data(), samples, 500, {172, 84});
    blendRun(3, bytes.data(), bytes.data(), samples, 500, 172, 84);
    EXPECT_EQ(bytes, expected);
}

std::string pathName(const ::testing::TestParamInfo<BlendPath>& info) {
    return info.param == BlendPath::avx2   ? "Avx2"
           : info.param == BlendPath::sse2 ? "Sse2"
                                           : "Plain";
}

INSTANTIATE_TEST_SUITE_P(BlendPaths, RowBlend,
                         ::testing::Values(BlendPath::plain, BlendPath::sse2, BlendPath::avx2),
                         pathName);

TEST(RowBlendChoice, TakesTheWidestPathTheProcessorHas) {
    forceBlendPath(BlendPath::automatic);
    const BlendPath widest = blendPathSupported(BlendPath::avx2)   ? BlendPath::avx2
                             : blendPathSupported(BlendPath::sse2) ? BlendPath::sse2
                                                                   : BlendPath::plain;
    EXPECT_EQ(activeBlendPath(), widest);
    forceBlendPath(BlendPath::plain);
    EXPECT_EQ(activeBlendPath(), BlendPath::plain);
    forceBlendPath(BlendPath::automatic);
#if defined(__x86_64__)
    EXPECT_TRUE(blendPathSupported(BlendPath::sse2));
#endif
}

} // namespace
} // namespace vexel
