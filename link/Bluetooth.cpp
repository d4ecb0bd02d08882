#include "link/Bluetooth.h"

#include <cstring>
#include <memory>

#include "link/FieldText.h"
#include "platform/registry/Registry.h"

namespace {

using platform::RegistryKey;
using platform::RegistryResult;
using platform::RegistryRoot;

constexpr std::u16string_view kStackKey = u"Software\\Microsoft\\Bluetooth";
constexpr std::u16string_view kDeviceKey = u"Software\\Microsoft\\Bluetooth\\Device";
constexpr std::u16string_view kPortsKey = u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\0000";
constexpr std::u16string_view kSerialPortService = u"00001101-0000-1000-8000-00805f9b34fb";
// Registry key names are at most 255 characters.
constexpr uint32_t kKeyNameUnits = 256;

std::unique_ptr<RegistryKey> OpenKey(std::u16string_view path) {
    return RegistryKey::Open(RegistryRoot::LocalMachine, path);
}

// A UUID is hexadecimal, so its letter case carries no meaning.
bool SameUuid(std::u16string_view a, std::u16string_view b) {
    auto fold = [](char16_t c) {
        return (c >= u'A' && c <= u'F') ? static_cast<char16_t>(c - u'A' + u'a') : c;
    };
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (fold(a[i]) != fold(b[i])) {
            return false;
        }
    }
    return true;
}

// The name of subkey `index`: NoMoreItems past the last one, MoreData for a
// name longer than registry names may be.
RegistryResult SubkeyName(RegistryKey& key, uint32_t index, std::u16string& name) {
    char16_t buffer[kKeyNameUnits];
    uint32_t units = kKeyNameUnits;
    const RegistryResult r = key.EnumSubkey(index, buffer, &units);
    if (r == RegistryResult::Ok) {
        name.assign(buffer, units);
    }
    return r;
}

// A string value, asked for its size first and then read into a buffer of
// that size, whatever its length; empty when there is no such value.
std::u16string ReadString(RegistryKey& key, std::u16string_view valueName) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        uint32_t units = 0;
        if (key.QueryString(valueName, nullptr, &units) != RegistryResult::Ok || units == 0) {
            return {};
        }
        std::u16string data(units, u'\0');
        const RegistryResult r = key.QueryString(valueName, data.data(), &units);
        if (r == RegistryResult::Ok) {
            return data.substr(0, data.find(u'\0'));
        }
        if (r != RegistryResult::MoreData) {  // else it grew in between: ask again
            return {};
        }
    }
    return {};
}

// True when the device's services include the serial-port service, tried in order.
bool OffersSerialPort(const std::u16string& deviceKeyName) {
    std::u16string services(kDeviceKey);
    services += u'\\';
    services += deviceKeyName;
    services += u"\\Services\\";
    for (uint32_t j = 0;; ++j) {
        auto key = OpenKey(services);
        if (!key) {
            return false;
        }
        std::u16string service;
        const RegistryResult r = SubkeyName(*key, j, service);
        key.reset();
        if (r == RegistryResult::NoMoreItems) {
            return false;
        }
        if (r == RegistryResult::Ok && SameUuid(service, kSerialPortService)) {
            return true;
        }
    }
}

template <size_t N>
void Store(char16_t (&field)[N], std::u16string_view text) {
    fieldtext::Store(field, N, text);
}

template <size_t N>
std::u16string Text(const char16_t (&field)[N]) {
    return fieldtext::Read(field, N);
}

}  // namespace

CBluetooth::CBluetooth() : devices_{}, selected_{} {}

CBluetooth::~CBluetooth() = default;

int CBluetooth::IsAvailable() const {
    return OpenKey(kStackKey) ? 1 : 0;
}

void CBluetooth::EnumerateDevices() {
    ScanDevices();
    LookUpPorts();
}

void CBluetooth::ScanDevices() {
    auto deviceKey = OpenKey(kDeviceKey);
    if (!deviceKey) {
        return;
    }
    int next = 0;
    for (uint32_t i = 0; next < kDeviceCount; ++i) {
        std::u16string subkey;
        const RegistryResult r = SubkeyName(*deviceKey, i, subkey);
        if (r == RegistryResult::NoMoreItems) {
            break;
        }
        if (r != RegistryResult::Ok || !OffersSerialPort(subkey)) {
            continue;
        }
        std::u16string path(kDeviceKey);
        path += u'\\';
        path += subkey;
        auto device = OpenKey(path);
        if (!device) {
            continue;
        }
        const std::u16string name = ReadString(*device, u"name");
        device.reset();
        DeviceEntry& entry = devices_[next++];
        Store(entry.addressKey, subkey);
        Store(entry.name, name);
        // The port lookup fills the port in; an earlier device's port must not
        // stay with this one when it has none.
        Store(entry.port, u"");
    }
}

void CBluetooth::LookUpPorts() {
    for (DeviceEntry& entry : devices_) {
        if (entry.addressKey[0] == u'\0') {
            continue;
        }
        std::u16string path(kPortsKey);
        path += Text(entry.addressKey);
        if (auto key = OpenKey(path)) {
            Store(entry.port, ReadString(*key, u"Port"));
        }
    }
}

void CBluetooth::GetDevice(int index, std::u16string& name, std::u16string& port) const {
    if (index < 0 || index >= kDeviceCount) {
        name.clear();
        port.clear();
        return;
    }
    name = Text(devices_[index].name);
    port = Text(devices_[index].port);
}

void CBluetooth::SelectDevice(std::u16string_view name) {
    for (const DeviceEntry& entry : devices_) {
        if (Text(entry.name) == name) {
            selected_ = entry;
            return;
        }
    }
}

void CBluetooth::GetDeviceAddress(int index, std::u16string& address) const {
    address = index >= 0 && index < kDeviceCount ? Text(devices_[index].addressKey) : u"";
}

void CBluetooth::SelectEntry(int index) {
    if (index >= 0 && index < kDeviceCount) {
        selected_ = devices_[index];
    }
}

void CBluetooth::GetSelectedName(std::u16string& name) const {
    name = Text(selected_.name);
}

int CBluetooth::OpenPort() {
    const std::u16string portName = Text(selected_.port) + u":";
    if (auto port = platform::SerialPort::Open(portName)) {
        portHandle_ = std::move(port);
    }
    return 1;
}

platform::PortHandle CBluetooth::GetPortHandle() const {
    return portHandle_;
}
