#include "controllers/GpsController.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/CameraState.h"
#include "core/ConfigStore.h"
#include "ctp/CtpDataFactory.h"
#include "platform/ui/WindowMessages.h"

namespace {

// The position thread reads at most one position in this time, however often
// the device signals.
constexpr uint32_t kPositionPauseMs = 2000;
// How often the worker looks again while the camera's state refuses GPS.
constexpr uint32_t kRefusedRetryMs = 1000;

constexpr const char* kNoFixSentence = "$GPGGA,,,,,,0,,,,,,,\r\n";

// Camera status words in the reply to a switch or a sentence.
constexpr uint16_t kStatusOk = 0;
constexpr uint16_t kStatusFeedEnded = 2;

}  // namespace

CGpsController::CGpsController(const ControllerServices& services) : CBaseController(services) {}

CGpsController::~CGpsController() = default;

int CGpsController::CheckDevice() {
    const platform::GpsDevice probe = platform::OpenGpsDevice(nullptr, nullptr);
    if (probe) {
        platform::CloseGpsDevice(probe);
        return 1;
    }
    deviceAvailable_ = false;
    return 0;
}

int CGpsController::Start() {
    if (thread_ != nullptr) {
        return positionThread_ != nullptr ? 1 : -2;  // started before
    }
    using platform::Event;
    using platform::ResetMode;
    if (wakeEvent_ == nullptr) {
        wakeEvent_ = Event::Create(ResetMode::Auto, false);
    }
    if (positionStartEvent_ == nullptr) {
        positionStartEvent_ = Event::Create(ResetMode::Auto, false);
    }
    active_.Create();
    sentence_.Create();
    for (auto& event : positionEvents_) {
        if (event == nullptr) {
            event = Event::Create(ResetMode::Auto, false);
        }
    }
    if (wakeEvent_ == nullptr || positionStartEvent_ == nullptr || !active_.Created() ||
        !sentence_.Created() || positionEvents_[kStop] == nullptr ||
        positionEvents_[kNewLocation] == nullptr || positionEvents_[kDeviceState] == nullptr) {
        return -2;
    }
    // Request may run from here on: every object it touches exists.
    started_ = true;
    thread_ = platform::Thread::Create(&CGpsController::WorkerProc, this, false);
    if (thread_ == nullptr) {
        return -2;
    }
    positionThread_ = platform::Thread::Create(&CGpsController::PositionProc, this, false);
    return positionThread_ != nullptr ? 1 : -2;
}

void CGpsController::Request(platform::WindowHandle window) {
    if (!deviceAvailable_ || !started_) {
        return;
    }
    window_ = window;
    const bool nowActive = active_.With([](bool& on) {
        on = !on;
        return on;
    });
    pending_ = true;
    ++switchRequests_;
    cameraState()->SetGpsStatus(nowActive ? kGpsStatusPosition : kGpsStatusOff);
    if (!nowActive) {
        StopFeed(true);
    } else {
        wakeEvent_->Set();
        NotifyWindow();
    }
}

void CGpsController::StopFeed(bool notify) {
    CloseDevice();
    // Off first, then the indicator: the position thread shows a position
    // only while it sees GPS on (under the same lock), so it cannot show one
    // after this.
    active_.With([](bool& on) { on = false; });
    cameraState()->SetGpsStatus(kGpsStatusOff);
    if (notify) {
        positionEvents_[kStop]->Set();
        wakeEvent_->Set();
    }
    NotifyWindow();
}

double CGpsController::PackCoordinate(double degrees) {
    const double a = std::fabs(degrees);
    const double d = std::trunc(a);
    return (a - d) * 60.0 + d * 100.0;
}

std::string CGpsController::FormatCoordinate(double packed, bool longitude) {
    // Zeros ahead of "%f" for each decade, so that every field has the same
    // number of integer digits; a value outside the decades is no coordinate.
    static constexpr struct {
        double below;
        const char* latitude;
        const char* longitude;
    } kBands[] = {
        {10.0, "000", "0000"}, {100.0, "00", "000"},    {1000.0, "0", "00"},
        {10000.0, "", "0"},    {100000.0, nullptr, ""},
    };
    if (!(packed >= 0.0)) {
        return {};  // NaN as well
    }
    for (const auto& band : kBands) {
        if (packed < band.below) {
            const char* prefix = longitude ? band.longitude : band.latitude;
            if (prefix == nullptr) {
                return {};
            }
            char text[48];
            std::snprintf(text, sizeof text, "%s%f", prefix, packed);
            return text;
        }
    }
    return {};
}

int CGpsController::FormatGga(const platform::GpsPosition& record) {
    char text[kSentenceBytes] = {};
    const bool fix = record.fixQuality != platform::kGpsNoFix;
    if (fix) {
        const std::string latitude = FormatCoordinate(PackCoordinate(record.latitude), false);
        const std::string longitude = FormatCoordinate(PackCoordinate(record.longitude), true);
        // The quality field says "1" whatever kind of fix the device had.
        std::snprintf(text, sizeof text, "$GPGGA,%02d%02d%02d.%03d,%s,%c,%s,%c,1,,,,,,,\r\n",
                      record.utcTime.hour, record.utcTime.minute, record.utcTime.second,
                      record.utcTime.millisecond, latitude.c_str(),
                      record.latitude < 0.0 ? 'S' : 'N', longitude.c_str(),
                      record.longitude < 0.0 ? 'W' : 'E');
    } else {
        std::snprintf(text, sizeof text, "%s", kNoFixSentence);
    }
    sentence_.With([&](std::array<char, kSentenceBytes>& sentence) {
        std::memcpy(sentence.data(), text, sentence.size());
    });
    return fix ? 1 : 0;
}

CCtpDataGps* CGpsController::MakeGpsPacket() {
    std::unique_ptr<CCtpDataGps> packet = CCtpDataFactory::CreateAs<CCtpDataGps>(CTP_GPS);
    if (packet == nullptr) {
        return nullptr;
    }
    const bool empty = sentence_.With([&](const std::array<char, kSentenceBytes>& sentence) {
        packet->SetText(sentence.data());
        return sentence[0] == '\0';
    });
    return empty ? nullptr : packet.release();  // handed to the engine's Send
}

CCtpDataCamCmd* CGpsController::MakeGpsCmdPacket() {
    std::unique_ptr<CCtpDataCamCmd> packet = CCtpDataFactory::CreateAs<CCtpDataCamCmd>(CTP_GPS_CMD);
    if (packet == nullptr) {
        return nullptr;
    }
    const uint16_t param = IsActive() ? 0 : 1;
    CameraStateSnapshot snapshot{};
    cameraState()->GetSnapshot(&snapshot);
    packet->SetCommand(param, static_cast<uint8_t>(snapshot.mode),
                       static_cast<uint8_t>(snapshot.operationState));
    return packet.release();  // handed to the engine's Send
}

uint32_t CGpsController::WorkerProc(void* controller) {
    static_cast<CGpsController*>(controller)->RunWorker();
    return 0;
}

uint32_t CGpsController::PositionProc(void* controller) {
    static_cast<CGpsController*>(controller)->RunPositionThread();
    return 0;
}

void CGpsController::RunWorker() {
    CConfigStore* config = configStore();
    CCameraState* state = cameraState();
    bool noWait = true;
    bool feeding = false;
    for (;;) {
        if (!state->IsActionAllowed(ActionGps)) {
            // Still-recording mode in quick-start standby is refused like every
            // other state: the worker waits for it to pass instead of ending,
            // which would leave GPS unusable until the program restarts.
            CloseDevice();
            pending_ = true;
            noWait = true;
            platform::Sleep(kRefusedRetryMs);
            continue;
        }
        if (!IsActive()) {
            wakeEvent_->Wait(platform::kWaitForever);
            noWait = true;
        } else {
            if (!noWait) {
                wakeEvent_->Wait(static_cast<uint32_t>(config->GetGpsInterval()) * 1000u);
            }
            noWait = false;
        }
        if (!state->IsRecordingModeNotBusy()) {
            continue;
        }
        // What the camera's answer is about: the switch, or a sentence.
        const uint32_t requestsSeen = switchRequests_.load();
        const bool switching = pending_;
        CCtpData* request = nullptr;
        if (switching) {
            request = MakeGpsCmdPacket();
        } else if (feeding) {
            request = MakeGpsPacket();
        }
        if (request == nullptr) {
            continue;
        }
        CCtpData* reply = nullptr;
        if (Exchange(request, kChannel, config->GetTimeOut(), &reply) != ExchangeResult::Replied) {
            continue;  // a switch stays pending and goes out again on the next pass
        }
        uint16_t status = 0;
        const bool answered = GetReplyParam(reply, &status);
        delete reply;
        if (!answered) {
            continue;  // a reply without status word counts as no reply
        }
        if (status != kStatusOk) {
            if (switching) {
                StopFeed(false);
                feeding = false;
            } else if (status == kStatusFeedEnded) {
                StopFeed(true);
                feeding = false;
            }
        } else if (switching && OpenDevice()) {
            positionStartEvent_->Set();
            feeding = true;
        }
        // A press that came during this exchange is still to be sent.
        if (switchRequests_.load() == requestsSeen) {
            pending_ = false;
        }
    }
}

void CGpsController::RunPositionThread() {
    platform::Event* const events[] = {positionEvents_[kStop].get(),
                                       positionEvents_[kNewLocation].get(),
                                       positionEvents_[kDeviceState].get()};
    for (;;) {
        positionStartEvent_->Wait(platform::kWaitForever);
        for (;;) {
            const int signalled = platform::WaitAny(events, platform::kWaitForever);
            if (signalled == kNewLocation) {
                platform::GpsPosition record;
                uint16_t result = kGpsStatusNoPosition;
                if (platform::GetGpsPosition(device_, &record, platform::kGpsAnyAge, 0) &&
                    FormatGga(record) == 1) {
                    result = kGpsStatusPosition;
                }
                const bool shown = active_.With([&](bool on) {
                    if (on) {
                        cameraState()->SetGpsStatus(result);
                    }
                    return on;
                });
                if (shown) {
                    NotifyWindow();
                }
            }
            platform::Sleep(kPositionPauseMs);
            if (signalled == kStop) {
                break;
            }
        }
    }
}

bool CGpsController::IsActive() {
    return active_.Get();
}

void CGpsController::NotifyWindow() {
    platform::SendWindowMessage(window_, WM_GPS_STATUS, 0, 0);
}

bool CGpsController::OpenDevice() {
    const platform::GpsDevice opened = platform::OpenGpsDevice(positionEvents_[kNewLocation].get(),
                                                               positionEvents_[kDeviceState].get());
    // The user may switch off while the device opens. Keeping the handle and
    // switching off both happen under active_'s lock, so either the switch-off
    // finds the handle and closes it, or the handle is closed here.
    platform::GpsDevice previous;
    const bool kept = active_.With([&](bool on) {
        if (on) {
            // A handle still open from an earlier switch would otherwise stay open for good.
            previous = device_.exchange(opened);
        }
        return on;
    });
    if (previous) {
        platform::CloseGpsDevice(previous);
    }
    if (!kept && opened) {
        platform::CloseGpsDevice(opened);
    }
    return kept;
}

void CGpsController::CloseDevice() {
    // Taken and cleared in one step: the main thread and the worker may both close.
    const platform::GpsDevice open = device_.exchange(platform::GpsDevice{});
    if (open) {
        platform::CloseGpsDevice(open);
    }
}
