#include "tools/remote/RemoteSession.h"

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <mutex>
#include <thread>
#include <utility>

#include "controllers/CamCmdController.h"
#include "controllers/CamModeController.h"
#include "controllers/CaptureContller.h"
#include "controllers/ConnectProcedure.h"
#include "controllers/GpsController.h"
#include "controllers/MonitorController.h"
#include "core/AppRegistry.h"
#include "core/CameraState.h"
#include "core/ConfigStore.h"
#include "ctp/CtpDataFactory.h"
#include "ctp/CtpOpcodes.h"
#include "link/Bluetooth.h"
#include "link/DeviceSource.h"
#include "link/LinkLoader.h"
#include "platform/sys/Syscall.h"
#include "platform/text/Text.h"
#include "platform/ui/WindowMessages.h"
#include "resources/Dialogs.h"
#include "resources/ResourceIds.h"
#include "resources/Strings.h"
#include "tools/TappedEngine.h"

namespace remote {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::mutex g_printLock;
std::atomic<bool> g_interrupted{false};

// Reconnection: the first retry soon, then doubling up to this pause.
constexpr auto kFirstRetry = 250ms;
constexpr auto kLongestRetry = 8s;
// How long a reconnection's handshake may take (the handshake's own 3 s and margin).
constexpr auto kHandshakeLimit = 5s;
constexpr int kModeChannel = 1;

void OnSignal(int) {
    g_interrupted = true;
}

std::string Narrow(std::u16string_view text) {
    // The program's texts break lines with CR LF; one line here.
    std::string out;
    for (const char c : platform::Utf16ToUtf8(text)) {
        if (c == '\n') {
            if (!out.empty() && out.back() != ' ') {
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

// Upper case, without separators: how addresses and ports are compared.
std::string Folded(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c != ':' && c != '-') {
            out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
    }
    return out;
}

// The registry keys an address as twelve hex digits, the link library as
// text with colons: both are shown as 0A:1B:2C:3D:4E:5F.
std::string AddressText(const std::string& address) {
    const std::string folded = Folded(address);
    if (folded.size() != 12 ||
        !std::all_of(folded.begin(), folded.end(), [](char c) { return std::isxdigit(c); })) {
        return address;
    }
    std::string out;
    out.reserve(17);
    for (size_t i = 0; i < folded.size(); ++i) {
        if (i > 0 && i % 2 == 0) {
            out.push_back(':');
        }
        out.push_back(folded[i]);
    }
    return out;
}

// One line per device with what to type for it.
std::string DeviceLines(const std::vector<PairedDevice>& devices) {
    std::string lines;
    for (const PairedDevice& d : devices) {
        lines += "\n  " + d.name + " (" + d.port + (d.address.empty() ? "" : ", " + d.address) +
                 "): --device " + d.port;
    }
    return lines;
}

template <typename Source>
class SourceOf : public DeviceSource {
public:
    SourceOf(Source* source, const char* kind) : source_(source), kind_(kind) {}
    const char* Kind() const override { return kind_; }
    int IsAvailable() override { return source_->IsAvailable(); }
    std::vector<PairedDevice> Enumerate() override {
        source_->EnumerateDevices();
        std::vector<PairedDevice> devices;
        for (int i = 0; i < Source::kDeviceCount; ++i) {
            std::u16string name;
            std::u16string port;
            source_->GetDevice(i, name, port);
            // The device list screen offers only entries with both.
            if (!name.empty() && !port.empty()) {
                std::u16string address;
                source_->GetDeviceAddress(i, address);
                devices.push_back({Narrow(name), Narrow(port), AddressText(Narrow(address)), i});
            }
        }
        return devices;
    }
    void Select(const PairedDevice& device) override { source_->SelectEntry(device.index); }
    std::string SelectedName() override {
        std::u16string name;
        source_->GetSelectedName(name);
        return Narrow(name);
    }
    platform::PortHandle OpenPort() override {
        // A failed open leaves the last handle in place: only a new one counts.
        const platform::PortHandle before = source_->GetPortHandle();
        if (source_->OpenPort() != 1) {
            return nullptr;
        }
        const platform::PortHandle now = source_->GetPortHandle();
        return now != before ? now : nullptr;
    }
    platform::PortHandle Port() override { return source_->GetPortHandle(); }

private:
    Source* source_;  // never freed, like the program's
    const char* kind_;
};

}  // namespace

const PairedDevice* ChooseDevice(const std::vector<PairedDevice>& devices,
                                 const std::string& wanted, std::string* error) {
    if (wanted.empty()) {
        if (devices.size() == 1) {
            return &devices.front();
        }
        *error = std::to_string(devices.size()) +
                 " camcorders are paired; choose one with --device NAME, PORT or ADDRESS:" +
                 DeviceLines(devices);
        return nullptr;
    }
    // A port or an address names one device; a name may name several.
    const std::string folded = Folded(wanted);
    for (const PairedDevice& d : devices) {
        if (Folded(d.port) == folded || (!d.address.empty() && Folded(d.address) == folded)) {
            return &d;
        }
    }
    std::vector<PairedDevice> named;
    std::copy_if(devices.begin(), devices.end(), std::back_inserter(named),
                 [&](const PairedDevice& d) { return d.name == wanted; });
    if (named.size() == 1) {
        for (const PairedDevice& d : devices) {
            if (d.index == named.front().index) {
                return &d;
            }
        }
    }
    if (named.empty()) {
        *error = "no paired camcorder is named \"" + wanted +
                 "\" or has that port or address; paired:" + DeviceLines(devices);
    } else {
        *error = std::to_string(named.size()) + " paired camcorders are named \"" + wanted +
                 "\"; choose one by its port or address:" + DeviceLines(named);
    }
    return nullptr;
}

void Complain(const char* format, ...) {
    std::lock_guard hold(g_printLock);
    std::fflush(stdout);
    std::fprintf(stderr, "camora-remote: ");
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fprintf(stderr, "\n");
    std::fflush(stderr);
}

namespace {
std::atomic<int> g_outputError{0};
}  // namespace

void NoteOutputError(int error) {
    int none = 0;
    g_outputError.compare_exchange_strong(none, error == 0 ? EIO : error);
}

bool OutputFailed() {
    return g_outputError.load() != 0;
}

void Output(const char* format, ...) {
    std::lock_guard hold(g_printLock);
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        NoteOutputError(errno);
        std::clearerr(stdout);
    }
}

void Finish(int code) {
    {
        std::lock_guard hold(g_printLock);
        if (std::fflush(stdout) != 0) {
            NoteOutputError(errno);
        }
    }
    const int error = g_outputError.load();
    if (error != 0 && error != EPIPE) {
        Complain("cannot write to standard output: %s", std::strerror(error));
        code = code == kExitOk ? kExitNotWritable : code;
    }
    {
        std::lock_guard hold(g_printLock);
        std::fflush(stderr);
    }
    std::_Exit(code);
}

std::unique_ptr<DeviceSource> DeviceSource::Choose() {
    // Start-up's rule: the link library where the SDK stack is installed.
    InstallDeviceSource();
    if (AppRegistry.linkLoader != nullptr) {
        return std::make_unique<SourceOf<CLinkLoader>>(AppRegistry.linkLoader, "link library");
    }
    return std::make_unique<SourceOf<CBluetooth>>(AppRegistry.bluetooth, "registry");
}

void AnswerLog::Note(std::span<const uint8_t> frame) {
    if (frame.size() < 6) {
        return;
    }
    const int channel = frame[0] << 8 | frame[1];
    if (channel < 1 || channel > 4) {
        return;
    }
    // The key is let go as soon as the camera has answered it: the worker
    // looks at the key again only after this answer has reached it.
    if (channel == 3) {
        if (CCamCmdController* held = releaseOnAnswer_.exchange(nullptr)) {
            held->Request(nullptr);
        }
    }
    const uint16_t status =
        frame.size() >= 8 ? static_cast<uint16_t>(frame[6] << 8 | frame[7]) : uint16_t{0};
    status_[channel - 1] = status;
    ++count_[channel - 1];
}

void AnswerLog::NoteSent(std::span<const uint8_t> frame) {
    if (frame.size() < kCtpHeaderSize) {
        return;
    }
    const uint16_t opcode = static_cast<uint16_t>(frame[4] << 8 | frame[5]);
    if (opcode == CTP_GPS_CMD) {
        gpsSwitchMark_ = Count(2);
        ++gpsSwitches_;
    } else if (opcode == CTP_GPS) {
        // The text runs to its terminating zero, or to the frame's end.
        const auto body = frame.subspan(kCtpHeaderSize);
        const auto end = std::find(body.begin(), body.end(), uint8_t{0});
        SentText sent{WallClock::now(), std::string(body.begin(), end)};
        gpsTexts_.With([&](std::vector<SentText>& texts) {
            // Bounded, should nobody take them.
            if (texts.size() < 4096) {
                texts.push_back(std::move(sent));
            }
        });
    }
}

std::vector<AnswerLog::SentText> AnswerLog::TakeGpsTexts() {
    return gpsTexts_.With([](std::vector<SentText>& texts) { return std::exchange(texts, {}); });
}

RemoteSession::RemoteSession() = default;

bool RemoteSession::Interrupted() {
    return g_interrupted.load();
}

void RemoteSession::InstallSignalHandlers() {
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    ::sigemptyset(&sa.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        platform::sys::Call("sigaction", [&] { return ::sigaction(signal, &sa, nullptr); });
    }
    // A reader that goes away (a player on the stream) shows as a failed write.
    ::signal(SIGPIPE, SIG_IGN);
}

bool RemoteSession::Build() {
    if (!answers_.Create()) {
        Complain("the answer log's lock could not be made");
        return false;
    }
    config_ = CConfigStore::GetInstance();
    state_ = CCameraState::GetInstance();
    engine_ = new CTappedEngine(
        [this](std::span<const uint8_t> f) {
            answers_.Note(f);
            stats_.NoteReceived(f);
        },
        [this](std::span<const uint8_t> f) {
            answers_.NoteSent(f);
            stats_.NoteSent(f);
        });
    // A lost link is this tool's to report or mend, not the end of the process.
    engine_->SetLinkLostHandler([this] {
        if (!linkLost_.exchange(true)) {
            engine_->SetConnecting(1);  // no more calls until connected again
        }
    });
    const ControllerServices services{engine_, state_, config_};
    gps_ = new CGpsController(services);
    command_ = new CCamCmdController(services);
    mode_ = new CCamModeController(services);
    monitor_ = new CMonitorController(services);
    capture_ = new CCaptureContller(services);
    capture_->SetInstance(ui::ProgramModule());
    AppRegistry.configStore = config_;
    AppRegistry.cameraState = state_;
    AppRegistry.ctpEngine = engine_;
    AppRegistry.gpsController = gps_;
    AppRegistry.commandController = command_;
    AppRegistry.modeController = mode_;
    AppRegistry.monitorController = monitor_;
    AppRegistry.captureController = capture_;
    if (gps_->Start() != 1 || command_->Start() != 1 || mode_->Start() != 1 ||
        monitor_->Start() != 1 || capture_->Start() != 1) {
        Complain("a controller could not start its worker");
        return false;
    }
    return true;
}

bool RemoteSession::ListDevices(std::vector<PairedDevice>* devices, ExitCode* code) {
    if (source_ == nullptr) {
        source_ = DeviceSource::Choose();
    }
    if (source_->IsAvailable() != 1) {
        Complain("%s", Text(ui::res::kStrBluetoothNotAvailable).c_str());
        *code = kExitNoBluetooth;
        return false;
    }
    *devices = source_->Enumerate();
    if (devices->empty()) {
        Complain("%s", Text(ui::res::kStrNoPairedDevice).c_str());
        *code = kExitNoDevice;
        return false;
    }
    *code = kExitOk;
    return true;
}

ExitCode RemoteSession::Connect(const std::string& deviceName) {
    std::vector<PairedDevice> devices;
    ExitCode code = kExitOk;
    if (!ListDevices(&devices, &code)) {
        return code;
    }
    std::string error;
    const PairedDevice* chosen = ChooseDevice(devices, deviceName, &error);
    if (chosen == nullptr) {
        Complain("%s", error.c_str());
        return kExitNoDevice;
    }
    switch (lock_.TryTake("camora-remote")) {
        case platform::InstanceLock::Result::Taken:
            break;
        case platform::InstanceLock::Result::Held:
            Complain("the camcorder's link is in use by %s; close it first",
                     lock_.Holder().empty() ? "another program" : lock_.Holder().c_str());
            return kExitLinkHeld;
        case platform::InstanceLock::Result::Failed:
            Complain("cannot take the link lock: %s", lock_.Error().c_str());
            return kExitFailed;
    }
    source_->Select(*chosen);
    device_ = source_->SelectedName();
    return ConnectSelected(false);
}

ExitCode RemoteSession::ConnectSelected(bool again) {
    if (!again) {
        // The first connection is the program's own procedure.
        switch (app::ConnectSelectedDevice()) {
            case WM_CONNECTED:
                port_ = source_->Port();
                return kExitOk;
            case WM_CONNECT_TIMEOUT:
                Complain("%s: \"%s\" did not answer the handshake in time",
                         Text(ui::res::kStrConnectionFailed).c_str(), device_.c_str());
                return kExitTimedOut;
            default:
                Complain("%s: the port of \"%s\" did not open or the handshake was refused",
                         Text(ui::res::kStrConnectionFailed).c_str(), device_.c_str());
                return kExitRefused;
        }
    }
    // A reconnection keeps its own steps: the old port is still open and
    // the mode worker may be waiting on it (see HandleLinkLost).
    const platform::PortHandle port = source_->OpenPort();
    if (port == nullptr) {
        return kExitRefused;
    }
    if (engine_->Start(port) != 1) {
        Complain("the exchange engine did not start");
        return kExitFailed;
    }
    const platform::PortHandle old = port_;
    port_ = port;
    if (old != nullptr) {
        old->Close();
    }
    const size_t before = answers_.Count(1);
    if (modeWorker_) {
        // The mode worker waits without limit for the answer to a poll
        // the old line lost: a new poll on its behalf lets it go on, and
        // its answer is the handshake.
        engine_->Send(CCtpDataFactory::Create(CTP_MODE_POLL), kModeChannel);
    } else {
        static std::atomic<bool> handshaking{false};
        if (PumpUntil([] { return !handshaking.load(); }, 10s) != Wait::Done) {
            return kExitTimedOut;
        }
        handshaking = true;
        std::thread([this] {
            mode_->QueryMode();
            handshaking = false;
        }).detach();
    }
    // The link is still counted as lost here, so wait on the answers alone.
    const auto deadline = Clock::now() + kHandshakeLimit;
    while (!AnsweredSince(before)) {
        if (Interrupted() || Clock::now() >= deadline) {
            return kExitTimedOut;
        }
        Idle();
        platform::PumpWindowMessages(10);
    }
    engine_->SetConnecting(0);
    return kExitOk;
}

void RemoteSession::StartModePolling() {
    mode_->SetWindow(Window());
    modeWorker_ = true;
}

bool RemoteSession::AnsweredSince(size_t before) {
    return answers_.Count(1) > before;
}

platform::WindowHandle RemoteSession::Window() {
    if (!windowMade_) {
        window_ = platform::CreateMessageWindow(
            [this](platform::WindowHandle, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
                if (handler_) {
                    handler_(message);
                }
                return 0;
            });
        AppRegistry.mainWindow = window_;
        windowMade_ = true;
    }
    return window_;
}

RemoteSession::Wait RemoteSession::PumpUntil(const std::function<bool()>& done,
                                             std::chrono::milliseconds limit,
                                             Interruptible interruptible) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (done()) {
            return Wait::Done;
        }
        if (linkLost_.load()) {
            return Wait::LinkLost;
        }
        if (interruptible == Interruptible::Yes && Interrupted()) {
            return Wait::Interrupted;
        }
        if (limit != std::chrono::milliseconds::zero() && Clock::now() >= deadline) {
            return Wait::TimedOut;
        }
        Idle();
        platform::PumpWindowMessages(10);
    }
}

bool RemoteSession::HandleLinkLost(bool reconnect) {
    if (!reconnect) {
        Complain("link lost: \"%s\" went away", device_.c_str());
        return false;
    }
    Complain("link lost: \"%s\" went away; reconnecting", device_.c_str());
    auto pause = std::chrono::duration_cast<std::chrono::milliseconds>(kFirstRetry);
    for (int attempt = 1;; ++attempt) {
        const auto until = Clock::now() + pause;
        while (Clock::now() < until) {
            if (Interrupted()) {
                return false;
            }
            Idle();
            platform::PumpWindowMessages(10);
        }
        const ExitCode code = ConnectSelected(true);
        if (code == kExitOk) {
            linkLost_ = false;
            Complain("link back: \"%s\" answered after %d attempt%s", device_.c_str(), attempt,
                     attempt == 1 ? "" : "s");
            return true;
        }
        if (Interrupted()) {
            return false;
        }
        pause = std::min(pause * 2,
                         std::chrono::duration_cast<std::chrono::milliseconds>(kLongestRetry));
        Complain("reconnect attempt %d: %s; next in %.1f s", attempt,
                 code == kExitRefused ? "the port did not open" : "no answer",
                 pause.count() / 1000.0);
    }
}

}  // namespace remote
