// The black backdrop that covers the handset's own screen while the
// connection screens come and go. It runs on a thread of its own; the main
// screen ends it with Close.
#pragma once

#include "ui/DialogBase.h"

class CBackgroundDialog : public CDialogBase {
public:
    int DoModal() override;
    // Ends the backdrop's modal loop with 1 when its window is set, then forgets the window.
    void Close();
};

// The backdrop's window procedure; finds its screen through AppRegistry.
intptr_t BackdropProcedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                           intptr_t lParam);
