// The Bluetooth daemon's paired devices in the registry layout that the
// device discovery reads:
//
//   Software\Microsoft\Bluetooth                    (there when an adapter is)
//     Device\<address key>          value "name"    (alias, else name)
//       Services\<UUID>                             (one per service UUID)
//     Serial\Ports\0000<address key> value "Port"   (serial-port devices only)
//
// The address key is the address's 12 hex digits in lower case. Ports are
// named as PortNames.h says; a port that is not an RFCOMM terminal is bound
// (PortBindings.h) so that opening it connects the serial-port profile. The
// device list is fetched anew whenever the Bluetooth or Device key is opened.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/bluez/BluezClient.h"
#include "platform/registry/Registry.h"

namespace platform::bluez {

class BluezRegistryView final : public RegistryView {
public:
    explicit BluezRegistryView(std::shared_ptr<BluezClient> client,
                               std::string ttyClass = "/sys/class/tty");
    ~BluezRegistryView() override;

    bool HasKey(RegistryRoot root, std::u16string_view path) override;
    std::vector<std::u16string> Subkeys(RegistryRoot root, std::u16string_view path) override;
    std::optional<std::u16string> StringValue(RegistryRoot root, std::u16string_view path,
                                              std::u16string_view name) override;

    // "0a1b2c3d4e5f" for 0A:1B:2C:3D:4E:5F.
    static std::u16string AddressKey(const std::string& address);

private:
    struct Entry {
        Device device;
        std::u16string key;
        std::u16string port;  // empty without the serial-port service
    };
    struct State {
        bool hasAdapter = false;
        std::vector<Entry> entries;  // paired devices in address-key order
    };
    // What a path names; `entry` points into `state` for device paths.
    enum class Kind {
        None,
        Plain,
        Bluetooth,
        DeviceList,
        Device,
        Services,
        Service,
        Serial,
        PortList,
        Port
    };
    struct Resolved {
        Kind kind = Kind::None;
        const Entry* entry = nullptr;
    };

    Resolved ResolveLocked(std::u16string_view path, bool refresh);
    void RefreshLocked();

    const std::shared_ptr<BluezClient> client_;
    const std::string ttyClass_;
    const uint64_t owner_;
    std::mutex lock_;
    std::optional<State> state_;  // guarded by lock_
};

}  // namespace platform::bluez
