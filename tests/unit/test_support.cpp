#include "tests/unit/test_support.h"

#include "host/memory.h"
#include "host/param_block.h"
#include "host/platform.h"
#include "host/plugin_globals.h"

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
    if (!g.classesRegistered) {
        g.classesRegistered = true;
        ++platformFake.registrations;
        if (platformFake.registrationFails) {
            showWarning("Error while registering big class. Restart host.");
            g.runResult = 1;
            return;
        }
    }
    ensureParamBlock();
}

void unregisterViewClasses() {
    ++platformFake.unregistrations;
    g.classesRegistered = false;
}

void measurePreviewControl() {
    g.measuredWidth = platformFake.measuredWidth;
    g.measuredHeight = platformFake.measuredHeight;
}

std::int16_t runParameterDialog() {
    ++platformFake.dialogsRun;
    return platformFake.dialog ? platformFake.dialog() : std::int16_t{1};
}

void createMarkerBitmap() {
    ++platformFake.markerBitmaps;
    g.markerBitmap = &platformFake;
}

bool createOutlineBitmap(std::int32_t, std::int32_t) {
    if (platformFake.outlineBitmapFails) return false;
    ++platformFake.outlineBitmaps;
    g.outlineBitmap = &platformFake.outlineBitmaps;
    g.outlineDC = &platformFake.outlineBitmaps;
    return true;
}

void releaseGdiObjects() {
    if (g.markerBitmap != nullptr) --platformFake.markerBitmaps;
    if (g.outlineBitmap != nullptr) --platformFake.outlineBitmaps;
    g.markerBitmap = nullptr;
    g.outlineBitmap = nullptr;
    g.outlineDC = nullptr;
}

} // namespace vexel
