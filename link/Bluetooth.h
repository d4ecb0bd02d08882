// The device source on handsets with the registry-based stack: lists the
// paired devices that offer the serial-port service, finds the COM port the
// stack assigned to each, selects one by name and opens its port.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/serial/SerialPort.h"

class CBluetooth {
public:
    static constexpr int kDeviceCount = 100;
    // 35 characters and the terminator.
    static constexpr size_t kFieldLength = 36;

    struct DeviceEntry {
        char16_t addressKey[kFieldLength];  // the device's key name under ...\Bluetooth\Device
        char16_t name[kFieldLength];        // its "name" value
        char16_t port[kFieldLength];        // its "Port" value, e.g. COM8
    };

    CBluetooth();
    virtual ~CBluetooth();
    CBluetooth(const CBluetooth&) = delete;
    CBluetooth& operator=(const CBluetooth&) = delete;

    // 1 when the stack's key "Software\Microsoft\Bluetooth" exists, else 0.
    int IsAvailable() const;
    // The device scan, then the port lookup. Entries after the last device
    // found keep their earlier contents; devices beyond the table are left out.
    void EnumerateDevices();
    // The name and port of entry `index` (0 to 99); empty outside that range.
    void GetDevice(int index, std::u16string& name, std::u16string& port) const;
    // Selects the first entry whose name equals `name` (letter case counts);
    // with no match the selection stays as it was.
    void SelectDevice(std::u16string_view name);
    void GetSelectedName(std::u16string& name) const;
    // For camora-remote, which must reach each of two devices of one name:
    // the address of entry `index` as the stack keys it (e.g. 0a1b2c3d4e5f,
    // empty outside the table), and selecting that very entry.
    void GetDeviceAddress(int index, std::u16string& address) const;
    void SelectEntry(int index);
    // Opens the selected entry's port ("COM8" is opened as "COM8:") and keeps
    // it in GetPortHandle when that succeeds. 1 always.
    int OpenPort();
    // The port opened last; null while none was opened.
    platform::PortHandle GetPortHandle() const;

private:
    void ScanDevices();
    void LookUpPorts();

    DeviceEntry devices_[kDeviceCount];
    DeviceEntry selected_;
    platform::PortHandle portHandle_;
};
