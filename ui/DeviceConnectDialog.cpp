#include "ui/DeviceConnectDialog.h"

#include "core/AppRegistry.h"
#include "platform/kernel/Kernel.h"
#include "resources/ResourceIds.h"
#include "ui/BoxStyles.h"
#include "ui/ConnectWorker.h"
#include "ui/DeviceSource.h"

using namespace ui::res;

int CDeviceConnectDialog::DoModal() {
    return DoModalTemplate(kDlgConnect, dialogProc);
}

intptr_t DeviceConnectProcedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                                intptr_t lParam) {
    CDeviceConnectDialog* screen = AppRegistry.connectScreen;
    if (screen == nullptr) {
        return 0;
    }
    screen->connectWindow.store(window);
    if (screen->HandleConventions(window, message, lParam)) {
        return 0;
    }
    switch (message) {
        case platform::kMsgInitDialog:
            screen->OnInitDialog(window);
            screen->SetItemText(kCtlConnectingText, kStrConnecting);
            screen->SetItemText(kCtlCancel, kStrCancel);
            platform::SetControlText(window, kCtlDeviceName, ui::DeviceSourceSelectedName());
            // One connect thread per showing; it runs on its own and is never stopped.
            platform::Thread::Create(&ConnectWorker, nullptr, false);
            screen->SetWaitCursor(1);
            return 0;
        case platform::kMsgCommand: {
            const int id = platform::CommandId(wParam);
            if (id == kCtlOk || id == kCtlCancel) {
                // CANCEL leaves the connect thread running; its late report finds no window.
                screen->SetWaitCursor(0);
                platform::EndDialog(window, id == kCtlOk ? 1 : 2);
                return 1;
            }
            return 0;
        }
        case WM_CONNECTED:
            screen->SetWaitCursor(0);
            platform::EndDialog(window, 1);
            return 1;
        case WM_CONNECT_TIMEOUT:
        case WM_CONNECT_FAILED:
            screen->ShowMessage(
                kStrErrorCaption,
                message == WM_CONNECT_TIMEOUT ? kStrConnectionTimeOut : kStrConnectionFailed,
                ui::kBoxOk);
            screen->SetWaitCursor(0);
            platform::EndDialog(window, 2);
            return 1;
        default:
            return 0;
    }
}
