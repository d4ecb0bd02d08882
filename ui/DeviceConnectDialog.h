// The connect screen: shows the chosen device while the connect procedure's
// thread opens the link and makes the handshake, and reports the outcome.
#pragma once

#include <atomic>

#include "ui/DialogBase.h"

class CDeviceConnectDialog : public CDialogBase {
public:
    int DoModal() override;

    // The screen's window, stored at every message it receives; the connect
    // thread reads it once to know where to report.
    std::atomic<platform::WindowHandle> connectWindow{};
};

// The connect screen's window procedure; finds its screen through AppRegistry.
// Ends with 1 when connected (or on the title bar's Done), with 2 after
// CANCEL, a time-out or a failure; the boxes of the last two are shown while
// the connect thread waits for its report to be handled.
intptr_t DeviceConnectProcedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                                intptr_t lParam);
