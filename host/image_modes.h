// What an image mode tells the module: the planes it filters, the bytes of one sample, and the
// 8-bit mode its preview is shown as. The mode alone decides the sample size; no record field past
// handleProcs is read for it, since older hosts' records end there. Platform-free.
#pragma once

#include <cstdint>

#include "host/host_records.h"

namespace vexel {

struct ImageModeInfo {
    bool filterable = true;  // false: refused with filterBadMode (32-bit float samples)
    std::int16_t planes = 3; // grey-like 1, CMYK 4, every other mode 3
    std::int16_t sampleBytes = 1;
    std::int16_t previewMode = imagemode::rgb; // the mode of the 8-bit preview pixels
    bool labLike = false;                      // filtered, but with the Lab warning
};

// The 16-bit modes are the twins of the 8-bit ones with the same plane counts; any mode the table
// does not name is filtered as 8-bit RGB, as it always was.
constexpr ImageModeInfo imageModeInfo(std::int16_t mode) {
    using namespace imagemode;
    switch (mode) {
    case grayScale:
    case multichannel:
    case duotone:
        return {true, 1, 1, mode, false};
    case cmyk:
        return {true, 4, 1, cmyk, false};
    case lab:
        return {true, 3, 1, lab, true};
    case gray16:
        return {true, 1, 2, grayScale, false};
    case rgb48:
        return {true, 3, 2, rgb, false};
    case lab48:
        return {true, 3, 2, lab, true};
    case cmyk64:
        return {true, 4, 2, cmyk, false};
    case deepMultichannel:
        return {true, 1, 2, multichannel, false};
    case duotone16:
        return {true, 1, 2, duotone, false};
    case rgb96:
    case gray32:
        return {false, 3, 4, rgb, false};
    default:
        return {true, 3, 1, mode, false};
    }
}

} // namespace vexel
