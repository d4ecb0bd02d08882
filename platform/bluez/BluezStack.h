// The Bluetooth SDK's stack over the system's Bluetooth daemon: the known
// devices with their paired flag, the serial-port service read from a
// device's UUIDs, and serial-port connections made through the profile API.
// A connected socket is bound to the device's stable port name
// (PortNames.h), whose number the state-change notification reports; the
// port's first open takes the socket. Completions and notifications run on
// a thread of the stack's own, in order.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/bluez/BluezClient.h"
#include "platform/btsdk/BtStack.h"

namespace platform::bluez {

class BluezStack final : public btsdk::BtStack {
public:
    explicit BluezStack(std::shared_ptr<BluezClient> client);
    ~BluezStack() override;

    void InterfaceOpened() override {}
    void InterfaceClosed() override {}
    std::vector<btsdk::RemoteDevice> KnownDevices() override;
    bool StartDiscovery(const btsdk::Address& address, const btsdk::Uuid* serviceFilter,
                        std::function<void()> complete) override;
    std::vector<btsdk::ServiceRecord> ServiceRecords(const btsdk::Address& address,
                                                     const btsdk::Uuid* service,
                                                     size_t max) override;
    int CreateConnection(btsdk::ClientId client, const btsdk::Address& address,
                         std::u16string_view serviceName,
                         std::function<void(const btsdk::ClientStateReport&)> notify) override;
    int RemoveConnection(btsdk::ClientId client) override;
    void ShutDown() override {}

    // "00:11:22:33:44:55" into bytes, in the order written; false when malformed.
    static bool ParseAddress(const std::string& text, btsdk::Address* address);

private:
    struct Connection {
        std::string devicePath;
        std::u16string port;
    };

    bool FindDevice(const btsdk::Address& address, Device* device);
    void Post(std::function<void()> work);
    void Run();

    const std::shared_ptr<BluezClient> client_;
    const uint64_t owner_;

    std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> queue_;            // guarded by lock_
    bool stopping_ = false;                              // guarded by lock_
    std::map<btsdk::ClientId, Connection> connections_;  // guarded by lock_
    std::thread worker_;
};

}  // namespace platform::bluez
