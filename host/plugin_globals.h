// The module's one state record. Zero when the module is loaded and kept while it stays loaded;
// every selector call works on it. Platform-free: window-system objects are opaque pointers that
// only the *_win32.cpp files cast back to their real types.
#pragma once

#include <array>
#include <cstdint>

#include "host/host_records.h"

namespace vexel {

using BlockHandle = void*;  // a movable global memory block
using OpaqueHandle = void*; // HWND, HINSTANCE, HBITMAP, HDC

// How a run buffer is held. Most are a block or none; the work image can be the host's own
// input, and the mask frame can be not used at all (no host mask).
enum class Holding : std::uint8_t { none, block, heldByHost, notUsed };

struct RunBuffer {
    Holding holding = Holding::none;
    BlockHandle handle = nullptr;
    std::uint8_t* address = nullptr; // valid while locked
};

// 40-byte BITMAPINFOHEADER, declared here so the display code's bookkeeping stays platform-free.
struct DibHeader {
    std::uint32_t biSize;
    std::int32_t biWidth;
    std::int32_t biHeight;
    std::uint16_t biPlanes;
    std::uint16_t biBitCount;
    std::uint32_t biCompression;
    std::uint32_t biSizeImage;
    std::int32_t biXPelsPerMeter;
    std::int32_t biYPelsPerMeter;
    std::uint32_t biClrUsed;
    std::uint32_t biClrImportant;
};
static_assert(sizeof(DibHeader) == 40);

// What the final pass last derived the effect from: the parameter block's 20 bytes (or no block,
// which means the defaults) and the other two values the derivation reads.
struct RowEffectSource {
    bool valid = false;
    bool fromBlock = false;
    std::int32_t scale = 0;
    std::int16_t previewMax = 0;
    std::array<std::uint8_t, 20> block{};
};

enum class RunPhase : std::int16_t { fetchPending = -1, render = 0, prepass = 1 };

// The record's parts follow the subsystems; each is plain data.

// The host call in progress and the module's own registration.
struct HostCall {
    void* hostRecord = nullptr; // FilterRecord*, or AboutRecord* during About
    std::int16_t runResult = 0;
    OpaqueHandle moduleInstance = nullptr;
    bool classesRegistered = false;
};

// Geometry of the filter rectangle, of the work image and of the preview. Pixel sizes are 16-bit;
// row byte counts are 32-bit so rows wider than 32767 bytes work.
struct RunGeometry {
    HostRect filterRect{}; // the host's filter rectangle as the run was planned for it
    std::int16_t planeCount = 0;
    std::int16_t sampleBytes = 1; // bytes per sample: 2 in the 16-bit image modes
    std::int16_t hostPlanes = 0;  // the record's planes at Start: planeCount or more
    std::int16_t imageWidth = 0;
    std::int16_t imageHeight = 0;
    std::int32_t imageRowBytes = 0;
    // One row with every plane the host has: what the render pass asks for and the row cache holds.
    std::int32_t hostRowBytes = 0;
    std::int16_t workWidth = 0;
    std::int16_t workHeight = 0;
    std::int32_t workRowBytes = 0;
    std::int16_t sampleStep = 1;

    std::int16_t measuredWidth = 0;
    std::int16_t measuredHeight = 0;
    std::int16_t previewWidth = 0;
    std::int16_t previewHeight = 0;
    std::int16_t previewMax = 0;
    std::int32_t previewScale = 0;  // 16.16 work pixels per preview pixel
    std::int32_t imageScale = 0;    // 16.16 image pixels per preview pixel
    std::int32_t previewXRatio = 0; // 16.16 work pixels per preview pixel across, before the fit
    std::int32_t previewYRatio = 0; // and down
};

// The working values of the settings (-1 while the dialog's text for one is invalid) and the
// centre in preview pixels.
struct Settings {
    std::int16_t angle = 0;
    std::int16_t stretch = 0;
    std::int16_t strength = 0;
    std::int16_t height = 0;
    std::int16_t width = 0;
    std::int16_t previewCenterX = 0;
    std::int16_t previewCenterY = 0;
};

// What the transform applies: the centre in grid pixels and the values derived from the settings,
// with what the final pass last derived them from.
struct Effect {
    std::int16_t gridCenterX = 0;
    std::int16_t gridCenterY = 0;
    std::int16_t halfWidth = 0;
    std::int16_t halfHeight = 0;
    std::int32_t stepX = 0;
    std::int32_t stepY = 0;
    std::uint16_t mixEffect = 0;
    std::uint16_t mixOriginal = 0;
    RowEffectSource rowEffectSource; // cleared by every release
};

// Where the run stands. runPlanned: Start planned a run whose buffers are in place, so Continue
// may work; cleared by every release.
struct Production {
    bool runPlanned = false;
    std::int32_t posX = 0; // 16.16
    std::int32_t posY = 0; // 16.16
    std::uint8_t* currentRow = nullptr;
    std::int16_t currentRowIndex = 0;
    std::int16_t gridWidth = 0;
    std::int16_t gridHeight = 0;
    RunPhase runPhase = RunPhase::prepass;
    std::int16_t maskRowsDone = 0;
    std::int16_t workRowsDone = 0;
    std::int32_t decimationSkip = 0;
};

// Run buffers and window-system objects, and the mask geometry they are sized by.
struct RunBuffers {
    RunBuffer workImage; // block, heldByHost (address = inData) or none
    RunBuffer previewStrip;
    RunBuffer dibBuffer;
    RunBuffer maskFrame; // block, notUsed or none; address = start of the first guard row
    RunBuffer outlineWork;
    RunBuffer maskBits;
    RunBuffer rowCache;
    std::int16_t maskRowWords = 0;
    std::int16_t maskStride = 0;
    std::int32_t maskBitmapBytes = 0;
    OpaqueHandle markerBitmap = nullptr;
    OpaqueHandle outlineBitmap = nullptr;
    OpaqueHandle outlineDC = nullptr;
};

// The final pass's source row cache, inside the rowCache block.
struct RowCache {
    std::int16_t slotCount = 0;
    std::uint8_t cacheClock = 0;
    std::int16_t nextVictimSlot = 0; // the slot the next insertion takes
    std::int16_t cacheActive = 0;
    std::uint8_t* rowSlotMap = nullptr;
    std::uint8_t* slotStamps = nullptr;
    std::uint8_t* slotData = nullptr;
    // The row each slot was last filed under (-1: none), so that reusing a slot finds the map
    // entry that names it without scanning the map.
    std::array<std::int16_t, 255> slotRows{};
};

// The dialog's live preview: on (1) while changes are drawn with the effect, and whether a render
// is due when its timer fires.
struct LiveState {
    std::int16_t on = 0;
    std::int16_t renderDue = 0;
};

// The parameter dialog and the preview display.
struct DialogState {
    OpaqueHandle dialogWindow = nullptr;
    std::int16_t previewEffect = 0;
    std::int16_t previewReady = 0;
    std::int16_t lowColor = 0;
    PSPixelMap pixelMap{};
    DibHeader dibHeader{};
    std::int16_t effectFrameState = 0;
    std::int32_t bigDragging = 0;
    std::int32_t smallDragging = 0;
    LiveState live;
};

// The selection outline's animation.
struct OutlineState {
    std::int16_t outlinePrimed = 0;
    const std::uint8_t* outlinePattern = nullptr;
    std::int16_t outlinePhase = 0;
};

struct PluginGlobals {
    HostCall host;
    RunGeometry geometry;
    Settings settings;
    Effect effect;
    Production production;
    RunBuffers buffers;
    RowCache cache;
    DialogState dialog;
    OutlineState outline;
};

extern PluginGlobals g;

inline FilterRecord& filterRecord() {
    return *static_cast<FilterRecord*>(g.host.hostRecord);
}

} // namespace vexel
