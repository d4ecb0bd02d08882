// The device directory as the connection screens see it: whichever device
// source start-up made (the link loader or the registry-based one), through
// the operations both offer under the same names.
#pragma once

#include <string>
#include <string_view>

namespace ui {

// 1 when the handset's Bluetooth can be used; 0 also when start-up made no source.
int DeviceSourceIsAvailable();
// The name and port text of directory entry `index` (0 to 99); empty when it
// holds no device.
void DeviceSourceGetDevice(int index, std::u16string& name, std::u16string& portText);
// Selects the first entry named `name`; no match leaves the selection as it was.
void DeviceSourceSelectDevice(std::u16string_view name);
std::u16string DeviceSourceSelectedName();

// How many directory entries the select screen examines.
inline constexpr int kDeviceDirectorySize = 100;

}  // namespace ui
