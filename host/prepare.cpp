// The Prepare selector: plane count and the geometry of the filter rectangle.
#include "host/dispatch.h"

#include <cstdint>

#include "host/image_modes.h"
#include "host/param_block.h"
#include "host/platform.h"
#include "host/plugin_globals.h"
#include "pipeline/run_plan.h"

namespace vexel {

namespace {

constexpr const char* kLabWarning =
    "This plug-in does not support Lab Color. Use in this mode is permitted, but may result in "
    "incorrect colors. For better results, switch to RGB.";
constexpr const char* kTooLargeWarning =
    "The filter area is larger than this plug-in supports (32767 pixels in width or height). "
    "Select a smaller area.";

bool modeFilterable(const ImageModeInfo& mode) {
    return mode.filterable;
}

} // namespace

void prepareGeometry() {
    // A new run begins: whatever a host left of an earlier one (no Finish, an abandoned
    // prepass) goes, so no later Continue can mistake it for this run's.
    if (g.production.runPlanned) releaseRunResources();
    FilterRecord& record = filterRecord();
    const ImageModeInfo mode = imageModeInfo(record.imageMode);
    if (!modeFilterable(mode)) {
        readFilterGeometry(); // refuses, and leaves no geometry to filter
        return;
    }
    record.bufferSpace = 0;
    if (mode.labLike && readShowDialog() != 0) showWarning(kLabWarning);
    readFilterGeometry();
}

bool readFilterGeometry() {
    const FilterRecord& record = filterRecord();
    const ImageModeInfo mode = imageModeInfo(record.imageMode);
    if (!modeFilterable(mode)) {
        g.host.runResult = result::filterBadMode;
        g.geometry = RunGeometry{};
        return false;
    }
    g.geometry.planeCount = mode.planes;
    g.geometry.sampleBytes = mode.sampleBytes;
    g.geometry.filterRect = record.filterRect;
    // The host's coordinates are 16-bit, so a rectangle can span up to 65535 pixels; sizes are
    // taken in 32 bits and anything past 16-bit pixel counts is refused instead of wrapping.
    const std::int32_t width =
        std::int32_t{g.geometry.filterRect.right} - g.geometry.filterRect.left;
    const std::int32_t height =
        std::int32_t{g.geometry.filterRect.bottom} - g.geometry.filterRect.top;
    const bool fits = width <= INT16_MAX && height <= INT16_MAX;
    if (!fits) {
        showWarning(kTooLargeWarning);
        g.host.runResult = result::reported;
        g.geometry.imageWidth = g.geometry.imageHeight = 0;
    } else {
        // An empty or inverted rectangle has nothing to filter; Start and Continue end cleanly.
        g.geometry.imageWidth = static_cast<std::int16_t>(width > 0 ? width : 0);
        g.geometry.imageHeight = static_cast<std::int16_t>(height > 0 ? height : 0);
    }
    g.geometry.imageRowBytes =
        std::int32_t{g.geometry.planeCount} * g.geometry.sampleBytes * g.geometry.imageWidth;
    g.geometry.workWidth = g.geometry.imageWidth;
    g.geometry.workHeight = g.geometry.imageHeight;
    g.geometry.workRowBytes = g.geometry.imageRowBytes;
    g.geometry.hostRowBytes = g.geometry.imageRowBytes; // until Start reads the host's planes
    return fits;
}

} // namespace vexel
