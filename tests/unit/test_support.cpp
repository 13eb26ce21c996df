#include "tests/unit/test_support.h"

#include <cstdlib>
#include <cstring>

#include "host/memory.h"
#include "host/param_block.h"
#include "host/platform.h"
#include "host/plugin_globals.h"

namespace vexel::testing {

MemoryFake memoryFake;
PlatformFake platformFake;

void resetModuleState() {
    g = PluginGlobals{};
    memoryFake = MemoryFake{};
    platformFake = PlatformFake{};
}

namespace {
// Each block carries its size and lock count in front of the payload.
struct BlockHeader {
    std::uint32_t size;
    std::int32_t locks;
    std::uint64_t magic;
};
constexpr std::uint64_t kMagic = 0x5645584542304c4bULL;
BlockHeader* header(BlockHandle block) {
    return static_cast<BlockHeader*>(block);
}
} // namespace

} // namespace vexel::testing

namespace vexel {
using testing::memoryFake;
using testing::platformFake;

BlockHandle allocBlock(std::int32_t size) {
    ++memoryFake.allocations;
    if (size < 0) return nullptr;
    if (memoryFake.failAbove >= 0 && size > memoryFake.failAbove) return nullptr;
    if (memoryFake.failAt == memoryFake.allocations) return nullptr;
    if (memoryFake.failLiveAbove >= 0 && memoryFake.liveBytes + size > memoryFake.failLiveAbove)
        return nullptr;
    auto* h = static_cast<testing::BlockHeader*>(
        std::calloc(1, sizeof(testing::BlockHeader) + static_cast<std::size_t>(size)));
    if (h == nullptr) return nullptr;
    h->size = static_cast<std::uint32_t>(size);
    h->magic = testing::kMagic;
    ++memoryFake.liveBlocks;
    memoryFake.liveBytes += size;
    if (memoryFake.liveBytes > memoryFake.peakBytes) memoryFake.peakBytes = memoryFake.liveBytes;
    return h;
}

void* lockBlock(BlockHandle block) {
    if (block == nullptr) return nullptr;
    ++testing::header(block)->locks;
    ++memoryFake.liveLocks;
    return static_cast<std::uint8_t*>(block) + sizeof(testing::BlockHeader);
}

void unlockBlock(BlockHandle block) {
    if (block == nullptr || testing::header(block)->locks == 0) return;
    --testing::header(block)->locks;
    --memoryFake.liveLocks;
}

void freeBlock(BlockHandle block) {
    if (block == nullptr) return;
    auto* h = testing::header(block);
    --memoryFake.liveBlocks;
    memoryFake.liveBytes -= h->size;
    memoryFake.liveLocks -= h->locks;
    h->magic = 0;
    std::free(h);
}

std::uint32_t blockSize(BlockHandle block) {
    if (block == nullptr || testing::header(block)->magic != testing::kMagic) return 0;
    return testing::header(block)->size;
}

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

} // namespace vexel
