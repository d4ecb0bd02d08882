// The capture's progress screen: "ACQUIRING IMAGE…", a progress bar that the
// capture job advances block by block, and CANCEL. It ends with 1 when the
// image is ready, 2 when cancelled and 8 when the capture failed.
#pragma once

#include "ui/DialogBase.h"

class CCaptureContller;

class CCaptureDialog : public CDialogBase {
public:
    int DoModal() override;

    // The controller whose job this screen shows; set before DoModal.
    CCaptureContller* controller = nullptr;
};

// The progress screen's window procedure; finds its screen through AppRegistry.
intptr_t CaptureProgressProcedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                                  intptr_t lParam);
