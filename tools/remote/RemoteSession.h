// What camora-remote shares between its commands: the program's objects
// built as start-up builds them (settings, camera state, exchange engine,
// controllers, the device source start-up would choose), the connect
// procedure, a message window that stands in for the main screen, and the
// lost link: reported, or with --reconnect reconnected with a bounded back-off.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "platform/fs/InstanceLock.h"
#include "platform/kernel/Protected.h"
#include "platform/serial/SerialPort.h"
#include "platform/ui/Window.h"
#include "tools/remote/ExitCode.h"
#include "tools/remote/GpsTrack.h"
#include "tools/remote/LinkStats.h"

class CCameraState;
class CConfigStore;
class CTappedEngine;
class CGpsController;
class CCamCmdController;
class CCamModeController;
class CMonitorController;
class CCaptureContller;

namespace remote {

// One paired camcorder as the device list screen would offer it.
struct PairedDevice {
    std::string name;
    std::string port;
    std::string address;  // as 0A:1B:2C:3D:4E:5F
    int index = -1;       // its entry in the device source's directory
};

// Which of `devices` the --device text names: a port (COM9, letter case
// aside), a Bluetooth address (with or without colons, letter case aside)
// or a name, which must then be unique. Null with the complaint in `error`;
// `wanted` empty: the only device.
const PairedDevice* ChooseDevice(const std::vector<PairedDevice>& devices,
                                 const std::string& wanted, std::string* error);

// The device source start-up chooses: the link library or the registry.
class DeviceSource {
public:
    virtual ~DeviceSource() = default;
    virtual const char* Kind() const = 0;
    virtual int IsAvailable() = 0;
    virtual std::vector<PairedDevice> Enumerate() = 0;
    // Selects that very entry, even the second of two devices of one name.
    virtual void Select(const PairedDevice& device) = 0;
    virtual std::string SelectedName() = 0;
    // Opens the selected device's port: the new handle, or null when none opened.
    virtual platform::PortHandle OpenPort() = 0;
    // The port the source holds now (the one the last successful open gave).
    virtual platform::PortHandle Port() = 0;
    static std::unique_ptr<DeviceSource> Choose();
};

// What the camera answered, as the engine's receive path saw it.
class AnswerLog {
public:
    // Makes the lock of what it keeps; before the engine runs.
    bool Create() { return gpsTexts_.Create(); }
    void Note(std::span<const uint8_t> frame);
    size_t Count(int channel) const { return count_[channel - 1].load(); }
    // The first body word of the last answer on the channel: a reply's status.
    uint16_t LastStatus(int channel) const { return status_[channel - 1].load(); }
    // Sender thread: a frame about to go out.
    void NoteSent(std::span<const uint8_t> frame);
    // GPS switch requests sent so far, and whether the last one has its answer
    // (channel 2 carries one exchange at a time, so the next answer is its).
    size_t GpsSwitchesSent() const { return gpsSwitches_.load(); }
    bool GpsSwitchAnswered() const { return Count(2) > gpsSwitchMark_.load(); }
    // Lets the held key go when the next answer on channel 3 comes.
    void ReleaseOnAnswer(CCamCmdController* controller) { releaseOnAnswer_ = controller; }
    bool ReleasePending() const { return releaseOnAnswer_.load() != nullptr; }
    // The GPS packets' texts sent since the last call, with when they went out.
    struct SentText {
        WallClock::time_point at;
        std::string text;
    };
    std::vector<SentText> TakeGpsTexts();

private:
    platform::Protected<std::vector<SentText>> gpsTexts_;
    std::atomic<CCamCmdController*> releaseOnAnswer_{nullptr};
    std::atomic<size_t> count_[4] = {};
    std::atomic<uint16_t> status_[4] = {};
    std::atomic<size_t> gpsSwitches_{0};
    std::atomic<size_t> gpsSwitchMark_{0};  // channel 2's answers when the last switch went out
};

class RemoteSession {
public:
    enum class Wait { Done, LinkLost, Interrupted, TimedOut };
    using MessageHandler = std::function<void(uint32_t message)>;

    RemoteSession();

    // Builds and starts what start-up builds; false when a worker did not start.
    bool Build();
    // The paired devices the device list screen would show. Sets *code and
    // returns false when Bluetooth is not available or nothing is paired.
    bool ListDevices(std::vector<PairedDevice>* devices, ExitCode* code);
    // The link lock, the device choice and the connect procedure. kExitOk when
    // the handshake was answered; otherwise the code, with the reason printed.
    ExitCode Connect(const std::string& deviceName);

    // The main screen's stand-in: created on first use.
    platform::WindowHandle Window();
    void SetMessageHandler(MessageHandler handler) { handler_ = std::move(handler); }
    // Called on every turn of every wait (serve answers its browsers there).
    void SetIdle(std::function<void()> idle) { idle_ = std::move(idle); }
    // Lets the mode controller's worker poll the camera, as the main screen does.
    void StartModePolling();

    // Runs the window's messages until `done` holds, the link is lost, the
    // user interrupts or `limit` passes (zero: no limit).
    // A clean-up after an interrupt (live view or GPS off) waits with
    // Interruptible::No, bounded by its limit.
    enum class Interruptible { Yes, No };
    Wait PumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds limit = std::chrono::milliseconds::zero(),
                   Interruptible interruptible = Interruptible::Yes);
    // Without --reconnect: the lost-link message, then false. With it:
    // reconnects (retrying with back-off until it works or the user
    // interrupts); true once the link is back.
    bool HandleLinkLost(bool reconnect);
    bool LinkLost() const { return linkLost_.load(); }
    static bool Interrupted();
    static void InstallSignalHandlers();

    const std::string& DeviceName() const { return device_; }
    CConfigStore* Config() const { return config_; }
    CCameraState* State() const { return state_; }
    CTappedEngine* Engine() const { return engine_; }
    CGpsController* Gps() const { return gps_; }
    CCamCmdController* Commands() const { return command_; }
    CCamModeController* Mode() const { return mode_; }
    CMonitorController* Monitor() const { return monitor_; }
    CCaptureContller* Capture() const { return capture_; }
    AnswerLog& Answers() { return answers_; }
    LinkStats& Stats() { return stats_; }

private:
    // The connect procedure: the program's own for the first connection;
    // a reconnection opens a new port beside the old one and lets the
    // waiting mode worker's poll be the handshake.
    ExitCode ConnectSelected(bool again);
    bool AnsweredSince(size_t before);

    std::unique_ptr<DeviceSource> source_;
    platform::InstanceLock lock_;
    std::string device_;
    platform::PortHandle port_;
    AnswerLog answers_;
    LinkStats stats_;
    std::atomic<bool> linkLost_{false};
    MessageHandler handler_;
    std::function<void()> idle_;
    void Idle() {
        if (idle_) {
            idle_();
        }
    }
    platform::WindowHandle window_{};
    bool windowMade_ = false;
    bool modeWorker_ = false;  // the mode worker polls (it owns channel 1)
    // Never freed: their threads run until the process ends.
    CConfigStore* config_ = nullptr;
    CCameraState* state_ = nullptr;
    CTappedEngine* engine_ = nullptr;
    CGpsController* gps_ = nullptr;
    CCamCmdController* command_ = nullptr;
    CCamModeController* mode_ = nullptr;
    CMonitorController* monitor_ = nullptr;
    CCaptureContller* capture_ = nullptr;
};

// Diagnostics on standard error, prefixed with the tool's name.
[[gnu::format(printf, 1, 2)]] void Complain(const char* format, ...);
// Results on standard output, flushed at once. A failed write is kept (the
// first one's error) and reported by Finish, which then ends with 9; a
// reader that went away (a closed pipe) only ends the output.
[[gnu::format(printf, 1, 2)]] void Output(const char* format, ...);
// Notes the error of a write to standard output made otherwise.
void NoteOutputError(int error);
// True once a write to standard output has failed.
bool OutputFailed();
// Ends the process at once, after flushing: the controllers' threads never
// stop, and what they use must not be destroyed under them.
[[noreturn]] void Finish(int code);

}  // namespace remote
