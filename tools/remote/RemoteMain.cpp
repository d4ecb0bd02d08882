// camora-remote: the camcorder from the command line, through the program's
// own device sources, exchange engine and controllers.
#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "controllers/CamCmdController.h"
#include "controllers/CamModeController.h"
#include "controllers/CaptureContller.h"
#include "controllers/GpsController.h"
#include "controllers/MonitorController.h"
#include "core/CameraState.h"
#include "core/ConfigStore.h"
#include "ctp/CtpData.h"
#include "platform/bluetooth/Backend.h"
#include "platform/fs/FileSystem.h"
#include "platform/gps/GpsSourceName.h"
#include "platform/kernel/Kernel.h"
#include "platform/sys/Syscall.h"
#include "platform/ui/WindowMessages.h"
#include "resources/ResourceIds.h"
#include "tools/TappedEngine.h"
#include "tools/remote/ExitCode.h"
#include "tools/remote/GpsTrack.h"
#include "tools/remote/HeadlessCaptureScreens.h"
#include "tools/remote/HttpServer.h"
#include "tools/remote/Mjpeg.h"
#include "tools/remote/RemoteOptions.h"
#include "tools/remote/RemoteSession.h"
#include "tools/remote/ServePage.h"
#include "tools/remote/StatusReport.h"

namespace remote {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Wait = RemoteSession::Wait;

// The panel's buttons, in the order of KeyNames().
constexpr int kKeyButtons[] = {
    ui::res::kBmpRecord,      ui::res::kBmpPause,  ui::res::kBmpZoomTele,
    ui::res::kBmpZoomWide,    ui::res::kBmpRewind, ui::res::kBmpPlay,
    ui::res::kBmpFastForward, ui::res::kBmpIndex,  ui::res::kBmpSnapshot};

CameraStateSnapshot Snapshot(RemoteSession& s) {
    CameraStateSnapshot snapshot{};
    s.State()->GetSnapshot(&snapshot);
    return snapshot;
}

std::chrono::milliseconds ReplyLimit(RemoteSession& s) {
    // The controllers wait TimeOut seconds for each answer; a little more here.
    const uint16_t t = s.Config()->GetTimeOut();
    return std::chrono::seconds(t == 0 ? 30 : t + 2);
}

// A wait that ended otherwise than done: the exit code and its message.
int WaitFailed(RemoteSession& s, Wait w, const char* what) {
    switch (w) {
        case Wait::LinkLost:
            s.HandleLinkLost(false);
            return kExitLinkLost;
        case Wait::Interrupted:
            return kExitOk;
        case Wait::TimedOut:
            Complain("%s did not come in time", what);
            return kExitTimedOut;
        case Wait::Done:
            break;
    }
    return kExitOk;
}

// A lost link that was not mended: the user's interrupt while reconnecting
// ends the command normally.
int LinkLostEnd() {
    return RemoteSession::Interrupted() ? kExitOk : kExitLinkLost;
}

int WrongMode(RemoteSession& s, const char* command, const char* needs) {
    const CameraStateSnapshot st = Snapshot(s);
    if (st.operationState == 2) {
        // Busy whatever its mode: naming a mode here would send the user
        // to change a mode that may already be the right one.
        Complain("camera busy: it is in quick-start standby; %s waits until it has left it",
                 command);
    } else {
        Complain("camera in the wrong mode: %s (%s); %s needs %s", ModeName(st.mode),
                 OperationName(st.operationState), command, needs);
    }
    return kExitWrongMode;
}

bool WriteFd(int fd, const void* bytes, size_t count) {
    return !platform::sys::WriteAll(fd, bytes, count).Failed();
}

// ---- devices -----------------------------------------------------------------

int Devices(RemoteSession& s, const RemoteOptions& o) {
    std::vector<PairedDevice> devices;
    ExitCode code = kExitOk;
    if (!s.ListDevices(&devices, &code)) {
        if (o.json && code == kExitNoDevice) {
            Output("[]\n");
        }
        return code;
    }
    if (o.json) {
        std::string out = "[";
        for (size_t i = 0; i < devices.size(); ++i) {
            out += std::string(i == 0 ? "" : ",") + "{\"name\":" + JsonString(devices[i].name) +
                   ",\"port\":" + JsonString(devices[i].port) +
                   ",\"address\":" + JsonString(devices[i].address) + "}";
        }
        Output("%s]\n", out.c_str());
    } else {
        for (const PairedDevice& d : devices) {
            Output("%s\t%s\t%s\n", d.name.c_str(), d.port.c_str(), d.address.c_str());
        }
    }
    return kExitOk;
}

// ---- status ------------------------------------------------------------------

StatusReport Report(RemoteSession& s, bool gpsDevice) {
    StatusReport r;
    r.device = s.DeviceName();
    r.state = Snapshot(s);
    r.gpsDevice = gpsDevice;
    r.gpsSource = platform::GpsSourceName();
    r.lastFix = LoadLastFix();
    r.now = WallClock::now();
    return r;
}

void PrintStatus(const StatusReport& r, bool json) {
    const std::string text = json ? FormatStatusJson(r) + "\n" : FormatStatusText(r);
    Output("%s", text.c_str());
}

int Status(RemoteSession& s, const RemoteOptions& o) {
    const bool gpsDevice = s.Gps()->CheckDevice() == 1;
    if (!o.watch) {
        PrintStatus(Report(s, gpsDevice), o.json);
        return kExitOk;
    }
    // The main screen's part: each stored answer comes as WM_CAMERA_STATUS.
    CameraStateSnapshot last{};
    bool printed = false;
    s.SetMessageHandler([&](uint32_t message) {
        if (message != WM_CAMERA_STATUS && message != WM_GPS_STATUS) {
            return;
        }
        const StatusReport r = Report(s, gpsDevice);
        if (!printed || StatusChanged(last, r.state)) {
            if (printed && !o.json) {
                Output("\n");
            }
            PrintStatus(r, o.json);
            last = r.state;
            printed = true;
        }
    });
    PrintStatus(Report(s, gpsDevice), o.json);
    last = Snapshot(s);
    printed = true;
    s.StartModePolling();
    for (;;) {
        // A watch whose output cannot be written has no one to tell.
        const Wait w = s.PumpUntil([] { return OutputFailed(); });
        if (w == Wait::LinkLost) {
            if (s.HandleLinkLost(o.reconnect)) {
                continue;
            }
            return LinkLostEnd();
        }
        return WaitFailed(s, w, "");
    }
}

// ---- press ------------------------------------------------------------------

struct PressResult {
    Wait end = Wait::Done;  // Done: answered; TimedOut: no answer in time; or LinkLost
    double ms = 0;          // from key down to the answer that let it go
    uint64_t sent = 0;
    size_t answered = 0;
    uint16_t status = 0;  // the last answer's
};

// One press: key down, held for `holdMs` when asked, let go with the camera's
// next answer, waited for until `answerBy`.
PressResult PressOnce(RemoteSession& s, const CamCmdRecord& record, int holdMs,
                      Clock::time_point answerBy) {
    AnswerLog& answers = s.Answers();
    const size_t answeredBefore = answers.Count(3);
    const uint64_t sentBefore = s.Stats().Totals(3).sentFrames;
    const auto started = Clock::now();
    PressResult r;
    auto finish = [&](Wait end) {
        r.end = end;
        r.ms = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
        r.sent = s.Stats().Totals(3).sentFrames - sentBefore;
        r.answered = answers.Count(3) - answeredBefore;
        r.status = answers.LastStatus(3);
        return r;
    };
    // The key is let go with the camera's next answer, on the engine's
    // receiving thread: the worker sees it up as soon as that answer reaches
    // it, so that exchange is the last one. Without a hold, the first one.
    if (holdMs == 0) {
        answers.ReleaseOnAnswer(s.Commands());
    }
    s.Commands()->Request(&record);
    if (holdMs > 0) {
        const Wait held = s.PumpUntil([] { return false; }, std::chrono::milliseconds(holdMs));
        if (held == Wait::LinkLost) {
            s.Commands()->Request(nullptr);
            return finish(held);
        }
        answers.ReleaseOnAnswer(s.Commands());
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(answerBy - Clock::now());
    const Wait w =
        s.PumpUntil([&] { return !answers.ReleasePending(); },
                    std::max(left, std::chrono::milliseconds(1)), RemoteSession::Interruptible::No);
    if (w != Wait::Done) {
        answers.ReleaseOnAnswer(nullptr);
        s.Commands()->Request(nullptr);
    }
    return finish(w);
}

size_t KeyIndex(const std::string& key) {
    const auto& names = KeyNames();
    return static_cast<size_t>(std::find(names.begin(), names.end(), key) - names.begin());
}

// Why the panel would not take `button` now; null when it would.
const char* PressRefusal(RemoteSession& s, int button) {
    if (!s.State()->IsActionAllowed(ActionCommand)) {
        return "camera busy (quick-start standby)";
    }
    // The panel draws the snapshot key blank in video recording mode and
    // ignores it there.
    if (button == ui::res::kBmpSnapshot && Snapshot(s).mode == 0) {
        return "snapshot is not taken in video recording mode";
    }
    return nullptr;
}

// "2026-12-09T12:00:05.250Z"
std::string UtcTimestamp(std::chrono::system_clock::time_point t) {
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms % 1000));
    return text;
}

// The intervalometer: press k at start + k x interval, so that neither a slow
// answer nor a missed one moves the presses after it.
int PressEvery(RemoteSession& s, const RemoteOptions& o) {
    const int button = kKeyButtons[KeyIndex(o.key)];
    const CamCmdRecord record = CCamCmdController::MakeCommand(button);
    // The command carries the camera's mode and state: keep them current.
    s.StartModePolling();
    const auto interval =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(o.everySeconds));
    const Clock::time_point start = Clock::now();
    const auto wallStart = std::chrono::system_clock::now();
    int pressed = 0;
    int answered = 0;
    auto summary = [&] {
        Output("%s: %d press%s, %d answered\n", o.key.c_str(), pressed, pressed == 1 ? "" : "es",
               answered);
        return answered == pressed ? kExitOk : kExitFailed;
    };
    for (int k = 0; o.count == 0 || k < o.count; ++k) {
        const Clock::time_point due = start + k * interval;
        const Clock::time_point next = start + (k + 1) * interval;
        for (;;) {
            const Wait w = s.PumpUntil([&] { return Clock::now() >= due; });
            if (w == Wait::Done) {
                break;
            }
            if (w == Wait::Interrupted) {
                return summary();
            }
            if (!o.reconnect || !s.HandleLinkLost(true)) {
                summary();
                return LinkLostEnd();
            }
        }
        const auto offset = std::chrono::duration<double>(Clock::now() - start).count();
        const std::string when = UtcTimestamp(
            wallStart +
            std::chrono::duration_cast<std::chrono::system_clock::duration>(Clock::now() - start));
        ++pressed;
        if (Clock::now() >= next) {
            // Its time passed while the link was being mended.
            Output("press %d at %s (+%.3f s): missed, the link was down at its time\n", k + 1,
                   when.c_str(), offset);
            continue;
        }
        if (const char* refusal = PressRefusal(s, button)) {
            Output("press %d at %s (+%.3f s): not sent: %s\n", k + 1, when.c_str(), offset,
                   refusal);
            continue;
        }
        // The last press may wait as long as a single one; the others until the next is due.
        const bool last = o.count != 0 && k + 1 == o.count;
        const PressResult r =
            PressOnce(s, record, o.holdMs, last ? Clock::now() + ReplyLimit(s) : next);
        if (r.end == Wait::Done) {
            ++answered;
            Output(
                "press %d at %s (+%.3f s): %s answered in %.0f ms, sent %llu time%s, status %u\n",
                k + 1, when.c_str(), offset, o.key.c_str(), r.ms,
                static_cast<unsigned long long>(r.sent), r.sent == 1 ? "" : "s", r.status);
        } else if (r.end == Wait::LinkLost) {
            Output("press %d at %s (+%.3f s): no answer, the link was lost\n", k + 1, when.c_str(),
                   offset);
            if (!o.reconnect || !s.HandleLinkLost(true)) {
                summary();
                return LinkLostEnd();
            }
        } else {
            Output("press %d at %s (+%.3f s): no answer within %.0f ms, sent %llu time%s\n", k + 1,
                   when.c_str(), offset, r.ms, static_cast<unsigned long long>(r.sent),
                   r.sent == 1 ? "" : "s");
        }
        if (OutputFailed()) {
            return kExitOk;  // Finish reports it
        }
    }
    return summary();
}

int Press(RemoteSession& s, const RemoteOptions& o) {
    if (o.everySeconds > 0) {
        return PressEvery(s, o);
    }
    const int button = kKeyButtons[KeyIndex(o.key)];
    if (!s.State()->IsActionAllowed(ActionCommand)) {
        return WrongMode(s, "a key", "the camera out of quick-start standby");
    }
    // The panel draws the snapshot key blank in video recording mode and
    // ignores it there.
    if (button == ui::res::kBmpSnapshot && Snapshot(s).mode == 0) {
        return WrongMode(s, "snapshot", "still recording, video playback or still playback");
    }
    const CamCmdRecord record = CCamCmdController::MakeCommand(button);
    const PressResult r = PressOnce(
        s, record, o.holdMs, Clock::now() + std::chrono::milliseconds(o.holdMs) + ReplyLimit(s));
    if (r.end != Wait::Done) {
        return WaitFailed(s, r.end, "the camera's answer to the key");
    }
    Output("%s: sent %llu time%s in %.0f ms, %zu answered; the last answer's status %u\n",
           o.key.c_str(), static_cast<unsigned long long>(r.sent), r.sent == 1 ? "" : "s", r.ms,
           r.answered, r.status);
    return kExitOk;
}

// ---- the live view's images and its end --------------------------------------

// The image waiting for the main screen; empty when there is none.
std::vector<uint8_t> TakeWaitingImage(RemoteSession& s) {
    uint8_t* image = nullptr;
    uint32_t size = 0;
    s.Monitor()->TakeImage(&image, &size);
    if (image == nullptr) {
        return {};
    }
    std::vector<uint8_t> bytes(image, image + size);
    std::free(image);
    return bytes;
}

// Switching live view off ends it twice, the switch at once and then the run
// itself, which then tells the camera; the off is over once the camera has
// answered that.
class LiveViewEnd {
public:
    explicit LiveViewEnd(RemoteSession& s) : s_(s) {}
    // From the message handler: true when `message` was one of the ends.
    bool Note(uint32_t message) {
        if (message != WM_MONITOR_STOPPED) {
            return false;
        }
        ++stopped_;
        answeredAtStop_ = s_.Answers().Count(4);
        return true;
    }
    // Switches the live view off.
    void SwitchOff(platform::WindowHandle window) {
        mark_ = stopped_;
        s_.Monitor()->Request(window);
    }
    bool Over() const { return stopped_ >= mark_ + 2 && s_.Answers().Count(4) > answeredAtStop_; }

private:
    RemoteSession& s_;
    size_t stopped_ = 0;
    size_t answeredAtStop_ = 0;
    size_t mark_ = 0;
};

// ---- liveview ----------------------------------------------------------------

int LiveView(RemoteSession& s, const RemoteOptions& o) {
    if (!o.mjpeg) {
        std::error_code ec;
        std::filesystem::create_directories(o.outDir, ec);
        if (ec || ::access(o.outDir.c_str(), W_OK) != 0) {
            Complain("cannot write images to %s", o.outDir.c_str());
            return kExitNotWritable;
        }
    }
    if (!s.State()->IsActionAllowed(ActionMonitor)) {
        return WrongMode(s, "live view", "video recording mode");
    }
    int taken = 0;
    int result = -1;  // set when a frame could not be written
    LiveViewEnd end(s);
    s.SetMessageHandler([&](uint32_t message) {
        if (end.Note(message) || message != WM_MONITOR_FRAME || result >= 0) {
            return;
        }
        const std::vector<uint8_t> jpeg = TakeWaitingImage(s);
        if (jpeg.empty()) {
            return;
        }
        ++taken;
        if (o.mjpeg) {
            const std::string part = MjpegPart(jpeg);
            const platform::sys::Outcome written =
                platform::sys::WriteAll(1, part.data(), part.size());
            if (written.Failed()) {
                // A reader that went away only ends the stream; any other
                // failure is reported at the end.
                NoteOutputError(written.error);
                result = written.error == EPIPE ? kExitOk : kExitNotWritable;
            }
        } else {
            char name[32];
            std::snprintf(name, sizeof name, "frame-%06d.jpg", taken);
            const std::string path = (std::filesystem::path(o.outDir) / name).string();
            const platform::sys::Outcome opened = platform::sys::Call("open", [&] {
                return ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            });
            const bool ok = !opened.Failed() &&
                            WriteFd(static_cast<int>(opened.result), jpeg.data(), jpeg.size());
            if (!opened.Failed()) {
                ::close(static_cast<int>(opened.result));
            }
            if (!ok) {
                Complain("cannot write %s", path.c_str());
                result = kExitNotWritable;
            }
        }
    });
    const platform::WindowHandle window = s.Window();
    s.Monitor()->Request(window);  // on
    for (;;) {
        const Wait w =
            s.PumpUntil([&] { return result >= 0 || (o.frames > 0 && taken >= o.frames); });
        if (w == Wait::LinkLost) {
            if (s.HandleLinkLost(o.reconnect)) {
                continue;  // the run starts its next image by itself
            }
            return LinkLostEnd();
        }
        break;
    }
    // Off, and wait for the run's own end and the camera's answer to it.
    end.SwitchOff(window);
    const Wait w =
        s.PumpUntil([&] { return end.Over(); }, ReplyLimit(s), RemoteSession::Interruptible::No);
    if (w == Wait::LinkLost) {
        return WaitFailed(s, w, "");
    }
    if (!o.mjpeg) {
        std::fprintf(stderr, "%d image%s written to %s\n", taken, taken == 1 ? "" : "s",
                     o.outDir.c_str());
    }
    return result >= 0 ? result : kExitOk;
}

// ---- capture -----------------------------------------------------------------

// Where the program proposes to save a still: its file name ("J", yyMMdd and
// a three-digit number) in its folder, on this computer.
void ProposedFile(RemoteSession& s, std::string* hostPath, std::u16string* folder) {
    std::u16string name;
    s.Capture()->MakeFileName(&name, folder);
    *hostPath = platform::HostPathFor(*folder + name + u".jpg");
}

int Capture(RemoteSession& s, const RemoteOptions& o) {
    if (!s.State()->IsActionAllowed(ActionCapture)) {
        return WrongMode(s, "capture", "video playback or still playback");
    }
    const bool named = !o.outFile.empty();
    std::string path = o.outFile;
    std::u16string folder;
    if (!named) {
        ProposedFile(s, &path, &folder);
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    }
    std::string absolute;
    // A path that cannot be written fails before the transfer; the file itself
    // is made only once the picture is whole (see below).
    {
        std::error_code ec;
        absolute = std::filesystem::absolute(path, ec).string();
        const std::string parent = std::filesystem::path(absolute).parent_path().string();
        struct stat st {};
        int error = 0;
        if (::access(parent.c_str(), W_OK | X_OK) != 0) {
            error = errno;
        } else if (::stat(absolute.c_str(), &st) == 0) {
            error = S_ISDIR(st.st_mode) ? EISDIR : named ? 0 : EEXIST;
        }
        if (error != 0) {
            Complain("cannot write %s: %s", path.c_str(), std::strerror(error));
            return kExitNotWritable;
        }
    }
    // The controller's own job and dialog flow, with screens that need no screen.
    HeadlessCaptureScreens screens(s, ::isatty(2) == 1);
    s.Capture()->SetScreens(&screens);
    s.Capture()->Request(s.Window());
    s.Capture()->SetScreens(nullptr);
    // The job tells the camera that capture ended after the flow has its
    // image; it clears captureActive once the camera has answered that.
    s.PumpUntil([&] { return Snapshot(s).captureActive == 0; }, ReplyLimit(s),
                RemoteSession::Interruptible::No);
    if (s.LinkLost()) {
        s.HandleLinkLost(false);
        return kExitLinkLost;
    }
    if (screens.Abandoned()) {
        return kExitOk;  // interrupted
    }
    const std::vector<uint8_t>& image = screens.Image();
    if (image.empty()) {
        // the flow has said "IMAGE ACQUISITION FAILED"
        return kExitFailed;
    }
    // Under a temporary name beside it, renamed over it once on the medium: a
    // kill or a full disk leaves the old file (or none), never a part of one.
    platform::FileError error = platform::FileError::None;
    const std::u16string handsetPath = platform::HandsetPathFor(absolute);
    auto file = platform::ReplacingFile::Create(handsetPath, named, &error);
    uint32_t written = 0;
    if (file == nullptr ||
        !file->Write(image.data(), static_cast<uint32_t>(image.size()), &written) ||
        !file->Commit()) {
        if (file != nullptr) {
            error = file->LastError();
        }
        Complain("cannot write %s%s", path.c_str(),
                 error == platform::FileError::DiskFull ? ": no space left"
                 : error == platform::FileError::Exists ? ": File exists"
                                                        : "");
        return kExitNotWritable;
    }
    if (!named) {
        // As the save flow does: the next proposal counts in this folder.
        s.Config()->SetPath(folder.c_str());
        s.Config()->Save();
    }
    Output("%s\n", path.c_str());
    std::fprintf(stderr, "%zu bytes saved as %s\n", image.size(), path.c_str());
    return kExitOk;
}

// ---- gps ---------------------------------------------------------------------

int GpsOff(RemoteSession& s) {
    // The controller's own packet for "off" (its switch is off in this process).
    CCtpData* reply = nullptr;
    const auto result = s.Gps()->Exchange(s.Gps()->MakeGpsCmdPacket(), CGpsController::kChannel,
                                          s.Config()->GetTimeOut(), &reply);
    if (s.LinkLost()) {
        delete reply;
        s.HandleLinkLost(false);
        return kExitLinkLost;
    }
    if (result != CBaseController::ExchangeResult::Replied) {
        Complain("the camera did not answer GPS off");
        return kExitTimedOut;
    }
    uint16_t status = 0;
    const bool answered = GetReplyParam(reply, &status);
    delete reply;
    if (!answered || status != 0) {
        Complain("the camera refused GPS off (status %u)", status);
        return kExitFailed;
    }
    Output("gps: off\n");
    return kExitOk;
}

int Gps(RemoteSession& s, const RemoteOptions& o) {
    if (!o.gpsOn) {
        return GpsOff(s);
    }
    if (s.Gps()->CheckDevice() != 1) {
        Complain("no GPS position source on this machine (see gps.conf in the device root)");
        return kExitFailed;
    }
    if (!s.State()->IsActionAllowed(ActionGps)) {
        return WrongMode(s, "the GPS feed", "video or still recording mode");
    }
    std::unique_ptr<GpxTrack> track;
    if (!o.gpxFile.empty()) {
        std::string error;
        track = GpxTrack::Create(o.gpxFile, &error);
        if (track == nullptr) {
            Complain("cannot write the track %s: %s", o.gpxFile.c_str(), error.c_str());
            return kExitNotWritable;
        }
    }
    AnswerLog& answers = s.Answers();
    answers.TakeGpsTexts();  // none yet; nothing from before counts
    const std::string source = platform::GpsSourceName();
    bool trackFailed = false;
    // Each position that went to the camera: into the track, and as the last fix.
    auto keep = [&] {
        for (const AnswerLog::SentText& sent : answers.TakeGpsTexts()) {
            const std::optional<platform::GpsPosition> p = PositionOfSentence(sent.text);
            if (!p || p->fixQuality == platform::kGpsNoFix) {
                continue;
            }
            std::string error;
            if (track != nullptr && !trackFailed && !track->Add({sent.at, *p}, &error)) {
                Complain("cannot write the track %s: %s", o.gpxFile.c_str(), error.c_str());
                trackFailed = true;
            }
            const int64_t atMs =
                std::chrono::duration_cast<std::chrono::milliseconds>(sent.at.time_since_epoch())
                    .count();
            SaveLastFix({atMs, *p, source});
        }
    };
    const platform::WindowHandle window = s.Window();
    const size_t before = answers.GpsSwitchesSent();
    s.Gps()->Request(window);  // on
    Wait w = s.PumpUntil(
        [&] { return answers.GpsSwitchesSent() > before && answers.GpsSwitchAnswered(); },
        ReplyLimit(s));
    if (w != Wait::Done) {
        return WaitFailed(s, w, "the camera's answer to GPS on");
    }
    if (answers.LastStatus(2) != 0) {
        Complain("the camera refused the GPS feed (status %u)", answers.LastStatus(2));
        return kExitWrongMode;
    }
    Output("gps: on\n");
    const auto end = Clock::now() + std::chrono::seconds(o.forSeconds);
    size_t sentences = 0;
    for (;;) {
        const size_t seen = answers.Count(2);
        w = s.PumpUntil([&] {
            return answers.Count(2) > seen || (o.forSeconds > 0 && Clock::now() >= end) ||
                   OutputFailed();
        });
        keep();
        if (trackFailed) {
            break;  // switched off below; the command then ends with 9
        }
        if (w == Wait::Done && answers.Count(2) > seen && !OutputFailed()) {
            sentences += answers.Count(2) - seen;
            Output("sentence %zu: status %u\n", sentences, answers.LastStatus(2));
            if (Snapshot(s).gpsStatus == 0) {
                Complain("the camera ended the GPS feed (status %u)", answers.LastStatus(2));
                return kExitFailed;
            }
            continue;
        }
        if (w == Wait::LinkLost) {
            if (s.HandleLinkLost(o.reconnect)) {
                continue;
            }
            return LinkLostEnd();
        }
        break;  // time is up, or interrupted
    }
    const size_t switches = answers.GpsSwitchesSent();
    s.Gps()->Request(window);  // off
    // A sentence under way is answered first; the switch follows it.
    w = s.PumpUntil(
        [&] { return answers.GpsSwitchesSent() > switches && answers.GpsSwitchAnswered(); },
        ReplyLimit(s) * 2, RemoteSession::Interruptible::No);
    keep();
    if (w != Wait::Done) {
        return WaitFailed(s, w, "the camera's answer to GPS off");
    }
    Output("gps: off after %zu sentence%s\n", sentences, sentences == 1 ? "" : "s");
    if (track != nullptr) {
        std::fprintf(stderr, "%zu point%s written to %s\n", track->Points(),
                     track->Points() == 1 ? "" : "s", o.gpxFile.c_str());
    }
    return trackFailed ? kExitNotWritable : kExitOk;
}

// ---- stats -------------------------------------------------------------------

int Stats(RemoteSession& s, const RemoteOptions& o) {
    for (int i = 0; i < o.queries; ++i) {
        if (s.LinkLost()) {
            s.HandleLinkLost(false);
            return kExitLinkLost;
        }
        if (RemoteSession::Interrupted()) {
            return kExitOk;
        }
        s.Mode()->QueryMode();
    }
    int frames = 0;
    double seconds = 0;
    uint64_t bytesAfterFirst = 0;
    uint64_t bytesAll = 0;
    // Channel 4's traffic between the first image and the last.
    LinkStats::Traffic atFirst;
    LinkStats::Traffic atLast;
    if (s.State()->IsActionAllowed(ActionMonitor)) {
        Clock::time_point first{};
        Clock::time_point last{};
        LiveViewEnd end(s);
        s.SetMessageHandler([&](uint32_t message) {
            if (end.Note(message) || message != WM_MONITOR_FRAME) {
                return;
            }
            const size_t size = TakeWaitingImage(s).size();
            if (size == 0) {
                return;
            }
            last = Clock::now();
            atLast = s.Stats().Totals(4);
            if (frames++ == 0) {
                first = last;
                atFirst = atLast;
            } else {
                bytesAfterFirst += size;
            }
            bytesAll += size;
        });
        const platform::WindowHandle window = s.Window();
        s.Monitor()->Request(window);
        Wait w = s.PumpUntil([&] { return frames >= o.frames; });
        end.SwitchOff(window);
        if (w == Wait::Done || w == Wait::Interrupted) {
            w = s.PumpUntil([&] { return end.Over(); }, ReplyLimit(s),
                            RemoteSession::Interruptible::No);
        }
        if (w == Wait::LinkLost) {
            return WaitFailed(s, w, "");
        }
        seconds = std::chrono::duration<double>(last - first).count();
    } else {
        const CameraStateSnapshot st = Snapshot(s);
        Output("live view: not measured, the camera is in %s\n", ModeName(st.mode));
    }
    if (frames > 1 && seconds > 0) {
        Output(
            "live view: %d images in %.2f s: %.2f images/s, %.1f kB/s payload, "
            "%.0f bytes per image\n",
            frames, seconds, (frames - 1) / seconds, bytesAfterFirst / seconds / 1000.0,
            static_cast<double>(bytesAll) / frames);
    }
    Output("round trips (request written to answer read):\n");
    for (int channel = 1; channel <= 4; ++channel) {
        const LinkStats::Summary r = s.Stats().RoundTrips(channel);
        if (r.samples == 0) {
            Output("  channel %d: no exchanges\n", channel);
        } else {
            Output("  channel %d: %zu exchanges, median %.1f ms, p99 %.1f ms\n", channel, r.samples,
                   r.medianMs, r.p99Ms);
        }
    }
    if (o.linkRate > 0 && frames > 1) {
        // Stop and wait: every exchange of an image waits for the request to
        // cross, the latency, the answer to cross and the latency again. The
        // frames and bytes are those the images above took on the link.
        const double images = frames - 1;
        const double bytes = static_cast<double>(atLast.sentBytes - atFirst.sentBytes +
                                                 atLast.receivedBytes - atFirst.receivedBytes) /
                             images;
        const double exchanges =
            static_cast<double>(atLast.sentFrames - atFirst.sentFrames) / images;
        const double perImage = bytes / o.linkRate + exchanges * 2 * o.linkLatencyMs / 1000.0;
        Output(
            "stop-and-wait bound at %d B/s and %d ms (%.1f exchanges, %.0f bytes per image): "
            "%.2f images/s, %.1f kB/s payload\n",
            o.linkRate, o.linkLatencyMs, exchanges, bytes, 1 / perImage,
            static_cast<double>(bytesAfterFirst) / images / perImage / 1000.0);
    }
    return kExitOk;
}

// ---- serve -------------------------------------------------------------------

// 32 hex digits from the kernel's random source; empty when it failed.
std::string RandomToken() {
    uint8_t bytes[16];
    const platform::sys::Outcome o =
        platform::sys::Call("getrandom", [&] { return ::getrandom(bytes, sizeof bytes, 0); });
    if (o.Failed() || o.result != static_cast<long>(sizeof bytes)) {
        return {};
    }
    std::string token;
    for (const uint8_t b : bytes) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", b);
        token += hex;
    }
    return token;
}

HttpResponse Json(int status, const std::string& body) {
    return {status, "application/json", body + "\n"};
}

int Serve(RemoteSession& s, const RemoteOptions& o) {
    std::string error;
    std::unique_ptr<HttpServer> server = HttpServer::Listen(o.listenHost, o.listenPort, &error);
    if (server == nullptr) {
        Complain("cannot listen on %s:%d: %s", o.listenHost.c_str(), o.listenPort, error.c_str());
        return kExitFailed;
    }
    // Beyond this machine only who has the printed URL may use it.
    std::string token;
    if (!IsLoopback(o.listenHost)) {
        token = RandomToken();
        if (token.empty()) {
            Complain("no random token could be made; not listening on %s", o.listenHost.c_str());
            return kExitFailed;
        }
        server->RequireToken(token);
    }
    s.StartModePolling();
    const bool gpsDevice = s.Gps()->CheckDevice() == 1;
    const platform::WindowHandle window = s.Window();

    // The live view runs while someone watches: on with the first viewer, off
    // after the last, and on again only once the camera has answered the end.
    enum class Live { Off, On, Stopping };
    Live live = Live::Off;
    LiveViewEnd end(s);
    Clock::time_point offAt{};
    s.SetMessageHandler([&](uint32_t message) {
        if (end.Note(message) || message != WM_MONITOR_FRAME) {
            return;
        }
        // Taken even when nobody watches any more, as the main screen takes it.
        const std::vector<uint8_t> jpeg = TakeWaitingImage(s);
        if (!jpeg.empty() && live == Live::On) {
            server->Publish(std::make_shared<const std::string>(MjpegPart(jpeg)));
        }
    });

    struct PendingPress {
        uint64_t id;
        std::string key;
    };
    std::deque<PendingPress> presses;
    server->SetHandler([&](const HttpRequest& r) -> HttpResponse {
        const bool get = r.method == "GET";
        if (r.path == "/" || r.path == "/status.json" || r.path == "/live.mjpeg") {
            if (!get) {
                return {405, "text/plain; charset=utf-8", "GET only\n"};
            }
            if (r.path == "/") {
                return {200, "text/html; charset=utf-8", kServePage};
            }
            if (r.path == "/status.json") {
                std::string status = FormatStatusJson(Report(s, gpsDevice));
                // Appended piece by piece: GCC 12 at -O3 takes a literal joined
                // to a string for an overlapping copy (-Wrestrict).
                std::string viewers = "[";
                for (const HttpServer::Viewer& v : server->Viewers()) {
                    if (viewers.size() > 1) {
                        viewers += ',';
                    }
                    viewers.append("{\"id\":").append(std::to_string(v.id));
                    viewers.append(",\"queued_bytes\":").append(std::to_string(v.queuedBytes));
                    viewers.append(",\"parts\":").append(std::to_string(v.parts));
                    viewers.append(",\"dropped\":").append(std::to_string(v.dropped));
                    viewers += '}';
                }
                status.pop_back();  // its closing brace
                status.append(",\"live_view\":").append(live == Live::On ? "true" : "false");
                status.append(",\"viewers\":").append(viewers).append("]}");
                return Json(200, status);
            }
            std::fprintf(stderr, "viewer %llu: watching\n", static_cast<unsigned long long>(r.id));
            HttpResponse stream;
            stream.contentType =
                std::string("multipart/x-mixed-replace; boundary=") + kMjpegBoundary;
            stream.stream = true;
            return stream;
        }
        if (r.path.starts_with("/press/")) {
            const std::string key = r.path.substr(7);
            const auto& names = KeyNames();
            if (std::find(names.begin(), names.end(), key) == names.end()) {
                return Json(404, "{\"key\":" + JsonString(key) + ",\"refused\":\"no such key\"}");
            }
            if (r.method != "POST") {
                return {405, "text/plain; charset=utf-8", "POST only\n"};
            }
            if (presses.size() >= 8) {
                return Json(503, "{\"key\":" + JsonString(key) + ",\"refused\":\"too many\"}");
            }
            presses.push_back({r.id, key});
            HttpResponse later;
            later.later = true;
            return later;
        }
        return {404, "text/plain; charset=utf-8", "not found\n"};
    });
    server->OnViewerLeft([](const HttpServer::Viewer& v) {
        std::fprintf(stderr, "viewer %llu: left after %llu images, %llu dropped\n",
                     static_cast<unsigned long long>(v.id),
                     static_cast<unsigned long long>(v.parts),
                     static_cast<unsigned long long>(v.dropped));
    });
    s.SetIdle([&] { server->Poll(); });
    Output("serving http://%s:%d/%s%s\n", o.listenHost.c_str(), server->Port(),
           token.empty() ? "" : "?token=", token.c_str());

    auto wantLive = [&] {
        return server->ViewerCount() > 0 && s.State()->IsActionAllowed(ActionMonitor);
    };
    auto stopDone = [&] { return end.Over() || Clock::now() - offAt > ReplyLimit(s) * 2; };
    auto stopLive = [&] {
        offAt = Clock::now();
        live = Live::Stopping;
        end.SwitchOff(window);
    };
    for (;;) {
        const Wait w = s.PumpUntil([&] {
            return !presses.empty() || (live == Live::Off && wantLive()) ||
                   (live == Live::On && server->ViewerCount() == 0) ||
                   (live == Live::Stopping && stopDone());
        });
        if (w == Wait::LinkLost) {
            for (const PendingPress& p : presses) {
                server->Respond(p.id, Json(503, "{\"key\":" + JsonString(p.key) +
                                                    ",\"refused\":\"link lost\"}"));
            }
            presses.clear();
            if (o.reconnect && s.HandleLinkLost(true)) {
                continue;  // a live view under way starts its next image by itself
            }
            return LinkLostEnd();
        }
        if (w != Wait::Done) {
            break;  // interrupted
        }
        if (live == Live::Off && wantLive()) {
            s.Monitor()->Request(window);  // on
            live = Live::On;
        } else if (live == Live::On && server->ViewerCount() == 0) {
            stopLive();
        } else if (live == Live::Stopping && stopDone()) {
            live = Live::Off;
        }
        if (!presses.empty()) {
            const PendingPress p = presses.front();
            presses.pop_front();
            const int button = kKeyButtons[KeyIndex(p.key)];
            if (const char* refusal = PressRefusal(s, button)) {
                server->Respond(p.id, Json(409, "{\"key\":" + JsonString(p.key) +
                                                    ",\"answered\":false,\"refused\":" +
                                                    JsonString(refusal) + "}"));
                continue;
            }
            const PressResult r = PressOnce(s, CCamCmdController::MakeCommand(button), 0,
                                            Clock::now() + ReplyLimit(s));
            char body[160];
            std::snprintf(body, sizeof body, ",\"answered\":%s,\"status\":%u,\"ms\":%.0f}",
                          r.end == Wait::Done ? "true" : "false", r.status, r.ms);
            server->Respond(p.id, Json(r.end == Wait::Done ? 200 : 504,
                                       "{\"key\":" + JsonString(p.key) + body));
            std::fprintf(stderr, "press %s: %s\n", p.key.c_str(),
                         r.end == Wait::Done ? "answered" : "no answer");
        }
    }
    // Interrupted: the camera is told that live view ended.
    if (live == Live::On) {
        stopLive();
    }
    if (live == Live::Stopping) {
        s.PumpUntil(stopDone, ReplyLimit(s) * 2, RemoteSession::Interruptible::No);
    }
    return kExitOk;
}

int Run(const RemoteOptions& o) {
    auto* session = new RemoteSession;  // never freed: its threads outlive main
    RemoteSession::InstallSignalHandlers();
    if (o.command == Subcommand::Devices) {
        return Devices(*session, o);
    }
    if (!session->Build()) {
        return kExitFailed;
    }
    const ExitCode connected = session->Connect(o.device);
    if (connected != kExitOk) {
        return connected;
    }
    switch (o.command) {
        case Subcommand::Status:
            return Status(*session, o);
        case Subcommand::Press:
            return Press(*session, o);
        case Subcommand::LiveView:
            return LiveView(*session, o);
        case Subcommand::Capture:
            return Capture(*session, o);
        case Subcommand::Gps:
            return Gps(*session, o);
        case Subcommand::Stats:
            return Stats(*session, o);
        case Subcommand::Serve:
            return Serve(*session, o);
        case Subcommand::Devices:
        case Subcommand::Help:
            break;
    }
    return kExitUsage;
}

}  // namespace
}  // namespace remote

int main(int argc, char** argv) {
    using namespace remote;
    // The registry and the SDK serve the Bluetooth that bluetooth.conf picks.
    platform::bluetooth::InstallBluetoothBackend();
    const ParseResult parsed = ParseRemoteOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.options) {
        std::fprintf(stderr, "camora-remote: %s (try camora-remote --help)\n",
                     parsed.error.c_str());
        return kExitUsage;
    }
    const RemoteOptions& o = *parsed.options;
    if (o.help) {
        Output("%s", UsageText(o.command).c_str());
        Finish(kExitOk);
    }
    Finish(Run(o));
}
