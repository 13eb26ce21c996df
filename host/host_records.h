// Our own declarations of the host's filter plug-in records, laid out as the host interface
// publishes them for Windows. Platform-free: handles and callbacks are plain pointers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexel {

using Fixed = std::int32_t; // 16.16
using OSType = std::uint32_t;
using HostBoolean = std::uint8_t;
using HostHandle = void*;

// The host's headers pack the records to 4 bytes on every Windows target. On i686 that is natural
// alignment; on x86-64 it leaves 8-byte pointers on 4-byte boundaries (progressProc at 12). The
// native test build packs the same way, so it has the x86-64 layout and checks it too.
#pragma pack(push, 4)

struct HostPoint {
    std::int16_t v;
    std::int16_t h;
};

struct HostRect {
    std::int16_t top;
    std::int16_t left;
    std::int16_t bottom;
    std::int16_t right;
};

struct HostVRect {
    std::int32_t top;
    std::int32_t left;
    std::int32_t bottom;
    std::int32_t right;
};

struct PlatformData {
    std::intptr_t hwnd; // the host window that owns our windows; may be 0
};

#pragma pack(pop)

// The pixel map is declared outside the packed region of the host's headers: natural alignment.
struct PSPixelMap {
    std::int32_t version;
    HostVRect bounds;
    std::int32_t imageMode;
    std::int32_t rowBytes;
    std::int32_t colBytes;
    std::int32_t planeBytes;
    void* baseAddr;
};

#pragma pack(push, 4)

using AbortProc = HostBoolean (*)();
using ProgressProc = void (*)(std::int32_t done, std::int32_t total);
using DisplayPixelsProc = std::int16_t (*)(const PSPixelMap* source, const HostVRect* srcRect,
                                           std::int32_t dstRow, std::int32_t dstCol,
                                           void* platformContext);

struct PlugInMonitor {
    Fixed gamma, redX, redY, greenX, greenY, blueX, blueY, whiteX, whiteY, ambient;
};

// Only the fields up to handleProcs: older hosts have nothing we need beyond them.
struct FilterRecord {
    std::int32_t serialNumber;
    AbortProc abortProc;
    ProgressProc progressProc;
    HostHandle parameters;
    HostPoint imageSize;
    std::int16_t planes;
    HostRect filterRect;
    std::uint16_t background[3];
    std::uint16_t foreground[3];
    std::int32_t maxSpace;
    std::int32_t bufferSpace;
    HostRect inRect;
    std::int16_t inLoPlane;
    std::int16_t inHiPlane;
    HostRect outRect;
    std::int16_t outLoPlane;
    std::int16_t outHiPlane;
    void* inData;
    std::int32_t inRowBytes;
    void* outData;
    std::int32_t outRowBytes;
    HostBoolean isFloating;
    HostBoolean haveMask;
    HostBoolean autoMask;
    HostRect maskRect;
    void* maskData;
    std::int32_t maskRowBytes;
    std::uint8_t backColor[4];
    std::uint8_t foreColor[4];
    OSType hostSig;
    void* hostProc;
    std::int16_t imageMode;
    Fixed imageHRes;
    Fixed imageVRes;
    HostPoint floatCoord;
    HostPoint wholeSize;
    PlugInMonitor monitor;
    PlatformData* platformData;
    void* bufferProcs;
    void* resourceProcs;
    void* processEvent;
    DisplayPixelsProc displayPixels;
    void* handleProcs;
};

struct AboutRecord {
    PlatformData* platformData;
    std::uint8_t reserved[sizeof(void*) == 4 ? 252 : 264];
};

#pragma pack(pop)

static_assert(sizeof(HostRect) == 8 && sizeof(HostVRect) == 16 && sizeof(HostPoint) == 4);
static_assert(sizeof(PlugInMonitor) == 40);
static_assert(offsetof(PSPixelMap, bounds) == 4 && offsetof(PSPixelMap, imageMode) == 20);
static_assert(offsetof(PSPixelMap, rowBytes) == 24 && offsetof(PSPixelMap, colBytes) == 28);
static_assert(offsetof(PSPixelMap, planeBytes) == 32);
static_assert(offsetof(AboutRecord, platformData) == 0);
static_assert(offsetof(FilterRecord, serialNumber) == 0 && offsetof(FilterRecord, abortProc) == 4);

#if INTPTR_MAX == INT32_MAX
// The i686 layout every 32-bit host expects.
static_assert(sizeof(PSPixelMap) == 40 && offsetof(PSPixelMap, baseAddr) == 36);
static_assert(sizeof(PlatformData) == 4 && sizeof(AboutRecord) == 256);
static_assert(offsetof(FilterRecord, progressProc) == 8);
static_assert(offsetof(FilterRecord, parameters) == 12);
static_assert(offsetof(FilterRecord, imageSize) == 16);
static_assert(offsetof(FilterRecord, planes) == 20);
static_assert(offsetof(FilterRecord, filterRect) == 22);
static_assert(offsetof(FilterRecord, maxSpace) == 44);
static_assert(offsetof(FilterRecord, bufferSpace) == 48);
static_assert(offsetof(FilterRecord, inRect) == 52);
static_assert(offsetof(FilterRecord, inLoPlane) == 60 && offsetof(FilterRecord, inHiPlane) == 62);
static_assert(offsetof(FilterRecord, outRect) == 64);
static_assert(offsetof(FilterRecord, outLoPlane) == 72 && offsetof(FilterRecord, outHiPlane) == 74);
static_assert(offsetof(FilterRecord, inData) == 76 && offsetof(FilterRecord, inRowBytes) == 80);
static_assert(offsetof(FilterRecord, outData) == 84 && offsetof(FilterRecord, outRowBytes) == 88);
static_assert(offsetof(FilterRecord, isFloating) == 92 && offsetof(FilterRecord, haveMask) == 93);
static_assert(offsetof(FilterRecord, maskRect) == 96 && offsetof(FilterRecord, maskData) == 104);
static_assert(offsetof(FilterRecord, maskRowBytes) == 108);
static_assert(offsetof(FilterRecord, hostSig) == 120);
static_assert(offsetof(FilterRecord, imageMode) == 128);
static_assert(offsetof(FilterRecord, monitor) == 148 && sizeof(PlugInMonitor) == 40);
static_assert(offsetof(FilterRecord, platformData) == 188);
static_assert(offsetof(FilterRecord, displayPixels) == 204);
static_assert(offsetof(FilterRecord, handleProcs) == 208);
static_assert(sizeof(FilterRecord) == 212);
#else
// The x86-64 layout of 64-bit hosts: 8-byte pointers, 4-byte packing.
static_assert(sizeof(PSPixelMap) == 48 && offsetof(PSPixelMap, baseAddr) == 40);
static_assert(sizeof(PlatformData) == 8 && sizeof(AboutRecord) == 272);
static_assert(offsetof(FilterRecord, progressProc) == 12);
static_assert(offsetof(FilterRecord, parameters) == 20);
static_assert(offsetof(FilterRecord, imageSize) == 28);
static_assert(offsetof(FilterRecord, planes) == 32);
static_assert(offsetof(FilterRecord, filterRect) == 34);
static_assert(offsetof(FilterRecord, background) == 42 && offsetof(FilterRecord, foreground) == 48);
static_assert(offsetof(FilterRecord, maxSpace) == 56);
static_assert(offsetof(FilterRecord, bufferSpace) == 60);
static_assert(offsetof(FilterRecord, inRect) == 64);
static_assert(offsetof(FilterRecord, inLoPlane) == 72 && offsetof(FilterRecord, inHiPlane) == 74);
static_assert(offsetof(FilterRecord, outRect) == 76);
static_assert(offsetof(FilterRecord, outLoPlane) == 84 && offsetof(FilterRecord, outHiPlane) == 86);
static_assert(offsetof(FilterRecord, inData) == 88 && offsetof(FilterRecord, inRowBytes) == 96);
static_assert(offsetof(FilterRecord, outData) == 100 && offsetof(FilterRecord, outRowBytes) == 108);
static_assert(offsetof(FilterRecord, isFloating) == 112 && offsetof(FilterRecord, haveMask) == 113);
static_assert(offsetof(FilterRecord, autoMask) == 114);
static_assert(offsetof(FilterRecord, maskRect) == 116 && offsetof(FilterRecord, maskData) == 124);
static_assert(offsetof(FilterRecord, maskRowBytes) == 132);
static_assert(offsetof(FilterRecord, backColor) == 136 && offsetof(FilterRecord, foreColor) == 140);
static_assert(offsetof(FilterRecord, hostSig) == 144 && offsetof(FilterRecord, hostProc) == 148);
static_assert(offsetof(FilterRecord, imageMode) == 156);
static_assert(offsetof(FilterRecord, imageHRes) == 160 && offsetof(FilterRecord, imageVRes) == 164);
static_assert(offsetof(FilterRecord, floatCoord) == 168 &&
              offsetof(FilterRecord, wholeSize) == 172);
static_assert(offsetof(FilterRecord, monitor) == 176);
static_assert(offsetof(FilterRecord, platformData) == 216);
static_assert(offsetof(FilterRecord, bufferProcs) == 224);
static_assert(offsetof(FilterRecord, resourceProcs) == 232);
static_assert(offsetof(FilterRecord, processEvent) == 240);
static_assert(offsetof(FilterRecord, displayPixels) == 248);
static_assert(offsetof(FilterRecord, handleProcs) == 256);
static_assert(sizeof(FilterRecord) == 264);
#endif

// Smallest record a host allocates; test hosts hand over at least this much.
inline constexpr std::size_t kHostFilterRecordBytes = 452;

namespace selector {
inline constexpr std::int16_t about = 0;
inline constexpr std::int16_t parameters = 1;
inline constexpr std::int16_t prepare = 2;
inline constexpr std::int16_t start = 3;
inline constexpr std::int16_t continueRun = 4;
inline constexpr std::int16_t finish = 5;
} // namespace selector

namespace result {
inline constexpr std::int16_t noErr = 0;
inline constexpr std::int16_t reported = 1;   // cancelled, or the user was already told
inline constexpr std::int16_t paramErr = -50; // the host handed over unusable buffers
inline constexpr std::int16_t memFullErr = -108;
inline constexpr std::int16_t filterBadParameters = -30100;
inline constexpr std::int16_t filterBadMode = -30101; // an image mode the module cannot filter
} // namespace result

namespace imagemode {
inline constexpr std::int16_t bitmap = 0, grayScale = 1, indexed = 2, rgb = 3, cmyk = 4,
                              multichannel = 7, duotone = 8, lab = 9;
// 16 bits per sample, then 32-bit float per sample.
inline constexpr std::int16_t gray16 = 10, rgb48 = 11, lab48 = 12, cmyk64 = 13,
                              deepMultichannel = 14, duotone16 = 15, rgb96 = 16, gray32 = 17;
} // namespace imagemode

inline bool isEmpty(const HostRect& r) {
    return !(r.left < r.right && r.top < r.bottom);
}
inline void emptyRect(HostRect& r) {
    r = HostRect{0, 0, 0, 0};
}

} // namespace vexel
