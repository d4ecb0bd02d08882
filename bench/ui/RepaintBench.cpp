// The cost of one repaint of the main panel, on the handset's 480 x 640 and
// on a 1080 x 2340 phone (its pixels as the window's, and as a compositor
// scaling a 480 x 1040 window 2.25 times), two ways in the same run:
//
// - stretch: the way the main screen painted before it drew at the screen's
//   resolution, kept as the baseline: the 480 x 588 skin copied onto a fresh
//   canvas, five indicator and cover rows, one pressed button, the live-view
//   JPEG decoded on every repaint and drawn into the preview, then presented
//   by the program's screen fitter (black fill of a fresh presentation
//   bitmap, an unscaled copy or a stretch, then the copy to the back buffer);
//   beside it the bare block copies of the same without decoding or overlays.
// - device: the main screen's own paint (CEstablishDialog::PaintWindowPixels
//   or PaintDevicePixels) of the same rows: its skin drawn for the panel's
//   device scale, composed straight into the back buffer, the picture decoded
//   once per frame at the size it is shown.
//
// Repaints: "full" is a press's or a status message's (the preview shows the
// live-view button), "held image" the same with the last live-view picture
// on show, "new image" the repaint for a newly arrived frame (decode included).
// The two ways alternate run by run; each figure is printed with its ratio to
// the baseline's. Prints median and 99th percentile in milliseconds of wall
// time, and the 99th percentile of this thread's CPU time (on a shared
// machine the wall time's tail is mostly other processes' turns).
//   camora-bench-repaint [RUNS] [--path both|stretch|device]
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <cstring>
#include <functional>

#include "core/CameraState.h"
#include "platform/ui/Application.h"
#include "platform/ui/Graphics.h"
#include "platform/ui/skin/SkinArt.h"
#include "resources/Dialogs.h"
#include "resources/ResourceIds.h"
#include "sim/TestPicture.h"
#include "testkit/BenchOptions.h"
#include "ui/EstablishDialog.h"
#include "ui/MainScreenLayout.h"
#include "ui/PanelRequests.h"
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
// The live-view button at rest, in the preview when no picture is on show.
const SkinPart kPreview = ui::PanelLayout[ui::kPanelRowLiveView];

struct Skin {
    std::unique_ptr<Bitmap> panel;
    std::vector<std::pair<SkinPart, std::unique_ptr<Bitmap>>> rows;
    std::unique_ptr<Bitmap> pressed;
    std::unique_ptr<Bitmap> preview;
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

void FullRepaint(Skin& skin, const std::vector<uint8_t>* jpeg, Window& window) {
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
    if (jpeg == nullptr) {
        source.Select(skin.preview.get());
        canvas.BlockCopy(kPreview.x, kPreview.y, skin.preview->Width(), skin.preview->Height(),
                         source, 0, 0);
    } else if (auto image = platform::JpegImage::FromBuffer(*jpeg)) {
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

// The controllers' side of the main screen: nothing to do here.
class NoRequests : public PanelRequests {
public:
    void KeyDown(int) override {}
    void KeyUp() override {}
    void SwitchGps(platform::WindowHandle) override {}
    void SwitchLiveView(platform::WindowHandle) override {}
    void TakeImage(uint8_t** image, uint32_t* imageSize) override {
        *image = nullptr;
        *imageSize = 0;
    }
    void Capture(platform::WindowHandle) override {}
    void SetModeWindow(platform::WindowHandle) override {}
    void CloseBackdrop() override {}
    void ConfirmClose() override {}
};

// The main screen itself, without a window: video recording mode in standby,
// full battery, GPS with a position, the record button held; live view on
// when `liveView`.
struct Screen {
    Screen(int clientWidth, int clientHeight, bool liveView) {
        state.SetMode(0);
        state.SetOperationState(0);
        state.SetBatteryLevel(5);
        state.SetGpsStatus(1);
        state.SetMonitorActive(liveView ? 1 : 0);
        screen.Init(skinpainter::ModuleWithSkinArt(ui::ProgramModule()), nullptr);
        screen.SetFitter(std::make_unique<CScreenFitter>(
            CScreenFitter::ClientRect{0, 0, clientWidth, clientHeight}));
        CameraStateSnapshot snapshot{};
        state.GetSnapshot(&snapshot);
        screen.UpdateFromState(snapshot);
        int id = 0;
        screen.HitTestPanel(snapshot, kPressed.x + kPressed.width / 2,
                            kPressed.y + kPressed.height / 2, &id);
    }
    void Paint(Bitmap& backBuffer, double deviceScale) {
        DrawingContext window;
        window.Select(&backBuffer);
        if (screen.DrawsInDevicePixels(deviceScale)) {
            screen.PaintDevicePixels(window, deviceScale);
        } else {
            screen.PaintWindowPixels(window);
        }
        window.Select(nullptr);
    }
    // A frame as the monitor controller hands it over: from the C heap.
    void NewFrame(const std::vector<uint8_t>& jpeg) {
        auto* copy = static_cast<uint8_t*>(std::malloc(jpeg.size()));
        std::memcpy(copy, jpeg.data(), jpeg.size());
        screen.SetFrame(copy, static_cast<uint32_t>(jpeg.size()));
    }

    CCameraState state;
    NoRequests requests;
    CEstablishDialog screen{&state, &requests};
};

double Median(const std::vector<double>& ms) {
    return ms[ms.size() / 2];
}
double P99(const std::vector<double>& ms) {
    return ms[std::min(ms.size() - 1, ms.size() * 99 / 100)];
}

double ThreadCpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct Timing {
    std::vector<double> wall;  // sorted
    std::vector<double> cpu;   // sorted
};

// Times the repaints given, alternating them run by run so that both see the
// same machine.
std::vector<Timing> Time(int runs, const std::vector<std::function<void()>>& repaints) {
    for (int i = 0; i < 20; ++i) {
        for (const auto& repaint : repaints) {
            repaint();  // warm caches and the decoder
        }
    }
    std::vector<Timing> ms(repaints.size());
    for (auto& m : ms) {
        m.wall.reserve(static_cast<size_t>(runs));
        m.cpu.reserve(static_cast<size_t>(runs));
    }
    for (int i = 0; i < runs; ++i) {
        for (size_t k = 0; k < repaints.size(); ++k) {
            const double cpu = ThreadCpuMs();
            const auto start = std::chrono::steady_clock::now();
            repaints[k]();
            ms[k].wall.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
            ms[k].cpu.push_back(ThreadCpuMs() - cpu);
        }
    }
    for (auto& m : ms) {
        std::sort(m.wall.begin(), m.wall.end());
        std::sort(m.cpu.begin(), m.cpu.end());
    }
    return ms;
}

void Report(const std::string& what, const Timing& t, const Timing* baseline) {
    std::printf("  %-38s wall %6.3f / %7.3f ms  cpu %6.3f / %6.3f ms", what.c_str(), Median(t.wall),
                P99(t.wall), Median(t.cpu), P99(t.cpu));
    if (baseline != nullptr) {
        std::printf("  x%.2f x%.2f x%.2f x%.2f", Median(t.wall) / Median(baseline->wall),
                    P99(t.wall) / P99(baseline->wall), Median(t.cpu) / Median(baseline->cpu),
                    P99(t.cpu) / P99(baseline->cpu));
    }
    std::printf("\n");
}

struct Size {
    int width;  // the screen's pixels
    int height;
    double deviceScale;  // screen pixels per window pixel
    const char* name;
};

}  // namespace

int main(int argc, char** argv) {
    int runs = 500;
    std::string path = "both";
    testsupport::BenchOptions("usage: camora-bench-repaint [RUNS] [--path both|stretch|device]")
        .Positional(&runs)
        .Choice("--path", {"both", "stretch", "device"}, &path)
        .ParseOrExit(argc, argv);
    runs = std::max(10, runs);
    const bool stretch = path != "device";
    const bool device = path != "stretch";
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
    skin.preview = Load(kPreview);
    const bool realSkin = platform::LoadBitmap(ui::ProgramModule(), ui::res::kBmpPanel) != nullptr;
    const std::vector<uint8_t> jpeg =
        sim::EncodeJpeg(sim::RenderTestPicture(320, 180, "0042 12:34:56"), 80);
    if (jpeg.empty()) {
        std::fprintf(stderr, "no test JPEG\n");
        return 1;
    }

    std::printf("Main panel repaint, %d runs each (%s skin, %zu-byte 320 x 180 JPEG)\n", runs,
                realSkin ? "embedded" : "stand-in", jpeg.size());
    std::printf(
        "median / p99 of wall and thread CPU time; device figures end with their four\n"
        "ratios to stretch's\n");
    const Size sizes[] = {{480, 640, 1.0, "480 x 640"},
                          {1080, 2340, 1.0, "1080 x 2340"},
                          {1080, 2340, 2.25, "1080 x 2340 (480 x 1040 at 2.25)"}};
    for (const Size& size : sizes) {
        const int clientWidth = static_cast<int>(size.width / size.deviceScale);
        const int clientHeight = static_cast<int>(size.height / size.deviceScale);
        std::printf("%s\n", size.name);
        Window window{platform::CreateBitmap(size.width, size.height),
                      CScreenFitter(CScreenFitter::ClientRect{0, 0, size.width, size.height})};
        auto backBuffer = platform::CreateBitmap(size.width, size.height);
        Screen still(clientWidth, clientHeight, false);
        Screen live(clientWidth, clientHeight, true);
        live.NewFrame(jpeg);
        const auto drawStart = std::chrono::steady_clock::now();
        still.Paint(*backBuffer, size.deviceScale);  // draws the skin for its scale
        const double drawMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - drawStart)
                .count();
        std::vector<std::function<void()>> repaints;
        const size_t stretchAt = repaints.size();
        if (stretch) {
            // Today's stretch comes from the window's size alone: on the
            // compositor-scaled window it is the same as on the large one.
            repaints.push_back([&] { FullRepaint(skin, nullptr, window); });
            repaints.push_back([&] { FullRepaint(skin, &jpeg, window); });
            repaints.push_back([&] { BareCopies(skin, window); });
        }
        const size_t deviceAt = repaints.size();
        if (device) {
            repaints.push_back([&] { still.Paint(*backBuffer, size.deviceScale); });
            repaints.push_back([&] { live.Paint(*backBuffer, size.deviceScale); });
            repaints.push_back([&] {
                live.NewFrame(jpeg);
                live.Paint(*backBuffer, size.deviceScale);
            });
        }
        const auto ms = Time(runs, repaints);
        auto base = [&](size_t k) -> const Timing* {
            return stretch ? &ms[stretchAt + k] : nullptr;
        };
        if (stretch) {
            Report("stretch: full repaint", ms[stretchAt], nullptr);
            Report("stretch: repaint decoding the image", ms[stretchAt + 1], nullptr);
            Report("stretch: bare block copies", ms[stretchAt + 2], nullptr);
        }
        if (device) {
            Report("device: full repaint", ms[deviceAt], base(0));
            Report("device: repaint with the held image", ms[deviceAt + 1], base(1));
            Report("device: repaint with a new image", ms[deviceAt + 2], base(1));
            if (still.screen.DrawScale() != 1.0) {
                std::printf("  device: first paint %.1f ms, the skin drawn for scale %.2f in it\n",
                            drawMs, still.screen.DrawScale());
            } else {
                std::printf("  device: first paint %.1f ms\n", drawMs);
            }
        }
    }
    return 0;
}
