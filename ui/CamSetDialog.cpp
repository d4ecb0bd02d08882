#include "ui/CamSetDialog.h"

#include "core/AppRegistry.h"
#include "platform/kernel/Kernel.h"
#include "resources/ResourceIds.h"
#include "ui/BoxStyles.h"
#include "ui/DeviceSource.h"

using namespace ui::res;

int CCamSetDialog::DoModal() {
    return DoModalTemplate(kDlgInstruction, dialogProc);
}

intptr_t InstructionProcedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                              intptr_t lParam) {
    CCamSetDialog* screen = AppRegistry.instructionScreen;
    if (screen == nullptr) {
        return 0;
    }
    if (screen->HandleConventions(window, message, lParam)) {
        return 0;
    }
    switch (message) {
        case platform::kMsgInitDialog:
            screen->OnInitDialog(window);
            screen->SetItemText(kCtlInstructionText, kStrEnableBluetooth);
            screen->SetItemText(kCtlOk, kStrOk);
            return 0;
        case platform::kMsgCommand: {
            const int id = platform::CommandId(wParam);
            if (id != kCtlOk && id != kCtlExitProgram) {
                return 0;
            }
            if (ui::DeviceSourceIsAvailable() == 0) {
                screen->ShowMessage(kStrErrorCaption, kStrBluetoothNotAvailable, ui::kBoxOk);
                platform::ExitProcess(0);
            }
            platform::EndDialog(window, 2);
            return 1;
        }
        default:
            return 0;
    }
}
