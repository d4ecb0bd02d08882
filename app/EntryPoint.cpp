#include "app/EntryPoint.h"

#include <string_view>

#include "app/Application.h"
#include "platform/bluetooth/Backend.h"
#include "platform/fs/InstanceLock.h"
#include "platform/ui/Application.h"
#include "platform/ui/MessageBox.h"
#include "resources/ResourceIds.h"

namespace {

// The application object is never destroyed; kept here so that it stays reachable.
CApplication* g_application = nullptr;

std::u16string_view Loaded(const char16_t* buffer, int length) {
    return std::u16string_view(buffer, static_cast<size_t>(length));
}

void ShowError(platform::InstanceHandle instance, uint32_t textId) {
    char16_t caption[256];
    char16_t text[256];
    const int captionLength =
        platform::LoadString(instance, ui::res::kStrErrorCaption, caption, 256);
    const int textLength = platform::LoadString(instance, textId, text, 256);
    platform::ShowMessageBox(platform::WindowHandle{}, Loaded(text, textLength),
                             Loaded(caption, captionLength), platform::MessageBoxButtons::Ok);
}

}  // namespace

int AppEntryPoint(platform::InstanceHandle instance) {
    // The registry and the SDK serve the Bluetooth that bluetooth.conf picks.
    platform::bluetooth::InstallBluetoothBackend();
    // The handset shell's one-time initialisation has no counterpart here.
    char16_t title[100];
    const int titleLength = platform::LoadString(instance, ui::res::kStrAppTitle, title, 100);
    // Every screen carries this title, so a running instance is found
    // whichever screen it shows.
    if (platform::FindOtherInstanceWindow(Loaded(title, titleLength), true)) {
        return 0;
    }
    // From now on a later start finds this instance's windows.
    platform::ListenForOtherInstances();
    // The camcorder's link, shared with camora-remote: held for the
    // process's life (never freed; the lock goes with the process).
    auto* linkLock = new platform::InstanceLock;
    if (linkLock->TryTake("camora-controller") == platform::InstanceLock::Result::Held) {
        ShowError(instance, ui::res::kStrLinkInUse);
        return 0;
    }
    // Failed (e.g. an unwritable device root): carry on without the lock.
    try {
        g_application = new CApplication;
        g_application->Init(instance);
        return g_application->Run();
    } catch (...) {
        ShowError(instance, ui::res::kStrOutOfMemory);
        return 0;
    }
}
