// Times the preview drawing on a real window (run under Wine): a full redraw of a 512 x 512
// preview with and without the effect, the live preview's redraw after a value change, one centre
// move (block redraw and markers), and one tick of the selection outline on a selection with many
// edges. Prints milliseconds per operation.
//
// Usage: preview_bench.exe [--repeat N]
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "tools/bench_clock_win32.h"

#include "effect/dispersion.h"
#include "host/memory.h"
#include "host/plugin_globals.h"
#include "pipeline/run_plan.h"
#include "ui/dialog_logic.h"
#include "ui/markers.h"
#include "ui/outline.h"
#include "ui/preview.h"
#include "ui/preview_pixels.h"

using namespace vexel;

namespace {

constexpr int kSide = 512;
constexpr int kWorkSide = 1024;

std::vector<std::uint8_t> hostRecord(kHostFilterRecordBytes);
std::vector<std::uint8_t> workPixels;

void pumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&message);
}

struct Timing {
    double mean;
    double best;
};

template <typename F> Timing timeIt(int repeat, F operation) {
    double total = 0;
    double best = 1e30;
    for (int n = 0; n < repeat; ++n) {
        const double start = nowMs();
        operation(n);
        GdiFlush();
        const double elapsed = nowMs() - start;
        total += elapsed;
        best = std::min(best, elapsed);
    }
    return {total / repeat, best};
}

void print(const char* what, Timing t) {
    std::printf("%-46s mean %8.3f ms   best %8.3f ms\n", what, t.mean, t.best);
}

HWND makeWindows() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "preview_bench";
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    RegisterClassA(&windowClass);
    HWND top =
        CreateWindowA("preview_bench", "preview bench", WS_POPUP | WS_VISIBLE, 0, 0, kSide + 300,
                      kSide + 40, nullptr, nullptr, windowClass.hInstance, nullptr);
    CreateWindowA("preview_bench", nullptr, WS_CHILD | WS_VISIBLE | WS_BORDER, 5, 5, 300, 300, top,
                  reinterpret_cast<HMENU>(100), windowClass.hInstance, nullptr);
    CreateWindowA("preview_bench", nullptr, WS_CHILD | WS_VISIBLE | WS_BORDER, kSide + 20, 5, 150,
                  150, top, reinterpret_cast<HMENU>(101), windowClass.hInstance, nullptr);
    pumpMessages();
    return top;
}

void setUpImage() {
    auto& record = *reinterpret_cast<FilterRecord*>(hostRecord.data());
    record.imageMode = imagemode::rgb;
    g.host.hostRecord = hostRecord.data();
    g.geometry.planeCount = 3;
    g.geometry.imageWidth = g.geometry.imageHeight = kWorkSide;
    g.geometry.workWidth = g.geometry.workHeight = g.production.gridWidth =
        g.production.gridHeight = kWorkSide;
    g.geometry.workRowBytes = kWorkSide * 3;
    workPixels.resize(static_cast<std::size_t>(kWorkSide) * kWorkSide * 3);
    for (int y = 0; y < kWorkSide; ++y)
        for (int x = 0; x < kWorkSide; ++x) {
            std::uint8_t* p = &workPixels[(static_cast<std::size_t>(y) * kWorkSide + x) * 3];
            p[0] = static_cast<std::uint8_t>(x ^ y);
            p[1] = static_cast<std::uint8_t>(x / 4);
            p[2] = static_cast<std::uint8_t>(y / 4);
        }
    g.buffers.workImage = RunBuffer{Holding::heldByHost, nullptr, workPixels.data()};
    g.geometry.previewWidth = g.geometry.previewHeight = g.geometry.previewMax = kSide;
    g.geometry.previewScale = (kWorkSide << 16) / kSide;
    g.geometry.imageScale = g.geometry.previewScale;
    g.settings.angle = 30;
    g.settings.stretch = 60;
    g.settings.strength = 70;
    g.settings.height = 100; // the effect covers the whole preview
    g.settings.width = 100;
}

// Rings and a checkerboard of squares: long curved edges plus many short ones.
bool complexSelection(int x, int y) {
    const double r = std::hypot(x - 256.0, y - 256.0);
    if (static_cast<int>(r / 24) % 2 == 0 && r < 230) return true;
    return x > 380 && y > 380 && ((x / 9 + y / 9) % 2 == 0);
}

void setUpBuffers(bool withMask) {
    allocRunBuffer(g.buffers.previewStrip, kPreviewStripBytes);
    allocRunBuffer(g.buffers.dibBuffer, kDibBufferBytes);
    unlockBlock(g.buffers.dibBuffer.handle);
    g.buffers.dibBuffer.address = nullptr; // locked (and the display measured) by the first redraw
    g.buffers.maskFrame.holding = Holding::notUsed;
    if (!withMask) return;
    allocateMaskBuffers();
    for (int y = 0; y < kSide; ++y)
        for (int x = 0; x < kSide; ++x)
            if (complexSelection(x, y))
                g.buffers.maskFrame.address[(y + 1) * g.buffers.maskStride + x / 8] |=
                    static_cast<std::uint8_t>(0x80 >> (x % 8));
    HBITMAP bitmap = CreateBitmap(g.buffers.maskStride * 8, kSide, 1, 1, nullptr);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    ReleaseDC(nullptr, screen);
    SelectObject(memory, bitmap);
    g.buffers.outlineBitmap = bitmap;
    g.buffers.outlineDC = memory;
}

} // namespace

int main(int argc, char** argv) {
    int repeat = 20;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--repeat") == 0) repeat = std::max(1, std::atoi(argv[i + 1]));

    setUpImage();
    setUpBuffers(true);
    static const std::uint8_t marker[16] = {0xE7, 0x00, 0xFF, 0x42, 0xFF, 0x24, 0x7E, 0x18,
                                            0x7E, 0x18, 0xFF, 0x24, 0xFF, 0x42, 0xE7, 0x00};
    g.buffers.markerBitmap = CreateBitmap(16, 8, 1, 1, marker);
    g.dialog.dialogWindow = makeWindows();
    if (g.dialog.dialogWindow == nullptr) {
        std::fprintf(stderr, "cannot create the preview windows (no display?)\n");
        return 1;
    }

    redrawPreview(); // first paint: sizes the windows, measures the display
    pumpMessages();
    std::printf("preview %dx%d from a %dx%d work image, display %s\n", kSide, kSide, kWorkSide,
                kWorkSide, g.dialog.lowColor ? "8-bit (dithered)" : "true colour");

    g.effect.gridCenterX = g.effect.gridCenterY = kWorkSide / 2;
    deriveEffect(g.effect, g.settings, g.geometry.previewMax, g.geometry.previewScale);

    buildSelectionOutline();
    g.dialog.previewEffect = 0;
    print("full redraw, no effect", timeIt(repeat, [](int) { redrawPreview(); }));
    g.dialog.previewEffect = 1;
    print("full redraw, effect, with selection", timeIt(repeat, [](int) { redrawPreview(); }));
    g.buffers.maskFrame.holding = Holding::notUsed;
    print("full redraw, effect, no selection", timeIt(repeat, [](int) { redrawPreview(); }));
    // The same pixels without putting them on the screen: what the effect costs apart from the
    // display.
    print("effect pixels only, no selection", timeIt(repeat, [](int) {
              renderPreviewStrips(
                  [](void*, std::int16_t, std::int16_t, std::int16_t, std::int16_t) {}, nullptr);
          }));
    g.buffers.maskFrame.holding = Holding::block;

    // The live preview: from a changed value (the angle, alternating) to the finished redraw with
    // the effect derived again, as the live timer runs it once the changes pause. The pause
    // itself (the timer's delay) is not counted.
    auto liveChange = [](int n) {
        g.settings.angle = static_cast<std::int16_t>(n % 2 == 0 ? 40 : 30);
        liveAfterChange(g.dialog.live, true);
        liveTimerFired();
    };
    liveOpensWithEffect(g.dialog.live, g.settings);
    print("live redraw after a change, with selection", timeIt(repeat, liveChange));
    g.buffers.maskFrame.holding = Holding::notUsed;
    print("live redraw after a change, no selection", timeIt(repeat, liveChange));
    g.buffers.maskFrame.holding = Holding::block;

    // Alternating between two centres: across overview pixels (scope 0), and inside one (scope 1).
    print("centre move, overview redrawn too", timeIt(repeat * 10, [](int n) {
              moveCenter(static_cast<std::int16_t>(n % 2 == 0 ? 300 : 240), 200, 0);
          }));
    print("centre move inside one overview pixel", timeIt(repeat * 10, [](int n) {
              moveCenter(static_cast<std::int16_t>(n % 2 == 0 ? 301 : 300), 200, 0);
          }));

    print("outline tick, priming", timeIt(repeat * 5, [](int) {
              g.outline.outlinePrimed = 0;
              outlineTick();
          }));
    print("outline tick", timeIt(repeat * 10, [](int) { outlineTick(); }));

    KillTimer(static_cast<HWND>(g.dialog.dialogWindow), 1);
    DestroyWindow(static_cast<HWND>(g.dialog.dialogWindow));
    return 0;
}
