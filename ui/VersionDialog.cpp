#include "ui/VersionDialog.h"

#include "core/AppRegistry.h"
#include "platform/ui/Dialog.h"
#include "resources/ResourceIds.h"

namespace {

// What the screen ends with on OK.
constexpr int kClosedWithOk = 2;

// Each text control and its string, in the order they are set.
struct ItemText {
    int control;
    int string;
};
constexpr ItemText kTexts[] = {
    {ui::res::kCtlVersionTitle, ui::res::kStrVersionTitle},
    {ui::res::kCtlVersionProduct, ui::res::kStrProductLine},
    {ui::res::kCtlVersionCopyright, ui::res::kStrCopyright},
    {ui::res::kCtlVersionLabel, ui::res::kStrVersionLabel},
    {ui::res::kCtlVersionNumber, ui::res::kStrVersionNumber},
    {ui::res::kCtlOk, ui::res::kStrOk},
};

}  // namespace

int CVersionDialog::DoModal() {
    return DoModalTemplate(ui::res::kDlgVersion, dialogProc);
}

intptr_t VersionProcedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                          intptr_t lParam) {
    CVersionDialog* screen = AppRegistry.versionScreen;
    if (screen == nullptr) {
        return 0;
    }
    if (screen->HandleConventions(window, message, lParam)) {
        return 0;
    }
    switch (message) {
        case platform::kMsgInitDialog:
            screen->OnInitDialog(window);
            for (const ItemText& t : kTexts) {
                screen->SetItemText(t.control, t.string);
            }
            return 0;
        case platform::kMsgCommand:
            if (platform::CommandId(wParam) == static_cast<int>(ui::res::kCtlOk)) {
                platform::EndDialog(window, kClosedWithOk);
                return 1;
            }
            return 0;
        default:
            return 0;
    }
}
