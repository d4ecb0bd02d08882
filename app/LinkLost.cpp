#include "app/LinkLost.h"

#include "app/AppRegistry.h"
#include "ctp/CtpEngine.h"
#include "platform/kernel/Kernel.h"
#include "platform/ui/MessageBox.h"
#include "ui/resources/ResourceIds.h"
#include "ui/resources/Strings.h"

namespace app {

void InstallLinkLostHandler(CCtpEngine& engine) {
    engine.SetLinkLostHandler([] {
        platform::ShowMessageBox(
            AppRegistry.mainWindow, ui::ResourceString(ui::res::kStrBluetoothDisconnected),
            ui::ResourceString(ui::res::kStrErrorCaption), platform::MessageBoxButtons::Ok);
        platform::ExitProcess(0);
    });
}

}  // namespace app
