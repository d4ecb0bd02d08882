// What the Bluetooth SDK needs from the stack beneath it: the known devices,
// service discovery and records, and serial-port connections. The stack
// reports completions on a thread of its own. A simulated stack serves until
// a real one is installed with SetStack or by the default source.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform::btsdk {

struct Uuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];

    friend bool operator==(const Uuid&, const Uuid&) = default;
};

inline constexpr Uuid kSerialPortUuid{
    0x00001101, 0x0000, 0x1000, {0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};

using Address = std::array<uint8_t, 6>;
using DeviceClass = std::array<uint8_t, 3>;

struct RemoteDevice {
    Address address{};
    DeviceClass deviceClass{};
    std::u16string name;  // as long as the stack has it
    bool paired = false;
};

struct ServiceRecord {
    std::u16string name;
    Uuid serviceClass{};
    uint8_t channel = 0;
};

struct ClientStateReport {
    Address address{};
    DeviceClass deviceClass{};
    std::u16string name;
    int comPort = 0;
    int state = 0;  // CSppClient's state codes
};

// Identifies one serial-port client towards the stack.
using ClientId = uint64_t;

class BtStack {
public:
    virtual ~BtStack() = default;

    // An interface object was created or destroyed.
    virtual void InterfaceOpened() = 0;
    virtual void InterfaceClosed() = 0;

    // The devices the stack knows, paired or not, in its own order.
    virtual std::vector<RemoteDevice> KnownDevices() = 0;

    // Starts a service discovery; `complete` runs on the stack's thread when
    // it ends. False when no discovery was started (then `complete` never runs).
    virtual bool StartDiscovery(const Address& address, const Uuid* serviceFilter,
                                std::function<void()> complete) = 0;
    // The device's known service records of that class (null: any), at most `max`.
    virtual std::vector<ServiceRecord> ServiceRecords(const Address& address, const Uuid* service,
                                                      size_t max) = 0;

    // Connects the client to the named serial-port service of the device.
    // Returns a CSppClient result code; with kSuccess, `notify` runs on the
    // stack's thread when the connection is up or has failed.
    virtual int CreateConnection(ClientId client, const Address& address,
                                 std::u16string_view serviceName,
                                 std::function<void(const ClientStateReport&)> notify) = 0;
    virtual int RemoveConnection(ClientId client) = 0;

    virtual void ShutDown() = 0;
};

// The stack in use: the one installed last, else the default source's, else
// the simulated one.
std::shared_ptr<BtStack> CurrentStack();
// Installs a stack; null goes back to the default.
void SetStack(std::shared_ptr<BtStack> stack);
// Where the default stack comes from, asked while no stack is installed:
// start-up installs the Bluetooth backend's choice here. Without a source, or
// when it answers null, the simulated stack serves.
using StackSource = std::shared_ptr<BtStack> (*)();
void SetDefaultStackSource(StackSource source);

}  // namespace platform::btsdk
