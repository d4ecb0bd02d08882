#include "ui/CaptureDialog.h"

#include "controllers/CaptureContller.h"
#include "controllers/CaptureScreens.h"
#include "core/AppRegistry.h"
#include "resources/ResourceIds.h"

namespace r = ui::res;

int CCaptureDialog::DoModal() {
    return DoModalTemplate(r::kDlgCaptureProgress, dialogProc);
}

intptr_t CaptureProgressProcedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                                  intptr_t lParam) {
    CCaptureDialog* screen = AppRegistry.captureProgressScreen;
    if (screen == nullptr || screen->controller == nullptr) {
        return 0;
    }
    if (screen->HandleConventions(window, message, lParam)) {
        return 0;
    }
    switch (message) {
        case platform::kMsgInitDialog:
            screen->OnInitDialog(window);
            screen->SetItemText(static_cast<int>(r::kCtlCaptureProgressText),
                                static_cast<int>(r::kStrAcquiringImage));
            screen->SetItemText(static_cast<int>(r::kCtlCancel), static_cast<int>(r::kStrCancel));
            // Last: the job starts now, and its first message finds the bar.
            screen->controller->ProgressScreenReady(
                window, platform::GetControl(window, static_cast<int>(r::kCtlCaptureProgressBar)));
            return 0;
        case platform::kMsgCommand: {
            const auto id = static_cast<uint32_t>(platform::CommandId(wParam));
            if (id == r::kCtlOk || id == r::kCtlCancel) {
                screen->controller->CancelCapture();
                platform::EndDialog(window, CCaptureScreens::kCancelled);
                return 1;
            }
            return 0;
        }
        case WM_CAPTURE_DONE:
            platform::EndDialog(window, CCaptureScreens::kImageReady);
            return 1;
        case WM_CAPTURE_FAILED:
            platform::EndDialog(window, CCaptureScreens::kFailed);
            return 1;
        default:
            return 0;
    }
}
