// The cost of one repaint of the main panel, composed the way the main screen
// does it: the 480 x 588 skin copied onto a fresh canvas, five indicator and
// cover rows, one pressed button, one 320 x 180 live-view JPEG decoded and
// drawn into the preview, then presented on the window by the program's
// screen fitter (black fill of a fresh presentation bitmap, an unscaled copy
// on 480 x 640 or a stretch on 1080 x 2340, then the copy to the window's
// back buffer). The rows and the preview are the main screen's own. Beside
// it, the bare block copies of the same repaint without decoding or overlays.
// Prints median and 99th percentile in milliseconds.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Application.h"
#include "platform/ui/Graphics.h"
#include "resources/Dialogs.h"
#include "resources/ResourceIds.h"
#include "sim/TestPicture.h"
#include "testkit/BenchOptions.h"
#include "ui/MainScreenLayout.h"
#include "ui/ScreenFitter.h"

using platform::Bitmap;
using platform::DrawingContext;
using ui::kPanelHeight;
using ui::kPanelWidth;
using ui::SkinPart;

namespace {

// Mode caption (video rec), standby, full battery, GPS with position, the
// snapshot button's cover: rows of the main screen's own layout tables.
const SkinPart kOverlays[] = {
    ui::OverlayLayout[ui::kOverlayRowMode + 0],
    ui::OverlayLayout[ui::kOverlayRowRecord + 0],
    ui::OverlayLayout[ui::kOverlayRowBattery + 6],
    ui::OverlayLayout[ui::kOverlayRowGps + 1],
    ui::OverlayLayout[0],
};
// The record button held down.
const SkinPart kPressed = ui::PanelLayout[3];

struct Skin {
    std::unique_ptr<Bitmap> panel;
    std::vector<std::pair<SkinPart, std::unique_ptr<Bitmap>>> rows;
    std::unique_ptr<Bitmap> pressed;
};

// The skin's bitmaps, or plain stand-ins of the catalogued sizes when a
// bitmap is missing, so that the timing is the same.
std::unique_ptr<Bitmap> Load(uint32_t id, int w, int h) {
    auto bitmap = platform::LoadBitmap(ui::ProgramModule(), id);
    return bitmap ? std::move(bitmap) : platform::CreateBitmap(w, h);
}
std::unique_ptr<Bitmap> Load(const SkinPart& row) {
    return Load(row.bitmapId, row.width, row.height);
}

// A window's back buffer and the program's fitter for its size, made once
// as the main screen makes it at dialog initialisation.
struct Window {
    std::unique_ptr<Bitmap> backBuffer;
    CScreenFitter fitter;
};

void Present(Window& window, DrawingContext& canvas) {
    DrawingContext screen;
    screen.Select(window.backBuffer.get());
    window.fitter.Present(screen, canvas);
    screen.Select(nullptr);
}

void FullRepaint(Skin& skin, const std::vector<uint8_t>& jpeg, Window& window) {
    DrawingContext source;
    DrawingContext canvas;
    auto canvasBitmap = canvas.CreateCompatibleBitmap(kPanelWidth, kPanelHeight);
    canvas.Select(canvasBitmap.get());
    source.Select(skin.panel.get());
    canvas.BlockCopy(0, 0, kPanelWidth, kPanelHeight, source, 0, 0);
    for (auto& [row, bitmap] : skin.rows) {
        source.Select(bitmap.get());
        canvas.BlockCopy(row.x, row.y, bitmap->Width(), bitmap->Height(), source, 0, 0);
    }
    source.Select(skin.pressed.get());
    canvas.BlockCopy(kPressed.x, kPressed.y, skin.pressed->Width(), skin.pressed->Height(), source,
                     0, 0);
    if (auto image = platform::JpegImage::FromBuffer(jpeg)) {
        const ui::LayoutRect& r = ui::PreviewRect;
        image->Draw(canvas, {r.left, r.top, r.right, r.bottom});
    }
    Present(window, canvas);
    canvas.Select(nullptr);
}

void BareCopies(Skin& skin, Window& window) {
    DrawingContext source;
    DrawingContext canvas;
    auto canvasBitmap = canvas.CreateCompatibleBitmap(kPanelWidth, kPanelHeight);
    canvas.Select(canvasBitmap.get());
    source.Select(skin.panel.get());
    canvas.BlockCopy(0, 0, kPanelWidth, kPanelHeight, source, 0, 0);
    Present(window, canvas);
    canvas.Select(nullptr);
}

template <typename F>
std::vector<double> Time(int runs, F repaint) {
    for (int i = 0; i < 20; ++i) {
        repaint();  // warm caches and the decoder
    }
    std::vector<double> ms;
    ms.reserve(static_cast<size_t>(runs));
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        repaint();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    return ms;
}

void Report(const char* what, const std::vector<double>& ms) {
    const double median = ms[ms.size() / 2];
    const double p99 = ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
    std::printf("  %-34s median %7.3f ms   p99 %7.3f ms\n", what, median, p99);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 500;
    testsupport::BenchOptions("usage: camora-bench-repaint [RUNS]")
        .Positional(&runs)
        .ParseOrExit(argc, argv);
    runs = std::max(10, runs);
    // Drawing needs no screen: Qt's offscreen platform unless told otherwise.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int qtArgc = 1;
    platform::GuiApplication app(qtArgc, argv);

    Skin skin;
    skin.panel = Load(ui::res::kBmpPanel, kPanelWidth, kPanelHeight);
    for (const SkinPart& row : kOverlays) {
        skin.rows.emplace_back(row, Load(row));
    }
    skin.pressed = Load(kPressed);
    const bool realSkin = platform::LoadBitmap(ui::ProgramModule(), ui::res::kBmpPanel) != nullptr;
    const std::vector<uint8_t> jpeg =
        sim::EncodeJpeg(sim::RenderTestPicture(320, 180, "0042 12:34:56"), 80);
    if (jpeg.empty()) {
        std::fprintf(stderr, "no test JPEG\n");
        return 1;
    }

    std::printf("Main panel repaint, %d runs each (%s skin, %zu-byte 320 x 180 JPEG)\n", runs,
                realSkin ? "embedded" : "stand-in", jpeg.size());
    for (const auto& [w, h] : {std::pair{480, 640}, std::pair{1080, 2340}}) {
        Window window{platform::CreateBitmap(w, h),
                      CScreenFitter(CScreenFitter::ClientRect{0, 0, w, h})};
        const std::string size = std::to_string(w) + " x " + std::to_string(h);
        Report(("full repaint on " + size).c_str(),
               Time(runs, [&] { FullRepaint(skin, jpeg, window); }));
        Report(("bare block copies on " + size).c_str(),
               Time(runs, [&] { BareCopies(skin, window); }));
    }
    return 0;
}
