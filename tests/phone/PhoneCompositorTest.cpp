// The program on a phone's compositor: phoc, headless, with a phone's screen,
// the program on Qt's Wayland platform against the camcorder simulator, and
// real pointer input through the compositor (camora-test-pointer). Each step
// waits until the compositor's screenshot (grim) shows the screen that must be
// in front, compared with the program's offscreen screenshots in docs/, and
// the screenshots are kept in the test's folder (PHONE_SHOTS names another).
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRectF>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "testkit/ChildProcess.h"
#include "testkit/PumpUntil.h"
#include "testkit/SourceDir.h"
#include "testkit/TempDeviceRoot.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testsupport::ChildProcess;
using testsupport::ExitStatus;
using testsupport::SpawnOptions;
using testsupport::Stream;

// A child process with extra environment and standard error to a file; with
// `pipes` its standard input and output are pipes (the pointer tool's
// commands and answers), else its output goes nowhere.
ChildProcess Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   const std::string& errorFile, bool pipes = false) {
    return ChildProcess::Spawn(argv, SpawnOptions()
                                         .In(pipes ? Stream::Pipe() : Stream::Inherit())
                                         .Out(pipes ? Stream::Pipe() : Stream::Null())
                                         .Err(Stream::Append(errorFile))
                                         .Env(env));
}

// Writes one line to the child and reads its answer line (empty when none came).
std::string Ask(ChildProcess& child, const std::string& line) {
    if (!child.Write(line + "\n")) {
        return {};
    }
    return child.ReadOutputLine(30s);
}

// The exit code once the child has ended within `limit` (128 + the signal
// when a signal ended it), else -1.
int ExitCode(ChildProcess& child, std::chrono::milliseconds limit) {
    const std::optional<ExitStatus> status = child.Wait(limit);
    if (!status) {
        return -1;
    }
    return status->Exited() ? status->code : 128 + status->signal;
}

std::string FileText(const std::string& path) {
    std::string text;
    if (FILE* f = std::fopen(path.c_str(), "r")) {
        char buffer[4096];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
            text.append(buffer, n);
        }
        std::fclose(f);
    }
    return text.size() > 4000 ? text.substr(text.size() - 4000) : text;
}

// One command to the simulator's control socket; its answer without "ok".
std::string Camera(const std::string& socketPath, const std::string& command) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
    std::string data;
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        const std::string line = command + "\n";
        if (::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
            char buffer[4096];
            ssize_t n = 0;
            while ((n = ::read(fd, buffer, sizeof buffer)) > 0) {
                data.append(buffer, static_cast<size_t>(n));
                if (data.find("\nok\n") != std::string::npos || data.rfind("ok\n", 0) == 0 ||
                    data.find("err") != std::string::npos) {
                    break;
                }
            }
        }
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return data;
}

// Where the program's offscreen screenshots are.
std::string Reference(const std::string& name) {
    return testsupport::SourceDir() + "/docs/screenshots/" + name;
}

// A point of a picture with its colour; the screen's picture is compared with
// the offscreen one at points placed alike on both.
struct Sample {
    QPointF reference;  // in the 480 x 640 offscreen screenshot
    QPointF shot;       // in the compositor's screenshot
};

bool Near(QRgb a, QRgb b, int tolerance) {
    return std::abs(qRed(a) - qRed(b)) <= tolerance &&
           std::abs(qGreen(a) - qGreen(b)) <= tolerance &&
           std::abs(qBlue(a) - qBlue(b)) <= tolerance;
}

bool Dark(QRgb c) {
    return qRed(c) < 8 && qGreen(c) < 8 && qBlue(c) < 8;
}

// The share of the points, of those where either picture is not black, at
// which both show the same colour; 0 when there are none.
double Likeness(const QImage& reference, const QImage& shot, const std::vector<Sample>& samples,
                int tolerance = 24) {
    int counted = 0, alike = 0;
    for (const Sample& s : samples) {
        const QPoint r = s.reference.toPoint(), p = s.shot.toPoint();
        if (!reference.rect().contains(r) || !shot.rect().contains(p)) {
            continue;
        }
        const QRgb a = reference.pixel(r), b = shot.pixel(p);
        if (Dark(a) && Dark(b)) {
            continue;
        }
        ++counted;
        alike += Near(a, b, tolerance) ? 1 : 0;
    }
    return counted == 0 ? 0.0 : static_cast<double>(alike) / counted;
}

// A picture in `cells`, each the mean colour of its part of `image` (on this
// thread: Qt's smooth scaling would share the work out to its thread pool).
QImage CellMeans(const QImage& image, QSize cells) {
    QImage out(cells, QImage::Format_RGB32);
    for (int cx = 0; cx < cells.width(); ++cx) {
        for (int cy = 0; cy < cells.height(); ++cy) {
            const int x0 = cx * image.width() / cells.width();
            const int x1 = (cx + 1) * image.width() / cells.width();
            const int y0 = cy * image.height() / cells.height();
            const int y1 = (cy + 1) * image.height() / cells.height();
            long r = 0, g = 0, b = 0, n = 0;
            for (int x = x0; x < x1; ++x) {
                for (int y = y0; y < y1; ++y) {
                    const QRgb c = image.pixel(x, y);
                    r += qRed(c);
                    g += qGreen(c);
                    b += qBlue(c);
                    ++n;
                }
            }
            n = std::max(n, 1L);
            out.setPixel(cx, cy, qRgb(int(r / n), int(g / n), int(b / n)));
        }
    }
    return out;
}

// The same for two dialogs: both pictures in 24 x 32 cells, each cell its
// mean colour, so that texts set a little differently still compare alike.
// The part of a screenshot where a dialog's 480 x 640 template is laid out:
// a frame of the handset screen's shape, as large as the screen holds, centred.
QImage TemplateFrame(const QImage& shot) {
    const int width = std::min(shot.width(), shot.height() * 480 / 640);
    const int height = width * 640 / 480;
    return shot.copy((shot.width() - width) / 2, (shot.height() - height) / 2, width, height);
}

double DialogLikeness(const QImage& reference, const QImage& shot) {
    const QSize cells(24, 32);
    const QImage a = CellMeans(reference, cells);
    const QImage b = CellMeans(TemplateFrame(shot), cells);
    std::vector<Sample> all;
    for (int x = 0; x < cells.width(); ++x) {
        for (int y = 0; y < cells.height(); ++y) {
            all.push_back({{double(x), double(y)}, {double(x), double(y)}});
        }
    }
    return Likeness(a, b, all, 12);
}

std::string Scores(const std::vector<std::pair<std::string, double>>& scores) {
    std::string text;
    for (const auto& [name, value] : scores) {
        char number[16];
        std::snprintf(number, sizeof number, "%.2f", value);
        text += (text.empty() ? "" : ", ") + name + " " + number;
    }
    return text;
}

class PhoneCompositorTest : public ::testing::TestWithParam<std::tuple<int, int, int>> {
protected:
    void SetUp() override {
        const auto [width, height, scale] = GetParam();
        physical_ = QSize(width, height);
        scale_ = scale;
        logical_ = QSize(width / scale, height / scale);
        for (const char* tool : {"/usr/bin/phoc", "/usr/bin/grim"}) {
            if (::access(tool, X_OK) != 0) {
                GTEST_SKIP() << tool << " is missing (scripts/setup installs it): "
                             << "no phone compositor to run on";
            }
        }
        runtime_ = root_.Host("runtime");
        ASSERT_EQ(::mkdir(runtime_.c_str(), 0700), 0);
        root_.WriteFile("phoc.ini", "[output:HEADLESS-1]\nmode = " + std::to_string(width) + "x" +
                                        std::to_string(height) +
                                        "\nscale = " + std::to_string(scale) + "\n");
        phoc_ =
            Start(std::vector<std::string>{"/usr/bin/phoc", "-C", root_.Host("phoc.ini")},
                  std::vector<std::string>{"XDG_RUNTIME_DIR=" + runtime_, "WLR_BACKENDS=headless",
                                           "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1",
                                           "WAYLAND_DISPLAY=", "DISPLAY="},
                  root_.Host("phoc.err"));
        const bool up = testsupport::PumpUntil(
            [&] {
                struct stat st {};
                return !phoc_.Running() || ::stat((runtime_ + "/wayland-0").c_str(), &st) == 0;
            },
            30s);
        if (!up || !phoc_.Running()) {
            GTEST_SKIP() << "phoc could not start here, so the phone run is skipped:\n"
                         << FileText(root_.Host("phoc.err"));
        }
        shots_ = ShotsFolder();

        // The device root: "CAMORA HD" paired on COM8 through the Bluetooth
        // stand-ins, no GPS source; the camcorder simulator on COM8.
        root_.WriteFile("bluetooth.conf", "backend=simulated\n");
        root_.WriteFile("gps.conf", "backend=none\n");
        const std::string bt = "registry/HKLM/Software/Microsoft/Bluetooth";
        root_.WriteFile(bt + "/Device/0a1b2c3d4e5f/name", "CAMORA HD\n");
        root_.WriteFile(
            bt + "/Device/0a1b2c3d4e5f/Services/00001101-0000-1000-8000-00805f9b34fb/.keep", "");
        root_.WriteFile(bt + "/Serial/Ports/00000a1b2c3d4e5f/Port", "COM8\n");
        root_.WriteFile("dev/.keep", "");
        control_ = root_.Host("camsim.sock");
        sim_ = Start(
            std::vector<std::string>{std::string(CAMORA_BIN_DIR) + "/camora-camsim", "--link",
                                     root_.Host("dev/COM8"), "--control", control_, "--no-stdin"},
            std::vector<std::string>{}, root_.Host("camsim.err"));
        ASSERT_TRUE(testsupport::PumpUntil(
            [&] {
                struct stat st {};
                return ::stat(control_.c_str(), &st) == 0 &&
                       ::lstat(root_.Host("dev/COM8").c_str(), &st) == 0;
            },
            20s))
            << FileText(root_.Host("camsim.err"));

        // The pointer first, so that the seat has a pointer when the program comes.
        pointer_ =
            Start(std::vector<std::string>{std::string(CAMORA_BIN_DIR) + "/camora-test-pointer",
                                           std::to_string(logical_.width()),
                                           std::to_string(logical_.height())},
                  WaylandEnv(), root_.Host("pointer.err"), true);
        ASSERT_EQ(Ask(pointer_, "move 1 1"), "ok") << FileText(root_.Host("pointer.err"));
    }

    // Where the screenshots go: PHONE_SHOTS, else the test's own folder.
    std::string ShotsFolder() const {
        const char* dir = std::getenv("PHONE_SHOTS");
        return dir != nullptr && *dir != '\0' ? std::string(dir) : root_.path();
    }

    std::vector<std::string> WaylandEnv() const {
        return {"XDG_RUNTIME_DIR=" + runtime_, "WAYLAND_DISPLAY=wayland-0", "DISPLAY="};
    }

    std::vector<std::string> ProgramEnv() const {
        std::vector<std::string> env = WaylandEnv();
        env.push_back("QT_QPA_PLATFORM=wayland");
        env.push_back("CAMORA_DEVICE_ROOT=" + root_.path());
        // The program ends itself with quick_exit: no leak check at exit; the
        // Wayland and font libraries read strings past their ends.
        env.push_back("ASAN_OPTIONS=strict_string_checks=0:detect_leaks=0:abort_on_error=1");
        return env;
    }

    QImage Shot(const std::string& name) const {
        const std::string file = shots_ + "/" + name + ".png";
        ::unlink(file.c_str());
        ChildProcess grim = ChildProcess::Spawn(
            {"/usr/bin/grim", file},
            SpawnOptions()
                .Err(Stream::Null())
                .Env({"XDG_RUNTIME_DIR=" + runtime_, "WAYLAND_DISPLAY=wayland-0"}));
        if (ExitCode(grim, 30s) != 0) {
            return {};
        }
        return QImage(QString::fromStdString(file)).convertToFormat(QImage::Format_RGB32);
    }

    // The main screen's panel point (layout pixels) on the phone's screen in
    // logical pixels: the panel is scaled to fit and centred.
    QPointF PanelToLogical(QPointF p) const {
        const double k = std::min(logical_.width() / 480.0, logical_.height() / 588.0);
        return {(logical_.width() - 480 * k) / 2 + p.x() * k,
                (logical_.height() - 588 * k) / 2 + p.y() * k};
    }

    // Points over a rectangle of the panel; the offscreen main screen shows the
    // panel 26 pixels down, centred in 480 x 640.
    std::vector<Sample> PanelGrid(QRectF area) const {
        std::vector<Sample> s;
        for (double x = area.left() + 4; x < area.right(); x += 9) {
            for (double y = area.top() + 4; y < area.bottom(); y += 9) {
                s.push_back({{x, y + 26}, PanelToLogical({x, y}) * scale_});
            }
        }
        return s;
    }

    std::string Tap(QPointF logical) {
        return Ask(pointer_, "tap " + std::to_string(static_cast<int>(logical.x())) + " " +
                                 std::to_string(static_cast<int>(logical.y())));
    }
    std::string TapPanel(QPointF panel) { return Tap(PanelToLogical(panel)); }
    // A point of a dialog's 480 x 640 template on the screen (see TemplateFrame).
    QPointF TemplateToLogical(QPointF point) const {
        const double k = std::min(logical_.width() / 480.0, logical_.height() / 640.0);
        return {(logical_.width() - 480 * k) / 2 + point.x() * k,
                (logical_.height() - 640 * k) / 2 + point.y() * k};
    }

    // Waits until the screenshot passes `inFront`; keeps the last one as `name`.
    bool WaitForScreen(const std::string& name, const std::function<bool(const QImage&)>& inFront,
                       std::chrono::seconds limit = 40s) {
        // The pointer out of the way of the picture.
        Ask(pointer_, "move 1 1");
        return testsupport::PumpUntil(
            [&] {
                const QImage shot = Shot(name);
                return !shot.isNull() && shot.size() == physical_ && inFront(shot);
            },
            limit);
    }

    // The middle of the box's default button (YES), which Qt's style frames in
    // the highlight's colour: the framed pixels in the lower half of the rows
    // that the box covers (those unlike the main screen), in physical pixels.
    QPointF DefaultButton(const QImage& shot, const QImage& mainScreen) const {
        int top = -1, bottom = -1;
        for (int y = 0; y < 588; y += 2) {
            const auto row = PanelGrid(QRectF(0, y, 480, 1));
            if (Likeness(mainScreen, shot, row) < 0.5) {
                const int at = static_cast<int>(PanelToLogical({0, double(y)}).y() * scale_);
                top = top < 0 ? at : top;
                bottom = at;
            }
        }
        if (top < 0) {
            return {};
        }
        QRect frame;
        for (int y = (top + bottom) / 2; y <= bottom && y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const QRgb c = shot.pixel(x, y);
                if (qBlue(c) > 130 && qBlue(c) - qRed(c) > 90 && qGreen(c) > 60 &&
                    qGreen(c) < 130) {
                    frame = frame.united(QRect(x, y, 1, 1));
                }
            }
        }
        return frame.isNull() ? QPointF() : QPointF(frame.center());
    }

    std::string Why(const std::string& step) const {
        return step + ": program's standard error:\n" + FileText(root_.Host("program.err")) +
               "\nphoc's:\n" + FileText(root_.Host("phoc.err"));
    }

    testsupport::TempDeviceRoot root_;
    QSize physical_, logical_;
    int scale_ = 1;
    std::string runtime_, shots_, control_;
    ChildProcess phoc_, sim_, pointer_;
};

TEST_P(PhoneCompositorTest, FromTheInstructionScreenToYesWithTheScreenInFrontAtEveryStep) {
    const QImage instruction(QString::fromStdString(Reference("templates/template-102.png")));
    const QImage select(QString::fromStdString(Reference("templates/template-109.png")));
    const QImage mainScreen(QString::fromStdString(Reference("main-video-rec.png")));
    const QImage liveView(QString::fromStdString(Reference("main-live-view.png")));
    ASSERT_FALSE(instruction.isNull() || select.isNull() || mainScreen.isNull() ||
                 liveView.isNull());
    // How alike the last screenshot was to each picture, for a failure's message.
    std::string seen;
    // The dialogs are told apart by what each shows where the other is black.
    const auto isInstruction = [&](const QImage& shot) {
        seen = Scores({{"instruction", DialogLikeness(instruction, shot)},
                       {"select", DialogLikeness(select, shot)}});
        return DialogLikeness(instruction, shot) > 0.5 && DialogLikeness(select, shot) < 0.25;
    };
    const auto isSelect = [&](const QImage& shot) {
        seen = Scores({{"instruction", DialogLikeness(instruction, shot)},
                       {"select", DialogLikeness(select, shot)}});
        return DialogLikeness(select, shot) > 0.5 && DialogLikeness(instruction, shot) < 0.25;
    };
    // The panel outside the preview picture, and the preview's top half.
    const auto keys = PanelGrid(QRectF(0, 240, 480, 348));
    const auto preview = PanelGrid(QRectF(20, 30, 320, 110));
    const auto isMain = [&](const QImage& shot) {
        seen = Scores({{"keys", Likeness(mainScreen, shot, keys)},
                       {"preview", Likeness(mainScreen, shot, preview)},
                       {"live view", Likeness(liveView, shot, preview)}});
        return Likeness(mainScreen, shot, keys) > 0.85 &&
               Likeness(mainScreen, shot, preview) > 0.85;
    };
    const auto isLiveView = [&](const QImage& shot) {
        seen = Scores({{"keys", Likeness(mainScreen, shot, keys)},
                       {"preview", Likeness(mainScreen, shot, preview)},
                       {"live view", Likeness(liveView, shot, preview)}});
        return Likeness(mainScreen, shot, keys) > 0.85 && Likeness(liveView, shot, preview) > 0.85;
    };
    // A box over the middle of the main screen, the panel's bottom bars still
    // showing below it. The bars' lettering is drawn at the screen's own scale,
    // so its edges differ from the stretched offscreen picture: a lower bar than
    // the keys' (a black backdrop in front scores near 0).
    const auto bars = PanelGrid(QRectF(0, 540, 480, 44));
    std::vector<Sample> middle;
    for (const Sample& s : PanelGrid(QRectF(0, 0, 480, 588))) {
        if (std::abs(s.shot.y() - physical_.height() / 2.0) < 40 * scale_) {
            middle.push_back(s);
        }
    }
    const auto isCloseQuestion = [&](const QImage& shot) {
        seen = Scores({{"bars", Likeness(mainScreen, shot, bars)},
                       {"middle", Likeness(mainScreen, shot, middle)}});
        return Likeness(mainScreen, shot, bars) > 0.7 && Likeness(mainScreen, shot, middle) < 0.5;
    };

    ChildProcess program = Start({std::string(CAMORA_BIN_DIR) + "/camora-controller"}, ProgramEnv(),
                                 root_.Host("program.err"));
    ASSERT_TRUE(program.Started());

    ASSERT_TRUE(WaitForScreen("instruction", isInstruction))
        << Why("instruction screen") << "\nlast screenshot: " << seen;
    // OK: the middle of its button in the offscreen picture.
    ASSERT_EQ(Tap(TemplateToLogical({237, 267})), "ok");

    ASSERT_TRUE(WaitForScreen("select", isSelect))
        << Why("select screen") << "\nlast screenshot: " << seen;
    ASSERT_EQ(Tap(TemplateToLogical({140, 155})), "ok");
    ASSERT_EQ(Tap(TemplateToLogical({147, 407})), "ok");

    ASSERT_TRUE(WaitForScreen("main", isMain))
        << Why("main screen") << "\nlast screenshot: " << seen;

    // The record key, held until the camera has had it.
    ASSERT_EQ(Ask(pointer_, "move " + std::to_string(int(PanelToLogical({420, 286}).x())) + " " +
                                std::to_string(int(PanelToLogical({420, 286}).y()))),
              "ok");
    ASSERT_EQ(Ask(pointer_, "down"), "ok");
    EXPECT_TRUE(
        testsupport::PumpUntil([&] { return Camera(control_, "presses").find("0\n") == 0; }, 20s))
        << Camera(control_, "presses");
    ASSERT_EQ(Ask(pointer_, "up"), "ok");
    EXPECT_TRUE(testsupport::PumpUntil(
        [&] { return Camera(control_, "status").find("\nstate 1\n") != std::string::npos; }, 20s))
        << Camera(control_, "status");

    // Live view: a tap on the preview.
    ASSERT_EQ(TapPanel({160, 120}), "ok");
    ASSERT_TRUE(WaitForScreen("live-view", isLiveView))
        << Why("live view") << "\nlast screenshot: " << seen;

    // Exit: the close question comes above the main screen; YES ends the program.
    ASSERT_EQ(TapPanel({360, 562}), "ok");
    ASSERT_TRUE(WaitForScreen("close-question", isCloseQuestion))
        << Why("close question") << "\nlast screenshot: " << seen;
    const QImage question = Shot("close-question");
    const QPointF yes = DefaultButton(question, mainScreen);
    ASSERT_FALSE(yes.isNull()) << "no default button found in the box";
    ASSERT_EQ(Tap(yes / scale_), "ok");
    EXPECT_EQ(ExitCode(program, 30s), 0) << Why("YES");
}

INSTANTIATE_TEST_SUITE_P(Phones, PhoneCompositorTest,
                         ::testing::Values(std::make_tuple(720, 1440, 2),
                                           std::make_tuple(1080, 2340, 3)),
                         [](const auto& param) {
                             return std::to_string(std::get<0>(param.param)) + "x" +
                                    std::to_string(std::get<1>(param.param)) + "Scale" +
                                    std::to_string(std::get<2>(param.param));
                         });

}  // namespace
