// Which Bluetooth the platform serves: the system's Bluetooth daemon or the
// device root's stand-ins (the registry folder tree and the stack file
// bluetooth/stack.ini). Chosen by `<device root>/bluetooth.conf`,
// "key=value" lines ('#' starts a comment line):
//   backend=auto|bluez|simulated   auto when the file or the key is missing:
//                                  the daemon when org.bluez answers on the
//                                  system bus, else the stand-ins
//   connect_timeout_ms=15000       bound on connecting a device's serial port
// The choice is made once per device root and configuration. It sits above
// the registry, the SDK and the daemon's client, so that those three know
// nothing of one another: start-up installs it as their default.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/btsdk/BtStack.h"
#include "platform/registry/Registry.h"

namespace platform::bluez {
class BluezClient;
}

namespace platform::bluetooth {

struct BluetoothConfig {
    enum class Backend { Auto, Bluez, Simulated };
    Backend backend = Backend::Auto;
    uint32_t connectTimeoutMs = 15000;
};

BluetoothConfig ParseBluetoothConfig(std::string_view text);
BluetoothConfig LoadBluetoothConfig();

// The daemon's client when the rule picks the daemon; null for the stand-ins.
std::shared_ptr<bluez::BluezClient> ChosenBluezClient();

// The registry view the rule picks: the daemon's devices or the folder tree.
std::shared_ptr<RegistryView> ChosenRegistryView();

// The stack the rule picks: the daemon's or null (then the simulated stack
// serves).
std::shared_ptr<btsdk::BtStack> ChosenBluezStack();

// Makes the rule the default of the registry and of the SDK (what serves
// while no view or stack is installed). Start-up calls it; without it the
// folder tree and the simulated stack serve.
void InstallBluetoothBackend();

}  // namespace platform::bluetooth
