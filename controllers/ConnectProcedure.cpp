#include "controllers/ConnectProcedure.h"

#include "controllers/CamModeController.h"
#include "core/AppRegistry.h"
#include "ctp/CtpEngine.h"
#include "link/DeviceSource.h"
#include "resources/ResourceIds.h"

namespace app {

namespace {

// The port of the selected device, or null when none could be opened.
platform::PortHandle OpenSelectedPort() {
    const platform::PortHandle port = WithDeviceSource(
        [](auto& source) -> platform::PortHandle {
            if (source.OpenPort() != 1) {
                return nullptr;
            }
            return source.GetPortHandle();
        },
        platform::PortHandle{});
    // Both sources keep the port of an earlier attempt when this open fails;
    // that one was closed after its failed handshake and is no link at all.
    if (port == nullptr || !port->IsOpen()) {
        return nullptr;
    }
    return port;
}

}  // namespace

uint32_t ConnectSelectedDevice() {
    const platform::PortHandle port = OpenSelectedPort();
    if (port == nullptr) {
        return WM_CONNECT_FAILED;
    }
    AppRegistry.ctpEngine->Start(port);
    switch (AppRegistry.modeController->QueryMode()) {
        case 1:
            AppRegistry.ctpEngine->SetConnecting(0);
            return WM_CONNECTED;
        case 0:
            port->Close();
            return WM_CONNECT_TIMEOUT;
        default:
            port->Close();
            return WM_CONNECT_FAILED;
    }
}

}  // namespace app
