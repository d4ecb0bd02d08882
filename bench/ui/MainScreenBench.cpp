// camora-bench-mainscreen: the main screen with the program's controllers
// against the camcorder simulator over real pseudo-terminals, on Qt's
// offscreen platform with the handset's 480 x 640 screen:
//   - a pen-down event on the window to the key frame arriving at the camera
//     (median and 99th percentile);
//   - one repaint of the window with a live-view image in the preview;
//   - CPU of the whole program (the camera runs as a process of its own)
//     while connected and idle with the main screen shown, and while live
//     view streams on a link shaped like Bluetooth serial.
//
//   camora-bench-mainscreen [--seconds N] [--presses N] [--repaints N]
//
// Exits 1 when a target is missed: key p99 at 2 ms or more, repaint median
// at 2 ms or more, idle CPU at 0.5% of one core or more.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "platform/ui/Application.h"
#include "sim/TestPicture.h"
#include "sim/Wire.h"
#include "testkit/BenchOptions.h"
#include "testkit/ui/MainScreenHarness.h"
#include "testkit/ui/PaintCounter.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using uitest::MainScreenHarness;
using uitest::PaintCounter;

struct Settings {
    double seconds = 10;
    int presses = 300;
    int repaints = 500;
};

using bench::Die;

double MsOf(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Spread {
    double p50 = 0;
    double p99 = 0;
    double max = 0;
};

Spread SpreadOf(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    auto at = [&](double q) {
        return ms[std::min(ms.size() - 1, static_cast<size_t>(q * static_cast<double>(ms.size())))];
    };
    return {at(0.50), at(0.99), ms.back()};
}

// Runs the GUI's event loop (sleeping while nothing happens) for `duration`.
void RunEventLoopFor(std::chrono::milliseconds duration) {
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(duration.count()), &loop, &QEventLoop::quit);
    loop.exec();
}

// ---- key press ------------------------------------------------------------------

Spread MeasureKeyPress(int presses) {
    // A real camera's mode-poll pace: the polls share the link with the keys.
    uitest::HarnessOptions options;
    options.camera.modePollIntervalMs = 500;
    MainScreenHarness h(options);
    if (!h.Ready()) {
        Die("the screen's objects did not start");
    }
    // The answer comes after the pen is lifted, so that each press sends one frame.
    h.camera().AddFault({.kind = sim::FaultKind::Late, .opcode = sim::CTP_CAMCMD, .delayMs = 10});
    std::vector<double> ms;
    h.Run([&] {
        if (!h.WaitForCameraStatus()) {
            Die("the camera's status did not reach the screen");
        }
        for (int i = 0; i < presses; ++i) {
            const auto down = Clock::now();
            h.PenDown(uitest::kPausePoint);
            // Woken by the camera's reader as the frame is taken in.
            const bool arrived = h.camera().WaitForFrames(
                [&](const std::vector<sim::WireFrame>& frames) {
                    size_t keys = 0;
                    for (const sim::WireFrame& f : frames) {
                        keys += f.Opcode() == sim::CTP_CAMCMD ? 1 : 0;
                    }
                    return keys > static_cast<size_t>(i);
                },
                5s);
            if (!arrived) {
                Die("the key frame did not arrive");
            }
            ms.push_back(MsOf(Clock::now() - down));
            h.PenUp(uitest::kPausePoint);
            h.camera().WaitFor(
                [&] {
                    size_t answers = 0;
                    for (const sim::WireFrame& f : h.camera().SentFrames()) {
                        answers += f.Channel() == 3 ? 1 : 0;
                    }
                    return answers > static_cast<size_t>(i);
                },
                5s);
            RunEventLoopFor(5ms);
        }
        if (h.KeyFrames() != static_cast<size_t>(presses)) {
            Die("a press sent more or less than one frame");
        }
    });
    return SpreadOf(ms);
}

// ---- repaint ---------------------------------------------------------------------

Spread MeasureRepaint(int repaints) {
    MainScreenHarness h;
    if (!h.Ready()) {
        Die("the screen's objects did not start");
    }
    std::vector<double> ms;
    h.Run([&] {
        if (!h.WaitForCameraStatus()) {
            Die("the camera's status did not reach the screen");
        }
        // No status message from now on: nothing but these repaints draws.
        h.camera().SetModePollInterval(600000);
        h.state().SetMonitorActive(1);
        const std::vector<uint8_t> jpeg =
            sim::EncodeJpeg(sim::RenderTestPicture(320, 180, "#000001 12:00:00.000"), 75);
        auto* image = static_cast<uint8_t*>(std::malloc(jpeg.size()));
        std::memcpy(image, jpeg.data(), jpeg.size());
        h.screen().SetFrame(image, static_cast<uint32_t>(jpeg.size()));
        h.screen().SetPreviewState(CEstablishDialog::kPreviewImage);
        QWidget* window = h.widget();
        // Every repaint must reach the screen's paint, or nothing was measured.
        PaintCounter paints(window);
        RunEventLoopFor(200ms);
        paints.count = 0;
        for (int i = 0; i < repaints + 20; ++i) {
            const auto start = Clock::now();
            window->repaint();  // paints at once: compose, decode, present
            if (i >= 20) {      // the first ones warm the caches
                ms.push_back(MsOf(Clock::now() - start));
            }
        }
        if (paints.count != repaints + 20) {
            Die("a repaint did not paint");
        }
        h.state().SetMonitorActive(0);
    });
    return SpreadOf(ms);
}

// ---- CPU -------------------------------------------------------------------------

double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return s(u.ru_utime) + s(u.ru_stime);
}

struct CpuFigures {
    double idle = 0;       // percent of one core
    double streaming = 0;  // likewise
};

CpuFigures MeasureCpu(const Settings& s) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("camora-bench-ui-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    // A Bluetooth serial link's rate and latency.
    bench::CameraProcess cam = bench::SpawnCamera(folder, 100000, 15);
    uitest::HarnessOptions options;
    options.externalLine = cam.line;
    options.timeOutSeconds = 5;
    MainScreenHarness h(options);
    if (!h.Ready()) {
        Die("the screen's objects did not start");
    }
    CpuFigures out;
    const auto span = std::chrono::milliseconds(static_cast<int>(s.seconds * 1000));
    h.Run([&] {
        if (!h.WaitForCameraStatus()) {
            Die("the camera's status did not reach the screen");
        }
        auto measure = [&] {
            RunEventLoopFor(2s);  // settle
            const double cpuBefore = CpuSeconds();
            const auto from = Clock::now();
            RunEventLoopFor(span);
            const double wall = std::chrono::duration<double>(Clock::now() - from).count();
            return 100.0 * (CpuSeconds() - cpuBefore) / wall;
        };
        out.idle = measure();
        h.Tap(uitest::kPreviewPoint);
        if (!testsupport::PumpGuiUntil([&] { return h.screen().FrameSize() > 0; })) {
            Die("live view showed no frame");
        }
        out.streaming = measure();
        h.Tap(uitest::kPreviewPoint);
        RunEventLoopFor(1s);
    });
    cam.End();
    std::filesystem::remove_all(folder);
    return out;
}

bool Target(const char* what, bool met) {
    std::printf("  %-64s %s\n", what, met ? "met" : "MISSED");
    return met;
}

}  // namespace

int main(int argc, char** argv) {
    Settings s;
    const testsupport::BenchOptions options =
        testsupport::BenchOptions(
            "usage: camora-bench-mainscreen [--seconds N] [--presses N] [--repaints N]")
            .Number("--seconds", &s.seconds)
            .Number("--presses", &s.presses)
            .Number("--repaints", &s.repaints);
    options.ParseOrExit(argc, argv);
    if (!(s.seconds > 0 && s.presses > 0 && s.repaints > 0)) {
        options.Usage();
    }
    ::signal(SIGPIPE, SIG_IGN);
    // Qt's offscreen platform with the handset's screen.
    QTemporaryDir dir;
    const QString config = dir.path() + QStringLiteral("/screen.json");
    {
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly)) {
            Die("cannot write the screen configuration");
        }
        file.write(R"({"screens":[{"name":"handset","x":0,"y":0,"width":480,"height":640,)"
                   R"("logicalDpiX":96,"logicalDpiY":96}]})");
    }
    const QByteArray platformName = "offscreen:configfile=" + config.toLocal8Bit();
    setenv("QT_QPA_PLATFORM", platformName.constData(), 1);
    int qtArgc = 1;
    platform::GuiApplication app(qtArgc, argv);

    const CpuFigures cpu = MeasureCpu(s);
    const Spread key = MeasureKeyPress(s.presses);
    const Spread paint = MeasureRepaint(s.repaints);

    std::printf("main screen on the offscreen platform, 480 x 640\n");
    std::printf(
        "  pen down to key frame at the camera (%d presses): median %.3f ms, p99 %.3f ms, "
        "max %.3f ms\n",
        s.presses, key.p50, key.p99, key.max);
    std::printf(
        "  repaint with a live-view image (%d repaints):    median %.3f ms, p99 %.3f ms, "
        "max %.3f ms\n",
        s.repaints, paint.p50, paint.p99, paint.max);
    std::printf("  CPU, connected and idle, main screen shown:      %.3f %% of one core\n",
                cpu.idle);
    std::printf("  CPU, live view on the shaped link (100 kB/s):    %.3f %% of one core\n",
                cpu.streaming);
    std::printf("targets\n");
    bool met = Target("key press p99 under 2 ms", key.p99 < 2.0);
    met = Target("repaint median under 2 ms", paint.p50 < 2.0) && met;
    met = Target("idle CPU under 0.5% of one core", cpu.idle < 0.5) && met;
    return met ? 0 : 1;
}
