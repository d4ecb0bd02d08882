// The select screen: the paired devices that offer the serial-port service,
// from which the user picks the camcorder.
#pragma once

#include "ui/DialogBase.h"

class CDeviceSelectDialog : public CDialogBase {
public:
    int DoModal() override;
};

// The select screen's window procedure; finds its screen through AppRegistry.
// Ends with 1 once a device is chosen (OK, or the title bar's Done) and
// selected in the device source, with 2 after CANCEL answered with NO; ends
// the program with 0 after YES, or after "NO PAIRING DEVICE FOUND".
intptr_t DeviceSelectProcedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                               intptr_t lParam);
