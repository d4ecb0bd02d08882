#include "controllers/MediaPlayerKeys.h"

#include <iterator>
#include <string>

#include "controllers/CamCmdController.h"
#include "resources/ResourceIds.h"

namespace {

using platform::mpris::PlayerMethod;
using platform::mpris::PlayerState;

// The panel's mode captions, by mode.
constexpr const char* kModeCaptions[] = {"VIDEO REC MODE", "VIDEO PLAY MODE",
                                         "STILL IMAGE REC MODE", "STILL IMAGE PLAY MODE"};

// The panel buttons that the methods tap.
constexpr int kRecord = static_cast<int>(ui::res::kBmpRecord);
constexpr int kPause = static_cast<int>(ui::res::kBmpPause);
constexpr int kZoomTele = static_cast<int>(ui::res::kBmpZoomTele);
constexpr int kZoomWide = static_cast<int>(ui::res::kBmpZoomWide);

}  // namespace

CMediaPlayerKeys::CMediaPlayerKeys(CCameraState* cameraState, CCamCmdController* commands)
    : cameraState_(cameraState), commands_(commands) {}

void CMediaPlayerKeys::OnMethod(PlayerMethod method) {
    // The panel ignores taps on its keys while it is locked.
    if (cameraState_->IsPanelLocked()) {
        return;
    }
    CameraStateSnapshot snapshot{};
    cameraState_->GetSnapshot(&snapshot);
    if (const std::optional<int> button = ButtonFor(method, snapshot)) {
        commands_->Tap(CCamCmdController::MakeCommand(*button));
    }
}

PlayerState CMediaPlayerKeys::CurrentState() {
    CameraStateSnapshot snapshot{};
    cameraState_->GetSnapshot(&snapshot);
    return StateFor(snapshot, cameraState_->IsPanelLocked(),
                    cameraState_->IsActionAllowed(ActionCommand));
}

std::optional<int> CMediaPlayerKeys::ButtonFor(PlayerMethod method,
                                               const CameraStateSnapshot& snapshot) {
    const bool shooting = snapshot.operationState == kStateShooting;
    switch (method) {
        case PlayerMethod::PlayPause:
            return kRecord;
        case PlayerMethod::Play:
            return shooting ? std::nullopt : std::optional<int>(kRecord);
        case PlayerMethod::Stop:
            return shooting ? std::optional<int>(kRecord) : std::nullopt;
        case PlayerMethod::Pause:
            return kPause;
        case PlayerMethod::Next:
            return kZoomTele;
        case PlayerMethod::Previous:
            return kZoomWide;
    }
    return std::nullopt;
}

PlayerState CMediaPlayerKeys::StateFor(const CameraStateSnapshot& snapshot, bool panelLocked,
                                       bool commandsAllowed) {
    PlayerState s;
    switch (snapshot.operationState) {
        case kStateShooting:
            s.playbackStatus = "Playing";
            break;
        case kStateQuickStartStandby:
            // Nothing can be started from there by a key.
            s.playbackStatus = "Stopped";
            break;
        default:
            s.playbackStatus = "Paused";
            break;
    }
    if (snapshot.mode < std::size(kModeCaptions)) {
        s.title = kModeCaptions[snapshot.mode];
        // One "track" per mode, so that a shell sees a change of mode as a new one.
        s.trackId = "/camora_controller/mode" + std::to_string(snapshot.mode);
    }
    s.artist = snapshot.operationState == kStateShooting ? "REC" : "STBY";
    s.canControl = !panelLocked;
    const bool keys = s.canControl && commandsAllowed;
    s.canPlay = keys;
    s.canPause = keys;
    s.canGoNext = keys;
    s.canGoPrevious = keys;
    return s;
}
