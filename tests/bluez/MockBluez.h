// A Bluetooth daemon for tests: a private message bus of its own
// (dbus-daemon) with python-dbusmock's bluez5 template and the project's
// profile additions (bluez_profiles.py), both started here and stopped by
// the destructor. DBUS_SYSTEM_BUS_ADDRESS names the private bus while the
// object lives, so the code under test never reaches the machine's own bus.
#pragma once

#include <systemd/sd-bus.h>

#include <string>
#include <vector>

#include "testkit/ChildProcess.h"

namespace blueztest {

class MockBluez {
public:
    MockBluez();
    ~MockBluez();
    MockBluez(const MockBluez&) = delete;
    MockBluez& operator=(const MockBluez&) = delete;

    // Empty when it runs; else why not (python3-dbusmock missing, ...).
    const std::string& Unavailable() const { return unavailable_; }
    const std::string& Address() const { return address_; }

    // The adapter hci0.
    void AddAdapter();
    void RemoveAdapter();
    // An unpaired device on hci0; returns its object path.
    std::string AddDevice(const std::string& address, const std::string& name);
    // Removes the device (as unpairing it in the system's settings does).
    void RemoveDevice(const std::string& address);
    // Pairs it as a camcorder (class 20 04 04); its services become `uuids`.
    void Pair(const std::string& address, const std::vector<std::string>& uuids);
    void SetUuids(const std::string& path, const std::vector<std::string>& uuids);
    // The socket its next ConnectProfile hands over (a copy is passed; the caller keeps `fd`).
    void SetSerialLink(const std::string& path, int fd);
    // connects | out-of-range | refused | silent | no-connection
    void SetConnectBehaviour(const std::string& path, const std::string& mode);
    std::vector<std::string> RegisteredProfiles();
    void ReleaseProfiles();

    static std::string DevicePath(const std::string& address);

private:
    void Call(const char* method, const char* signature, ...);

    std::string unavailable_;
    std::string address_;
    testsupport::ChildProcess daemon_;
    testsupport::ChildProcess mock_;
    sd_bus* bus_ = nullptr;
};

inline constexpr const char* kSerialPortUuid = "00001101-0000-1000-8000-00805f9b34fb";
inline constexpr const char* kHandsFreeUuid = "0000111e-0000-1000-8000-00805f9b34fb";
inline constexpr const char* kAudioSinkUuid = "0000110b-0000-1000-8000-00805f9b34fb";

}  // namespace blueztest
