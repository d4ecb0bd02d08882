// camora-startup-bench: how soon the user sees the program's screens.
//
//   camora-startup-bench [RUNS]
//
// Each run starts the program as a new process (this binary with --program:
// the program's own entry with a probe that notes when a screen's first paint
// has been done) in a private device root with "CAMORA HD" paired, against
// the camcorder simulator running in this process. The probe presses OK on
// the instruction screen, picks the camcorder and presses OK, as a user would.
// Reported per run, and as median and worst:
//   - instruction: from just before the process is spawned to the end of the
//     instruction screen's first paint;
//   - main screen: from the moment the camera's answer to the handshake left
//     it to the end of the main screen's first paint.
// Uses the display it is given (QT_QPA_PLATFORM, DISPLAY), Qt's offscreen
// platform when there is none. Exits 1 when a run does not reach the main screen.
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/EntryPoint.h"
#include "core/AppRegistry.h"
#include "ctp/CtpOpcodes.h"
#include "platform/ui/Application.h"
#include "resources/Dialogs.h"
#include "sim/Camcorder.h"
#include "testkit/BenchOptions.h"
#include "testkit/ChildProcess.h"
#include "testkit/ui/ProgramDriver.h"

namespace {

using Clock = std::chrono::steady_clock;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// ---- The program's side (--program) ----

bool g_probe = false;
bool g_mainPainted = false;  // GUI thread only

// Notes the end of the first paint of the instruction screen and of the main screen.
class PaintProbe : public QObject {
protected:
    bool eventFilter(QObject* object, QEvent* event) override {
        if (event->type() != QEvent::Paint || !object->isWidgetType()) {
            return false;
        }
        auto* w = static_cast<QWidget*>(object);
        if (!w->isWindow() || !w->inherits("QDialog")) {
            return false;
        }
        const char* which = nullptr;
        if (!instructionSeen_ && AppRegistry.instructionScreen != nullptr &&
            !w->findChildren<QAbstractButton*>().isEmpty()) {
            which = "instruction";
            instructionSeen_ = true;
        } else if (!mainSeen_ && AppRegistry.screenFitter != nullptr &&
                   w == QApplication::activeModalWidget() &&
                   w->findChildren<QAbstractButton*>().isEmpty()) {
            which = "main";
            mainSeen_ = true;
            g_mainPainted = true;
        }
        if (which == nullptr) {
            return false;
        }
        // Paint now, then note the time: the screen has been drawn.
        const bool handled = object->event(event);
        std::printf("%s %lld\n", which, static_cast<long long>(NowNs()));
        std::fflush(stdout);
        return handled;
    }

private:
    bool instructionSeen_ = false;
    bool mainSeen_ = false;
};

void InstallProbe() {
    if (g_probe) {
        qApp->installEventFilter(new PaintProbe);
    }
}
Q_COREAPP_STARTUP_FUNCTION(InstallProbe)

int RunProgram(int argc, char** argv) {
    g_probe = true;
    e2e::ProgramDriver driver;
    const QString ok = QStringLiteral("OK");
    const QString select = QStringLiteral("SELECT DEVICE");
    driver.Step("instruction OK", [&] {
        return AppRegistry.instructionScreen != nullptr &&
               e2e::ProgramDriver::Click(e2e::ProgramDriver::ScreenWith(ok), ok);
    });
    driver.Step("pick", [&] {
        return e2e::ProgramDriver::ClickItem(e2e::ProgramDriver::ScreenWith(select),
                                             QStringLiteral("CAMORA HD"));
    });
    driver.Step("select OK", [&] {
        QDialog* s = e2e::ProgramDriver::ScreenWith(select);
        return e2e::ProgramDriver::Enabled(s, ok) && e2e::ProgramDriver::Click(s, ok);
    });
    driver.Step("main screen", [] {
        if (!g_mainPainted) {
            return false;
        }
        // Measured: end here, without the program's exit work.
        std::fflush(nullptr);
        _exit(0);
    });
    platform::GuiApplication app(argc, argv);
    return driver.RunProgram();
}

// ---- The measuring side ----

struct Run {
    double instructionMs = -1;
    double mainMs = -1;
};

bool MeasureOnce(const std::string& self, Run* run) {
    const std::string root =
        (std::filesystem::temp_directory_path() / ("camora-startup-" + std::to_string(getpid())))
            .string();
    std::filesystem::remove_all(root);
    const std::string bt = root + "/registry/HKLM/Software/Microsoft/Bluetooth/";
    std::filesystem::create_directories(
        bt + "Device/0a1b2c3d4e5f/Services/00001101-0000-1000-8000-00805f9b34fb");
    std::filesystem::create_directories(bt + "Serial/Ports/00000a1b2c3d4e5f");
    std::FILE* f = std::fopen((root + "/bluetooth.conf").c_str(), "w");
    std::fputs("backend=simulated\n", f);
    std::fclose(f);
    f = std::fopen((bt + "Device/0a1b2c3d4e5f/name").c_str(), "w");
    std::fputs("CAMORA HD\n", f);
    std::fclose(f);
    f = std::fopen((bt + "Serial/Ports/00000a1b2c3d4e5f/Port").c_str(), "w");
    std::fputs("COM8\n", f);
    std::fclose(f);

    sim::Camcorder camera;
    const int64_t cameraBefore = NowNs();
    if (!camera.Start()) {
        return false;
    }
    const int64_t cameraAfter = NowNs();
    camera.LinkAs(root + "/dev/COM8");

    std::vector<std::string> env = {"CAMORA_DEVICE_ROOT=" + root};
    const char* display = std::getenv("DISPLAY");
    if (std::getenv("QT_QPA_PLATFORM") == nullptr && (display == nullptr || *display == '\0')) {
        env.push_back("QT_QPA_PLATFORM=offscreen");
    }
    const std::string errors = root + "/program-stderr.txt";
    const int64_t spawnedAt = NowNs();
    testsupport::ChildProcess program = testsupport::ChildProcess::Spawn(
        {self, "--program"}, testsupport::SpawnOptions()
                                 .Out(testsupport::Stream::Pipe())
                                 .Err(testsupport::Stream::Truncate(errors))
                                 .Env(env));
    if (!program.Started()) {
        return false;
    }
    const std::string text = program.ReadOutput(std::chrono::minutes(5));
    program.Wait(std::chrono::minutes(1));

    long long instructionNs = 0;
    long long mainNs = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        std::sscanf(line.c_str(), "instruction %lld", &instructionNs);
        std::sscanf(line.c_str(), "main %lld", &mainNs);
    }
    // The handshake's answer: the first frame the camera sent.
    const std::vector<sim::WireFrame> sent = camera.SentFrames();
    camera.Stop();
    if (instructionNs == 0 || mainNs == 0 || sent.empty() || sent[0].Opcode() != CTP_CAM_MODE) {
        // What the program said, for the reason.
        if (std::FILE* e = std::fopen(errors.c_str(), "r")) {
            char buffer[256];
            while (std::fgets(buffer, sizeof buffer, e) != nullptr) {
                std::fprintf(stderr, "  program: %s", buffer);
            }
            std::fclose(e);
        }
        std::filesystem::remove_all(root);
        return false;
    }
    std::filesystem::remove_all(root);
    // The camera's clock starts inside Start: between these two instants.
    const int64_t answerNs =
        (cameraBefore + cameraAfter) / 2 + static_cast<int64_t>(sent[0].atMs) * 1000000;
    run->instructionMs = static_cast<double>(instructionNs - spawnedAt) / 1e6;
    run->mainMs = static_cast<double>(mainNs - answerNs) / 1e6;
    std::printf("  run: instruction %7.1f ms   main screen %7.1f ms after the answer (+-%.1f)\n",
                run->instructionMs, run->mainMs,
                static_cast<double>(cameraAfter - cameraBefore) / 2e6 + 0.5);
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--program") == 0) {
        int qtArgc = 1;
        return RunProgram(qtArgc, argv);
    }
    int runs = 10;
    const testsupport::BenchOptions options =
        testsupport::BenchOptions("usage: camora-startup-bench [RUNS]").Positional(&runs);
    options.ParseOrExit(argc, argv);
    if (runs < 1) {
        options.Usage();
    }
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    std::vector<double> instruction;
    std::vector<double> main;
    for (int i = 0; i < runs; ++i) {
        Run run;
        if (!MeasureOnce(self, &run)) {
            std::fprintf(stderr, "camora-startup-bench: run %d did not reach the main screen\n",
                         i + 1);
            return 1;
        }
        instruction.push_back(run.instructionMs);
        main.push_back(run.mainMs);
    }
    auto report = [](const char* what, std::vector<double> v) {
        std::sort(v.begin(), v.end());
        std::printf("%-48s median %7.1f ms   worst %7.1f ms\n", what, v[v.size() / 2], v.back());
    };
    std::printf("%d runs\n", runs);
    report("process start to the instruction screen painted", instruction);
    report("handshake answer to the main screen painted", main);
    return 0;
}
