// A small client of the system's Bluetooth daemon on the system bus: the
// adapters and devices it knows (GetManagedObjects), and the serial-port
// service of a device connected through the profile API, which hands the
// connected RFCOMM socket over as a file descriptor. Needs no privileges.
#pragma once

#include <systemd/sd-bus.h>

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform::bluez {

inline constexpr const char* kSerialPortUuid = "00001101-0000-1000-8000-00805f9b34fb";

struct Device {
    std::string path;     // the daemon's object path
    std::string address;  // "00:11:22:33:44:55"
    std::string name;     // its alias, else its name
    uint32_t deviceClass = 0;
    bool paired = false;
    std::vector<std::string> uuids;  // lower case

    bool OffersSerialPort() const;
};

struct Snapshot {
    bool answered = false;        // the daemon replied
    bool hasAdapter = false;      // at least one adapter is there
    std::vector<Device> devices;  // in the daemon's object order
};

struct ClientTimeouts {
    uint32_t callMs = 3000;  // an ordinary method call
    // Paging a device, its service lookup and the RFCOMM set-up together.
    uint32_t connectMs = 15000;
};

class BluezClient {
public:
    explicit BluezClient(ClientTimeouts timeouts = {});
    ~BluezClient();
    BluezClient(const BluezClient&) = delete;
    BluezClient& operator=(const BluezClient&) = delete;

    // Every adapter and device, fresh from the daemon. `answered` false when
    // the bus or the daemon is not there.
    Snapshot GetManagedObjects();

    // Connects the device's serial-port service and returns the connected
    // socket, which the caller then owns; -1 on failure (out of range,
    // refused, no answer in time) with the reason in *error when given.
    int ConnectSerialPort(const std::string& devicePath, std::string* error = nullptr);
    // Ends the device's serial-port connection on the daemon's side.
    void DisconnectSerialPort(const std::string& devicePath);

private:
    struct CallResult {
        bool ok = false;
        std::string errorName;
        std::string errorMessage;
    };

    sd_bus* CallBusLocked();
    CallResult CallDeviceLocked(const std::string& devicePath, const char* method,
                                uint32_t timeoutMs);
    bool EnsureProfile(std::string* error);
    void StopServing();
    void Serve();
    int TakeConnection(const std::string& devicePath);
    void DropConnection(const std::string& devicePath);

    static const sd_bus_vtable* ProfileVtable();
    static int OnNewConnection(sd_bus_message* m, void* self, sd_bus_error* error);
    static int OnRequestDisconnection(sd_bus_message* m, void* self, sd_bus_error* error);
    static int OnRelease(sd_bus_message* m, void* self, sd_bus_error* error);
    bool FromDaemon(sd_bus_message* m);

    const ClientTimeouts timeouts_;

    // Method calls from the program's threads, one at a time.
    std::mutex callLock_;
    sd_bus* call_ = nullptr;

    // The connection that exports the profile object; after registration only
    // the serving thread touches it, until StopServing joins that thread.
    std::mutex profileLock_;
    sd_bus* serve_ = nullptr;
    sd_bus_slot* slot_ = nullptr;
    std::thread server_;
    int wake_ = -1;  // eventfd that stops the serving thread

    // Filled by the serving thread, taken by ConnectSerialPort.
    std::mutex connectionsLock_;
    std::condition_variable connectionArrived_;
    std::map<std::string, int> connections_;  // device path -> socket not yet taken
    std::string daemonName_;                  // unique bus name of the daemon
    bool registered_ = false;                 // the profile is registered and served
};

}  // namespace platform::bluez
