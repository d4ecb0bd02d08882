// camora-bench-controllers: the controllers against the camcorder simulator
// over real pseudo-terminals, with the figures side by side in one run:
//   - live view (frames/s, payload) on a link shaped like Bluetooth serial,
//     beside the stop-and-wait bound of the very frames it exchanged, and
//     beside a raw request/response loop on the same kind of link;
//   - the same on an unshaped pty;
//   - a key press: pen-down Request to the key frame at the camera, beside a
//     raw write of the same frame;
//   - CPU time of the handset's threads while connected and idle and while
//     streaming (the camera runs as a process of its own, so it is not counted).
//
//   - a still capture of 640 x 480 (40 to 60 kB) on the shaped link, beside the
//     stop-and-wait bound of its block frames, and whether the progress bar
//     stepped once per block;
//
//   camora-bench-controllers [--seconds N] [--presses N] [--rate B/S] [--latency MS]
//                            [--captures N] [--capture-only]
//
// Exits 1 when a target is missed: live view below 95% of the shaped bound,
// a still capture below 97% of its bound,
// a key press adding 5 ms or more at the 99th percentile, idle CPU at 1% of
// one core or more.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/CameraState.h"
#include "app/ConfigStore.h"
#include "controllers/CamCmdController.h"
#include "controllers/CamModeController.h"
#include "controllers/CaptureContller.h"
#include "controllers/CaptureScreens.h"
#include "controllers/ControllerMessages.h"
#include "controllers/MonitorController.h"
#include "ctp/CtpEngine.h"
#include "platform/serial/SerialPort.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/WindowMessages.h"
#include "sim/Camcorder.h"
#include "tests/support/PumpUntil.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

struct Settings {
    double seconds = 10;
    int presses = 300;
    uint32_t rate = 100000;
    uint32_t latencyMs = 15;
    int captures = 5;
    bool captureOnly = false;
};

constexpr int kCaptureQuality = 98;

[[noreturn]] void Die(const std::string& why) {
    std::fprintf(stderr, "camora-bench-controllers: %s\n", why.c_str());
    std::exit(2);
}

double SecondsOf(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}
Clock::duration ToDuration(double seconds) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}
double MsOf(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

int OpenRaw(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        Die("cannot open " + path);
    }
    termios tio{};
    if (::tcgetattr(fd, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(fd, TCSANOW, &tio);
    }
    return fd;
}

using testsupport::PumpUntil;

// Runs window messages for `duration`, sleeping while none come (as a GUI
// thread's event loop would).
void PumpFor(Clock::duration duration) {
    const auto until = Clock::now() + duration;
    for (auto now = Clock::now(); now < until; now = Clock::now()) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count();
        platform::PumpWindowMessages(static_cast<uint32_t>(std::max<long long>(ms, 1)));
    }
}

// The handset's side of one camera link. Never freed: the engine's and the
// controllers' threads run until the process ends.
struct Handset {
    CCtpEngine* engine = new CCtpEngine;
    CCameraState* state = new CCameraState;
    CConfigStore* config = new CConfigStore;
    ControllerServices Services() const { return {engine, state, config}; }
};

Handset* Connect(const std::string& line) {
    auto* handset = new Handset;
    handset->config->SetString("TimeOut", "5");
    if (handset->engine->Start(platform::SerialPort::Adopt(OpenRaw(line))) != 1) {
        Die("the engine did not start");
    }
    return handset;
}

// A simulated camera in this process; never freed, so that the engine on its
// line stays idle rather than retrying a dead one.
sim::Camcorder* StartCamera(const sim::Shaping& shaping, int jpegQuality = 75) {
    sim::Options options;
    options.shaping = shaping;
    options.jpegQuality = jpegQuality;
    options.sentRecordBytes = size_t{256} << 20;
    auto* cam = new sim::Camcorder(options);
    if (!cam->Start()) {
        Die("the simulator did not start");
    }
    return cam;
}

// ---- live view ---------------------------------------------------------------

struct LiveViewFigures {
    uint64_t images = 0;
    uint64_t bytes = 0;
    double seconds = 0;
    // The link time of the frames those images took, one after the other:
    // each frame's bytes at the link's rate plus the one-way latency.
    double linkSeconds = 0;
    double Fps() const { return seconds > 0 ? static_cast<double>(images) / seconds : 0; }
    double Payload() const { return seconds > 0 ? static_cast<double>(bytes) / seconds : 0; }
    double BoundFps() const {
        return linkSeconds > 0 ? static_cast<double>(images) / linkSeconds : 0;
    }
    double BoundPayload() const {
        return linkSeconds > 0 ? static_cast<double>(bytes) / linkSeconds : 0;
    }
};

double LinkSeconds(const std::vector<sim::WireFrame>& frames, const sim::Shaping& shaping) {
    double total = 0;
    for (const sim::WireFrame& f : frames) {
        if (f.Channel() == 4) {
            total += shaping.latencyMs / 1000.0 +
                     static_cast<double>(f.bytes.size()) / shaping.bytesPerSecond;
        }
    }
    return total;
}

constexpr uint64_t kWarmUpImages = 3;

LiveViewFigures MeasureLiveView(const sim::Shaping& shaping, int quality, double seconds) {
    sim::Camcorder* cam = StartCamera(shaping, quality);
    Handset* handset = Connect(cam->SlavePath());
    auto* monitor = new CMonitorController(handset->Services());
    if (monitor->Start() != 1) {
        Die("the monitor controller did not start");
    }
    LiveViewFigures out;
    uint64_t told = 0;
    bool done = false;
    Clock::time_point from;
    const platform::WindowHandle window = platform::CreateMessageWindow(
        [&](platform::WindowHandle, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
            if (message != WM_MONITOR_FRAME || done) {
                return 0;
            }
            uint8_t* image = nullptr;
            uint32_t size = 0;
            monitor->TakeImage(&image, &size);
            std::free(image);
            ++told;
            // The worker waits while this runs, so the records start and end
            // exactly between two images.
            if (told == kWarmUpImages) {
                cam->ClearRecords();
                from = Clock::now();
            } else if (told > kWarmUpImages) {
                ++out.images;
                out.bytes += size;
                const double elapsed = SecondsOf(Clock::now() - from);
                if (elapsed >= seconds) {
                    out.seconds = elapsed;
                    if (shaping.on) {
                        out.linkSeconds = LinkSeconds(cam->ReceivedFrames(), shaping) +
                                          LinkSeconds(cam->SentFrames(), shaping);
                    }
                    done = true;
                }
            }
            return 0;
        });
    monitor->Request(window);
    if (!PumpUntil([&] { return done; }, ToDuration(seconds) + 120s)) {
        Die("live view did not deliver images");
    }
    monitor->Request(window);  // off; the run's own messages now return at once
    platform::DestroyMessageWindow(window);
    return out;
}

// ---- still capture -----------------------------------------------------------

// The capture's screens as a windowless handset has them: the progress screen
// is a window of this thread that counts the bar's steps and learns the job's
// outcome; the confirmation answers NO, so nothing is written.
class BenchScreens final : public CCaptureScreens {
public:
    int RunProgress(CCaptureContller& controller) override {
        result_ = 0;
        steps_ = 0;
        range_ = 0;
        const platform::WindowHandle screen = platform::CreateMessageWindow(
            [this](platform::WindowHandle, uint32_t m, uintptr_t, intptr_t) -> intptr_t {
                if (m == WM_CAPTURE_DONE) {
                    doneAt_ = Clock::now();
                    result_ = kImageReady;
                } else if (m == WM_CAPTURE_FAILED) {
                    result_ = kFailed;
                }
                return 0;
            });
        const platform::WindowHandle bar = platform::CreateMessageWindow(
            [this](platform::WindowHandle, uint32_t m, uintptr_t, intptr_t l) -> intptr_t {
                if (m == platform::kMsgProgressSetRange) {
                    range_ = static_cast<int>(l);
                    rangeAt_ = Clock::now();  // the size is known: fetching starts
                } else if (m == platform::kMsgProgressStep) {
                    ++steps_;
                    lastStepAt_ = Clock::now();  // a block is in
                }
                return 0;
            });
        startedAt_ = Clock::now();
        controller.ProgressScreenReady(screen, bar);
        if (!PumpUntil([this] { return result_ != 0; }, 120s)) {
            Die("the capture did not end");
        }
        platform::DestroyMessageWindow(bar);
        platform::DestroyMessageWindow(screen);
        return result_;
    }
    int RunConfirm(CCaptureContller&) override { return kNo; }

    int result_ = 0;
    int steps_ = 0;
    int range_ = 0;
    Clock::time_point startedAt_, rangeAt_, lastStepAt_, doneAt_;
};

struct CaptureFigures {
    int captures = 0;
    uint64_t bytes = 0;           // of one still
    int blocks = 0;               // of one still
    bool stepsPerBlock = true;    // the bar stepped once per block every time
    double fetchSeconds = 0;      // size known to image ready, summed
    double fetchLinkSeconds = 0;  // the link time of the block frames, summed
    double jobSeconds = 0;        // screen up to image ready, summed
    double jobLinkSeconds = 0;
};

double LinkSecondsOf(const std::vector<sim::WireFrame>& frames, uint16_t opcode,
                     const sim::Shaping& shaping) {
    std::vector<sim::WireFrame> some;
    for (const sim::WireFrame& f : frames) {
        if (opcode == 0 || f.Opcode() == opcode) {
            some.push_back(f);
        }
    }
    return LinkSeconds(some, shaping);
}

CaptureFigures MeasureCapture(const sim::Shaping& shaping, int quality, int captures) {
    sim::Camcorder* cam = StartCamera(shaping, quality);
    cam->SetMode(3);
    Handset* handset = Connect(cam->SlavePath());
    handset->state->SetMode(3);
    auto* controller = new CCaptureContller(handset->Services());
    auto* screens = new BenchScreens;
    controller->SetScreens(screens);
    if (controller->Start() != 1) {
        Die("the capture controller did not start");
    }
    CaptureFigures out;
    const auto count = [](const std::vector<sim::WireFrame>& frames, uint16_t op) {
        return std::count_if(frames.begin(), frames.end(),
                             [op](const sim::WireFrame& f) { return f.Opcode() == op; });
    };
    for (int i = 0; i < captures; ++i) {
        cam->ClearRecords();
        controller->Request(platform::WindowHandle{});
        if (screens->result_ != CCaptureScreens::kImageReady) {
            Die("a capture failed");
        }
        // The job's capture end, sent after the image was ready, to be left out.
        if (!cam->WaitFor([&] { return count(cam->SentFrames(), sim::CTP_2001) >= 2; }, 10s)) {
            Die("the capture end was not answered");
        }
        PumpFor(20ms);
        auto received = cam->ReceivedFrames();
        auto sent = cam->SentFrames();
        received.pop_back();  // the capture end
        sent.pop_back();      // its answer
        uint64_t size = 0;
        for (const sim::WireFrame& f : sent) {
            if (f.Opcode() == sim::CTP_IMAGE_DATA && f.bytes.size() > 8) {
                size += f.bytes.size() - 8;
            }
        }
        out.bytes = size;
        out.blocks = screens->range_;
        out.stepsPerBlock &= screens->steps_ == screens->range_;
        out.fetchSeconds += SecondsOf(screens->lastStepAt_ - screens->rangeAt_);
        out.fetchLinkSeconds += LinkSecondsOf(received, sim::CTP_GET_IMAGE_DATA, shaping) +
                                LinkSecondsOf(sent, sim::CTP_IMAGE_DATA, shaping);
        out.jobSeconds += SecondsOf(screens->doneAt_ - screens->startedAt_);
        out.jobLinkSeconds += LinkSeconds(received, shaping) + LinkSeconds(sent, shaping);
        ++out.captures;
    }
    return out;
}

// One CTP exchange written and read by hand: the frame out, the whole answer in.
class RawLink {
public:
    explicit RawLink(int fd) : fd_(fd) {}

    Bytes Exchange(uint16_t opcode, const Bytes& body) {
        const Bytes frame = sim::EncodeFrame(4, opcode, body);
        if (::write(fd_, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) {
            Die("raw write failed");
        }
        Bytes answer(4);
        Read(answer.data(), 4);
        const size_t length = sim::FrameView{answer}.Length();
        if (length < 6) {
            Die("raw answer too short");
        }
        answer.resize(length);
        Read(answer.data() + 4, length - 4);
        return answer;
    }

private:
    void Read(uint8_t* dest, size_t count) {
        size_t done = 0;
        while (done < count) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) {
                Die("raw read timed out");
            }
            const ssize_t n = ::read(fd_, dest + done, count - done);
            if (n <= 0) {
                Die("raw read failed");
            }
            done += static_cast<size_t>(n);
        }
    }

    int fd_;
};

// One live-view image the plain way: ready it, ask its size, fetch its blocks.
uint32_t RawImage(RawLink& link) {
    link.Exchange(sim::CTP_IMAGE_CMD, {0x00, 0x00, 0x00, 0x00});
    const Bytes info = link.Exchange(sim::CTP_GET_DATA_INFO, {});
    const uint32_t size = info.size() >= 10 ? sim::GetU32(info.data() + 6) : 0;
    const uint32_t blocks = static_cast<uint32_t>((size + sim::kBlockBytes - 1) / sim::kBlockBytes);
    for (uint32_t n = 1; n <= blocks; ++n) {
        link.Exchange(sim::CTP_GET_IMAGE_DATA,
                      {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    }
    return size;
}

LiveViewFigures MeasureRawLiveView(const sim::Shaping& shaping, int quality, double seconds) {
    sim::Camcorder* cam = StartCamera(shaping, quality);
    RawLink link(OpenRaw(cam->SlavePath()));
    for (uint64_t i = 0; i < kWarmUpImages; ++i) {
        RawImage(link);
    }
    cam->ClearRecords();
    LiveViewFigures out;
    const auto from = Clock::now();
    do {
        out.bytes += RawImage(link);
        ++out.images;
    } while (SecondsOf(Clock::now() - from) < seconds);
    out.seconds = SecondsOf(Clock::now() - from);
    if (shaping.on) {
        out.linkSeconds =
            LinkSeconds(cam->ReceivedFrames(), shaping) + LinkSeconds(cam->SentFrames(), shaping);
    }
    return out;
}

// ---- key press -----------------------------------------------------------------

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

// Waits until the camera has taken in `count` frames; the time is when this
// thread sees it, the same for every way of sending.
void WaitForKeyFrames(const sim::Camcorder& cam, size_t count) {
    if (!cam.WaitForFrames(count, 5s)) {
        Die("the key frame did not arrive");
    }
}

Spread MeasureKeyByController(int presses) {
    sim::Camcorder* cam = StartCamera({});
    // The answer comes after the pen is lifted, so that each press sends one frame.
    cam->AddFault({.kind = sim::FaultKind::Late, .opcode = sim::CTP_CAMCMD, .delayMs = 10});
    Handset* handset = Connect(cam->SlavePath());
    auto* command = new CCamCmdController(handset->Services());
    if (command->Start() != 1) {
        Die("the command controller did not start");
    }
    const CamCmdRecord zoom = CCamCmdController::MakeCommand(ui::res::kBmpZoomTele);
    std::vector<double> ms;
    for (int i = 0; i < presses; ++i) {
        const auto down = Clock::now();
        command->Request(&zoom);
        WaitForKeyFrames(*cam, static_cast<size_t>(i) + 1);
        ms.push_back(MsOf(Clock::now() - down));
        command->Request(nullptr);
        // The answer, then a moment for the worker to wait for the next key.
        cam->WaitFor([&] { return cam->SentFrames().size() > static_cast<size_t>(i); }, 5s);
        std::this_thread::sleep_for(5ms);
    }
    if (cam->CountReceived(sim::CTP_CAMCMD) != static_cast<size_t>(presses)) {
        Die("a press sent more than one frame");
    }
    return SpreadOf(ms);
}

Spread MeasureKeyByRawWrite(int presses) {
    sim::Camcorder* cam = StartCamera({});
    const int fd = OpenRaw(cam->SlavePath());
    const Bytes body = {0x00, 0x02, 0x00, 0x00};
    const Bytes frame = sim::EncodeFrame(3, sim::CTP_CAMCMD, body);
    std::vector<double> ms;
    for (int i = 0; i < presses; ++i) {
        const auto down = Clock::now();
        if (::write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) {
            Die("raw write failed");
        }
        WaitForKeyFrames(*cam, static_cast<size_t>(i) + 1);
        ms.push_back(MsOf(Clock::now() - down));
        uint8_t answer[8];  // the camera's status answer, read whole
        size_t got = 0;
        while (got < sizeof answer) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) {
                Die("no answer to the raw key");
            }
            const ssize_t n = ::read(fd, answer + got, sizeof answer - got);
            if (n <= 0) {
                Die("raw read failed");
            }
            got += static_cast<size_t>(n);
        }
        std::this_thread::sleep_for(5ms);
    }
    return SpreadOf(ms);
}

// The same still fetched by a plain request/response loop on the same kind of
// link: what the link and the camera allow on this machine now.
CaptureFigures MeasureRawCapture(const sim::Shaping& shaping, int quality, int captures) {
    sim::Camcorder* cam = StartCamera(shaping, quality);
    cam->SetMode(3);
    RawLink link(OpenRaw(cam->SlavePath()));
    CaptureFigures out;
    for (int i = 0; i < captures; ++i) {
        link.Exchange(sim::CTP_IMAGE_CMD, {0x00, 0x02, 0x03, 0x00});
        const Bytes info = link.Exchange(sim::CTP_GET_DATA_INFO, {});
        const uint32_t size = info.size() >= 10 ? sim::GetU32(info.data() + 6) : 0;
        const auto blocks = static_cast<uint32_t>((size + sim::kBlockBytes - 1) / sim::kBlockBytes);
        cam->ClearRecords();
        const Clock::time_point from = Clock::now();
        for (uint32_t n = 1; n <= blocks; ++n) {
            link.Exchange(sim::CTP_GET_IMAGE_DATA,
                          {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
        }
        out.fetchSeconds += SecondsOf(Clock::now() - from);
        out.fetchLinkSeconds +=
            LinkSeconds(cam->ReceivedFrames(), shaping) + LinkSeconds(cam->SentFrames(), shaping);
        link.Exchange(sim::CTP_IMAGE_CMD, {0x00, 0x03, 0x03, 0x00});
        out.bytes = size;
        out.blocks = static_cast<int>(blocks);
        ++out.captures;
    }
    return out;
}

// ---- CPU -------------------------------------------------------------------------

// camora-camsim as a child process, told what to do on its standard input.
struct CameraProcess {
    pid_t pid = -1;
    int control = -1;
    std::string line;

    void Tell(const std::string& command) const {
        const std::string text = command + "\n";
        if (::write(control, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            Die("cannot control the simulator");
        }
    }
    void End() const {
        ::kill(pid, SIGTERM);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
};

CameraProcess SpawnCamera(const std::filesystem::path& folder, const Settings& s) {
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    const std::string program = (self.parent_path() / "camora-camsim").string();
    CameraProcess cam;
    cam.line = (folder / "camera").string();
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        Die("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const std::string rate = std::to_string(s.rate);
    const std::string latency = std::to_string(s.latencyMs);
    std::vector<std::string> args = {program,  "--link", cam.line,    "--poll-ms", "500",
                                     "--rate", rate,     "--latency", latency};
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    if (::posix_spawn(&cam.pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        Die("cannot start " + program);
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[0]);
    cam.control = pipeFds[1];
    const auto until = Clock::now() + 10s;
    while (!std::filesystem::exists(cam.line)) {
        if (Clock::now() > until) {
            Die("the simulator made no line");
        }
        std::this_thread::sleep_for(10ms);
    }
    return cam;
}

double CpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return s(u.ru_utime) + s(u.ru_stime);
}

struct CpuFigure {
    double percent = 0;
    double fps = 0;
};

struct CpuFigures {
    CpuFigure idle;
    CpuFigure streamingShaped;
    CpuFigure streamingUnshaped;
};

CpuFigures MeasureCpu(const Settings& s) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("camora-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const CameraProcess cam = SpawnCamera(folder, s);

    Handset* handset = Connect(cam.line);
    auto* mode = new CCamModeController(handset->Services());
    auto* command = new CCamCmdController(handset->Services());
    auto* monitor = new CMonitorController(handset->Services());
    if (mode->Start() != 1 || command->Start() != 1 || monitor->Start() != 1) {
        Die("a controller did not start");
    }
    uint64_t frames = 0;
    const platform::WindowHandle window = platform::CreateMessageWindow(
        [&](platform::WindowHandle, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
            if (message == WM_MONITOR_FRAME) {
                uint8_t* image = nullptr;
                uint32_t size = 0;
                monitor->TakeImage(&image, &size);
                std::free(image);
                ++frames;
            } else if (message == WM_CAMERA_STATUS) {
                CameraStateSnapshot snapshot{};
                handset->state->GetSnapshot(&snapshot);
            }
            return 0;
        });
    if (mode->QueryMode() != 1) {
        Die("the handshake was not answered");
    }
    mode->SetWindow(window);

    auto measure = [&] {
        PumpFor(2s);  // settle
        const uint64_t framesBefore = frames;
        const double cpuBefore = CpuSeconds();
        const auto from = Clock::now();
        PumpFor(ToDuration(s.seconds));
        const double wall = SecondsOf(Clock::now() - from);
        return CpuFigure{100.0 * (CpuSeconds() - cpuBefore) / wall,
                         static_cast<double>(frames - framesBefore) / wall};
    };
    CpuFigures out;
    out.idle = measure();
    monitor->Request(window);
    out.streamingShaped = measure();
    cam.Tell("shape off");
    out.streamingUnshaped = measure();
    monitor->Request(window);
    PumpFor(1s);
    platform::DestroyMessageWindow(window);
    cam.End();
    std::filesystem::remove_all(folder);
    return out;
}

bool ParseArgs(int argc, char** argv, Settings* s) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        if (a == "--seconds" && hasValue) {
            s->seconds = std::atof(argv[++i]);
        } else if (a == "--presses" && hasValue) {
            s->presses = std::atoi(argv[++i]);
        } else if (a == "--rate" && hasValue) {
            s->rate = static_cast<uint32_t>(std::atol(argv[++i]));
        } else if (a == "--captures" && hasValue) {
            s->captures = std::atoi(argv[++i]);
        } else if (a == "--capture-only") {
            s->captureOnly = true;
        } else if (a == "--latency" && hasValue) {
            s->latencyMs = static_cast<uint32_t>(std::atol(argv[++i]));
        } else {
            return false;
        }
    }
    return s->seconds > 0 && s->presses > 0 && s->rate > 0 && s->captures > 0;
}

void PrintLiveView(const char* name, const LiveViewFigures& f) {
    std::printf("  %-30s %9.2f %12.1f %12.0f\n", name, f.Fps(), f.Payload() / 1000.0,
                f.images > 0 ? static_cast<double>(f.bytes) / static_cast<double>(f.images) : 0.0);
}

// Prints the capture figures; returns the fetch's share of its bound in percent.
double PrintCapture(const Settings& s, const CaptureFigures& capture, const CaptureFigures& raw) {
    const double captureOfBound = 100.0 * capture.fetchLinkSeconds / capture.fetchSeconds;
    std::printf("Still capture, link shaped to %u B/s and %u ms one way, %d captures\n", s.rate,
                s.latencyMs, capture.captures);
    std::printf(
        "  still of 640 x 480: %llu bytes in %d blocks; progress bar stepped once per block: %s\n",
        static_cast<unsigned long long>(capture.bytes), capture.blocks,
        capture.stepsPerBlock ? "yes" : "NO");
    std::printf("  %-30s %9s %12s %12s\n", "", "ms each", "bound ms", "of bound");
    std::printf("  %-30s %9.1f %12.1f %11.1f %%\n", "fetch (size known to last block)",
                1000.0 * capture.fetchSeconds / capture.captures,
                1000.0 * capture.fetchLinkSeconds / capture.captures, captureOfBound);
    std::printf("  %-30s %9.1f %12.1f %11.1f %%\n", "whole job (incl. camera's encode)",
                1000.0 * capture.jobSeconds / capture.captures,
                1000.0 * capture.jobLinkSeconds / capture.captures,
                100.0 * capture.jobLinkSeconds / capture.jobSeconds);
    std::printf("  %-30s %9.1f %12.1f %11.1f %%\n\n", "raw loop, the same blocks",
                1000.0 * raw.fetchSeconds / raw.captures,
                1000.0 * raw.fetchLinkSeconds / raw.captures,
                100.0 * raw.fetchLinkSeconds / raw.fetchSeconds);

    return captureOfBound;
}

bool Target(const char* what, bool met) {
    std::printf("  %-64s %s\n", what, met ? "met" : "MISSED");
    return met;
}

}  // namespace

int main(int argc, char** argv) {
    Settings s;
    if (!ParseArgs(argc, argv, &s)) {
        std::fprintf(stderr,
                     "usage: camora-bench-controllers [--seconds N] [--presses N] [--rate B/S] "
                     "[--latency MS] [--captures N] [--capture-only]\n");
        return 2;
    }
    ::signal(SIGPIPE, SIG_IGN);
    // First, while this process runs nothing but the handset's own threads.
    const CpuFigures cpu = s.captureOnly ? CpuFigures{} : MeasureCpu(s);

    const sim::Shaping shaped{.on = true, .bytesPerSecond = s.rate, .latencyMs = s.latencyMs};
    if (s.captureOnly) {
        const CaptureFigures capture = MeasureCapture(shaped, kCaptureQuality, s.captures);
        const CaptureFigures raw = MeasureRawCapture(shaped, kCaptureQuality, s.captures);
        const double ofCaptureBound = PrintCapture(s, capture, raw);
        return Target("still capture fetched at >= 97 % of the shaped stop-and-wait bound",
                      ofCaptureBound >= 97.0 && capture.stepsPerBlock)
                   ? 0
                   : 1;
    }
    // The simulator's usual pictures fit one block; finer ones take two or three.
    struct Shaped {
        int quality;
        LiveViewFigures view;
        LiveViewFigures raw;
    };
    std::vector<Shaped> shapedRuns;
    for (int quality : {75, 97}) {
        shapedRuns.push_back({quality, MeasureLiveView(shaped, quality, s.seconds),
                              MeasureRawLiveView(shaped, quality, s.seconds)});
    }
    // A 640 x 480 still of 40 to 60 kB: the simulator's test picture at this quality.
    const CaptureFigures capture = MeasureCapture(shaped, kCaptureQuality, s.captures);
    const CaptureFigures captureRaw = MeasureRawCapture(shaped, kCaptureQuality, s.captures);
    const LiveViewFigures plainView = MeasureLiveView({}, 75, s.seconds);
    const LiveViewFigures plainRaw = MeasureRawLiveView({}, 75, s.seconds);
    const Spread keyController = MeasureKeyByController(s.presses);
    const Spread keyRaw = MeasureKeyByRawWrite(s.presses);

    std::printf("camora-bench-controllers: %.0f s per figure, %d key presses\n\n", s.seconds,
                s.presses);
    double ofBound = 100.0;
    for (const Shaped& run : shapedRuns) {
        std::printf("Live view, link shaped to %u B/s and %u ms one way, JPEG quality %d\n", s.rate,
                    s.latencyMs, run.quality);
        std::printf("  %-30s %9s %12s %12s\n", "", "frames/s", "payload kB/s", "image bytes");
        PrintLiveView("controllers", run.view);
        std::printf("  %-30s %9.2f %12.1f\n", "stop-and-wait bound", run.view.BoundFps(),
                    run.view.BoundPayload() / 1000.0);
        PrintLiveView("raw request/response loop", run.raw);
        const double percent = 100.0 * run.view.Fps() / run.view.BoundFps();
        ofBound = std::min(ofBound, percent);
        std::printf("  controllers reach %.1f %% of the bound, the raw loop %.1f %% of its own\n\n",
                    percent, 100.0 * run.raw.Fps() / run.raw.BoundFps());
    }

    const double captureOfBound = PrintCapture(s, capture, captureRaw);

    std::printf("Live view, unshaped pty\n");
    std::printf("  %-30s %9s %12s %12s\n", "", "frames/s", "payload kB/s", "image bytes");
    PrintLiveView("controllers", plainView);
    PrintLiveView("raw request/response loop", plainRaw);
    std::printf("  controllers reach %.1f %% of the raw loop\n\n",
                100.0 * plainView.Fps() / plainRaw.Fps());

    std::printf("Key press: pen-down Request to the key frame at the camera (ms)\n");
    std::printf("  %-30s %9s %9s %9s\n", "", "median", "p99", "max");
    std::printf("  %-30s %9.3f %9.3f %9.3f\n", "command controller", keyController.p50,
                keyController.p99, keyController.max);
    std::printf("  %-30s %9.3f %9.3f %9.3f\n", "raw write of the frame", keyRaw.p50, keyRaw.p99,
                keyRaw.max);
    const double addedP99 = keyController.p99 - keyRaw.p99;
    std::printf("  %-30s %9.3f %9.3f\n\n", "added by the handset", keyController.p50 - keyRaw.p50,
                addedP99);

    std::printf("CPU of the handset's threads (getrusage; the camera is a process of its own)\n");
    std::printf("  %-44s %6.2f %% of one core\n", "connected, idle (mode polls every 500 ms)",
                cpu.idle.percent);
    std::printf("  %-44s %6.2f %% of one core at %.2f frames/s\n",
                "streaming live view, shaped link", cpu.streamingShaped.percent,
                cpu.streamingShaped.fps);
    std::printf("  %-44s %6.2f %% of one core at %.2f frames/s\n\n",
                "streaming live view, unshaped", cpu.streamingUnshaped.percent,
                cpu.streamingUnshaped.fps);

    std::printf("Targets\n");
    bool met = true;
    met &= Target("live view >= 95 % of the shaped stop-and-wait bound", ofBound >= 95.0);
    met &= Target("still capture fetched at >= 97 % of the shaped stop-and-wait bound",
                  captureOfBound >= 97.0 && capture.stepsPerBlock);
    met &= Target("key press adds < 5 ms at the 99th percentile", addedP99 < 5.0);
    met &= Target("idle CPU while connected < 1 % of one core", cpu.idle.percent < 1.0);
    return met ? 0 : 1;
}
