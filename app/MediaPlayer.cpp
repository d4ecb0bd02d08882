#include "app/MediaPlayer.h"

#include <cstdio>
#include <memory>
#include <string>
#include <utility>

#include "controllers/CamModeController.h"
#include "controllers/MediaPlayerKeys.h"
#include "core/AppRegistry.h"
#include "platform/kernel/Protected.h"
#include "platform/mpris/MediaPlayerService.h"

namespace app {
namespace {

using platform::mpris::MediaPlayerService;

const platform::mpris::PlayerIdentity kIdentity = {
    .busNameSuffix = "camora_controller",
    .identity = "CamoraController",
    .desktopEntry = "camora-controller",
};

// The keys and the service, told of every mode answer. Never freed: the mode
// worker may be telling it while the link ends.
class ProgramMediaPlayer : public CameraStateListener {
public:
    ProgramMediaPlayer() : keys(AppRegistry.cameraState, AppRegistry.commandController) {}
    void CameraStateChanged() override { service->StateChanged(); }

    CMediaPlayerKeys keys;
    std::unique_ptr<MediaPlayerService> service;
};

struct Offer {
    bool withdrawn = false;
    ProgramMediaPlayer* player = nullptr;
};

platform::Protected<Offer>& Offers() {
    static platform::Protected<Offer>* offers = [] {
        auto* made = new platform::Protected<Offer>;
        made->Create();
        return made;
    }();
    return *offers;
}

}  // namespace

void OfferMediaPlayer() {
    auto player = std::make_unique<ProgramMediaPlayer>();
    std::string error;
    player->service = MediaPlayerService::Start(kIdentity, player->keys, &error);
    if (player->service == nullptr) {
        std::fprintf(stderr, "camora: no media-player interface: %s\n", error.c_str());
        return;
    }
    ProgramMediaPlayer* offered = player.release();
    const bool withdrawn = Offers().With([offered](Offer& o) {
        if (!o.withdrawn) {
            o.player = offered;
        }
        return o.withdrawn;
    });
    if (withdrawn) {
        // The link ended while the service was starting.
        offered->service->Stop();
        return;
    }
    AppRegistry.modeController->SetStateListener(offered);
    // An answer stored between the service's start and now.
    offered->service->StateChanged();
}

void WithdrawMediaPlayer() {
    ProgramMediaPlayer* player = Offers().With([](Offer& o) {
        o.withdrawn = true;
        return std::exchange(o.player, nullptr);
    });
    if (player != nullptr) {
        player->service->Stop();
    }
}

}  // namespace app
