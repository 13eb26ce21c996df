// Throughput of the dispersion transform over a 4000-pixel-wide RGB image, against a plain copy of
// the same bytes: the pixel-wise loop, and for each blend path the row kernel and the final pass
// with the row cache and its fetches as the continue driver runs it. The row kernel also runs on
// grey and on 16-bit RGB and grey images of the same size, each beside its 8-bit twin.
//
//   vexel_bench_transform [width] [height] [repeats]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "effect/dispersion.h"
#include "effect/row_blend.h"
#include "host/int_math.h"
#include "host/memory.h"
#include "host/plugin_globals.h"
#include "pipeline/row_cache.h"
#include "pipeline/run_plan.h"

// Global memory is the unit tests' stand-in (tests/unit/memory_fake.cpp); the benchmark never runs
// out.
namespace vexel {
void releaseRunResources() {
    freeRunBuffer(g.buffers.rowCache);
}
} // namespace vexel

namespace {

using namespace vexel;

struct Image {
    std::int16_t width;
    std::int16_t height;
    std::int16_t planes;
    std::int16_t sampleBytes;
    std::int32_t rowBytes;
    std::vector<std::uint8_t> source;
    std::vector<std::uint8_t> output;
    std::uint8_t* sourceRow(std::int32_t y) { return source.data() + std::int64_t{y} * rowBytes; }
    std::uint8_t* outputRow(std::int32_t y) { return output.data() + std::int64_t{y} * rowBytes; }
};

// Typical settings with the rectangle over the whole image, so every pixel is transformed.
void useSettings(const Image& image) {
    g = PluginGlobals{};
    g.geometry.planeCount = image.planes;
    g.geometry.sampleBytes = image.sampleBytes;
    g.geometry.imageWidth = image.width;
    g.geometry.imageHeight = image.height;
    g.geometry.hostRowBytes = image.rowBytes;
    g.production.gridWidth = image.width;
    g.production.gridHeight = image.height;
    g.settings.angle = 30;
    g.settings.stretch = 20;
    g.settings.strength = 50;
    g.settings.height = 100;
    g.settings.width = 100;
    g.geometry.previewMax = 512;
    g.geometry.imageScale = image.width * 65536 / 512;
    g.effect.gridCenterX = static_cast<std::int16_t>(image.width / 2);
    g.effect.gridCenterY = static_cast<std::int16_t>(image.height / 2);
    g.production.posX = 0x8000;
    g.production.posY = 0x8000;
}

void startRow(std::int32_t y) {
    g.production.posY = withWholePart(g.production.posY, y);
    g.production.posX = withWholePart(g.production.posX, 0);
}

void copyRows(Image& image) {
    for (std::int32_t y = 0; y < image.height; ++y)
        std::memcpy(image.outputRow(y), image.sourceRow(y),
                    static_cast<std::size_t>(image.rowBytes));
}

void useWholeImage(Image& image) {
    useSettings(image);
    g.buffers.workImage.address = image.source.data();
    g.geometry.workRowBytes = image.rowBytes;
    deriveEffect(g.effect, g.settings, g.geometry.previewMax, g.geometry.imageScale);
}

void pixelLoop(Image& image) {
    useWholeImage(image);
    for (std::int32_t y = 0; y < image.height; ++y) {
        startRow(y);
        g.production.currentRow = image.sourceRow(y);
        std::uint8_t* out = image.outputRow(y);
        for (std::int16_t x = 0; x < image.width; ++x) {
            g.production.posX = withWholePart(g.production.posX, x);
            transformPixel(g.effect, out + x * image.planes * image.sampleBytes);
        }
    }
}

void rowKernel(Image& image) {
    useWholeImage(image);
    for (std::int32_t y = 0; y < image.height; ++y) {
        startRow(y);
        g.production.currentRow = image.sourceRow(y);
        transformRow(g.effect, image.outputRow(y), image.width);
    }
}

// sampleStep > 1: one host row per call, the others from the cache; a missing row costs a call
// and the output row is produced again.
void finalPassCached(Image& image) {
    useSettings(image);
    deriveEffect(
        g.effect, g.settings, g.geometry.previewMax,
        g.geometry.imageScale); // once, as the driver does while the parameter block is unchanged
    g.geometry.sampleStep = 2;
    if (setupRowCache() != 0) std::abort();
    for (std::int32_t y = 0; y < image.height; ++y) {
        g.production.currentRow = image.sourceRow(y);
        g.production.currentRowIndex = static_cast<std::int16_t>(y);
        for (;;) {
            startRow(y);
            const std::int16_t missing = transformRow(g.effect, image.outputRow(y), image.width);
            if (missing < 0) break;
            cacheInsert();
            g.production.currentRow =
                image.sourceRow(missing); // the host delivers the row asked for
            g.production.currentRowIndex = missing;
            cacheInsert();
            g.production.currentRow = nullptr;
        }
        cacheInsert();
    }
    freeRunBuffer(g.buffers.rowCache);
    g.cache.cacheActive = 0;
}

// CPU time of this thread: the machine is shared, and waiting for a core is not the kernel's cost.
double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

double timeOnce(Image& image, void (*run)(Image&)) {
    const double start = cpuSeconds();
    run(image);
    return cpuSeconds() - start;
}

Image makeImage(std::int16_t width, std::int16_t height, std::int16_t planes,
                std::int16_t sampleBytes) {
    Image image{width, height, planes, sampleBytes, width * planes * sampleBytes, {}, {}};
    image.source.resize(static_cast<std::size_t>(image.rowBytes) * height);
    image.output.resize(image.source.size());
    std::uint32_t seed = 12345;
    for (auto& b : image.source) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    if (sampleBytes == 2) // samples of 0..32768, as the original host holds them
        for (std::size_t i = 1; i < image.source.size(); i += 2)
            image.source[i] &= 0x7F;
    return image;
}

} // namespace

int main(int argc, char** argv) {
    const auto width = static_cast<std::int16_t>(argc > 1 ? std::atoi(argv[1]) : 4000);
    const auto height = static_cast<std::int16_t>(argc > 2 ? std::atoi(argv[2]) : 1000);
    const int repeats = argc > 3 ? std::atoi(argv[3]) : 5;
    std::vector<Image> images;
    images.push_back(makeImage(width, height, 3, 1)); // the first: every variant runs on it
    images.push_back(makeImage(width, height, 3, 2));
    images.push_back(makeImage(width, height, 1, 1));
    images.push_back(makeImage(width, height, 1, 2));
    const char* const imageNames[] = {"RGB", "RGB48", "grey", "grey16"};

    const double pixels = double(width) * height;
    std::printf("%d x %d, best of %d (thread CPU time); ratios to a copy of the same image and, "
                "for 16 bits, to the 8-bit row above\n",
                width, height, repeats);
    struct Variant {
        std::string name;
        BlendPath path;
        void (*run)(Image&);
        std::size_t image;
    };
    std::vector<Variant> variants{{"transformPixel loop, RGB", BlendPath::automatic, pixelLoop, 0}};
    const std::pair<BlendPath, const char*> paths[] = {
        {BlendPath::plain, "plain"}, {BlendPath::sse2, "sse2"}, {BlendPath::avx2, "avx2"}};
    for (const auto& [path, name] : paths) {
        if (!blendPathSupported(path)) continue;
        for (std::size_t i = 0; i < images.size(); ++i)
            variants.push_back(
                {std::string("transformRow, ") + name + ", " + imageNames[i], path, rowKernel, i});
        variants.push_back(
            {std::string("row cache pass, ") + name + ", RGB", path, finalPassCached, 0});
    }
    // The copy is timed alongside each variant, so that both see the same state of the machine.
    std::vector<double> copy(images.size(), 1e30);
    std::vector<double> best(variants.size(), 1e30);
    for (std::size_t v = 0; v < variants.size(); ++v) {
        forceBlendPath(variants[v].path);
        Image& image = images[variants[v].image];
        for (int i = 0; i < repeats; ++i) {
            copy[variants[v].image] = std::min(copy[variants[v].image], timeOnce(image, copyRows));
            best[v] = std::min(best[v], timeOnce(image, variants[v].run));
        }
    }
    forceBlendPath(BlendPath::automatic);
    for (std::size_t i = 0; i < images.size(); ++i)
        std::printf("%-34s %9.1f Mpixel/s   1.0x copy\n",
                    (std::string("memcpy, ") + imageNames[i]).c_str(), pixels / copy[i] / 1e6);
    for (std::size_t v = 0; v < variants.size(); ++v) {
        std::printf("%-34s %9.1f Mpixel/s %6.1fx copy", variants[v].name.c_str(),
                    pixels / best[v] / 1e6, best[v] / copy[variants[v].image]);
        if (variants[v].image % 2 == 1) std::printf(" %6.2fx 8-bit", best[v] / best[v - 1]);
        std::printf("\n");
    }
    return 0;
}
