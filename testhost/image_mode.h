// How many planes a host delivers for an image mode, and the mode a host reports for a plane
// count; the test host and the native tests' host both follow it. Platform-free.
#pragma once

#include <cstdint>

#include "host/host_records.h"

namespace testhost {

// Grey, multichannel and duotone have one plane, CMYK four, every other mode three.
constexpr int planesForMode(int mode) {
    if (mode == vexel::imagemode::grayScale || mode == vexel::imagemode::multichannel ||
        mode == vexel::imagemode::duotone)
        return 1;
    return mode == vexel::imagemode::cmyk ? 4 : 3;
}

// One plane is grey, four CMYK, anything else RGB.
constexpr std::int16_t modeForPlanes(int planes) {
    return planes == 1   ? vexel::imagemode::grayScale
           : planes == 4 ? vexel::imagemode::cmyk
                         : vexel::imagemode::rgb;
}

} // namespace testhost
