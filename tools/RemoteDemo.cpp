// camora-remote-demo: the program's connect procedure and main screen without
// the screens. In the device root it lists the paired devices, picks the
// camcorder, opens its port, starts the exchange engine and makes the
// handshake; then, with a message window pumped on this thread as the main
// screen's, it presses the record key, runs live view for a few images (the
// last one saved as a JPEG file), switches the GPS feed on until the camera
// has answered a sentence or two and off again, and presses record once more.
// Each step must happen within a time limit. With the simulator's control
// socket it ends with what the camera saw: its keys, sentences and the frames
// on the wire.
//
//   camora-remote-demo [--device NAME] [--frames N] [--sentences N] [--image PATH]
//                      [--camera-control SOCKET] [--timeout SECONDS]
//
// Exits 0 when every step happened, 1 when one did not, 2 on a bad command line.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/LinkLost.h"
#include "controllers/CamCmdController.h"
#include "controllers/CamModeController.h"
#include "controllers/ConnectProcedure.h"
#include "controllers/GpsController.h"
#include "controllers/MonitorController.h"
#include "core/AppRegistry.h"
#include "core/CameraState.h"
#include "core/ConfigStore.h"
#include "ctp/CtpOpcodes.h"
#include "link/Bluetooth.h"
#include "link/LinkLoader.h"
#include "platform/fs/DeviceRoot.h"
#include "platform/kernel/Kernel.h"
#include "platform/text/Text.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/WindowMessages.h"
#include "resources/ResourceIds.h"
#include "resources/Strings.h"
#include "sim/TestPicture.h"
#include "testkit/PumpUntil.h"
#include "tools/CamsimControl.h"
#include "tools/TappedEngine.h"
#include "tools/WireListing.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string device = "CAMORA HD";
    int frames = 5;
    int sentences = 2;
    std::string image = "liveview.jpg";
    std::string cameraControl;
    int timeoutSeconds = 10;
};

const char* const kUsage =
    "usage: camora-remote-demo [--device NAME] [--frames N] [--sentences N] [--image PATH]\n"
    "                          [--camera-control SOCKET] [--timeout SECONDS]\n"
    "Connects to the paired camcorder NAME (default \"CAMORA HD\") of the device root and\n"
    "runs a session with the program's controllers: record, N live-view images (default 5,\n"
    "the last saved at PATH), the GPS feed until N sentences were answered (default 2),\n"
    "record again. SOCKET is the simulator's control socket, for the camera's side of it.\n"
    "Each step must happen within SECONDS (default 10).\n";

std::optional<Options> ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) {
            return std::nullopt;  // every option takes a value
        }
        const std::string v = argv[++i];
        auto number = [&v](int low, int high, int* out) {
            char* end = nullptr;
            const long n = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || *end != '\0' || n < low || n > high) {
                return false;
            }
            *out = static_cast<int>(n);
            return true;
        };
        bool ok = true;
        if (a == "--device") {
            o.device = v;
        } else if (a == "--frames") {
            ok = number(1, 100, &o.frames);
        } else if (a == "--sentences") {
            ok = number(1, 10, &o.sentences);
        } else if (a == "--image") {
            o.image = v;
        } else if (a == "--camera-control") {
            o.cameraControl = v;
        } else if (a == "--timeout") {
            ok = number(1, 600, &o.timeoutSeconds);
        } else {
            ok = false;
        }
        if (!ok || v.empty()) {
            return std::nullopt;
        }
    }
    return o;
}

const Clock::time_point g_start = Clock::now();
std::mutex g_printLock;
// Set once the session is over: a disconnect after that is the expected end.
std::atomic<bool> g_finished{false};

double SecondsSinceStart() {
    return std::chrono::duration<double>(Clock::now() - g_start).count();
}

// One transcript line, with the time since the start.
[[gnu::format(printf, 1, 2)]] void Say(const char* format, ...) {
    std::lock_guard hold(g_printLock);
    std::printf("[%6.3f] ", SecondsSinceStart());
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::printf("\n");
    std::fflush(stdout);
}

[[gnu::format(printf, 1, 2)]] void Complain(const char* format, ...) {
    std::lock_guard hold(g_printLock);
    std::fflush(stdout);
    std::fprintf(stderr, "camora-remote-demo: ");
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fprintf(stderr, "\n");
}

// Ends the process at once: the controllers' threads never stop, and the
// objects they use must not be destroyed under them by the exit handlers.
[[noreturn]] void Finish(int code) {
    {
        std::lock_guard hold(g_printLock);
        std::fflush(stdout);
        std::fflush(stderr);
    }
    std::_Exit(code);
}

std::string Narrow(std::u16string_view text) {
    // Message texts break their lines with CR LF; the transcript keeps one line.
    std::string out;
    for (const char c : platform::Utf16ToUtf8(text)) {
        if (c == '\n') {
            if (out.empty() || out.back() != ' ') {
                out += ' ';
            }
        } else if (c != '\r') {
            out += c;
        }
    }
    return out;
}

std::string Text(uint32_t id) {
    return Narrow(ui::ResourceString(id));
}

// What the camera has answered, as the engine's receive path saw it.
class AnswerLog {
public:
    // Receiver thread: one whole frame from the camera.
    void Note(std::span<const uint8_t> frame) {
        const uint16_t channel = Word(frame, 0);
        if (channel < 1 || channel > 4) {
            return;
        }
        // A key is let go as soon as the camera has answered it: the worker
        // looks at the key again only after this answer has reached it.
        if (channel == 3) {
            if (CCamCmdController* held = releaseOnAnswer_.exchange(nullptr)) {
                held->Request(nullptr);
                Say("record key up: the camera has answered it with status %u",
                    Word(frame, kCtpHeaderSize));
            }
        }
        std::lock_guard hold(lock_);
        ++answers_[channel - 1];
        status_[channel - 1] = Word(frame, kCtpHeaderSize);
    }

    // Releases the held key of `controller` when the next answer on channel 3 comes.
    void ReleaseOnAnswer(CCamCmdController* controller) { releaseOnAnswer_ = controller; }

    size_t Count(uint16_t channel) const {
        std::lock_guard hold(lock_);
        return answers_[channel - 1];
    }
    // The first body word of the last answer on the channel: the status of a reply.
    uint16_t LastStatus(uint16_t channel) const {
        std::lock_guard hold(lock_);
        return status_[channel - 1];
    }

private:
    static uint16_t Word(std::span<const uint8_t> b, size_t at) {
        return at + 1 < b.size() ? static_cast<uint16_t>(b[at] << 8 | b[at + 1]) : 0;
    }

    std::atomic<CCamCmdController*> releaseOnAnswer_{nullptr};
    mutable std::mutex lock_;
    size_t answers_[4] = {};
    uint16_t status_[4] = {};
};

const char* ModeName(uint16_t mode) {
    static const char* const kNames[] = {"video rec", "video play", "still rec", "still play"};
    return mode < 4 ? kNames[mode] : "?";
}

const char* StateName(uint16_t state) {
    static const char* const kNames[] = {"standby", "shooting", "quick-start"};
    return state < 3 ? kNames[state] : "?";
}

const char* GpsName(uint16_t status) {
    static const char* const kNames[] = {"off", "on", "on, without a position"};
    return status < 3 ? kNames[status] : "?";
}

class RemoteDemo {
public:
    explicit RemoteDemo(const Options& options) : options_(options) {}

    bool Run() {
        return ReachCamera() && Build() && Connect() && ShowMainScreen() && PressRecord(1) &&
               RunLiveView() && FeedGps() && PressRecord(0) && ShowCameraSide();
    }

    void Disconnect() {
        if (loader_ != nullptr) {
            loader_->Disconnect();
        }
    }

private:
    // The simulator's control socket, when there is one: the camera's own view.
    bool ReachCamera() {
        if (!options_.cameraControl.empty() && !control_.Connect(options_.cameraControl)) {
            Complain("the camera's control socket: %s", control_.Error().c_str());
            return false;
        }
        return true;
    }

    // Whether the camera says "gps-feed off"; always so without its control socket.
    bool CameraFeedOff() {
        if (!control_.Connected()) {
            return true;
        }
        std::vector<std::string> status;
        return control_.Run("status", &status) &&
               std::find(status.begin(), status.end(), "gps-feed off") != status.end();
    }

    // What start-up builds and starts, in the program's order.
    bool Build() {
        Say("device root %s", platform::DeviceRoot().c_str());
        config_ = CConfigStore::GetInstance();
        state_ = CCameraState::GetInstance();
        Say("settings: TimeOut %u s, GpsInterval %u s", config_->GetTimeOut(),
            config_->GetGpsInterval());
        engine_ = new CTappedEngine([this](std::span<const uint8_t> f) { answers_.Note(f); });
        app::InstallLinkLostHandler(*engine_);
        const ControllerServices services{engine_, state_, config_};
        gps_ = new CGpsController(services);
        command_ = new CCamCmdController(services);
        mode_ = new CCamModeController(services);
        monitor_ = new CMonitorController(services);
        AppRegistry.configStore = config_;
        AppRegistry.cameraState = state_;
        AppRegistry.ctpEngine = engine_;
        AppRegistry.gpsController = gps_;
        AppRegistry.commandController = command_;
        AppRegistry.modeController = mode_;
        AppRegistry.monitorController = monitor_;
        if (gps_->Start() != 1 || command_->Start() != 1 || mode_->Start() != 1 ||
            monitor_->Start() != 1) {
            Complain("a controller could not start its worker");
            return false;
        }
        gpsAvailable_ = gps_->CheckDevice() == 1;
        Say("controllers started; GPS device %s", gpsAvailable_ ? "present" : "missing");
        return true;
    }

    // The device source start-up would choose, then the connect procedure.
    bool Connect() {
        if (CLinkLoader::IsSdkStackInstalled() == 1) {
            loader_ = new CLinkLoader;
            AppRegistry.linkLoader = loader_;
            Say("device source: the link library (SDK stack)");
            return ConnectWith(*loader_);
        }
        bluetooth_ = new CBluetooth;
        AppRegistry.bluetooth = bluetooth_;
        Say("device source: the registry (Microsoft stack)");
        return ConnectWith(*bluetooth_);
    }

    template <typename Source>
    bool ConnectWith(Source& source) {
        if (source.IsAvailable() != 1) {
            Complain("%s", Text(ui::res::kStrBluetoothNotAvailable).c_str());
            return false;
        }
        source.EnumerateDevices();
        int listed = 0;
        for (int i = 0; i < Source::kDeviceCount; ++i) {
            std::u16string name;
            std::u16string port;
            source.GetDevice(i, name, port);
            if (!name.empty() && !port.empty()) {
                Say("  paired: \"%s\" on %s", Narrow(name).c_str(), Narrow(port).c_str());
                ++listed;
            }
        }
        if (listed == 0) {
            Complain("%s", Text(ui::res::kStrNoPairedDevice).c_str());
            return false;
        }
        const std::u16string wanted = platform::Utf8ToUtf16(options_.device);
        source.SelectDevice(wanted);
        std::u16string selected;
        source.GetSelectedName(selected);
        if (selected != wanted) {
            Complain("no paired device is named \"%s\"", options_.device.c_str());
            return false;
        }
        Say("selected \"%s\"; the program's connect procedure opens its port",
            options_.device.c_str());
        // The program's own procedure: port, engine start and handshake.
        const uint32_t report = app::ConnectSelectedDevice();
        if (report != WM_CONNECTED) {
            Complain("%s", Text(report == WM_CONNECT_TIMEOUT ? ui::res::kStrConnectionTimeOut
                                                             : ui::res::kStrConnectionFailed)
                               .c_str());
            return false;
        }
        CameraStateSnapshot s{};
        state_->GetSnapshot(&s);
        Say("handshake answered: %s, %s; connected", ModeName(s.mode), StateName(s.operationState));
        return true;
    }

    bool ShowMainScreen() {
        window_ = platform::CreateMessageWindow(
            [this](platform::WindowHandle, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
                OnMessage(message);
                return 0;
            });
        AppRegistry.mainWindow = window_;
        Say("main window up; the mode controller polls the camera");
        mode_->SetWindow(window_);
        return PumpUntil([this] { return statusMessages_ > 0; }, "the first camera status");
    }

    // The record button: down, and up once the camera has answered the key;
    // then the camera's next answers must show `shooting` (1) or standby (0).
    bool PressRecord(uint16_t operationState) {
        const size_t answered = answers_.Count(3);
        const CamCmdRecord record = CCamCmdController::MakeCommand(ui::res::kBmpRecord);
        answers_.ReleaseOnAnswer(command_);
        Say("record key down");
        command_->Request(&record);
        if (!PumpUntil([&] { return answers_.Count(3) > answered; },
                       "the camera's answer to the record key")) {
            return false;
        }
        return PumpUntil([&] { return lastStatus_.operationState == operationState; },
                         operationState == 1 ? "the camera shooting" : "the camera in standby");
    }

    bool RunLiveView() {
        const size_t stopped = stoppedMessages_;
        Say("live-view button: on");
        monitor_->Request(window_);
        if (!PumpUntil([&] { return frames_.size() >= static_cast<size_t>(options_.frames); },
                       "the live-view images")) {
            return false;
        }
        Say("live-view button: off");
        monitor_->Request(window_);
        // The worker ends its run with its own message, then the camera's end command.
        if (!PumpUntil([&] { return stoppedMessages_ >= stopped + 2; }, "the end of live view") ||
            !PumpUntil([&] { return answers_.Count(4) > imageAnswersAtStop_; },
                       "the camera's answer to the end of live view")) {
            return false;
        }
        const double seconds =
            std::chrono::duration<double>(frames_.back().at - frames_.front().at).count();
        size_t total = 0;
        for (const Frame& f : frames_) {
            total += f.size;
        }
        if (frames_.size() > 1 && seconds > 0) {
            Say("%zu images, %zu bytes on average, %.1f images/s", frames_.size(),
                total / frames_.size(), static_cast<double>(frames_.size() - 1) / seconds);
        }
        return SaveImage();
    }

    bool SaveImage() {
        const sim::JpegSize size = sim::CheckJpeg(lastImage_);
        if (size.width == 0) {
            Complain("the last live-view image is not a whole JPEG picture");
            return false;
        }
        std::ofstream out(options_.image, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(lastImage_.data()),
                  static_cast<std::streamsize>(lastImage_.size()));
        out.close();
        if (!out) {
            Complain("cannot write %s", options_.image.c_str());
            return false;
        }
        Say("saved the last image (%d x %d JPEG, %zu bytes) as %s", size.width, size.height,
            lastImage_.size(), options_.image.c_str());
        return true;
    }

    bool FeedGps() {
        if (!gpsAvailable_) {
            Complain("no GPS device (see %s)", platform::DeviceRootPath("gps.conf").c_str());
            return false;
        }
        const size_t answered = answers_.Count(2);
        Say("GPS button: on");
        gps_->Request(window_);
        if (!PumpUntil([&] { return answers_.Count(2) > answered; },
                       "the camera's answer to GPS on")) {
            return false;
        }
        if (answers_.LastStatus(2) != 0) {
            Complain("the camera refused the GPS feed (status %u)", answers_.LastStatus(2));
            return false;
        }
        Say("the camera takes the GPS feed");
        for (int n = 1; n <= options_.sentences; ++n) {
            if (!PumpUntil([&] { return answers_.Count(2) > answered + static_cast<size_t>(n); },
                           "a GPS sentence's answer")) {
                return false;
            }
            Say("GPS sentence %d answered with status %u", n, answers_.LastStatus(2));
        }
        // The worker rests GpsInterval after each sentence, so the next answer is the switch's.
        const size_t before = answers_.Count(2);
        Say("GPS button: off");
        gps_->Request(window_);
        if (!PumpUntil([&] { return answers_.Count(2) > before; },
                       "the camera's answer to GPS off")) {
            return false;
        }
        Say("the camera answered GPS off with status %u", answers_.LastStatus(2));
        // Should a sentence have been under way after all, the switch comes right after it.
        return PumpUntil([this] { return CameraFeedOff(); }, "the camera's GPS feed off");
    }

    // The camera's own record, from the simulator: what it was told, checked
    // against what the program did, and the frames both ways.
    bool ShowCameraSide() {
        if (!control_.Connected()) {
            return true;
        }
        CamsimControl& control = control_;
        std::vector<std::string> keys;
        std::vector<std::string> sentences;
        std::vector<std::string> errors;
        std::vector<std::string> unknown;
        std::vector<std::string> status;
        std::vector<std::string> rx;
        std::vector<std::string> tx;
        if (!control.Run("keys", &keys) || !control.Run("sentences", &sentences) ||
            !control.Run("errors", &errors) || !control.Run("unknown", &unknown) ||
            !control.Run("status", &status) || !control.Run("frames rx", &rx) ||
            !control.Run("frames tx", &tx)) {
            Complain("the camera's record: %s", control.Error().c_str());
            return false;
        }
        std::printf("\nWhat the camera saw\n");
        std::string keyList;
        for (const std::string& k : keys) {
            keyList += " " + k;
        }
        std::printf("  keys:%s\n", keyList.empty() ? " none" : keyList.c_str());
        for (const std::string& s : sentences) {
            std::printf("  sentence: %s\n", s.c_str());
        }
        for (const std::string& s : status) {
            if (s.starts_with("liveview-frames") || s.starts_with("gps-feed")) {
                std::printf("  %s\n", s.c_str());
            }
        }
        size_t skipped = 0;
        std::vector<RecordedFrame> frames = ParseWireRecord(rx, &skipped);
        std::vector<RecordedFrame> sent = ParseWireRecord(tx, &skipped);
        const size_t total = frames.size() + sent.size();
        frames.insert(frames.end(), sent.begin(), sent.end());
        const std::vector<WireEntry> entries = CollapseWire(std::move(frames));
        std::printf(
            "\nFrames on the wire (%zu; -> to the camera, <- from it; alike ones counted "
            "at the first)\n",
            total);
        for (const WireEntry& e : entries) {
            std::printf("%s\n", FormatWireEntry(e).c_str());
        }
        std::printf("\n");
        std::fflush(stdout);
        // Exactly the two presses of record, no time-out, nothing the camera did not know.
        if (keys != std::vector<std::string>{"0", "0"} ||
            sentences.size() < static_cast<size_t>(options_.sentences) || !errors.empty() ||
            !unknown.empty() || skipped != 0) {
            Complain(
                "the camera's record does not match the session (keys %zu, sentences %zu, "
                "error reports %zu, unknown requests %zu, bad lines %zu)",
                keys.size(), sentences.size(), errors.size(), unknown.size(), skipped);
            return false;
        }
        return true;
    }

    // The main screen's handling of the controllers' messages.
    void OnMessage(uint32_t message) {
        CameraStateSnapshot s{};
        state_->GetSnapshot(&s);
        switch (message) {
            case WM_CAMERA_STATUS:
                ++statusMessages_;
                lastStatus_ = s;
                Say("WM_CAMERA_STATUS    mode %u %s, state %u %s, AC %u, battery %u level %u, "
                    "word %04X, GPS %u, live view %u, capture %u",
                    s.mode, ModeName(s.mode), s.operationState, StateName(s.operationState),
                    s.acPower, s.batteryAttached, s.batteryLevel, s.responseWord, s.gpsStatus,
                    s.monitorActive, s.captureActive);
                break;
            case WM_GPS_STATUS:
                Say("WM_GPS_STATUS       GPS %u (%s)", s.gpsStatus, GpsName(s.gpsStatus));
                break;
            case WM_MONITOR_STARTING:
                Say("WM_MONITOR_STARTING");
                break;
            case WM_MONITOR_FRAME:
                TakeFrame(s);
                break;
            case WM_MONITOR_STOPPED:
                ++stoppedMessages_;
                imageAnswersAtStop_ = answers_.Count(4);
                Say("WM_MONITOR_STOPPED");
                break;
            default:
                break;
        }
    }

    void TakeFrame(const CameraStateSnapshot& s) {
        // As the main screen does: an image that comes after live view was
        // switched off is left where it is.
        if (s.monitorActive == 0) {
            Say("WM_MONITOR_FRAME    (live view is off: not taken)");
            return;
        }
        uint8_t* image = nullptr;
        uint32_t size = 0;
        monitor_->TakeImage(&image, &size);
        if (image == nullptr) {
            Say("WM_MONITOR_FRAME    (no image waiting)");
            return;
        }
        lastImage_.assign(image, image + size);
        std::free(image);
        const Clock::time_point now = Clock::now();
        const long gapMs =
            frames_.empty()
                ? 0
                : static_cast<long>(
                      std::chrono::duration_cast<std::chrono::milliseconds>(now - frames_.back().at)
                          .count());
        frames_.push_back(Frame{now, size});
        if (frames_.size() == 1) {
            Say("WM_MONITOR_FRAME    image %zu: %u bytes", frames_.size(), size);
        } else {
            Say("WM_MONITOR_FRAME    image %zu: %u bytes, %ld ms after the one before",
                frames_.size(), size, gapMs);
        }
    }

    // Runs the window's messages until `done` holds; false (and why) when
    // the time limit passed first.
    bool PumpUntil(const std::function<bool()>& done, const char* what) {
        if (!testsupport::PumpUntil(done, std::chrono::seconds(options_.timeoutSeconds))) {
            Complain("%s did not come within %d s", what, options_.timeoutSeconds);
            return false;
        }
        return true;
    }

    struct Frame {
        Clock::time_point at;
        uint32_t size;
    };

    const Options options_;
    AnswerLog answers_;
    CamsimControl control_;
    // Never freed: their threads run until the process ends.
    CConfigStore* config_ = nullptr;
    CCameraState* state_ = nullptr;
    CTappedEngine* engine_ = nullptr;
    CGpsController* gps_ = nullptr;
    CCamCmdController* command_ = nullptr;
    CCamModeController* mode_ = nullptr;
    CMonitorController* monitor_ = nullptr;
    CLinkLoader* loader_ = nullptr;
    CBluetooth* bluetooth_ = nullptr;
    bool gpsAvailable_ = false;
    platform::WindowHandle window_;

    // Main thread only: touched by the window procedure and the steps.
    size_t statusMessages_ = 0;
    CameraStateSnapshot lastStatus_{};
    size_t stoppedMessages_ = 0;
    size_t imageAnswersAtStop_ = 0;
    std::vector<Frame> frames_;
    std::vector<uint8_t> lastImage_;
};

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = ParseOptions(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    // A box means the link was lost ("BLUETOOTH DISCONNECTED ..."), after
    // which the program ends with 0; during the session that is a failure.
    platform::SetMessageBoxPresenter([](platform::WindowHandle, std::u16string_view text,
                                        std::u16string_view caption,
                                        platform::MessageBoxButtons buttons) {
        Say("[%s] %s", Narrow(caption).c_str(), Narrow(text).c_str());
        if (!g_finished) {
            Complain("the camera went away during the session");
            Finish(1);
        }
        return buttons == platform::MessageBoxButtons::YesNo ? platform::MessageBoxResult::Yes
                                                             : platform::MessageBoxResult::Ok;
    });
    // Never destroyed, like the program's objects.
    auto* demo = new RemoteDemo(*options);
    const bool done = demo->Run();
    g_finished = true;
    if (done) {
        Say("session complete");
        demo->Disconnect();
    }
    Finish(done ? 0 : 1);
}
