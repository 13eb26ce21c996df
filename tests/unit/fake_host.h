// A small host that drives whole runs through dispatchSelector the way real hosts do: it fills
// inData, maskData and outData for the rectangles and planes the module asked for (fresh buffers
// every call, rows padded so that only inRowBytes is a valid stride), takes the output back, and
// keeps a log of every request and progress report. With zeroUnrequestedPlanes it writes output
// rows back whole from a destination that starts at 0, as a filter host with an alpha plane does;
// with ignoreLowPlane it delivers and takes back planes from plane 0 whatever the low plane says,
// as an editor's host library does.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "host/dispatch.h"
#include "host/host_records.h"
#include "host/memory.h"
#include "host/param_block.h"
#include "host/plugin_globals.h"
#include "tests/unit/test_support.h"
#include "testhost/image_mode.h"

namespace vexel::testing {

// The rectangles the module left in the record, as seen by the host before a Continue call.
struct Requests {
    HostRect in;
    HostRect out;
    HostRect mask;
    std::array<std::int16_t, 4> planes; // inLo, inHi, outLo, outHi
};

struct FakeHost {
    static constexpr std::int16_t kTop = 100; // host coordinates of the filter rectangle
    static constexpr std::int16_t kLeft = 20;
    static constexpr std::int32_t kRowPadding = 5;

    std::int16_t width;
    std::int16_t height;
    std::int16_t planes;              // the record's planes: the image mode's, plus extraPlanes
    std::int16_t sampleBytes;         // 2 for the 16-bit modes
    std::vector<std::uint8_t> source; // the filter rectangle, planes interleaved
    std::vector<std::uint8_t> output;
    std::vector<std::uint8_t> mask; // one byte per pixel; empty without a host mask
    alignas(8) std::array<std::uint8_t, 512> recordBytes{};
    FilterRecord& record = *reinterpret_cast<FilterRecord*>(recordBytes.data());
    std::vector<Requests> requests;
    std::vector<std::array<std::int32_t, 2>> progress;
    std::int64_t peakLiveBytesInContinue = 0;
    std::array<std::uint8_t, 512> recordBeforeLastCall{}; // as handed over, buffers filled
    bool finishOnDestroy = true;
    bool zeroUnrequestedPlanes = false;
    bool ignoreLowPlane = false;
    std::vector<std::uint8_t> planesAskedFor; // one bit per plane of every output pixel
    std::vector<std::uint8_t> inBuffer, outBuffer, maskBuffer;

    static inline FakeHost* active = nullptr;
    static void onProgress(std::int32_t done, std::int32_t total) {
        active->progress.push_back({done, total});
    }

    FakeHost(std::int16_t w, std::int16_t h, std::int16_t planeCount, std::int32_t maxSpace,
             std::int16_t extraPlanes = 0, int depth = 8)
        : width(w), height(h), planes(static_cast<std::int16_t>(planeCount + extraPlanes)),
          sampleBytes(depth == 16 ? 2 : 1) {
        source.resize(static_cast<std::size_t>(w) * h * pixelBytes());
        std::uint32_t seed = 12345u + static_cast<std::uint32_t>(w * 31 + h * 7 + planeCount);
        for (auto& byte : source) {
            seed = seed * 1103515245u + 12345u;
            byte = static_cast<std::uint8_t>(seed >> 16);
        }
        output = source;
        record.filterRect = HostRect{kTop, kLeft, static_cast<std::int16_t>(kTop + h),
                                     static_cast<std::int16_t>(kLeft + w)};
        record.imageSize = HostPoint{static_cast<std::int16_t>(kTop + h + 10),
                                     static_cast<std::int16_t>(kLeft + w + 10)};
        record.planes = planes;
        record.imageMode = testhost::modeForPlanes(planeCount, depth);
        record.maxSpace = maxSpace;
        record.progressProc = &FakeHost::onProgress;
        active = this;
    }
    ~FakeHost() {
        if (finishOnDestroy) call(selector::finish); // a careful host ends every run it started
        if (record.parameters != nullptr) freeBlock(record.parameters);
        active = nullptr;
    }

    void setMask(std::vector<std::uint8_t> bytes) {
        mask = std::move(bytes);
        record.haveMask = 1;
    }
    // The host's parameter block with these settings (showDialog as given).
    void setSettings(const ParamBlock& block) {
        if (record.parameters == nullptr) record.parameters = allocBlock(kParamBlockBytes);
        auto* bytes = static_cast<std::uint8_t*>(lockBlock(record.parameters));
        encodeParamBlock(block, std::span<std::uint8_t, kParamBlockBytes>(bytes, kParamBlockBytes));
        unlockBlock(record.parameters);
    }

    std::int32_t pixelBytes() const { return std::int32_t{planes} * sampleBytes; }
    std::uint8_t* pixel(std::vector<std::uint8_t>& image, std::int32_t x, std::int32_t y) {
        return image.data() + (static_cast<std::size_t>(y) * width + x) * pixelBytes();
    }

    std::int16_t call(std::int16_t selectorValue) {
        std::int16_t result = 0x5555;
        dispatchSelector(selectorValue, &record, &result);
        return result;
    }

    bool pending() const {
        return !isEmpty(record.inRect) || !isEmpty(record.outRect) || !isEmpty(record.maskRect);
    }

    // Fresh buffers for a rectangle inside the filter rectangle, planes low..high of an image of
    // imagePlanes samples of `size` bytes; null for an empty one.
    void* fill(std::vector<std::uint8_t>& buffer, const HostRect& r,
               const std::vector<std::uint8_t>& image, std::int32_t imagePlanes, std::int32_t low,
               std::int32_t high, std::int32_t& rowBytes, std::int32_t size = 1) {
        std::vector<std::uint8_t> fresh;
        buffer.swap(fresh); // the old buffer is freed: a pointer kept across calls is caught
        buffer.clear();
        if (isEmpty(r)) return nullptr;
        EXPECT_GE(r.top, record.filterRect.top);
        EXPECT_LE(r.bottom, record.filterRect.bottom);
        EXPECT_GE(r.left, record.filterRect.left);
        EXPECT_LE(r.right, record.filterRect.right);
        EXPECT_TRUE(0 <= low && low <= high && high < imagePlanes) << low << ".." << high;
        high = std::min(high, imagePlanes - 1);
        const std::int32_t columns = r.right - r.left;
        const std::int32_t rows = r.bottom - r.top;
        const std::int32_t bytesPerPixel = std::max(high - low + 1, 0) * size;
        rowBytes = columns * bytesPerPixel + kRowPadding * size; // 16-bit rows stay even
        buffer.assign(static_cast<std::size_t>(rowBytes) * rows, 0xEE);
        for (std::int32_t y = 0; y < rows; ++y)
            for (std::int32_t x = 0; x < columns; ++x)
                for (std::int32_t p = low; p <= high; ++p)
                    std::copy_n(
                        image.begin() +
                            static_cast<std::ptrdiff_t>(
                                ((std::int64_t{r.top - kTop + y} * width + r.left - kLeft + x) *
                                     imagePlanes +
                                 p) *
                                size),
                        size,
                        buffer.begin() + (y * rowBytes + x * bytesPerPixel + (p - low) * size));
        return buffer.data();
    }

    // The output of rectangle r, planes low..high, as the host handed them over.
    void takeOutput(const HostRect& r, std::int32_t low, std::int32_t high) {
        if (outBuffer.empty()) return;
        high = std::min<std::int32_t>(high, planes - 1);
        const std::int32_t size = sampleBytes;
        const std::int32_t bytesPerPixel = (high - low + 1) * size;
        planesAskedFor.resize(static_cast<std::size_t>(width) * height);
        for (std::int32_t y = 0; y < r.bottom - r.top; ++y)
            for (std::int32_t x = 0; x < r.right - r.left; ++x) {
                const std::size_t at =
                    static_cast<std::size_t>(r.top - kTop + y) * width + (r.left - kLeft + x);
                for (std::int32_t p = 0; p < planes; ++p) {
                    std::uint8_t* sample = output.data() +
                                           at * static_cast<std::size_t>(planes * size) +
                                           static_cast<std::size_t>(p * size);
                    const auto bit = static_cast<std::uint8_t>(1u << p);
                    if (p >= low && p <= high) {
                        std::copy_n(outBuffer.begin() + (y * record.outRowBytes +
                                                         x * bytesPerPixel + (p - low) * size),
                                    size, sample);
                        planesAskedFor[at] |= bit;
                    } else if (zeroUnrequestedPlanes && (planesAskedFor[at] & bit) == 0) {
                        std::fill_n(sample, size, 0);
                    }
                }
            }
    }

    std::int16_t continueOnce() {
        requests.push_back(
            {record.inRect,
             record.outRect,
             record.maskRect,
             {record.inLoPlane, record.inHiPlane, record.outLoPlane, record.outHiPlane}});
        const std::int32_t inShift = ignoreLowPlane ? record.inLoPlane : 0;
        const std::int32_t outShift = ignoreLowPlane ? record.outLoPlane : 0;
        record.inData = fill(inBuffer, record.inRect, source, planes, record.inLoPlane - inShift,
                             record.inHiPlane - inShift, record.inRowBytes, sampleBytes);
        record.outData =
            fill(outBuffer, record.outRect, output, planes, record.outLoPlane - outShift,
                 record.outHiPlane - outShift, record.outRowBytes, sampleBytes);
        record.maskData = record.haveMask != 0 ? fill(maskBuffer, record.maskRect, mask, 1, 0, 0,
                                                      record.maskRowBytes)
                                               : nullptr;
        const HostRect outRect = record.outRect;
        const std::int32_t low = record.outLoPlane - outShift;
        const std::int32_t high = record.outHiPlane - outShift;
        recordBeforeLastCall = recordBytes;
        const std::int16_t result = call(selector::continueRun);
        // The host takes the output of the rectangle it handed over.
        takeOutput(outRect, low, high);
        peakLiveBytesInContinue = std::max(peakLiveBytesInContinue, memoryFake.liveBytes);
        return result;
    }

    // Prepare, Start, Continue while anything is requested, Finish (also after a failed
    // Continue, as careful hosts do). Returns the first nonzero result.
    std::int16_t run(std::size_t maxCalls = 1000000) {
        std::int16_t result = call(selector::prepare);
        if (result != 0) return result;
        result = call(selector::start);
        if (result != 0) return result;
        while (pending() && result == 0 && requests.size() < maxCalls)
            result = continueOnce();
        call(selector::finish);
        return result;
    }
};

} // namespace vexel::testing
