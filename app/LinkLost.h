// The program's answer to a camera link lost after connecting.
#pragma once

class CCtpEngine;

namespace app {

// Makes `engine` show "BLUETOOTH DISCONNECTED" (string 127, caption 113) in a
// box owned by the main window and end the process with 0 when its link drops
// after connecting. The start-up sequence installs it on the program's engine.
void InstallLinkLostHandler(CCtpEngine& engine);

}  // namespace app
