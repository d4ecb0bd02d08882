#include "ui/ConnectWorker.h"

#include "controllers/ConnectProcedure.h"
#include "core/AppRegistry.h"
#include "platform/ui/WindowMessages.h"
#include "ui/DeviceConnectDialog.h"

uint32_t ConnectWorker(void* /*unused*/) {
    const platform::WindowHandle window = AppRegistry.connectScreen->connectWindow.load();
    const uint32_t report = app::ConnectSelectedDevice();
    // The screen's handler may show a box; this thread waits until it is answered.
    platform::SendWindowMessage(window, report, 0, 0);
    return 0;
}
