#include "ui/DeviceSelectDialog.h"

#include <string>

#include "core/AppRegistry.h"
#include "platform/kernel/Kernel.h"
#include "resources/ResourceIds.h"
#include "ui/BoxStyles.h"
#include "ui/DeviceSource.h"

using namespace ui::res;

namespace {

// Lists every directory entry that has both a name and a port, in directory
// order; returns how many were listed.
int FillDeviceList(platform::WindowHandle list) {
    int listed = 0;
    for (int index = 0; index < ui::kDeviceDirectorySize; ++index) {
        std::u16string name;
        std::u16string port;
        ui::DeviceSourceGetDevice(index, name, port);
        if (!name.empty() && !port.empty()) {
            platform::ListBoxAddString(list, name);
            ++listed;
        }
    }
    return listed;
}

}  // namespace

int CDeviceSelectDialog::DoModal() {
    return DoModalTemplate(kDlgSelect, dialogProc);
}

intptr_t DeviceSelectProcedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                               intptr_t lParam) {
    CDeviceSelectDialog* screen = AppRegistry.selectScreen;
    if (screen == nullptr) {
        return 0;
    }
    if (screen->HandleConventions(window, message, lParam)) {
        return 0;
    }
    switch (message) {
        case platform::kMsgInitDialog:
            screen->OnInitDialog(window);
            screen->SetItemText(kCtlSelectLabel, kStrSelectDevice);
            screen->SetItemText(kCtlOk, kStrOk);
            screen->SetItemText(kCtlCancel, kStrCancel);
            if (FillDeviceList(platform::GetControl(window, kCtlDeviceList)) == 0) {
                // The camcorder must be paired in the system's own settings first.
                screen->ShowMessage(kStrErrorCaption, kStrNoPairedDevice, ui::kBoxOk);
                platform::ExitProcess(0);
            }
            return 0;
        case platform::kMsgCommand:
            break;
        default:
            return 0;
    }
    const int id = platform::CommandId(wParam);
    const int code = platform::CommandCode(wParam);
    if (id == kCtlDeviceList && code == platform::kNotifySelectionChanged) {
        if (platform::ListBoxGetSelection(platform::GetControl(window, kCtlDeviceList)) != -1) {
            platform::EnableControl(platform::GetControl(window, kCtlOk), true);
        }
        return 1;
    }
    if (id == kCtlOk && code == platform::kNotifyClicked) {
        // The title bar's Done sends this too, with or without a selection.
        // Without one the source's earlier selection stays: selecting the
        // empty name would pick the directory's first unused entry.
        const platform::WindowHandle list = platform::GetControl(window, kCtlDeviceList);
        const int selected = platform::ListBoxGetSelection(list);
        if (selected >= 0) {
            ui::DeviceSourceSelectDevice(platform::ListBoxGetText(list, selected));
        }
        platform::EndDialog(window, 1);
        return 1;
    }
    if (id == kCtlCancel) {
        if (screen->ShowMessage(kStrCheck, kStrConfirmClose, ui::kBoxYesNo) == ui::kAnswerYes) {
            platform::ExitProcess(0);
        }
        platform::EndDialog(window, 2);
        return 1;
    }
    return 0;
}
