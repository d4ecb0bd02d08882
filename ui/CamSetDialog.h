// The instruction screen, shown once at start: tells the user to switch on
// the camcorder's Bluetooth, and checks that the handset has Bluetooth.
#pragma once

#include "ui/DialogBase.h"

class CCamSetDialog : public CDialogBase {
public:
    int DoModal() override;
};

// The instruction screen's window procedure; finds its screen through AppRegistry.
// OK (or command 1003) ends it with 2, or ends the program with 0 after
// "BLUETOOTH NOT AVAILABLE" when the device source cannot be used.
intptr_t InstructionProcedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                              intptr_t lParam);
