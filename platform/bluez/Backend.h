// Which Bluetooth the platform serves: the system's Bluetooth daemon or the
// device root's stand-ins (the registry folder tree and the stack file
// bluetooth/stack.ini). Chosen by `<device root>/bluetooth.conf`,
// "key=value" lines ('#' starts a comment line):
//   backend=auto|bluez|simulated   auto when the file or the key is missing:
//                                  the daemon when org.bluez answers on the
//                                  system bus, else the stand-ins
//   connect_timeout_ms=15000       bound on connecting a device's serial port
// The choice is made once per device root and configuration.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/registry/Registry.h"

namespace platform::bluez {

class BluezClient;

struct BluetoothConfig {
    enum class Backend { Auto, Bluez, Simulated };
    Backend backend = Backend::Auto;
    uint32_t connectTimeoutMs = 15000;
};

BluetoothConfig ParseBluetoothConfig(std::string_view text);
BluetoothConfig LoadBluetoothConfig();

// The daemon's client when the rule picks the daemon; null for the stand-ins.
std::shared_ptr<BluezClient> ChosenBluezClient();

// The registry view the rule picks: the daemon's devices or the folder tree.
std::shared_ptr<RegistryView> ChosenRegistryView();

}  // namespace platform::bluez
