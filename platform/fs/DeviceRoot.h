// The device root: the host folder that stands for the handset's file system,
// its serial device links (dev/) and its registry (registry/); and the
// user's pictures folder, which stands for the handset's picture folder.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// `$CAMORA_DEVICE_ROOT`, else `$XDG_DATA_HOME/camora-controller`, else
// `~/.local/share/camora-controller`. The only place the platform reads the environment.
const std::string& DeviceRoot();

// Test and simulator support: use another device root from now on.
void OverrideDeviceRoot(std::string hostPath);

// The user's pictures folder on the host: XDG_PICTURES_DIR of
// `$XDG_CONFIG_HOME/user-dirs.dirs` (`~/.config/user-dirs.dirs`), else
// `~/Pictures`. Read once.
const std::string& PicturesFolder();

// Test support: use another pictures folder from now on (empty: the user's again).
void OverridePicturesFolder(std::string hostPath);

// The pictures folder that a user-dirs.dirs text names, for the home folder
// `home`: "$HOME/..." and absolute values are taken, quotes removed; a
// missing, relative or disabled ("$HOME", "$HOME/") entry gives home/Pictures.
std::string PicturesFolderFromUserDirs(std::string_view userDirs, std::string_view home);

// Creates the device root when it is missing (its parents as usual), open
// to its user alone: it holds the link lock and the private sockets.
void EnsureDeviceRoot();

// Joins a relative host path (forward slashes) below the device root.
std::string DeviceRootPath(std::string_view relative);

}  // namespace platform
