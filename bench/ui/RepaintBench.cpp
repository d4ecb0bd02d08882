// The cost of one repaint of the main panel, composed the way the main screen
// does it: the 480 x 588 skin copied onto a fresh canvas, five indicator and
// cover rows, one pressed button, one 320 x 180 live-view JPEG decoded and
// drawn into the preview, then presented on the window through a fresh
// presentation bitmap (black fill, then an unscaled copy on 480 x 640 or a
// stretch on 1080 x 2340, then the copy to the window's back buffer). Beside
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
#include "sim/TestPicture.h"
#include "ui/resources/Dialogs.h"

using platform::Bitmap;
using platform::DrawingContext;

namespace {

constexpr int kPanelWidth = 480;
constexpr int kPanelHeight = 588;

struct Row {
    uint32_t id;
    int x, y;
};
// Mode caption, standby, full battery, GPS with position, the snapshot cover.
constexpr Row kOverlays[] = {
    {218, 360, 28}, {231, 360, 88}, {220, 360, 124}, {227, 360, 160}, {217, 0, 236}};
// The record button held down.
constexpr Row kPressed = {210, 360, 236};

struct Skin {
    std::unique_ptr<Bitmap> panel;
    std::vector<std::pair<Row, std::unique_ptr<Bitmap>>> rows;
    std::unique_ptr<Bitmap> pressed;
};

// The skin's bitmaps, or plain stand-ins of the catalogued sizes when a
// bitmap is missing, so that the timing is the same.
std::unique_ptr<Bitmap> Load(uint32_t id, int w, int h) {
    auto bitmap = platform::LoadBitmap(ui::ProgramModule(), id);
    return bitmap ? std::move(bitmap) : platform::CreateBitmap(w, h);
}

struct Window {
    int width, height;
    std::unique_ptr<Bitmap> backBuffer;
};

// The screen fitter's geometry for a client area.
struct Fit {
    bool exact;
    int x, y, w, h;
};
Fit FitFor(int width, int height) {
    if (width == kPanelWidth && height >= kPanelHeight) {
        return {true, 0, static_cast<int>((height - kPanelHeight) * 0.5), kPanelWidth,
                kPanelHeight};
    }
    const double sx = width * (1.0 / kPanelWidth);
    const double sy = height * (1.0 / kPanelHeight);
    if (sx <= sy) {
        const int h = static_cast<int>(sx * kPanelHeight);
        return {false, 0, static_cast<int>((height - h) * 0.5), width, h};
    }
    const int w = static_cast<int>(sy * kPanelWidth);
    return {false, static_cast<int>((width - w) * 0.5), 0, w, height};
}

void Present(Window& window, DrawingContext& canvas) {
    DrawingContext screen;
    screen.Select(window.backBuffer.get());
    DrawingContext present;
    auto presentBitmap = present.CreateCompatibleBitmap(window.width, window.height);
    present.Select(presentBitmap.get());
    present.FillSolid({0, 0, window.width, window.height}, 0x000000);
    const Fit fit = FitFor(window.width, window.height);
    if (fit.exact) {
        present.BlockCopy(fit.x, fit.y, kPanelWidth, kPanelHeight, canvas, 0, 0);
    } else {
        present.StretchCopy(fit.x, fit.y, fit.w, fit.h, canvas, 0, 0, kPanelWidth, kPanelHeight);
    }
    screen.BlockCopy(0, 0, window.width, window.height, present, 0, 0);
    present.Select(nullptr);
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
        image->Draw(canvas, {20, 28, 340, 208});
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
    if (argc > 1) {
        runs = std::max(10, std::atoi(argv[1]));
    }
    // Drawing needs no screen: Qt's offscreen platform unless told otherwise.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int qtArgc = 1;
    platform::GuiApplication app(qtArgc, argv);

    Skin skin;
    skin.panel = Load(200, kPanelWidth, kPanelHeight);
    for (const Row& row : kOverlays) {
        const bool tile = row.id == 217;
        const bool caption = row.id == 218;
        skin.rows.emplace_back(row, Load(row.id, 120, tile ? 100 : caption ? 60 : 36));
    }
    skin.pressed = Load(kPressed.id, 120, 100);
    const bool realSkin = platform::LoadBitmap(ui::ProgramModule(), 200) != nullptr;
    const std::vector<uint8_t> jpeg =
        sim::EncodeJpeg(sim::RenderTestPicture(320, 180, "0042 12:34:56"), 80);
    if (jpeg.empty()) {
        std::fprintf(stderr, "no test JPEG\n");
        return 1;
    }

    std::printf("Main panel repaint, %d runs each (%s skin, %zu-byte 320 x 180 JPEG)\n", runs,
                realSkin ? "embedded" : "stand-in", jpeg.size());
    for (const auto& [w, h] : {std::pair{480, 640}, std::pair{1080, 2340}}) {
        Window window{w, h, platform::CreateBitmap(w, h)};
        const std::string size = std::to_string(w) + " x " + std::to_string(h);
        Report(("full repaint on " + size).c_str(),
               Time(runs, [&] { FullRepaint(skin, jpeg, window); }));
        Report(("bare block copies on " + size).c_str(),
               Time(runs, [&] { BareCopies(skin, window); }));
    }
    return 0;
}
