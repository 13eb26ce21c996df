#include "tests/unit/test_support.h"

#include <algorithm>

#include "host/memory.h"
#include "host/param_block.h"
#include "host/platform.h"
#include "host/plugin_globals.h"
#include "host/remembered_settings.h"

namespace vexel::testing {

PlatformFake platformFake;

void resetModuleState() {
    g = PluginGlobals{};
    memoryFake = MemoryFake{};
    platformFake = PlatformFake{};
}

} // namespace vexel::testing

namespace vexel {
using testing::platformFake;

void showWarning(const char* text) {
    platformFake.warnings.emplace_back(text);
}
void showAboutBox() {
    ++platformFake.aboutBoxes;
}

void registerViewClasses() {
    if (!g.host.classesRegistered) {
        g.host.classesRegistered = true;
        ++platformFake.registrations;
        if (platformFake.registrationFails) {
            showWarning("Error while registering big class. Restart host.");
            g.host.runResult = 1;
            return;
        }
    }
    ensureParamBlock();
}

void unregisterViewClasses() {
    ++platformFake.unregistrations;
    g.host.classesRegistered = false;
}

void measurePreviewControl() {
    g.geometry.measuredWidth = platformFake.measuredWidth;
    g.geometry.measuredHeight = platformFake.measuredHeight;
}

std::int16_t runParameterDialog() {
    ++platformFake.dialogsRun;
    return platformFake.dialog ? platformFake.dialog() : std::int16_t{1};
}

void createMarkerBitmap() {
    ++platformFake.markerBitmaps;
    g.buffers.markerBitmap = &platformFake;
}

bool createOutlineBitmap(std::int32_t, std::int32_t) {
    if (platformFake.outlineBitmapFails) return false;
    ++platformFake.outlineBitmaps;
    g.buffers.outlineBitmap = &platformFake.outlineBitmaps;
    g.buffers.outlineDC = &platformFake.outlineBitmaps;
    return true;
}

void releaseGdiObjects() {
    if (g.buffers.markerBitmap != nullptr) --platformFake.markerBitmaps;
    if (g.buffers.outlineBitmap != nullptr) --platformFake.outlineBitmaps;
    g.buffers.markerBitmap = nullptr;
    g.buffers.outlineBitmap = nullptr;
    g.buffers.outlineDC = nullptr;
}

std::size_t readRememberedValue(std::span<std::uint8_t> buffer) {
    const auto& value = platformFake.rememberedValue;
    if (!value || value->size() > buffer.size()) return 0;
    std::copy(value->begin(), value->end(), buffer.begin());
    return value->size();
}

void writeRememberedValue(std::span<const std::uint8_t> bytes) {
    platformFake.rememberedValue.emplace(bytes.begin(), bytes.end());
    ++platformFake.rememberedWrites;
}

} // namespace vexel
