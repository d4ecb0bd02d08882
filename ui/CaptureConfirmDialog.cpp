#include "ui/CaptureConfirmDialog.h"

#include <cstdint>

#include "controllers/CaptureContller.h"
#include "controllers/CaptureScreens.h"
#include "core/AppRegistry.h"
#include "resources/ResourceIds.h"

namespace r = ui::res;

namespace {
constexpr int kScreenWidth = 480;
constexpr int kScreenHeight = 640;
}  // namespace

int CCaptureConfirmDialog::DoModal() {
    return DoModalTemplate(r::kDlgCaptureConfirm, dialogProc);
}

void CCaptureConfirmDialog::Paint(platform::WindowHandle handle) {
    if (skipNextPaint != 0) {
        skipNextPaint = 0;
        return;
    }
    platform::PaintScope paint(handle);
    platform::DrawingContext memory;
    memory.Select(GetSkinBitmap());  // none: the copy paints black
    paint.Context().BlockCopy(0, 0, kScreenWidth, kScreenHeight, memory, 0, 0);
    int width = kScreenWidth;
    int height = kScreenHeight;
    if (!platform::GetClientSize(handle, width, height)) {
        width = kScreenWidth;
        height = kScreenHeight;
    }
    if (controller != nullptr) {
        controller->DrawPreview(paint.Context(), PreviewRectFor(width, height));
    }
}

platform::Rect CCaptureConfirmDialog::PreviewRectFor(int clientWidth, int clientHeight) {
    // A phone's window is not the handset's 480 x 640: the rectangle goes
    // where the template's text above it and buttons below it go, so that the
    // still neither covers the question nor leaves the window.
    if (clientWidth <= 0 || clientHeight <= 0) {
        return kPreviewRect;
    }
    const auto x = [&](int v) { return static_cast<int>(int64_t{v} * clientWidth / kScreenWidth); };
    const auto y = [&](int v) {
        return static_cast<int>(int64_t{v} * clientHeight / kScreenHeight);
    };
    return platform::Rect{x(kPreviewRect.left), y(kPreviewRect.top), x(kPreviewRect.right),
                          y(kPreviewRect.bottom)};
}

intptr_t CaptureConfirmProcedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                                 intptr_t lParam) {
    CCaptureConfirmDialog* screen = AppRegistry.captureConfirmScreen;
    if (screen == nullptr) {
        return 0;
    }
    switch (message) {
        case platform::kMsgActivate:
            screen->OnActivate(window);
            return 0;
        case platform::kMsgPaint:
            screen->Paint(window);
            return 0;
        case platform::kMsgWindowPosChanged:
            screen->OnWindowPosChanged(window,
                                       reinterpret_cast<const platform::WindowPosition*>(lParam));
            return 0;
        case platform::kMsgInitDialog:
            screen->OnInitDialog(window);
            screen->SetItemText(static_cast<int>(r::kCtlCaptureConfirmText),
                                static_cast<int>(r::kStrSaveImage));
            screen->SetItemText(static_cast<int>(r::kCtlCaptureYes), static_cast<int>(r::kStrYes));
            screen->SetItemText(static_cast<int>(r::kCtlCaptureNo), static_cast<int>(r::kStrNo));
            return 0;
        case platform::kMsgCommand: {
            const auto id = static_cast<uint32_t>(platform::CommandId(wParam));
            if (id == r::kCtlCaptureYes) {
                platform::EndDialog(window, CCaptureScreens::kYes);
                return 1;
            }
            if (id == r::kCtlCaptureNo || id == r::kCtlOk) {
                platform::EndDialog(window, CCaptureScreens::kNo);
                return 1;
            }
            return 0;
        }
        default:
            return 0;
    }
}
