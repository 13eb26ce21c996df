// Drives the module through a run as image editors do: the FilterRecord, the host window, the
// callbacks, and the Continue loop that delivers and takes back the rectangles the module asks for.
#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>

#include "testhost/image_mode.h"
#include "testhost/testhost.h"

namespace testhost {
namespace {

constexpr std::size_t kGuardBytes = 64;
constexpr std::uint8_t kGuardByte = 0xCD;
constexpr std::uint8_t kPadByte = 0xA5;
constexpr std::uint8_t kPoisonByte = 0xDD;
constexpr std::int16_t kResultNotWritten = 0x5A5A;
constexpr long long kMaxBufferBytes = 512LL * 1024 * 1024;

// Bytes of the record the module may write: parameters, bufferSpace, inRect to outHiPlane,
// maskRect. A write anywhere else is reported.
bool moduleMayWrite(std::size_t offset) {
    using vexel::FilterRecord;
    auto within = [offset](std::size_t first, std::size_t end) {
        return offset >= first && offset < end;
    };
    return within(offsetof(FilterRecord, parameters),
                  offsetof(FilterRecord, parameters) + sizeof(vexel::HostHandle)) ||
           within(offsetof(FilterRecord, bufferSpace), offsetof(FilterRecord, inData)) ||
           within(offsetof(FilterRecord, maskRect), offsetof(FilterRecord, maskData));
}

std::string rectText(const vexel::HostRect& r) {
    return std::string("(") + std::to_string(r.top) + std::string(",") + std::to_string(r.left) +
           "," + std::to_string(r.bottom) + std::string(",") + std::to_string(r.right) + ")";
}

// Room for `bytes` that end exactly where a no-access page begins, so that reading one byte past
// them faults; `pages` gets the base of the pages to release. Null when they cannot be had.
std::uint8_t* allocateBeforeNoAccessPage(std::size_t bytes, void*& pages) {
    SYSTEM_INFO info{};
    GetSystemInfo(&info);
    const std::size_t page = info.dwPageSize;
    const std::size_t span = (bytes + page - 1) / page * page;
    auto* base = static_cast<std::uint8_t*>(
        VirtualAlloc(nullptr, span + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old = 0;
    if (base == nullptr || !VirtualProtect(base + span, page, PAGE_NOACCESS, &old)) return nullptr;
    pages = base;
    return base + span - bytes;
}

// Buffer memory: plain heap with a guard tail, or with --guard-pages whole pages placed so that
// the byte after the data is a no-access page (a read past the end faults at once).
struct BufferFree {
    void* pages = nullptr; // the VirtualAlloc base of a guarded buffer
    void operator()(std::uint8_t* p) const {
        if (pages != nullptr)
            VirtualFree(pages, 0, MEM_RELEASE);
        else
            delete[] p;
    }
};
using BufferBytes = std::unique_ptr<std::uint8_t[], BufferFree>;

BufferBytes allocBuffer(std::size_t dataBytes, bool guarded) {
    if (!guarded) {
        BufferBytes bytes(new std::uint8_t[dataBytes + kGuardBytes]);
        std::fill_n(bytes.get() + dataBytes, kGuardBytes, kGuardByte);
        return bytes;
    }
    void* pages = nullptr;
    std::uint8_t* data = allocateBeforeNoAccessPage(dataBytes, pages);
    if (data == nullptr) { // as an uncaught bad_alloc would end it; no build needs exceptions
        std::fprintf(stderr, "out of memory for a guarded buffer\n");
        std::abort();
    }
    return BufferBytes(data, BufferFree{pages});
}

// One buffer handed to the module for one call: the pixels of a rectangle, planes lo..hi
// interleaved, rows rowBytes apart, followed by guard bytes. Buffers are made afresh for every
// call (they may move between calls) and left uninitialised where they are filled anyway, since
// a whole large image can be requested on every call.
struct Delivery {
    const char* name = "";
    vexel::HostRect rect{};
    int lo = 0, hi = -1;
    int sampleBytes = 1;
    std::int32_t rowBytes = 0;
    std::size_t dataBytes = 0;
    BufferBytes bytes;
    std::unique_ptr<std::uint8_t[]> copy; // what was delivered, for buffers the module only reads
    bool present = false;
    bool guarded = false; // followed by a no-access page instead of guard bytes
    bool intact = false;  // the module left it as delivered
};

int pixelBytes(const Delivery& d) {
    return (d.hi - d.lo + 1) * d.sampleBytes;
}

std::size_t pixelOffset(const Image& image, long long row, long long col) {
    return static_cast<std::size_t>((row * image.width + col) * image.planes * image.sampleBytes);
}

// Whether row y of the delivery is a plain copy of part of an image row.
bool rowIsPlain(const Delivery& d, const Image& image, long long y) {
    long long iy = d.rect.top + y;
    return iy >= 0 && iy < image.height && d.rect.left >= 0 && d.rect.right <= image.width &&
           d.lo == 0 && d.hi == image.planes - 1;
}

// Whether row y of the delivery lies inside the image with planes it has: each pixel is then one
// run of samples of an image pixel (a plane range short of the whole pixel).
bool rowIsInside(const Delivery& d, const Image& image, long long y) {
    long long iy = d.rect.top + y;
    return iy >= 0 && iy < image.height && d.rect.left >= 0 && d.rect.right <= image.width &&
           d.hi < image.planes;
}

// declaredRowBytes < 0: rows of the rectangle's width plus --pad-rows; otherwise rows that far
// apart, each cut to that many bytes (a host that declares shorter rows than it was asked for).
bool prepareDelivery(Delivery& d, const char* name, const vexel::HostRect& rect, int lo, int hi,
                     const Image& image, bool keepCopy, long long declaredRowBytes = -1) {
    d.name = name;
    d.rect = rect;
    d.lo = lo;
    d.hi = hi;
    d.sampleBytes = image.sampleBytes;
    d.present = false;
    if (vexel::isEmpty(rect)) return true;
    if (lo < 0 || hi < lo) {
        protocolError(std::string(name) + std::string(" planes ") + std::to_string(lo) + ".." +
                      std::to_string(hi) + " are not a plane range");
        return true;
    }
    if (hi >= image.planes)
        protocolError(std::string(name) + std::string(" asks for plane ") + std::to_string(hi) +
                      " of an image with " + std::to_string(image.planes));
    if (rect.top < 0 || rect.left < 0 || rect.bottom > image.height || rect.right > image.width)
        protocolError(std::string(name) + " " + rectText(rect) + " reaches outside the image");
    long long rows = rect.bottom - rect.top, cols = rect.right - rect.left;
    long long rowBytes =
        declaredRowBytes >= 0 ? declaredRowBytes : cols * pixelBytes(d) + host.opt.padRows;
    if (rows * rowBytes > kMaxBufferBytes) {
        protocolError(std::string(name) + " " + rectText(rect) + " is too large to deliver");
        return false;
    }
    d.rowBytes = static_cast<std::int32_t>(rowBytes);
    d.dataBytes = static_cast<std::size_t>(rows * rowBytes);
    d.guarded = host.opt.guardPages;
    d.bytes = allocBuffer(d.dataBytes, d.guarded);
    const long long rowUsed = std::min<long long>(cols * pixelBytes(d), rowBytes);
    const std::size_t used = static_cast<std::size_t>(rowUsed);
    for (long long y = 0; y < rows; ++y) {
        std::uint8_t* row = d.bytes.get() + y * rowBytes;
        std::fill(row + used, row + rowBytes, kPadByte);
        long long iy = rect.top + y;
        if (rowIsPlain(d, image, y)) {
            std::memcpy(row, &image.pixels[pixelOffset(image, iy, rect.left)], used);
            continue;
        }
        if (rowIsInside(d, image, y)) {
            const auto bytes = static_cast<std::size_t>(pixelBytes(d));
            for (long long x = 0; (x + 1) * pixelBytes(d) <= rowUsed; ++x)
                std::memcpy(row + x * pixelBytes(d),
                            &image.pixels[pixelOffset(image, iy, rect.left + x) +
                                          static_cast<std::size_t>(lo * d.sampleBytes)],
                            bytes);
            continue;
        }
        for (long long x = 0; (x + 1) * pixelBytes(d) <= rowUsed; ++x) {
            long long ix = rect.left + x;
            bool inside = iy >= 0 && iy < image.height && ix >= 0 && ix < image.width;
            for (int p = lo; p <= hi; ++p)
                for (int b = 0; b < d.sampleBytes; ++b) {
                    std::uint8_t v = 0;
                    if (inside && p < image.planes)
                        v = image.pixels[pixelOffset(image, iy, ix) + p * d.sampleBytes + b];
                    row[x * pixelBytes(d) + (p - lo) * d.sampleBytes + b] = v;
                }
        }
    }
    if (keepCopy) {
        d.copy.reset(new std::uint8_t[d.dataBytes]);
        std::memcpy(d.copy.get(), d.bytes.get(), d.dataBytes);
    }
    d.present = true;
    return true;
}

void checkGuard(const Delivery& d) {
    if (!d.present || d.guarded) return;
    for (std::size_t i = 0; i < kGuardBytes; ++i) {
        if (d.bytes[d.dataBytes + i] != kGuardByte) {
            protocolError(std::string(d.name) + " written past its end");
            return;
        }
    }
}

void checkUnchanged(Delivery& d) {
    d.intact = d.present && d.copy && std::memcmp(d.bytes.get(), d.copy.get(), d.dataBytes) == 0;
    if (d.present && !d.intact) protocolError(std::string(d.name) + " was written by the module");
}

// The input and mask buffers, which the module only reads. While a request repeats (same
// rectangle and planes) and the module left the buffer as delivered, it is handed over again, as
// hosts do with a whole image; with --move-buffers every call gets new ones. A buffer given up is
// poisoned first, so a module that keeps a pointer into it reads garbage.
Delivery keptIn, keptMask;

bool sameRequest(const Delivery& d, const vexel::HostRect& r, int lo, int hi) {
    return d.present && d.intact && d.rect.top == r.top && d.rect.left == r.left &&
           d.rect.bottom == r.bottom && d.rect.right == r.right && d.lo == lo && d.hi == hi;
}

void releaseDelivery(Delivery& d) {
    if (d.present) std::fill_n(d.bytes.get(), d.dataBytes, kPoisonByte);
    d = Delivery{};
}

bool deliverReadOnly(Delivery& kept, const char* name, const vexel::HostRect& rect, int lo, int hi,
                     const Image& image, bool imageChanges, long long declaredRowBytes = -1) {
    if (!host.opt.moveBuffers && !imageChanges && sameRequest(kept, rect, lo, hi)) return true;
    Delivery fresh;
    if (!prepareDelivery(fresh, name, rect, lo, hi, image, true, declaredRowBytes)) return false;
    releaseDelivery(kept);
    kept = std::move(fresh);
    return true;
}

// Takes the output buffer back into the image; pixels outside it or planes it lacks are dropped.
void takeBack(const Delivery& d, Image& image) {
    if (!d.present) return;
    long long rows = d.rect.bottom - d.rect.top, cols = d.rect.right - d.rect.left;
    const std::size_t used = static_cast<std::size_t>(cols * pixelBytes(d));
    bool padWritten = false;
    for (long long y = 0; y < rows; ++y) {
        const std::uint8_t* row = d.bytes.get() + y * d.rowBytes;
        for (std::size_t i = used; i < static_cast<std::size_t>(d.rowBytes); ++i)
            padWritten |= row[i] != kPadByte;
        long long iy = d.rect.top + y;
        if (rowIsPlain(d, image, y)) {
            std::memcpy(&image.pixels[pixelOffset(image, iy, d.rect.left)], row, used);
            continue;
        }
        if (iy < 0 || iy >= image.height) continue;
        if (rowIsInside(d, image, y)) {
            const auto bytes = static_cast<std::size_t>(pixelBytes(d));
            for (long long x = 0; x < cols; ++x)
                std::memcpy(&image.pixels[pixelOffset(image, iy, d.rect.left + x) +
                                          static_cast<std::size_t>(d.lo * d.sampleBytes)],
                            row + x * pixelBytes(d), bytes);
            continue;
        }
        for (long long x = 0; x < cols; ++x) {
            long long ix = d.rect.left + x;
            if (ix < 0 || ix >= image.width) continue;
            for (int p = d.lo; p <= d.hi && p < image.planes; ++p)
                for (int b = 0; b < d.sampleBytes; ++b)
                    image.pixels[pixelOffset(image, iy, ix) + p * d.sampleBytes + b] =
                        row[x * pixelBytes(d) + (p - d.lo) * d.sampleBytes + b];
        }
    }
    if (padWritten) protocolError("outData row padding was written (rows not outRowBytes apart?)");
}

// With --zero-unrequested-planes the host keeps its own destination, zero at the start of a run,
// and writes every row of outRect back whole: the requested planes from outData, the others from
// that destination. So a plane no call has asked for yet comes back as 0. One bit per plane of
// every pixel says which planes some call has asked for.
std::vector<std::uint8_t> planesAskedFor;

void writeBackUnrequestedPlanes(const Delivery& d, Image& image) {
    if (!host.opt.zeroUnrequestedPlanes || !d.present) return;
    planesAskedFor.resize(static_cast<std::size_t>(image.width) * image.height);
    for (long long iy = std::max<long long>(d.rect.top, 0);
         iy < std::min<long long>(d.rect.bottom, image.height); ++iy)
        for (long long ix = std::max<long long>(d.rect.left, 0);
             ix < std::min<long long>(d.rect.right, image.width); ++ix) {
            std::uint8_t& asked = planesAskedFor[static_cast<std::size_t>(iy * image.width + ix)];
            for (int p = 0; p < image.planes; ++p) {
                const auto bit = static_cast<std::uint8_t>(1u << p);
                if (p >= d.lo && p <= d.hi)
                    asked |= bit;
                else if ((asked & bit) == 0)
                    std::fill_n(&image.pixels[pixelOffset(image, iy, ix) + p * image.sampleBytes],
                                image.sampleBytes, 0);
            }
        }
}

vexel::HostBoolean __cdecl abortProc() {
    return 0;
}

void __cdecl progressProc(std::int32_t done, std::int32_t total) {
    Guard guard(host.lock);
    host.progress.push_back({host.run, done, total});
}

// Reads the srcRect pixels of the map into a top-down 24-bit DIB and draws it at (dstCol,
// dstRow), as a host shows a module's preview.
std::int16_t __cdecl displayPixelsProc(const vexel::PSPixelMap* source,
                                       const vexel::HostVRect* srcRect, std::int32_t dstRow,
                                       std::int32_t dstCol, void* platformContext) {
    DisplayRecord rec{};
    rec.run = host.run;
    rec.continueCall = host.continueCall;
    rec.dstRow = dstRow;
    rec.dstCol = dstCol;
    rec.hadContext = platformContext != nullptr;
    if (source == nullptr || srcRect == nullptr) {
        protocolError("displayPixels called with a null map or rectangle");
        return -50;
    }
    rec.map = *source;
    rec.srcRect = *srcRect;
    const vexel::HostVRect& b = source->bounds;
    const vexel::HostVRect& s = *srcRect;
    bool inside = s.top >= b.top && s.left >= b.left && s.bottom <= b.bottom &&
                  s.right <= b.right && s.top <= s.bottom && s.left <= s.right;
    long long w = static_cast<long long>(s.right) - s.left;
    long long h = static_cast<long long>(s.bottom) - s.top;
    if (!inside || source->baseAddr == nullptr || w > 32767 || h > 32767) {
        protocolError("displayPixels srcRect outside the map's bounds or no pixels");
    } else if (w > 0 && h > 0) {
        int planes = planesForMode(source->imageMode);
        long long dibRow = (w * 3 + 3) / 4 * 4;
        std::vector<std::uint8_t> dib(static_cast<std::size_t>(dibRow * h));
        std::uint32_t sum = 2166136261u;
        const auto* base = static_cast<const std::uint8_t*>(source->baseAddr);
        for (long long y = 0; y < h; ++y) {
            for (long long x = 0; x < w; ++x) {
                long long at = (s.top + y - b.top) * static_cast<long long>(source->rowBytes) +
                               (s.left + x - b.left) * static_cast<long long>(source->colBytes);
                std::uint8_t v[4] = {0, 0, 0, 0};
                for (int p = 0; p < planes; ++p) {
                    v[p] = base[at + p * static_cast<long long>(source->planeBytes)];
                    sum = (sum ^ v[p]) * 16777619u;
                }
                std::uint8_t r = v[0], g = v[0], bl = v[0];
                if (planes == 3) {
                    g = v[1];
                    bl = v[2];
                } else if (planes == 4) {
                    r = static_cast<std::uint8_t>(255 - std::min(255, v[0] + v[3]));
                    g = static_cast<std::uint8_t>(255 - std::min(255, v[1] + v[3]));
                    bl = static_cast<std::uint8_t>(255 - std::min(255, v[2] + v[3]));
                }
                std::uint8_t* d = &dib[static_cast<std::size_t>(y * dibRow + x * 3)];
                d[0] = bl;
                d[1] = g;
                d[2] = r;
            }
        }
        rec.checksum = sum;
        if (platformContext != nullptr) {
            BITMAPINFO info{};
            info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
            info.bmiHeader.biWidth = static_cast<LONG>(w);
            info.bmiHeader.biHeight = -static_cast<LONG>(h);
            info.bmiHeader.biPlanes = 1;
            info.bmiHeader.biBitCount = 24;
            info.bmiHeader.biCompression = BI_RGB;
            SetDIBitsToDevice(static_cast<HDC>(platformContext), dstCol, dstRow,
                              static_cast<DWORD>(w), static_cast<DWORD>(h), 0, 0, 0,
                              static_cast<UINT>(h), dib.data(), &info, DIB_RGB_COLORS);
        }
    }
    Guard guard(host.lock);
    ++host.displayCount;
    if (static_cast<long long>(host.display.size()) < host.opt.maxDisplayRecords)
        host.display.push_back(rec);
    return 0;
}

LRESULT CALLBACK hostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(window, message, wParam, lParam);
}

bool createHostWindow(std::string& error) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = hostWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    wc.lpszClassName = L"VexelTestHostFrame";
    if (RegisterClassW(&wc) == 0) {
        error = "cannot register the host window class";
        return false;
    }
    host.window = CreateWindowExW(0, wc.lpszClassName, L"Vexel test host", WS_OVERLAPPEDWINDOW, 0,
                                  0, 900, 700, nullptr, nullptr, wc.hInstance, nullptr);
    if (host.window == nullptr) {
        error = "cannot create the host window";
        return false;
    }
    ShowWindow(host.window, SW_SHOW);
    UpdateWindow(host.window);
    return true;
}

void pumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// At 16 bits the same ramp in 0..32640 (byte v as v x 128).
Image rampImage(int planes, int sampleBytes) {
    Image image{64, 48, planes, {}, sampleBytes};
    image.pixels.resize(64 * 48 * static_cast<std::size_t>(planes * sampleBytes));
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            for (int p = 0; p < planes; ++p) {
                const int v = (x * 4 + y * 5 + p * 60) & 0xFF;
                const auto at = static_cast<std::size_t>(((y * 64 + x) * planes + p) * sampleBytes);
                if (sampleBytes == 1) {
                    image.pixels[at] = static_cast<std::uint8_t>(v);
                } else {
                    image.pixels[at] = static_cast<std::uint8_t>((v * 128) & 0xFF);
                    image.pixels[at + 1] = static_cast<std::uint8_t>((v * 128) >> 8);
                }
            }
    return image;
}

// Samples as the host holds them (16-bit ones little-endian), planes interleaved, no padding.
bool loadRawImage(const std::string& path, int width, int height, int planes, Image& image,
                  std::string& error, int sampleBytes) {
    std::vector<std::uint8_t> bytes;
    const auto expected = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                          static_cast<std::size_t>(planes * sampleBytes);
    if (!readFile(path, bytes) || bytes.size() != expected) {
        error = "cannot read " + path + " as " + std::to_string(width) + " x " +
                std::to_string(height) + " pixels of " + std::to_string(planes) + " planes";
        return false;
    }
    image = Image{width, height, planes, std::move(bytes), sampleBytes};
    return true;
}

HGLOBAL globalFromBytes(const std::uint8_t* bytes, std::size_t count) {
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, count == 0 ? 1 : count);
    if (handle == nullptr) return nullptr;
    void* p = GlobalLock(handle);
    if (count != 0) std::memcpy(p, bytes, count);
    GlobalUnlock(handle);
    return handle;
}

void initRecord() {
    const Options& o = host.opt;
    host.recordBytes.assign(static_cast<std::size_t>(o.recordSize) + kGuardBytes, 0);
    std::fill(host.recordBytes.begin() + o.recordSize, host.recordBytes.end(), kGuardByte);
    new (host.recordBytes.data()) vexel::FilterRecord{};
    if (o.recordGuardPage && host.guardedRecord == nullptr) {
        void* pages = nullptr; // never released: the process ends soon after
        host.guardedRecord =
            allocateBeforeNoAccessPage(static_cast<std::size_t>(o.recordSize), pages);
    }
    vexel::FilterRecord& fr = filterRecord();
    fr.abortProc = abortProc;
    fr.progressProc = o.noProgress ? nullptr : progressProc;
    fr.imageSize = {static_cast<std::int16_t>(host.source.height),
                    static_cast<std::int16_t>(host.source.width)};
    fr.wholeSize = fr.imageSize;
    fr.planes = static_cast<std::int16_t>(host.source.planes);
    fr.filterRect = o.haveRect
                        ? o.rect
                        : vexel::HostRect{0, 0, static_cast<std::int16_t>(host.source.height),
                                          static_cast<std::int16_t>(host.source.width)};
    if (o.loseLastRowColumn && !o.haveRect) {
        fr.filterRect.bottom = static_cast<std::int16_t>(std::max(0, host.source.height - 1));
        fr.filterRect.right = static_cast<std::int16_t>(std::max(0, host.source.width - 1));
    }
    for (int i = 0; i < 3; ++i) {
        fr.background[i] = 0xFFFF;
        fr.foreground[i] = 0;
    }
    fr.backColor[0] = fr.backColor[1] = fr.backColor[2] = 255;
    fr.maxSpace = o.maxSpace;
    fr.isFloating = o.floating ? 1 : 0;
    fr.haveMask = o.mask.empty() ? 0 : 1;
    fr.hostSig = o.hostSig;
    fr.imageMode = static_cast<std::int16_t>(o.mode);
    fr.imageHRes = fr.imageVRes = o.dpi << 16;
    fr.monitor.gamma = (22 << 16) / 10;
    host.platform.hwnd = o.nullWindow ? 0 : reinterpret_cast<std::intptr_t>(host.window);
    fr.platformData = &host.platform;
    fr.displayPixels = o.displayPixels ? displayPixelsProc : nullptr;
    fr.parameters = host.parameters;
    setUpDescriptors(host.recordBytes);
}

std::string parametersHex() {
    if (host.parameters == nullptr) return "";
    SIZE_T size = GlobalSize(host.parameters);
    const void* p = GlobalLock(host.parameters);
    if (p == nullptr) return "";
    std::string hex = hexBytes(static_cast<const std::uint8_t*>(p), size);
    GlobalUnlock(host.parameters);
    return hex;
}

// ---- one selector call -------------------------------------------------------------------

void logRects(const std::string& name, int index, int result) {
    if (!host.opt.logCalls) return;
    const vexel::FilterRecord& fr = filterRecord();
    Guard guard(host.lock);
    host.callLog.push_back({host.run,
                            index,
                            name,
                            result,
                            fr.inRect,
                            fr.outRect,
                            fr.maskRect,
                            {fr.inLoPlane, fr.inHiPlane, fr.outLoPlane, fr.outHiPlane}});
}

void recordCall(const std::string& name, std::int16_t code, std::int16_t result) {
    {
        Guard guard(host.lock);
        host.calls.push_back({host.run, name, code, result});
        RunSummary& summary = host.runs.back();
        bool found = false;
        for (auto& entry : summary.results) {
            if (entry.first == name) {
                entry.second = result;
                found = true;
            }
        }
        if (!found) summary.results.emplace_back(name, result);
        if (code == vexel::selector::continueRun) ++summary.continueCalls;
    }
    if (!host.opt.quiet) {
        std::printf("%s -> %d\n", name.c_str(), result);
        std::fflush(stdout);
    }
}

// Calls the entry point with the FilterRecord (or an AboutRecord for selector 0) and checks that
// the module wrote its result and touched only the record fields it may write.
std::int16_t callEntry(std::int16_t code, const std::string& name) {
    host.selector = name;
    std::int16_t result = kResultNotWritten;
    std::intptr_t slotBefore = host.dataSlot;
    if (code == vexel::selector::about) {
        vexel::AboutRecord about{};
        about.platformData = &host.platform;
        vexel::AboutRecord before = about;
        host.entry(code, &about, &host.dataSlot, &result);
        if (std::memcmp(&about, &before, sizeof about) != 0)
            protocolError("the AboutRecord was written");
    } else {
        std::vector<std::uint8_t> before = host.recordBytes;
        beforeDescriptorCall();
        if (host.guardedRecord == nullptr) {
            host.entry(code, host.recordBytes.data(), &host.dataSlot, &result);
        } else {
            // The module gets a copy that ends at a no-access page; the checks below see what it
            // wrote there. The host's callbacks never read the record, so the copy is enough.
            const auto size = static_cast<std::size_t>(host.opt.recordSize);
            std::memcpy(host.guardedRecord, host.recordBytes.data(), size);
            host.entry(code, host.guardedRecord, &host.dataSlot, &result);
            std::memcpy(host.recordBytes.data(), host.guardedRecord, size);
        }
        for (std::size_t i = 0; i < before.size(); ++i) {
            if (before[i] != host.recordBytes[i] && !moduleMayWrite(i)) {
                protocolError(std::string("record byte ") + std::to_string(i) + " written (" +
                              std::to_string(before[i]) + " -> " +
                              std::to_string(host.recordBytes[i]) + ")");
            }
        }
        host.parameters = static_cast<HGLOBAL>(filterRecord().parameters);
        afterDescriptorCall();
    }
    if (result == kResultNotWritten) protocolError("result word not written");
    if (host.dataSlot != slotBefore) protocolError("the data slot was written");
    return result;
}

std::int16_t callSimple(std::int16_t code, const std::string& name) {
    std::int16_t result = callEntry(code, name);
    recordCall(name, code, result);
    logRects(name, -1, result);
    pumpMessages();
    return result;
}

// One Continue call with fresh buffers for the rectangles the module asked for.
bool callContinue(const std::string& name, std::int16_t& result) {
    vexel::FilterRecord& fr = filterRecord();
    Delivery out;
    host.selector = name;
    const Image& inSource = host.opt.inFromCurrent ? host.current : host.source;
    // A host that ignores the low planes counts every range from plane 0 of the image.
    const int inShift = host.opt.ignoreLowPlane ? fr.inLoPlane : 0;
    const int outShift = host.opt.ignoreLowPlane ? fr.outLoPlane : 0;
    bool ok = deliverReadOnly(keptIn, "inData", fr.inRect, fr.inLoPlane - inShift,
                              fr.inHiPlane - inShift, inSource, host.opt.inFromCurrent) &&
              prepareDelivery(out, "outData", fr.outRect, fr.outLoPlane - outShift,
                              fr.outHiPlane - outShift, host.current, false);
    if (ok && fr.haveMask)
        ok = deliverReadOnly(keptMask, "maskData", fr.maskRect, 0, 0, host.mask, false,
                             host.opt.maskRowBytes);
    if (!ok) return false;
    bool haveMaskBuffer = fr.haveMask && keptMask.present && !host.opt.nullMaskData;
    fr.inData = keptIn.present ? keptIn.bytes.get() : nullptr;
    fr.inRowBytes = keptIn.present ? keptIn.rowBytes : 0;
    fr.outData = out.present ? out.bytes.get() : nullptr;
    fr.outRowBytes = out.present ? out.rowBytes : 0;
    fr.maskData = haveMaskBuffer ? keptMask.bytes.get() : nullptr;
    fr.maskRowBytes = haveMaskBuffer ? keptMask.rowBytes : 0;

    result = callEntry(vexel::selector::continueRun, name);

    checkGuard(keptIn);
    checkGuard(out);
    checkUnchanged(keptIn);
    if (haveMaskBuffer) {
        checkGuard(keptMask);
        checkUnchanged(keptMask);
    }
    takeBack(out, host.current);
    writeBackUnrequestedPlanes(out, host.current);
    recordCall(name, vexel::selector::continueRun, result);
    logRects(name, host.continueCall, result);
    // The pointers go away now: a module must not keep them for the next call.
    fr.inData = fr.outData = fr.maskData = nullptr;
    return true;
}

double secondsNow() {
    LARGE_INTEGER frequency{}, now{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

long long maxContinueCalls() {
    if (host.opt.maxCalls >= 0) return host.opt.maxCalls;
    return 4LL * (host.source.height + 10) + 100000;
}

bool anyRequest() {
    const vexel::FilterRecord& fr = filterRecord();
    if (host.opt.endOnInRightZero) return fr.inRect.right != 0;
    return !vexel::isEmpty(fr.inRect) || !vexel::isEmpty(fr.outRect) ||
           !vexel::isEmpty(fr.maskRect);
}

// --unload-mid-run: the first run was left after its Continue calls; no Finish comes.
bool abandoned = false;

// The Continue loop: call while the module asks for anything. Returns the last result; sets the
// host error when the module never stops.
std::int16_t continueLoop() {
    std::int16_t result = 0;
    long long limit = maxContinueCalls();
    releaseDelivery(keptIn);
    releaseDelivery(keptMask);
    host.continueCall = 0;
    const double begin = secondsNow();
    while (anyRequest()) {
        if (host.continueCall >= limit) {
            host.error = std::string("the module kept asking after ") + std::to_string(limit) +
                         " Continue calls (--max-calls)";
            host.exitStatus = kExitMaxCalls;
            std::fprintf(stderr, "%s\n", host.error.c_str());
            break;
        }
        if (!callContinue("continue", result)) {
            host.error = "a requested rectangle could not be delivered";
            host.exitStatus = kExitMaxCalls;
            break;
        }
        ++host.continueCall;
        pumpMessages();
        if (result != 0) break;
        if (host.run == 0 && host.continueCall == host.opt.unloadMidRun) {
            abandoned = true;
            break;
        }
    }
    const double seconds = secondsNow() - begin;
    {
        Guard guard(host.lock);
        host.runs.back().continueSeconds += seconds;
    }
    host.continueCall = -1;
    return result;
}

// A host's "repeat last filter" that keeps only what the parameters handle held right after
// Parameters: a copy of it then, or nothing when there was no block yet.
HGLOBAL savedParams = nullptr;

HGLOBAL copyOfBlock(HGLOBAL block) {
    if (block == nullptr) return nullptr;
    const SIZE_T size = GlobalSize(block);
    const void* p = GlobalLock(block);
    if (p == nullptr) return nullptr;
    HGLOBAL copy = globalFromBytes(static_cast<const std::uint8_t*>(p), size);
    GlobalUnlock(block);
    return copy;
}

void saveParamsAfterParameters() {
    if (!host.opt.saveParamsAfterParameters) return;
    if (savedParams != nullptr) GlobalFree(savedParams);
    savedParams = copyOfBlock(static_cast<HGLOBAL>(filterRecord().parameters));
}

bool askThisRun() {
    return host.opt.ask || (host.opt.askFirst && host.run == 0);
}

std::vector<SelectorStep> defaultSteps() {
    std::vector<SelectorStep> steps;
    if (askThisRun()) steps.push_back({"parameters", 1, false});
    steps.push_back({"prepare", 2, false});
    steps.push_back({"start", 3, false});
    steps.push_back({"continue", 4, false});
    steps.push_back({"finish", 5, false});
    return steps;
}

void runOnce() {
    abandoned = false;
    std::vector<SelectorStep> steps = host.opt.haveSelectors ? host.opt.selectors : defaultSteps();
    if (askThisRun() && host.opt.haveSelectors)
        steps.insert(steps.begin(), SelectorStep{"parameters", 1, false});
    bool startListed = false;
    for (const SelectorStep& s : steps)
        startListed |= !s.raw && s.name == "start";
    bool stopped = false, started = false;
    for (const SelectorStep& step : steps) {
        // After a host failure (the module never ended its loop) only Finish still comes.
        if (host.exitStatus != kExitOk && (step.raw || step.name != "finish")) continue;
        if (step.raw) {
            if (step.code == vexel::selector::continueRun) {
                std::int16_t result = 0;
                host.continueCall = 0;
                callContinue(step.name, result);
                host.continueCall = -1;
            } else {
                callSimple(step.code, step.name);
            }
            continue;
        }
        if (step.name == "about") {
            callSimple(step.code, step.name);
        } else if (step.name == "finish") {
            // Careful hosts call Finish only after a successful Start, failed run or not.
            bool skipped = (host.opt.noFinish && !stopped && host.exitStatus == kExitOk) ||
                           (host.opt.finishAfterSuccessOnly && stopped) || abandoned;
            if ((started || !startListed || host.opt.keepGoing) && !skipped) {
                callSimple(step.code, step.name);
                host.runs.back().finished = true;
            }
        } else {
            if (stopped && !host.opt.keepGoing) continue;
            std::int16_t result =
                step.name == "continue" ? continueLoop() : callSimple(step.code, step.name);
            if (step.name == "parameters") saveParamsAfterParameters();
            if (step.name == "start" && result == 0) started = true;
            if (result != 0) stopped = true;
        }
    }
}

// A host that drops the module in the middle of a run (FreeLibrary, no Finish), counting what the
// module holds just before and just after.
void unloadAbandonedRun() {
    const AllocStats before = allocStatsNow();
    FreeLibrary(host.module);
    host.module = nullptr;
    const AllocStats after = allocStatsNow();
    Guard guard(host.lock);
    RunSummary& summary = host.runs.back();
    summary.unloadedMidRun = true;
    summary.beforeUnload = before;
    summary.afterUnload = after;
}

// Loads the module and finds its entry point (again after --unload-after-run).
bool loadModule(std::string& error) {
    std::string path = host.opt.plugin;
    std::replace(path.begin(), path.end(), '/', '\\');
    host.module = LoadLibraryA(path.c_str());
    if (host.module == nullptr) {
        error = "cannot load " + host.opt.plugin + std::string(" (error ") +
                std::to_string(GetLastError()) + ")";
        host.exitStatus = kExitLoad;
        return false;
    }
    ++host.moduleLoads;
    FARPROC proc = GetProcAddress(host.module, "ENTRYPOINT1");
    if (proc == nullptr) {
        error = "no ENTRYPOINT1 in " + host.opt.plugin;
        host.exitStatus = kExitLoad;
        return false;
    }
    static_assert(sizeof(proc) == sizeof(host.entry));
    std::memcpy(&host.entry, &proc, sizeof proc);
    patchModuleImports(host.module, host.opt.instrument);
    return true;
}

} // namespace

vexel::FilterRecord& filterRecord() {
    return *std::launder(reinterpret_cast<vexel::FilterRecord*>(host.recordBytes.data()));
}

bool setUpHost(std::string& error) {
    Options& o = host.opt;
    host.mainThread = GetCurrentThreadId();
    if (o.input.empty())
        host.source = rampImage(o.planes, o.depth / 8);
    else if (o.rawWidth > 0) {
        if (!loadRawImage(o.input, o.rawWidth, o.rawHeight, o.planes, host.source, error,
                          o.depth / 8))
            return false;
    } else if (o.planes > 4) {
        error = "an image of more than 4 planes comes from raw input (--raw-size)";
        return false;
    } else if (!loadImage(o.input, o.planes, host.source, error, o.depth / 8, o.fullScale))
        return false;
    if (o.alphaPlane && host.source.planes == 3) {
        // Held as a 4-plane record (the fourth plane opaque); the image mode stays RGB.
        const std::size_t sample = static_cast<std::size_t>(host.source.sampleBytes);
        Image held{host.source.width, host.source.height, 4, {}, host.source.sampleBytes};
        held.pixels.reserve(host.source.pixels.size() / 3 * 4);
        for (std::size_t i = 0; i < host.source.pixels.size(); i += 3 * sample) {
            held.pixels.insert(held.pixels.end(), host.source.pixels.begin() + i,
                               host.source.pixels.begin() + i + 3 * sample);
            if (sample == 1) // opaque: 255, or 32768 at 16 bits (little-endian)
                held.pixels.push_back(255);
            else
                held.pixels.insert(held.pixels.end(), {0x00, 0x80});
        }
        host.source = std::move(held);
    }
    host.current = host.source;
    if (!o.mask.empty()) {
        if (!loadImage(o.mask, 1, host.mask, error)) return false;
        if (host.mask.width != host.source.width || host.mask.height != host.source.height) {
            error = "the mask must have the image's size";
            return false;
        }
    }
    if (o.haveSettings) {
        host.parameters = globalFromBytes(o.settings.data(), o.settings.size());
    } else if (!o.paramsIn.empty()) {
        std::vector<std::uint8_t> bytes;
        if (!readFile(o.paramsIn, bytes)) {
            error = "cannot read " + o.paramsIn;
            return false;
        }
        host.parameters = globalFromBytes(bytes.data(), bytes.size());
    }
    if (!createHostWindow(error)) return false;

    if (!loadModule(error)) return false;

    if (o.registerBigViewFirst) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = host.module;
        wc.lpszClassName = "big_view";
        if (RegisterClassA(&wc) == 0) {
            error = "cannot register big_view first";
            return false;
        }
    }
    initRecord();
    return true;
}

void runAll() {
    Image original = host.source;
    for (int run = 0; run < host.opt.runs && host.exitStatus == kExitOk; ++run) {
        {
            Guard guard(host.lock);
            host.run = run;
            host.runs.push_back(RunSummary{});
            host.runs.back().index = run;
        }
        if (host.module == nullptr) {
            std::string error;
            if (!loadModule(error)) {
                host.error = error;
                break;
            }
        }
        if (host.opt.chain)
            host.source = host.current;
        else
            host.current = host.source = original;
        planesAskedFor.assign(planesAskedFor.size(), 0);
        if (host.opt.freshParams) {
            if (host.parameters != nullptr) GlobalFree(host.parameters);
            host.parameters = nullptr;
        } else if (host.opt.saveParamsAfterParameters) {
            // The first run starts from the block given (the user's earlier choice); later ones
            // from a copy of what the handle held after the last Parameters (none if nothing).
            if (run == 0) {
                savedParams = copyOfBlock(host.parameters);
            } else {
                if (host.parameters != nullptr) GlobalFree(host.parameters);
                host.parameters = copyOfBlock(savedParams);
            }
        }
        vexel::FilterRecord& fr = filterRecord();
        fr.parameters = host.parameters;
        beginRunStats();
        std::string error;
        if (!beginDescriptorRun(error)) {
            host.error = error;
            host.exitStatus = kExitUsage;
            break;
        }
        const double begin = secondsNow();
        runOnce();
        const double seconds = secondsNow() - begin;
        endDescriptorRun();
        if (abandoned) unloadAbandonedRun();
        if (host.opt.unloadAfterRun && host.module != nullptr) {
            FreeLibrary(host.module);
            host.module = nullptr;
        }
        Guard guard(host.lock);
        host.runs.back().seconds = seconds;
        host.runs.back().paramsHex = parametersHex();
        if (host.opt.instrument) {
            host.runs.back().alloc = allocStatsNow();
            host.runs.back().haveAlloc = true;
        }
    }
}

std::string finalParametersHex() {
    return parametersHex();
}

} // namespace testhost
