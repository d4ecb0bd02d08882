// The device root: the host folder that stands for the handset's file system,
// its serial device links (dev/) and its registry (registry/).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// `$CAMORA_DEVICE_ROOT`, else `$XDG_DATA_HOME/camora-controller`, else
// `~/.local/share/camora-controller`. The only place the platform reads the environment.
const std::string& DeviceRoot();

// Test and simulator support: use another device root from now on.
void OverrideDeviceRoot(std::string hostPath);

// Joins a relative host path (forward slashes) below the device root.
std::string DeviceRootPath(std::string_view relative);

}  // namespace platform
