// How many planes a host delivers for an image mode, how wide its samples are, and the mode a host
// reports for a plane count and depth; the test host and the native tests' host both follow it.
// Platform-free.
#pragma once

#include <cstdint>

#include "host/host_records.h"

namespace testhost {

// The 16-bit modes 10..15 are the twins of grey, RGB, Lab, CMYK, multichannel and duotone; 16
// and 17 hold 32-bit floats.
constexpr int sampleBytesForMode(int mode) {
    return mode >= vexel::imagemode::gray16 && mode <= vexel::imagemode::duotone16 ? 2
           : mode == vexel::imagemode::rgb96 || mode == vexel::imagemode::gray32   ? 4
                                                                                   : 1;
}

// Grey, multichannel and duotone have one plane, CMYK four, every other mode three; the same for
// their 16-bit twins.
constexpr int planesForMode(int mode) {
    using namespace vexel::imagemode;
    if (mode == grayScale || mode == multichannel || mode == duotone || mode == gray16 ||
        mode == deepMultichannel || mode == duotone16 || mode == gray32)
        return 1;
    return mode == cmyk || mode == cmyk64 ? 4 : 3;
}

// One plane is grey, four CMYK, anything else RGB; at 16 bits their twins.
constexpr std::int16_t modeForPlanes(int planes, int depth = 8) {
    using namespace vexel::imagemode;
    if (depth == 16) return planes == 1 ? gray16 : planes == 4 ? cmyk64 : rgb48;
    return planes == 1 ? grayScale : planes == 4 ? cmyk : rgb;
}

} // namespace testhost
