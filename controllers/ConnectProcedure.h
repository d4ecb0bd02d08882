// The connect procedure's work, apart from the thread and the screen it
// reports to: the selected device's port through the device source that
// start-up made, the exchange engine started on it, and the handshake.
#pragma once

#include <cstdint>

namespace app {

// Opens the port of the device selected in AppRegistry's device source,
// starts AppRegistry's engine on it and asks the mode controller for the
// camera's mode once. Returns the message to report: WM_CONNECTED (the
// engine has left its connecting state), WM_CONNECT_TIMEOUT or
// WM_CONNECT_FAILED (the port of a failed handshake is closed again).
uint32_t ConnectSelectedDevice();

}  // namespace app
