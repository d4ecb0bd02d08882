#include "app/LinkLost.h"

#include "app/MediaPlayer.h"
#include "controllers/StayAwake.h"
#include "core/AppRegistry.h"
#include "ctp/CtpEngine.h"
#include "platform/kernel/Kernel.h"
#include "platform/ui/MessageBox.h"
#include "resources/ResourceIds.h"
#include "resources/Strings.h"

namespace app {

void InstallLinkLostHandler(CCtpEngine& engine) {
    engine.SetLinkLostHandler([] {
        // Lock screens drop the player before the user is told.
        WithdrawMediaPlayer();
        // Nothing the user did with the camera goes on: the handset may sleep again.
        ClearAwake();
        platform::ShowMessageBox(
            AppRegistry.mainWindow, ui::ResourceString(ui::res::kStrBluetoothDisconnected),
            ui::ResourceString(ui::res::kStrErrorCaption), platform::MessageBoxButtons::Ok);
        platform::ExitProcess(0);
    });
}

}  // namespace app
