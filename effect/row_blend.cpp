// Blending a run of pixels with its samples, a machine word or a vector register at a time. Both
// ways split the bytes into alternate 16-bit lanes: since the two weights sum to 256 no lane can
// carry into the next (255 x 256 < 65536), so every byte comes out exactly as
// (original x mixOriginal + sample x mixEffect) >> 8. The samples of the planes are merged into
// one run with byte masks that repeat with the pixel size.
//
// 16-bit samples take the same 16-bit lanes, one sample each, blended as two bytes: with
// v = 256 h + l, (o mo + s me) >> 8 = (oh mo + sh me) + ((ol mo + sl me) >> 8) exactly, since the
// first sum is a whole multiple of 256 before the shift. Each part stays below 65281 and their
// sum below 65536, so no lane carries here either, whatever the samples (0..65535).
#include "effect/row_blend.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <type_traits>

#if defined(__x86_64__) || defined(__i386__)
#define VEXEL_HAVE_VECTOR_PATHS 1
#else
#define VEXEL_HAVE_VECTOR_PATHS 0
#endif

namespace vexel {

namespace {

// The byte masks of one group: the fewest units (words or vectors) that hold whole pixels of
// Planes samples of SampleBytes bytes. Byte b of unit u belongs to plane
// ((u x unitBytes + b) / sampleBytes) % planes.
template <int Planes, int UnitBytes, int SampleBytes>
constexpr std::size_t kGroupUnits =
    std::size_t{Planes * SampleBytes / std::gcd(Planes * SampleBytes, UnitBytes)};

template <int Planes, int UnitBytes, int SampleBytes> constexpr auto planeByteMasks() {
    constexpr std::size_t units = kGroupUnits<Planes, UnitBytes, SampleBytes>;
    std::array<std::array<std::array<std::uint8_t, std::size_t{UnitBytes}>, std::size_t{Planes}>,
               units>
        masks{};
    for (std::size_t u = 0; u < units; ++u)
        for (std::size_t k = 0; k < Planes; ++k)
            for (std::size_t b = 0; b < UnitBytes; ++b)
                masks[u][k][b] = (u * UnitBytes + b) / SampleBytes % Planes == k ? 0xFF : 0x00;
    return masks;
}

std::uint16_t loadSample(const std::uint8_t* bytes) {
    std::uint16_t sample;
    std::memcpy(&sample, bytes, sizeof sample);
    return sample;
}

// Sample by sample: the ends of runs, and whole runs when the weights do not sum to 256. `from`
// and `to` count samples.
template <int SampleBytes>
void blendSamples(std::uint8_t* out, const std::uint8_t* original, const PlaneRuns& samples,
                  std::int32_t from, std::int32_t to, int planes, std::uint32_t mixOriginal,
                  std::uint32_t mixEffect) {
    for (std::int32_t i = from; i < to; ++i) {
        const std::int32_t at = i * SampleBytes;
        const int plane = i % planes;
        const std::uint8_t* sample =
            (plane < kMaxPlanes ? samples[static_cast<std::size_t>(plane)] : original) + at;
        if constexpr (SampleBytes == 1) {
            out[at] =
                static_cast<std::uint8_t>((original[at] * mixOriginal + *sample * mixEffect) >> 8);
        } else {
            const auto blended = static_cast<std::uint16_t>(
                (loadSample(original + at) * mixOriginal + loadSample(sample) * mixEffect) >> 8);
            std::memcpy(out + at, &blended, sizeof blended);
        }
    }
}

// ---- Plain path: a machine word at a time.

using Word = std::conditional_t<sizeof(void*) >= 8, std::uint64_t, std::uint32_t>;
constexpr int kWordBytes = sizeof(Word);
constexpr Word kLowBytes = ~Word{0} / 0xFFFF * 0xFF; // 0x00FF00FF...

Word loadWord(const std::uint8_t* bytes) {
    Word word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

void storeWord(std::uint8_t* bytes, Word word) {
    std::memcpy(bytes, &word, sizeof word);
}

template <int SampleBytes>
Word blendWord(Word original, Word sample, Word mixOriginal, Word mixEffect) {
    const Word low = ((original & kLowBytes) * mixOriginal + (sample & kLowBytes) * mixEffect) >> 8;
    const Word high =
        ((original >> 8) & kLowBytes) * mixOriginal + ((sample >> 8) & kLowBytes) * mixEffect;
    if constexpr (SampleBytes == 1) return (low & kLowBytes) | (high & ~kLowBytes);
    return high + (low & kLowBytes);
}

// Masks as words, built from bytes so that they hold in either byte order.
template <int Planes, int SampleBytes> constexpr auto wordMasks() {
    constexpr auto bytes = planeByteMasks<Planes, kWordBytes, SampleBytes>();
    std::array<std::array<Word, std::size_t{Planes}>, bytes.size()> masks{};
    for (std::size_t u = 0; u < masks.size(); ++u)
        for (std::size_t k = 0; k < Planes; ++k)
            masks[u][k] = std::bit_cast<Word>(bytes[u][k]);
    return masks;
}

template <int Planes, int SampleBytes>
void blendRunWords(std::uint8_t* out, const std::uint8_t* original, const PlaneRuns& samples,
                   std::int32_t count, std::uint32_t mixOriginal, std::uint32_t mixEffect) {
    const std::int32_t bytes = count * Planes * SampleBytes;
    std::int32_t at = 0;
    if (mixOriginal + mixEffect == 256) {
        constexpr auto masks = wordMasks<Planes, SampleBytes>();
        constexpr int groupBytes = static_cast<int>(masks.size()) * kWordBytes;
        for (; at + groupBytes <= bytes; at += groupBytes)
            for (std::size_t u = 0; u < masks.size(); ++u) {
                const std::int32_t offset = at + static_cast<std::int32_t>(u) * kWordBytes;
                Word sample = 0;
                for (std::size_t k = 0; k < Planes; ++k)
                    sample |= loadWord(samples[k] + offset) & masks[u][k];
                storeWord(out + offset, blendWord<SampleBytes>(loadWord(original + offset), sample,
                                                               mixOriginal, mixEffect));
            }
    }
    blendSamples<SampleBytes>(out, original, samples, at / SampleBytes, count * Planes, Planes,
                              mixOriginal, mixEffect);
}

// ---- Vector paths: the same steps on 16-byte (SSE2) or 32-byte (AVX2) registers, written once
// with the compiler's vector types. Each width is compiled for its instruction set on its own and
// only called after the processor was checked; the rest of the module stays baseline code.

#if VEXEL_HAVE_VECTOR_PATHS
template <int Bytes> struct VectorTypes;
template <> struct VectorTypes<16> {
    typedef std::uint8_t Bytes __attribute__((vector_size(16)));
    typedef std::uint16_t Lanes __attribute__((vector_size(16)));
};
template <> struct VectorTypes<32> {
    typedef std::uint8_t Bytes __attribute__((vector_size(32)));
    typedef std::uint16_t Lanes __attribute__((vector_size(32)));
};

// One vector of the run at `offset`: the planes' samples merged with the masks of its place in the
// group, then blended in 16-bit lanes.
template <int VectorBytes, int Planes, int SampleBytes>
__attribute__((always_inline)) inline void
blendVector(std::uint8_t* out, const std::uint8_t* original, const PlaneRuns& runs,
            std::int32_t offset, const typename VectorTypes<VectorBytes>::Bytes* masks,
            std::uint16_t mixOriginal, std::uint16_t mixEffect) {
    using Bytes = typename VectorTypes<VectorBytes>::Bytes;
    using Lanes = typename VectorTypes<VectorBytes>::Lanes;
    Bytes own;
    std::memcpy(&own, original + offset, VectorBytes);
    Bytes sample;
    std::memcpy(&sample, runs[0] + offset, VectorBytes);
    if constexpr (Planes > 1) {
        sample &= masks[0];
        for (int k = 1; k < Planes; ++k) {
            Bytes plane = own; // plane 3 keeps its own byte
            if (k < kDisplacedPlanes)
                std::memcpy(&plane, runs[static_cast<std::size_t>(k)] + offset, VectorBytes);
            sample |= plane & masks[k];
        }
    }
    // The same bits seen as 16-bit lanes.
    const Lanes o = (Lanes)own;
    const Lanes s = (Lanes)sample;
    const Lanes low = ((o & 0xFF) * mixOriginal + (s & 0xFF) * mixEffect) >> 8;
    const Lanes high = (o >> 8) * mixOriginal + (s >> 8) * mixEffect;
    Lanes blended;
    if constexpr (SampleBytes == 1)
        blended = low | (high & 0xFF00);
    else
        blended = high + low;
    std::memcpy(out + offset, &blended, VectorBytes);
}

// The runs of one segment lie in source rows far apart, and the processor's own prefetching falls
// behind on four streams at once; asking for the bytes a few kilobytes ahead keeps them coming.
// Past a run's end that is the start of the next source row, which the next output row reads.
// A prefetch never faults, so the address is formed as an integer and may lie outside the run.
constexpr std::uintptr_t kPrefetchAhead = 4096;

__attribute__((always_inline)) inline void prefetchAhead(const std::uint8_t* bytes) {
    const std::uintptr_t ahead = reinterpret_cast<std::uintptr_t>(bytes) + kPrefetchAhead;
    __builtin_prefetch(reinterpret_cast<const void*>(ahead)); // NOLINT(performance-no-int-to-ptr)
}

// Inlined into the functions below, which set the instruction set.
template <int VectorBytes, int Planes, int SampleBytes>
__attribute__((always_inline)) inline void
blendRunVectors(std::uint8_t* out, const std::uint8_t* original, const PlaneRuns& samples,
                std::int32_t count, std::uint32_t mixOriginal, std::uint32_t mixEffect) {
    using Bytes = typename VectorTypes<VectorBytes>::Bytes;
    constexpr std::size_t groupUnits = kGroupUnits<Planes, VectorBytes, SampleBytes>;
    constexpr int units = static_cast<int>(groupUnits);
    const std::int32_t bytes = count * Planes * SampleBytes;
    std::int32_t at = 0;
    if (mixOriginal + mixEffect == 256) {
        // Local copies: stores through `out` cannot change them, so they stay in registers.
        const PlaneRuns runs = samples;
        Bytes masks[groupUnits][std::size_t{Planes}];
        constexpr auto maskBytes = planeByteMasks<Planes, VectorBytes, SampleBytes>();
        std::memcpy(masks, maskBytes.data(), sizeof masks);
        for (; at + units * VectorBytes <= bytes; at += units * VectorBytes) {
            prefetchAhead(original + at);
            for (int k = 0; k < Planes && k < kDisplacedPlanes; ++k)
                prefetchAhead(runs[static_cast<std::size_t>(k)] + at);
            for (int u = 0; u < units; ++u)
                blendVector<VectorBytes, Planes, SampleBytes>(
                    out, original, runs, at + u * VectorBytes, masks[u],
                    static_cast<std::uint16_t>(mixOriginal), static_cast<std::uint16_t>(mixEffect));
        }
    }
    blendSamples<SampleBytes>(out, original, samples, at / SampleBytes, count * Planes, Planes,
                              mixOriginal, mixEffect);
}

#if defined(__i386__)
// Hosts may call in with a stack aligned to 4 bytes only; vector spills need more.
#define VEXEL_REALIGN force_align_arg_pointer,
#else
#define VEXEL_REALIGN
#endif

template <int SampleBytes> struct Sse2 {
    template <int Planes> struct Kernel {
        __attribute__((target("sse2"), VEXEL_REALIGN noinline)) static void
        run(std::uint8_t* out, const std::uint8_t* original, const PlaneRuns* samples,
            std::int32_t count, std::uint32_t mixOriginal, std::uint32_t mixEffect) {
            blendRunVectors<16, Planes, SampleBytes>(out, original, *samples, count, mixOriginal,
                                                     mixEffect);
        }
    };
};

template <int SampleBytes> struct Avx2 {
    template <int Planes> struct Kernel {
        __attribute__((target("avx2"), VEXEL_REALIGN noinline)) static void
        run(std::uint8_t* out, const std::uint8_t* original, const PlaneRuns* samples,
            std::int32_t count, std::uint32_t mixOriginal, std::uint32_t mixEffect) {
            blendRunVectors<32, Planes, SampleBytes>(out, original, *samples, count, mixOriginal,
                                                     mixEffect);
        }
    };
};

BlendPath fastestSupportedPath() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return BlendPath::avx2;
    if (__builtin_cpu_supports("sse2")) return BlendPath::sse2;
    return BlendPath::plain;
}
#endif

template <template <int> class Kernel, typename... Args> void forPlanes(int planes, Args... args) {
    switch (planes) {
    case 1:
        return Kernel<1>::run(args...);
    case 2:
        return Kernel<2>::run(args...);
    case 3:
        return Kernel<3>::run(args...);
    case 4:
        return Kernel<4>::run(args...);
    default:
        return;
    }
}

template <int SampleBytes> struct Words {
    template <int Planes> struct Kernel {
        static void run(std::uint8_t* out, const std::uint8_t* original, const PlaneRuns* samples,
                        std::int32_t count, std::uint32_t mixOriginal, std::uint32_t mixEffect) {
            blendRunWords<Planes, SampleBytes>(out, original, *samples, count, mixOriginal,
                                               mixEffect);
        }
    };
};

// The processor is asked once; which paths a run can take is a property of the machine, not of a
// run, so it lives beside the code rather than in the run's state.
#if VEXEL_HAVE_VECTOR_PATHS
bool processorChecked = false;
#endif
BlendPath fastestPath = BlendPath::plain;
BlendPath forcedPath = BlendPath::automatic;

BlendPath fastestPathHere() {
#if VEXEL_HAVE_VECTOR_PATHS
    if (!processorChecked) {
        fastestPath = fastestSupportedPath();
        processorChecked = true;
    }
#endif
    return fastestPath;
}

} // namespace

bool blendPathSupported(BlendPath path) {
    switch (path) {
    case BlendPath::automatic:
    case BlendPath::plain:
        return true;
    case BlendPath::sse2:
        return fastestPathHere() != BlendPath::plain;
    case BlendPath::avx2:
        return fastestPathHere() == BlendPath::avx2;
    }
    return false;
}

void forceBlendPath(BlendPath path) {
    forcedPath = path;
}

BlendPath activeBlendPath() {
    if (forcedPath == BlendPath::automatic || !blendPathSupported(forcedPath))
        return fastestPathHere();
    return forcedPath;
}

namespace {

template <int SampleBytes>
void blendRunOf(int planes, std::uint8_t* out, const std::uint8_t* original,
                const PlaneRuns& samples, std::int32_t count, std::uint32_t mo, std::uint32_t me) {
    // Pixels wider than the kernels' (extra channels beside CMYK, say) go sample by sample.
    if (planes > kMaxPlanes)
        return blendSamples<SampleBytes>(out, original, samples, 0, count * planes, planes, mo, me);
    switch (activeBlendPath()) {
#if VEXEL_HAVE_VECTOR_PATHS
    case BlendPath::avx2:
        return forPlanes<Avx2<SampleBytes>::template Kernel>(planes, out, original, &samples, count,
                                                             mo, me);
    case BlendPath::sse2:
        return forPlanes<Sse2<SampleBytes>::template Kernel>(planes, out, original, &samples, count,
                                                             mo, me);
#endif
    default:
        return forPlanes<Words<SampleBytes>::template Kernel>(planes, out, original, &samples,
                                                              count, mo, me);
    }
}

} // namespace

void blendRun(int planes, std::uint8_t* out, const std::uint8_t* original, const PlaneRuns& samples,
              std::int32_t count, std::uint16_t mixOriginal, std::uint16_t mixEffect) {
    blendRunOf<1>(planes, out, original, samples, count, mixOriginal, mixEffect);
}

void blendRun16(int planes, std::uint8_t* out, const std::uint8_t* original,
                const PlaneRuns& samples, std::int32_t count, std::uint16_t mixOriginal,
                std::uint16_t mixEffect) {
    blendRunOf<2>(planes, out, original, samples, count, mixOriginal, mixEffect);
}

} // namespace vexel
