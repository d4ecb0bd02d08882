// A Bluetooth stack described by a file in the device root, for tests and
// the demo. It reads `<device root>/bluetooth/stack.ini` whenever an
// interface object is created:
//
//   [stack]
//   discovery = completes        ; completes | never | refused
//   discovery-delay-ms = 0
//
//   [device]                      ; one section per known device, in list order
//   address = 00:11:22:33:44:55
//   name = CAMORA HD              ; UTF-8, any length
//   class = 20 04 14              ; three hex bytes
//   paired = yes
//   serial-port = yes             ; offers the serial-port service
//   service-name = Serial Port
//   com-port = 4                  ; the port the state change reports
//   connect-result = 0            ; what CreateConnection returns
//   connect-state = 0             ; the state code the notification carries
//   connect-notifies = yes        ; whether that notification comes at all
//   connect-delay-ms = 0
//
// Lines starting with '#' or ';' are comments. Notifications are delivered
// on the stack's own thread after their delay (on the scaled clock).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/btsdk/BtStack.h"

namespace platform::btsdk {

struct SimulatedDevice {
    RemoteDevice device;
    bool serialPort = true;
    std::u16string serviceName = u"Serial Port";
    int comPort = 0;
    int connectResult = 0;
    int connectState = 0;
    bool connectNotifies = true;
    uint32_t connectDelayMs = 0;
};

struct SimulatedDescription {
    enum class Discovery { Completes, Never, Refused };
    Discovery discovery = Discovery::Completes;
    uint32_t discoveryDelayMs = 0;
    std::vector<SimulatedDevice> devices;
};

// Parses the text of a stack file.
SimulatedDescription ParseStackDescription(const std::string& text);

// "00:11:22:33:44:55"
std::string FormatAddress(const Address& address);

class SimulatedStack final : public BtStack {
public:
    // The process's simulated stack (never destroyed: its thread may outlive everything).
    static SimulatedStack& Instance();

    void InterfaceOpened() override;
    void InterfaceClosed() override;
    std::vector<RemoteDevice> KnownDevices() override;
    bool StartDiscovery(const Address& address, const Uuid* serviceFilter,
                        std::function<void()> complete) override;
    std::vector<ServiceRecord> ServiceRecords(const Address& address, const Uuid* service,
                                              size_t max) override;
    int CreateConnection(ClientId client, const Address& address, std::u16string_view serviceName,
                         std::function<void(const ClientStateReport&)> notify) override;
    int RemoveConnection(ClientId client) override;
    void ShutDown() override;

    // Test support: what the SDK asked of the stack, one line per call or
    // delivered notification ("StartDiscovery 00:11:22:33:44:55", ...).
    std::vector<std::string> Log() const;
    // Test support: forgets the log and every connection; notifications still
    // pending are dropped.
    void Reset();
    // Test support: how many interface objects exist now.
    int OpenInterfaces() const;
    // Test support: waits until no notification is pending (real milliseconds).
    bool WaitIdle(uint32_t timeoutMs) const;

private:
    SimulatedStack();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace platform::btsdk
