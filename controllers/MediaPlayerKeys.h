// The media-player interface's side of the program: its methods become taps
// of the panel's keys through the command controller, and what it shows
// (playing or not, title and artist) follows the camera state.
#pragma once

#include <optional>

#include "core/CameraState.h"
#include "platform/mpris/MediaPlayerService.h"

class CCamCmdController;

class CMediaPlayerKeys : public platform::mpris::PlayerHandler {
public:
    // Both must outlive this object.
    CMediaPlayerKeys(CCameraState* cameraState, CCamCmdController* commands);

    // A tap of the method's key, refused as the panel refuses a tap while it
    // is locked (and by the command controller in quick-start standby).
    void OnMethod(platform::mpris::PlayerMethod method) override;
    platform::mpris::PlayerState CurrentState() override;

    // The panel button (its id) that `method` taps in this state; none when
    // it taps nothing (Play while shooting, Stop while not).
    static std::optional<int> ButtonFor(platform::mpris::PlayerMethod method,
                                        const CameraStateSnapshot& snapshot);
    // What the interface shows for this state: the panel's mode caption as
    // title, its "REC"/"STBY" indicator as artist.
    static platform::mpris::PlayerState StateFor(const CameraStateSnapshot& snapshot,
                                                 bool panelLocked, bool commandsAllowed);

private:
    CCameraState* cameraState_;
    CCamCmdController* commands_;
};
