// Every blend path against the sample formula, for 8- and 16-bit samples: every pixel size, run
// lengths around the word and vector groups (so every tail length occurs), misaligned runs, and
// the weights at their ends. 16-bit samples cover the whole 0..65535 range.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "effect/row_blend.h"

namespace vexel {
namespace {

struct Weights {
    std::uint16_t original, effect;
};

// Little-endian samples of `size` bytes, as the hosts hand them on x86.
std::uint32_t sampleAt(const std::uint8_t* bytes, int size) {
    return size == 1 ? bytes[0] : bytes[0] | std::uint32_t{bytes[1]} << 8;
}

std::vector<std::uint8_t> expectedBlend(int planes, const std::uint8_t* original,
                                        const PlaneRuns& samples, std::int32_t count, Weights w,
                                        int size = 1) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(count * planes * size));
    for (std::int32_t i = 0; i < count * planes; ++i) {
        const std::int32_t at = i * size;
        const int plane = i % planes; // past the fourth, a plane's own sample
        const std::uint8_t* run = plane < 4 ? samples[static_cast<std::size_t>(plane)] : original;
        const std::uint32_t value =
            (sampleAt(original + at, size) * w.original + sampleAt(run + at, size) * w.effect) >> 8;
        for (int b = 0; b < size; ++b)
            out[static_cast<std::size_t>(at + b)] = static_cast<std::uint8_t>(value >> (8 * b));
    }
    return out;
}

class RowBlend : public ::testing::TestWithParam<std::tuple<BlendPath, int>> {
  protected:
    void SetUp() override {
        if (!blendPathSupported(path())) GTEST_SKIP() << "not on this processor";
        forceBlendPath(path());
    }
    void TearDown() override { forceBlendPath(BlendPath::automatic); }
    static BlendPath path() { return std::get<0>(GetParam()); }
    static int sampleBytes() { return std::get<1>(GetParam()); }
    static void blend(int planes, std::uint8_t* out, const std::uint8_t* original,
                      const PlaneRuns& samples, std::int32_t count, Weights w) {
        if (sampleBytes() == 1)
            blendRun(planes, out, original, samples, count, w.original, w.effect);
        else
            blendRun16(planes, out, original, samples, count, w.original, w.effect);
    }
};

TEST_P(RowBlend, GivesTheSampleFormulaForEveryRunShape) {
    std::mt19937 engine(77);
    const int size = sampleBytes();
    std::vector<std::uint8_t> pool(2 * (4 * 4 * 1100 + 64));
    for (auto& b : pool)
        b = static_cast<std::uint8_t>(engine());
    // 16-bit: the extremes (0, 32768, 65535) as well as random samples.
    for (std::size_t i = 0; size == 2 && i + 1 < pool.size(); i += 14) {
        pool[i] = pool[i + 1] = 0xFF;
        if (i + 5 < pool.size()) pool[i + 4] = 0, pool[i + 5] = 0x80;
    }
    // Three runs in one pool as in a row of the image; the last weights do not sum to 256 (never
    // derived, but a plain byte loop must still handle them). Five and six planes: a host's
    // further channels beside CMYK or RGB.
    const std::array<Weights, 6> weights{
        {{256, 0}, {0, 256}, {128, 128}, {172, 84}, {3, 253}, {200, 100}}};
    for (int planes = 1; planes <= 6; ++planes)
        for (std::int32_t count = 0; count <= 1000; count = count < 70 ? count + 1 : count * 3) {
            const std::size_t shift = static_cast<std::size_t>(count % 13);
            const std::size_t apart = 4400 * static_cast<std::size_t>(size);
            const std::uint8_t* original = pool.data() + 1 + shift;
            PlaneRuns samples{pool.data() + apart + shift, pool.data() + 2 * apart + 3,
                              pool.data() + 3 * apart + 5 - shift, original};
            if (planes == 1) samples[0] = pool.data() + 2 * shift + 5;
            for (const Weights& w : weights) {
                const auto expected = expectedBlend(planes, original, samples, count, w, size);
                const auto written = static_cast<std::ptrdiff_t>(expected.size());
                std::vector<std::uint8_t> out(expected.size() + 32, 0xA5);
                blend(planes, out.data() + 3, original, samples, count, w);
                ASSERT_EQ(std::vector<std::uint8_t>(out.begin() + 3, out.begin() + 3 + written),
                          expected)
                    << planes << " planes, " << count << " pixels, weights " << w.original << "/"
                    << w.effect;
                EXPECT_EQ(out[2], 0xA5);
                EXPECT_EQ(out[static_cast<std::size_t>(3 + written)], 0xA5);
            }
        }
}

// The output may be the original run itself (a host can hand the same buffer for both).
TEST_P(RowBlend, BlendsInPlace) {
    const auto bytesOfRun = static_cast<std::size_t>(3 * 500 * sampleBytes());
    std::vector<std::uint8_t> bytes(bytesOfRun), sample(bytesOfRun);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(i * 7);
        sample[i] = static_cast<std::uint8_t>(i * 13 + 5);
    }
    const PlaneRuns samples{sample.data(), sample.data(), sample.data(), nullptr};
    const auto expected = expectedBlend(3, bytes.data(), samples, 500, {172, 84}, sampleBytes());
    blend(3, bytes.data(), bytes.data(), samples, 500, {172, 84});
    EXPECT_EQ(bytes, expected);
}

std::string pathName(const ::testing::TestParamInfo<std::tuple<BlendPath, int>>& info) {
    const BlendPath path = std::get<0>(info.param);
    return std::string(path == BlendPath::avx2   ? "Avx2"
                       : path == BlendPath::sse2 ? "Sse2"
                                                 : "Plain") +
           (std::get<1>(info.param) == 1 ? "_8bit" : "_16bit");
}

INSTANTIATE_TEST_SUITE_P(BlendPaths, RowBlend,
                         ::testing::Combine(::testing::Values(BlendPath::plain, BlendPath::sse2,
                                                              BlendPath::avx2),
                                            ::testing::Values(1, 2)),
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
