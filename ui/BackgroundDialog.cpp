#include "ui/BackgroundDialog.h"

#include "core/AppRegistry.h"
#include "resources/ResourceIds.h"

int CBackgroundDialog::DoModal() {
    return DoModalTemplate(ui::res::kDlgBackdrop, dialogProc);
}

void CBackgroundDialog::Close() {
    if (window) {
        platform::EndDialog(window, 1);
    }
    window = {};
}

intptr_t BackdropProcedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                           intptr_t) {
    CBackgroundDialog* screen = AppRegistry.backdropScreen;
    if (screen == nullptr) {
        return 0;
    }
    switch (message) {
        case platform::kMsgActivate:
            screen->OnActivate(window);
            return 0;
        case platform::kMsgPaint:
            screen->PaintSkin(window, false);
            return 0;
        case platform::kMsgInitDialog:
            // No orientation handling here: the screens in front of it do that.
            platform::ShellInitDialog(window, kShellDialogFlags);
            screen->SetWindowHandle(window);
            screen->SetTitle(ui::res::kStrAppTitle);
            return 0;
        case platform::kMsgCommand:
            if (platform::CommandId(wParam) == static_cast<int>(ui::res::kCtlOk)) {
                platform::EndDialog(window, 1);
                return 1;
            }
            return 0;
        default:
            return 0;
    }
}
