// The "SAVE IMAGE?" screen: the captured still drawn small, YES and NO. It
// ends with 1 for YES and 2 for NO.
#pragma once

#include "ui/DialogBase.h"

class CCaptureContller;

class CCaptureConfirmDialog : public CDialogBase {
public:
    int DoModal() override;
    // The background, then the controller's preview scaled into the preview
    // rectangle for the window, its proportions kept.
    void Paint(platform::WindowHandle handle);

    // Where the preview goes on the 480 x 640 screen.
    static constexpr platform::Rect kPreviewRect{40, 140, 440, 375};
    // The same rectangle on a client of another size, which stands for that
    // screen as the template's controls do (the window is the screen).
    static platform::Rect PreviewRectFor(int clientWidth, int clientHeight);

    // The controller whose image this screen shows; set before DoModal.
    CCaptureContller* controller = nullptr;
};

// The confirmation screen's window procedure; finds its screen through AppRegistry.
intptr_t CaptureConfirmProcedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                                 intptr_t lParam);
