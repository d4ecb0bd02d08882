#include "ui/CloseConfirmWorker.h"

#include "core/AppRegistry.h"
#include "link/LinkLoader.h"
#include "platform/kernel/Kernel.h"
#include "platform/ui/MessageBox.h"
#include "resources/ResourceIds.h"
#include "resources/Strings.h"

uint32_t CloseConfirmWorker(void* /*unused*/) {
    const platform::MessageBoxResult answer = platform::ShowMessageBox(
        AppRegistry.mainWindow, ui::ResourceString(ui::res::kStrConfirmClose),
        ui::ResourceString(ui::res::kStrCheck), platform::MessageBoxButtons::YesNo);
    if (answer != platform::MessageBoxResult::Yes) {
        return 0;
    }
    if (AppRegistry.linkLoader != nullptr) {
        AppRegistry.linkLoader->Disconnect();
    }
    platform::ExitProcess(0);
}

bool StartCloseConfirmWorker() {
    // The thread runs on its own once started; its object is not needed.
    return platform::Thread::Create(&CloseConfirmWorker, nullptr, false) != nullptr;
}
