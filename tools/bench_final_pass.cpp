// Times the final pass of the real module (run under Wine on a display): a 4000 x 3000 image in
// RGB, CMYK and grey filtered through the host protocol, once with the whole rectangle held by the
// host (sampleStep 1) and once with a maxSpace that forces a decimated work image and the row
// cache. The host side is as cheap as a host can be: inData and outData point straight into the
// images. Prints one table row per image mode: the time of a plain copy of the same image, each
// pass's time and its ratio to the copy, and the missing-row fetches per output row. The 16-bit
// rows (RGB48, grey16: samples of 0..32768) also give each pass's time as a ratio to the 8-bit
// row of the same planes.
//
// Usage: bench_final_pass.exe [--plugin Vexel.8bf] [--label NAME] [--width W] [--height H]
//                             [--repeat N] [--planes 3,4,1] [--deep 3,1] [--no-header]
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/bench_clock_win32.h"

#include "host/host_records.h"

using namespace vexel;

namespace {

using EntryPoint = void(__cdecl*)(std::int16_t selector, void* record, std::intptr_t* data,
                                  std::int16_t* result);

struct Settings {
    std::int16_t angle = 60;
    std::int16_t stretch = 100;
    std::int16_t strength = 50;
    std::int16_t height = 100;
    std::int16_t width = 100;
};

std::int32_t progressCalls = 0;
void __cdecl onProgress(std::int32_t, std::int32_t) {
    ++progressCalls;
}

HGLOBAL makeParameters(const Settings& s, std::int16_t centerX, std::int16_t centerY) {
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 20);
    auto* p = static_cast<std::int16_t*>(GlobalLock(block));
    const std::int16_t values[7] = {centerX,    centerY,  s.angle, s.stretch,
                                    s.strength, s.height, s.width};
    std::memcpy(p, values, sizeof values); // showDialog (bytes 16..19) stays 0
    GlobalUnlock(block);
    return block;
}

struct PassResult {
    std::int16_t result = 0;
    int sampleStep = 0;
    double renderMs = 0;
    double prepassMs = 0;
    long renderCalls = 0;
    long fetches = 0;
    long mostFetchesForOneRow = 0;
    long mostFetchesSteady = 0; // past the first tenth of the rows
};

bool sameRect(const HostRect& a, const HostRect& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::int16_t modeOf(int planes, int sampleBytes) {
    if (sampleBytes == 2)
        return planes == 1 ? imagemode::gray16 : planes == 4 ? imagemode::cmyk64 : imagemode::rgb48;
    return planes == 1 ? imagemode::grayScale : planes == 4 ? imagemode::cmyk : imagemode::rgb;
}

PassResult runPass(EntryPoint entry, int width, int height, int planes, int sampleBytes,
                   std::int32_t maxSpace, const Settings& settings,
                   std::vector<std::uint8_t>& source, std::vector<std::uint8_t>& output) {
    std::vector<std::uint8_t> recordBytes(512, 0);
    auto& record = *reinterpret_cast<FilterRecord*>(recordBytes.data());
    PlatformData platform{0};
    record.filterRect =
        HostRect{0, 0, static_cast<std::int16_t>(height), static_cast<std::int16_t>(width)};
    record.imageSize =
        HostPoint{static_cast<std::int16_t>(height), static_cast<std::int16_t>(width)};
    record.planes = static_cast<std::int16_t>(planes);
    record.imageMode = modeOf(planes, sampleBytes);
    record.maxSpace = maxSpace;
    record.progressProc = &onProgress;
    record.platformData = &platform;
    record.hostSig = 0x3842494D;
    record.parameters = makeParameters(settings, static_cast<std::int16_t>(width / 2),
                                       static_cast<std::int16_t>(height / 2));

    const std::int32_t pixelBytes = planes * sampleBytes;
    const std::int32_t rowBytes = width * pixelBytes;
    auto at = [rowBytes, pixelBytes](std::vector<std::uint8_t>& image, const HostRect& r) {
        return image.data() + static_cast<std::size_t>(r.top) * rowBytes + r.left * pixelBytes;
    };
    PassResult pass;
    std::int16_t result = 0;
    entry(selector::prepare, &record, nullptr, &result);
    entry(selector::start, &record, nullptr, &result);
    if (result != 0) {
        pass.result = result;
        GlobalFree(record.parameters);
        return pass;
    }
    pass.sampleStep = record.inRect.bottom - record.inRect.top == height ? 1 : 0;

    bool rendering = false;
    double renderStart = 0;
    const double prepassStart = nowMs();
    std::vector<long> fetchesPerRow(static_cast<std::size_t>(height), 0);
    while (!isEmpty(record.inRect) || !isEmpty(record.outRect) || !isEmpty(record.maskRect)) {
        const HostRect in = record.inRect;
        const HostRect out = record.outRect;
        record.inData = at(source, in);
        record.inRowBytes = rowBytes;
        record.outData = at(output, out);
        record.outRowBytes = rowBytes;
        if (rendering) {
            ++pass.renderCalls;
            if (pass.sampleStep > 1 && !sameRect(in, out)) {
                ++pass.fetches;
                ++fetchesPerRow[static_cast<std::size_t>(out.top)];
            }
        } else if (pass.sampleStep == 0 && in.top > 0) {
            pass.sampleStep = in.top; // the second decimated row read
        }
        entry(selector::continueRun, &record, nullptr, &result);
        if (result != 0) break;
        // The prepass ends in the call that leaves the first output row with its own source
        // row (decimated) or the whole rectangle (sampleStep 1) to read next.
        if (!rendering && (pass.sampleStep == 1 || sameRect(record.inRect, record.outRect))) {
            rendering = true;
            renderStart = nowMs();
            pass.prepassMs = renderStart - prepassStart;
        }
    }
    pass.renderMs = nowMs() - renderStart;
    pass.result = result;
    entry(selector::finish, &record, nullptr, &result);
    GlobalFree(record.parameters);
    for (int row = 0; row < height; ++row) {
        const long f = fetchesPerRow[static_cast<std::size_t>(row)];
        pass.mostFetchesForOneRow = std::max(pass.mostFetchesForOneRow, f);
        if (row >= height / 10) pass.mostFetchesSteady = std::max(pass.mostFetchesSteady, f);
    }
    return pass;
}

double copyMs(const std::vector<std::uint8_t>& source, std::vector<std::uint8_t>& target,
              int repeat) {
    double best = 1e30;
    for (int n = 0; n < repeat; ++n) {
        const double start = nowMs();
        std::memcpy(target.data(), source.data(), source.size());
        best = std::min(best, nowMs() - start);
    }
    return best;
}

struct Measured {
    double copyMs = 1e30;
    PassResult passes[2];
};

// Best of `repeat` for each pass; the copy is timed before every pass, so that both see the same
// state of a shared machine.
bool measure(EntryPoint entry, int width, int height, int planes, int sampleBytes, int repeat,
             Measured& m) {
    const std::size_t bytes = static_cast<std::size_t>(width) * height * planes * sampleBytes;
    std::vector<std::uint8_t> source(bytes);
    std::uint32_t seed = 1;
    for (std::size_t i = 0; i < bytes; i += static_cast<std::size_t>(sampleBytes)) {
        seed = seed * 1103515245u + 12345u;
        const std::size_t pixel = i / static_cast<std::size_t>(planes * sampleBytes);
        const auto value = static_cast<std::uint8_t>((pixel % 4000) / 16 + (seed >> 28));
        if (sampleBytes == 1) {
            source[i] = value;
        } else { // the same picture in 0..32768
            const auto wide = static_cast<std::uint16_t>(value * 128 + (seed >> 25));
            std::memcpy(&source[i], &wide, sizeof wide);
        }
    }
    std::vector<std::uint8_t> output(bytes);
    const Settings settings;
    // The whole rectangle fits 200,000,000; half the image does not fit its own size.
    const std::int32_t rowBytes = width * planes * sampleBytes;
    const std::int32_t spaces[2] = {200000000,
                                    static_cast<std::int32_t>(bytes / 2) + 64 * rowBytes};
    for (int p = 0; p < 2; ++p) {
        for (int n = 0; n < repeat; ++n) {
            m.copyMs = std::min(m.copyMs, copyMs(source, output, 3));
            std::memcpy(output.data(), source.data(), bytes);
            PassResult pass = runPass(entry, width, height, planes, sampleBytes, spaces[p],
                                      settings, source, output);
            if (pass.result != 0) {
                std::fprintf(stderr, "planes %d, maxSpace %ld: result %d\n", planes,
                             static_cast<long>(spaces[p]), pass.result);
                return false;
            }
            if (n == 0 || pass.renderMs < m.passes[p].renderMs) m.passes[p] = pass;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    std::string plugin = "Vexel.8bf";
    std::string label = "Vexel";
    std::string planeList = "3,4,1";
    std::string deepList = "3,1";
    bool header = true;
    int width = 4000;
    int height = 3000;
    int repeat = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string name = argv[i];
        if (name == "--no-header") header = false;
        if (i + 1 >= argc) continue;
        if (name == "--plugin") plugin = argv[i + 1];
        if (name == "--label") label = argv[i + 1];
        if (name == "--planes") planeList = argv[i + 1];
        if (name == "--deep") deepList = argv[i + 1];
        if (name == "--width") width = std::atoi(argv[i + 1]);
        if (name == "--height") height = std::atoi(argv[i + 1]);
        if (name == "--repeat") repeat = std::max(1, std::atoi(argv[i + 1]));
    }
    HMODULE module = LoadLibraryA(plugin.c_str());
    FARPROC proc = module != nullptr ? GetProcAddress(module, "ENTRYPOINT1") : nullptr;
    // Through void* because the two function types are unrelated to the compiler.
    auto entry = reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(proc));
    if (entry == nullptr) {
        std::fprintf(stderr, "cannot load %s\n", plugin.c_str());
        return 3;
    }

    if (header) {
        const Settings s;
        std::printf("%d x %d; angle %d, stretch %d, strength %d, height %d, width %d, centre in "
                    "the middle; best of %d; times in ms, ratios to the plain copy\n",
                    width, height, s.angle, s.stretch, s.strength, s.height, s.width, repeat);
        std::printf("%-22s %-6s %7s | %8s %6s | %8s %6s %8s | %s\n", "module", "mode", "copy",
                    "step 1", "ratio", "step 2", "ratio", "fetches", "16-bit / 8-bit: step 1, 2");
    }
    // The 8-bit row of each plane count, for the 16-bit rows' ratios.
    Measured eightBit[5];
    bool haveEightBit[5] = {};
    auto row = [&](const char* name, int planes, int sampleBytes) {
        Measured m;
        if (!measure(entry, width, height, planes, sampleBytes, repeat, m)) return false;
        const PassResult& whole = m.passes[0];
        const PassResult& cached = m.passes[1];
        if (whole.sampleStep != 1 || cached.sampleStep < 2)
            std::fprintf(stderr, "unexpected sampleSteps %d and %d\n", whole.sampleStep,
                         cached.sampleStep);
        std::printf("%-22s %-6s %7.2f | %8.2f %5.1fx | %8.2f %5.1fx %8.2f", label.c_str(), name,
                    m.copyMs, whole.renderMs, whole.renderMs / m.copyMs, cached.renderMs,
                    cached.renderMs / m.copyMs, static_cast<double>(cached.fetches) / height);
        if (sampleBytes == 2 && haveEightBit[planes])
            std::printf(" | %5.2fx %5.2fx", whole.renderMs / eightBit[planes].passes[0].renderMs,
                        cached.renderMs / eightBit[planes].passes[1].renderMs);
        std::printf("\n");
        std::fflush(stdout);
        if (sampleBytes == 1) {
            eightBit[planes] = m;
            haveEightBit[planes] = true;
        }
        return true;
    };
    for (char c : planeList) {
        const int planes = c - '0';
        if (planes != 1 && planes != 3 && planes != 4) continue;
        if (!row(planes == 1 ? "grey" : planes == 4 ? "CMYK" : "RGB", planes, 1)) return 1;
    }
    for (char c : deepList) {
        const int planes = c - '0';
        if (planes != 1 && planes != 3 && planes != 4) continue;
        if (!row(planes == 1 ? "grey16" : planes == 4 ? "CMYK64" : "RGB48", planes, 2)) return 1;
    }
    return 0;
}
