// Blending a run of pixels with its samples, a machine word or a vector register at a time. Both
// ways split the bytes into alternate 16-bit lanes: since the two weights sum to 256 no lane can
// carry into the next (255 x 256 < 65536), so every byte comes out exactly as
// (original x mixOriginal + sample x mixEffect) >> 8. The samples of the planes are merged into
// one run with byte masks that repeat with the pixel size.
#include "effect/row_blend.h"

#include <array>
#include <bit>
#include <cstring>
#include <numeric>
#include <type_traits>

#if defined(__x86_64__) || defined(__i386__)
#include <emmintrin.h>
#define VEXEL_HAVE_SSE2_PATH 1
#else
#define VEXEL_HAVE_SSE2_PATH 0
#endif

namespace vexel {

namespace {

// The byte masks of one group: the fewest units (words or vectors) that hold whole pixels. Byte
// b of unit u belongs to plane (u x unitBytes + b) % planes.
template <int Planes, int UnitBytes>
constexpr int kGroupUnits = Planes / std::gcd(Planes, UnitBytes);

template <int Planes, int UnitBytes> constexpr auto planeByteMasks() {
    std::array<std::array<std::array<std::uint8_t, UnitBytes>, Planes>,
               kGroupUnits<Planes, UnitBytes>>
        masks{};
    for (int u = 0; u < kGroupUnits<Planes, UnitBytes>; ++u)
        for (int k = 0; k < Planes; ++k)
            for (int b = 0; b < UnitBytes; ++b)
                masks[u][k][b] = (u * UnitBytes + b) % Planes == k ? 0xFF : 0x00;
    return masks;
}

// Byte by byte: the ends of runs, and whole runs when the weights do not sum to 256.
void blendBytes(std::uint8_t* out, const std::uint8_t* original, const PlaneRuns& samples,
                std::int32_t from, std::int32_t to, int planes, std::uint32_t mixOriginal,
                std::uint32_t mixEffect) {
    for (std::int32_t at = from; at < to; ++at)
        out[at] = static_cast<std::uint8_t>(
            (original[at] * mixOriginal + samples[at % planes][at] * mixEffect) >> 8);
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

Word blendWord(Word original, Word sample, Word mixOriginal, Word mixEffect) {
    const Word low =
        (((original & kLowBytes) * mixOriginal + (sample & kLowBytes) * mixEffect) >> 8) &
        kLowBytes;
    const Word high =
        (((original >> 8) & kLowBytes) * mixOriginal + ((sample >> 8) & kLowBytes) * mixEffect) &
        ~kLowBytes;
    return low | high;
}

// Masks as words, built from bytes so that they hold in either byte order.
template <int Planes> constexpr auto wordMasks() {
    constexpr auto bytes = planeByteMasks<Planes, kWordBytes>();
    std::array<std::array<Word, Planes>, kGroupUnits<Planes, kWordBytes>> masks{};
    for (std::size_t u = 0; u < masks.size(); ++u)
        for (int k = 0; k < Planes; ++k)
            masks[u][k] = std::bit_cast<Word>(bytes[u][k]);
    return masks;
}

template <int Planes>
void blendRunWords(std::uint8_t* out, const std::uint8_t* original, const PlaneRuns& samples,
                   std::int32_t count, std::uint32_t mixOriginal, std::uint32_t mixEffect) {
    const std::int32_t bytes = count * Planes;
    std::int32_t at = 0;
    if (mixOriginal + mixEffect == 256) {
        constexpr auto masks = wordMasks<Planes>();
        constexpr int groupBytes = kGroupUnits<Planes, kWordBytes> * kWordBytes;
        for (; at + groupBytes <= bytes; at += groupBytes)
            for (int u = 0; u < kGroupUnits<Planes, kWordBytes>; ++u) {
                const int offset = at + u * kWordBytes;
                Word sample = 0;
                for (int k = 0; k < Planes; ++k)
                    sample |= loadWord(samples[k] + offset) & masks[u][k];
                storeWord(out + offset,
                          blendWord(loadWord(original + offset), sample, mixOriginal, mixEffect));
            }
    }
    blendBytes(out, original, samples, at, bytes, Planes, mixOriginal, mixEffect);
}

// ---- Vector path: SSE2, 16 bytes at a time. On i686 it is compiled for SSE2 on its own and only
// called after the processor was checked; the rest of the module stays baseline code.

#if VEXEL_HAVE_SSE2_PATH
#if defined(__i386__)
// Hosts may call in with a stack aligned to 4 bytes only; SSE2 spills need 16.
#define VEXEL_SSE2 __attribute__((target("sse2"), force_align_arg_pointer))
#else
#define VEXEL_SSE2 __attribute__((target("sse2")))
#endif
#define VEXEL_SSE2_INLINE __attribute__((target("sse2"), always_inline)) inline

constexpr int kVectorBytes = 16;

template <int Planes>
alignas(16) constexpr auto kVectorMasks = planeByteMasks<Planes, kVectorBytes>();

VEXEL_SSE2_INLINE __m128i loadVector(const std::uint8_t* bytes) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
}

VEXEL_SSE2_INLINE __m128i blendVector(__m128i original, __m128i sample, __m128i mixOriginal,
                                      __m128i mixEffect, __m128i lowBytes) {
    const __m128i low = _mm_srli_epi16(
        _mm_add_epi16(_mm_mullo_epi16(_mm_and_si128(original, lowBytes), mixOriginal),
                      _mm_mullo_epi16(_mm_and_si128(sample, lowBytes), mixEffect)),
        8);
    const __m128i high = _mm_add_epi16(_mm_mullo_epi16(_mm_srli_epi16(original, 8), mixOriginal),
                                       _mm_mullo_epi16(_mm_srli_epi16(sample, 8), mixEffect));
    return _mm_or_si128(low, _mm_andnot_si128(lowBytes, high));
}

template <int Planes>
VEXEL_SSE2_INLINE __m128i mergedSamples(const PlaneRuns& samples, std::int32_t offset, int unit) {
    if constexpr (Planes == 1) {
        return loadVector(samples[0] + offset);
    } else {
        const auto& masks = kVectorMasks<Planes>[static_cast<std::size_t>(unit)];
        __m128i sample = _mm_setzero_si128();
        for (int k = 0; k < Planes; ++k)
            sample = _mm_or_si128(sample,
                                  _mm_and_si128(loadVector(samples[k] + offset),
                                                _mm_load_si128(reinterpret_cast<const __m128i*>(
                                                    masks[static_cast<std::size_t>(k)].data()))));
        return sample;
    }
}

template <int Planes>
VEXEL_SSE2 void blendRunVectors(std::uint8_t* out, const std::uint8_t* original,
                                const PlaneRuns& samples, std::int32_t count,
                                std::uint32_t mixOriginal, std::uint32_t mixEffect) {
    const std::int32_t bytes = count * Planes;
    std::int32_t at = 0;
    // A local copy: stores through `out` cannot change it, so the pointers stay in registers.
    const PlaneRuns runs = samples;
    if (mixOriginal + mixEffect == 256) {
        const __m128i mixO = _mm_set1_epi16(static_cast<std::int16_t>(mixOriginal));
        const __m128i mixE = _mm_set1_epi16(static_cast<std::int16_t>(mixEffect));
        const __m128i lowBytes = _mm_set1_epi16(0x00FF);
        constexpr int units = kGroupUnits<Planes, kVectorBytes>;
        for (; at + units * kVectorBytes <= bytes; at += units * kVectorBytes)
            for (int u = 0; u < units; ++u) {
                const std::int32_t offset = at + u * kVectorBytes;
                const __m128i blended =
                    blendVector(loadVector(original + offset),
                                mergedSamples<Planes>(runs, offset, u), mixO, mixE, lowBytes);
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + offset), blended);
            }
    }
    blendBytes(out, original, samples, at, bytes, Planes, mixOriginal, mixEffect);
}

bool processorHasSse2() {
#if defined(__x86_64__)
    return true;
#else
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2") != 0;
#endif
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

template <int Planes> struct WordKernel {
    static void run(std::uint8_t* out, const std::uint8_t* original, const PlaneRuns* samples,
                    std::int32_t count, std::uint32_t mixOriginal, std::uint32_t mixEffect) {
        blendRunWords<Planes>(out, original, *samples, count, mixOriginal, mixEffect);
    }
};

#if VEXEL_HAVE_SSE2_PATH
template <int Planes> struct VectorKernel {
    static void run(std::uint8_t* out, const std::uint8_t* original, const PlaneRuns* samples,
                    std::int32_t count, std::uint32_t mixOriginal, std::uint32_t mixEffect) {
        blendRunVectors<Planes>(out, original, *samples, count, mixOriginal, mixEffect);
    }
};
#endif

// The processor is asked once; which path a run takes is a property of the machine, not of a run,
// so it lives beside the code rather than in the run's state.
enum class Support : std::uint8_t { unknown, absent, present };
Support vectorSupport = Support::unknown;
BlendPath forcedPath = BlendPath::automatic;

bool useVectorPath() {
    return forcedPath != BlendPath::plain && vectorBlendSupported();
}

} // namespace

bool vectorBlendSupported() {
#if VEXEL_HAVE_SSE2_PATH
    if (vectorSupport == Support::unknown)
        vectorSupport = processorHasSse2() ? Support::present : Support::absent;
    return vectorSupport == Support::present;
#else
    return false;
#endif
}

void forceBlendPath(BlendPath path) {
    forcedPath = path;
}

BlendPath activeBlendPath() {
    return useVectorPath() ? BlendPath::vector : BlendPath::plain;
}

void blendRun(int planes, std::uint8_t* out, const std::uint8_t* original, const PlaneRuns& samples,
              std::int32_t count, std::uint16_t mixOriginal, std::uint16_t mixEffect) {
#if VEXEL_HAVE_SSE2_PATH
    if (useVectorPath()) {
        forPlanes<VectorKernel>(planes, out, original, &samples, count, std::uint32_t{mixOriginal},
                                std::uint32_t{mixEffect});
        return;
    }
#endif
    blendRunPlain(planes, out, original, samples, count, mixOriginal, mixEffect);
}

void blendRunPlain(int planes, std::uint8_t* out, const std::uint8_t* original,
                   const PlaneRuns& samples, std::int32_t count, std::uint16_t mixOriginal,
                   std::uint16_t mixEffect) {
    forPlanes<WordKernel>(planes, out, original, &samples, count, std::uint32_t{mixOriginal},
                          std::uint32_t{mixEffect});
}

} // namespace vexel
