#include "platform/bluez/BluezStack.h"

#include <unistd.h>

#include <cstdio>

#include "platform/bluez/PortNames.h"
#include "platform/serial/PortBindings.h"
#include "platform/sys/Syscall.h"
#include "platform/text/Text.h"

namespace platform::bluez {
namespace {

constexpr int kSuccess = 0;
constexpr int kAlreadyConnected = 2;
constexpr int kFailed = 3;
constexpr int kStateConnected = 0;
constexpr int kStateConnectFailed = 2;

btsdk::DeviceClass ClassBytes(uint32_t value) {
    return {static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value)};
}

// Hands a connected socket to the port's first open only.
class OneShotSocket {
public:
    explicit OneShotSocket(int fd) : fd_(fd) {}
    ~OneShotSocket() {
        if (fd_ >= 0) {
            platform::sys::Close(fd_, "closing a Bluetooth socket");
        }
    }
    OneShotSocket(const OneShotSocket&) = delete;
    OneShotSocket& operator=(const OneShotSocket&) = delete;
    int Take() {
        std::lock_guard lock(lock_);
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    std::mutex lock_;
    int fd_;  // guarded by lock_
};

}  // namespace

BluezStack::BluezStack(std::shared_ptr<BluezClient> client)
    : client_(std::move(client)), owner_(NewPortOwner()), worker_([this] { Run(); }) {}

BluezStack::~BluezStack() {
    {
        std::lock_guard lock(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    worker_.join();
    UnbindPorts(owner_);
}

bool BluezStack::ParseAddress(const std::string& text, btsdk::Address* address) {
    unsigned b[6] = {};
    char tail = 0;
    if (text.size() != 17 || std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &b[0], &b[1],
                                         &b[2], &b[3], &b[4], &b[5], &tail) != 6) {
        return false;
    }
    for (size_t i = 0; i < 6; ++i) {
        (*address)[i] = static_cast<uint8_t>(b[i]);
    }
    return true;
}

std::vector<btsdk::RemoteDevice> BluezStack::KnownDevices() {
    std::vector<btsdk::RemoteDevice> devices;
    for (const Device& d : client_->GetManagedObjects().devices) {
        btsdk::RemoteDevice r;
        if (!ParseAddress(d.address, &r.address)) {
            continue;
        }
        r.deviceClass = ClassBytes(d.deviceClass);
        r.name = Utf8ToUtf16(d.name);
        r.paired = d.paired;
        devices.push_back(std::move(r));
    }
    return devices;
}

bool BluezStack::FindDevice(const btsdk::Address& address, Device* device) {
    for (Device& d : client_->GetManagedObjects().devices) {
        btsdk::Address a{};
        if (ParseAddress(d.address, &a) && a == address) {
            *device = std::move(d);
            return true;
        }
    }
    return false;
}

bool BluezStack::StartDiscovery(const btsdk::Address&, const btsdk::Uuid*,
                                std::function<void()> complete) {
    // The daemon keeps each device's services up to date: the discovery has
    // nothing to wait for, and completes on the stack's thread as the SDK's does.
    Post(std::move(complete));
    return true;
}

std::vector<btsdk::ServiceRecord> BluezStack::ServiceRecords(const btsdk::Address& address,
                                                             const btsdk::Uuid* service,
                                                             size_t max) {
    std::vector<btsdk::ServiceRecord> records;
    Device device;
    if (max > 0 && (service == nullptr || *service == btsdk::kSerialPortUuid) &&
        FindDevice(address, &device) && device.OffersSerialPort()) {
        records.push_back(btsdk::ServiceRecord{u"Serial Port", btsdk::kSerialPortUuid, 0});
    }
    return records;
}

int BluezStack::CreateConnection(btsdk::ClientId client, const btsdk::Address& address,
                                 std::u16string_view,
                                 std::function<void(const btsdk::ClientStateReport&)> notify) {
    {
        std::lock_guard lock(lock_);
        if (connections_.count(client) != 0) {
            return kAlreadyConnected;
        }
    }
    Device device;
    if (!FindDevice(address, &device) || !device.paired || !device.OffersSerialPort()) {
        return kFailed;
    }
    Post([this, client, address, device, notify = std::move(notify)] {
        btsdk::ClientStateReport report{address, ClassBytes(device.deviceClass),
                                        Utf8ToUtf16(device.name), 0, kStateConnectFailed};
        const int fd = client_->ConnectSerialPort(device.path);
        const int number = fd >= 0 ? StablePortNumber(device.address) : -1;
        if (number >= 0) {
            const std::u16string port = PortName(number);
            auto socket = std::make_shared<OneShotSocket>(fd);
            BindPort(port, owner_, [socket] { return socket->Take(); });
            {
                std::lock_guard lock(lock_);
                connections_[client] = Connection{device.path, port};
            }
            report.comPort = number;
            report.state = kStateConnected;
        } else if (fd >= 0) {
            platform::sys::Close(fd, "closing a Bluetooth connection");
        }
        notify(report);
    });
    return kSuccess;
}

int BluezStack::RemoveConnection(btsdk::ClientId client) {
    Connection connection;
    {
        std::lock_guard lock(lock_);
        auto it = connections_.find(client);
        if (it == connections_.end()) {
            return 1;
        }
        connection = it->second;
        connections_.erase(it);
    }
    UnbindPort(connection.port, owner_);
    client_->DisconnectSerialPort(connection.devicePath);
    return 0;
}

void BluezStack::Post(std::function<void()> work) {
    {
        std::lock_guard lock(lock_);
        queue_.push_back(std::move(work));
    }
    changed_.notify_all();
}

void BluezStack::Run() {
    std::unique_lock lock(lock_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;  // stopping with nothing left to deliver
        }
        auto work = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        work();
        lock.lock();
    }
}

}  // namespace platform::bluez
