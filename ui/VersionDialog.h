// The version screen: the program's name, version and copyright notice with
// its icon, opened from the main screen's Ver. bar and closed with OK.
#pragma once

#include <cstdint>

#include "platform/ui/Window.h"
#include "ui/DialogBase.h"

class CVersionDialog : public CDialogBase {
public:
    // Template 144 with the stored procedure; 2 when closed with OK.
    int DoModal() override;
};

// The version screen's procedure: finds the screen in AppRegistry.
intptr_t VersionProcedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                          intptr_t lParam);
