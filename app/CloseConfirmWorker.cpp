#include "app/CloseConfirmWorker.h"

#include "app/AppRegistry.h"
#include "link/CLinkLoader.h"
#include "platform/kernel/Kernel.h"
#include "platform/ui/MessageBox.h"
#include "ui/resources/Strings.h"

namespace {

constexpr uint32_t kCheckCaption = 109;
constexpr uint32_t kCloseQuestion = 110;

}  // namespace

uint32_t CloseConfirmWorker(void* /*unused*/) {
    const platform::MessageBoxResult answer = platform::ShowMessageBox(
        AppRegistry.mainWindow, ui::ResourceString(kCloseQuestion),
        ui::ResourceString(kCheckCaption), platform::MessageBoxButtons::YesNo);
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
