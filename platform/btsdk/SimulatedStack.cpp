#include "platform/btsdk/SimulatedStack.h"

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "platform/fs/DeviceRoot.h"
#include "platform/kernel/Kernel.h"
#include "platform/text/Text.h"

namespace platform::btsdk {
namespace {

using Clock = std::chrono::steady_clock;

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    const size_t last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

bool ParseBool(const std::string& value) {
    const std::string v = Lower(value);
    return v == "yes" || v == "true" || v == "1" || v == "on";
}

int ParseInt(const std::string& value) {
    return static_cast<int>(std::strtol(value.c_str(), nullptr, 0));
}

uint32_t ParseDelay(const std::string& value) {
    const long v = std::strtol(value.c_str(), nullptr, 0);
    return v > 0 ? static_cast<uint32_t>(v) : 0u;
}

// Reads `count` bytes of hex digits, separators ignored; false when there are not exactly that
// many.
bool ParseHexBytes(const std::string& value, uint8_t* out, size_t count) {
    std::string digits;
    for (char c : value) {
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits += c;
        }
    }
    if (digits.size() != count * 2) {
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        out[i] = static_cast<uint8_t>(std::strtoul(digits.substr(i * 2, 2).c_str(), nullptr, 16));
    }
    return true;
}

void ApplyStackKey(SimulatedDescription& d, const std::string& key, const std::string& value) {
    if (key == "discovery") {
        const std::string v = Lower(value);
        d.discovery = v == "never"     ? SimulatedDescription::Discovery::Never
                      : v == "refused" ? SimulatedDescription::Discovery::Refused
                                       : SimulatedDescription::Discovery::Completes;
    } else if (key == "discovery-delay-ms") {
        d.discoveryDelayMs = ParseDelay(value);
    }
}

void ApplyDeviceKey(SimulatedDevice& s, const std::string& key, const std::string& value) {
    if (key == "address") {
        ParseHexBytes(value, s.device.address.data(), s.device.address.size());
    } else if (key == "name") {
        s.device.name = Utf8ToUtf16(value);
    } else if (key == "class") {
        ParseHexBytes(value, s.device.deviceClass.data(), s.device.deviceClass.size());
    } else if (key == "paired") {
        s.device.paired = ParseBool(value);
    } else if (key == "serial-port") {
        s.serialPort = ParseBool(value);
    } else if (key == "service-name") {
        s.serviceName = Utf8ToUtf16(value);
    } else if (key == "com-port") {
        s.comPort = ParseInt(value);
    } else if (key == "connect-result") {
        s.connectResult = ParseInt(value);
    } else if (key == "connect-state") {
        s.connectState = ParseInt(value);
    } else if (key == "connect-notifies") {
        s.connectNotifies = ParseBool(value);
    } else if (key == "connect-delay-ms") {
        s.connectDelayMs = ParseDelay(value);
    }
}

std::string ReadStackFile() {
    std::ifstream in(DeviceRootPath("bluetooth/stack.ini"), std::ios::binary);
    if (!in) {
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A delay of the stack, on the scaled clock like every wait of the program.
Clock::duration Scaled(uint32_t ms) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double, std::milli>(static_cast<double>(ms) / TimeScale()));
}

}  // namespace

SimulatedDescription ParseStackDescription(const std::string& text) {
    SimulatedDescription d;
    enum class Section { None, Stack, Device } section = Section::None;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == '#' || line[0] == ';') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            const std::string name = Lower(Trim(line.substr(1, line.size() - 2)));
            if (name == "device") {
                section = Section::Device;
                d.devices.emplace_back();
                d.devices.back().device.paired = true;
            } else {
                section = name == "stack" ? Section::Stack : Section::None;
            }
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        const std::string key = Lower(Trim(line.substr(0, eq)));
        std::string value = Trim(line.substr(eq + 1));
        if (section == Section::Stack) {
            ApplyStackKey(d, key, value);
        } else if (section == Section::Device) {
            ApplyDeviceKey(d.devices.back(), key, value);
        }
    }
    return d;
}

std::string FormatAddress(const Address& address) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", address[0], address[1],
                  address[2], address[3], address[4], address[5]);
    return text;
}

struct SimulatedStack::Impl {
    mutable std::mutex lock;
    mutable std::condition_variable changed;
    SimulatedDescription description;
    bool loaded = false;
    std::vector<std::string> log;
    std::map<ClientId, Address> connections;
    // Pending notifications by due time, then by the order they were posted.
    std::map<std::pair<Clock::time_point, uint64_t>, std::function<void()>> queue;
    uint64_t posted = 0;
    bool threadStarted = false;
    bool delivering = false;
    bool discoveryPending = false;
    int openInterfaces = 0;

    void LoadLocked() {
        description = ParseStackDescription(ReadStackFile());
        loaded = true;
    }

    const SimulatedDevice* FindLocked(const Address& address) {
        if (!loaded) {
            LoadLocked();
        }
        for (const auto& d : description.devices) {
            if (d.device.address == address) {
                return &d;
            }
        }
        return nullptr;
    }

    void PostLocked(uint32_t delayMs, std::function<void()> work) {
        queue.emplace(std::make_pair(Clock::now() + Scaled(delayMs), posted++), std::move(work));
        if (!threadStarted) {
            threadStarted = true;
            std::thread([this] { Run(); }).detach();
        }
        changed.notify_all();
    }

    void Run() {
        std::unique_lock l(lock);
        for (;;) {
            if (queue.empty()) {
                changed.wait(l);
                continue;
            }
            const auto due = queue.begin()->first.first;
            if (Clock::now() < due) {
                changed.wait_until(l, due);
                continue;
            }
            auto work = std::move(queue.begin()->second);
            queue.erase(queue.begin());
            delivering = true;
            l.unlock();
            work();
            l.lock();
            delivering = false;
            changed.notify_all();
        }
    }
};

SimulatedStack::SimulatedStack() : impl_(std::make_unique<Impl>()) {}

SimulatedStack& SimulatedStack::Instance() {
    static auto* stack = new SimulatedStack();
    return *stack;
}

void SimulatedStack::InterfaceOpened() {
    std::lock_guard l(impl_->lock);
    impl_->LoadLocked();
    ++impl_->openInterfaces;
    impl_->log.push_back("OpenInterface");
}

void SimulatedStack::InterfaceClosed() {
    std::lock_guard l(impl_->lock);
    --impl_->openInterfaces;
    impl_->log.push_back("CloseInterface");
}

std::vector<RemoteDevice> SimulatedStack::KnownDevices() {
    std::lock_guard l(impl_->lock);
    if (!impl_->loaded) {
        impl_->LoadLocked();
    }
    impl_->log.push_back("KnownDevices");
    std::vector<RemoteDevice> devices;
    devices.reserve(impl_->description.devices.size());
    for (const auto& d : impl_->description.devices) {
        devices.push_back(d.device);
    }
    return devices;
}

bool SimulatedStack::StartDiscovery(const Address& address, const Uuid* /*serviceFilter*/,
                                    std::function<void()> complete) {
    std::lock_guard l(impl_->lock);
    impl_->log.push_back("StartDiscovery " + FormatAddress(address));
    if (!impl_->loaded) {
        impl_->LoadLocked();
    }
    const auto mode = impl_->description.discovery;
    if (mode == SimulatedDescription::Discovery::Refused || impl_->discoveryPending) {
        return false;
    }
    if (mode == SimulatedDescription::Discovery::Completes) {
        impl_->discoveryPending = true;
        impl_->PostLocked(impl_->description.discoveryDelayMs,
                          [this, complete = std::move(complete)] {
                              {
                                  std::lock_guard inner(impl_->lock);
                                  impl_->discoveryPending = false;
                                  impl_->log.push_back("DiscoveryComplete");
                              }
                              complete();
                          });
    }
    return true;
}

std::vector<ServiceRecord> SimulatedStack::ServiceRecords(const Address& address,
                                                          const Uuid* service, size_t max) {
    std::lock_guard l(impl_->lock);
    impl_->log.push_back("ReadDiscoveryRecords " + FormatAddress(address));
    std::vector<ServiceRecord> records;
    const SimulatedDevice* d = impl_->FindLocked(address);
    if (d != nullptr && d->serialPort && max > 0 &&
        (service == nullptr || *service == kSerialPortUuid)) {
        records.push_back(ServiceRecord{d->serviceName, kSerialPortUuid, 1});
    }
    return records;
}

int SimulatedStack::CreateConnection(ClientId client, const Address& address,
                                     std::u16string_view serviceName,
                                     std::function<void(const ClientStateReport&)> notify) {
    constexpr int kSuccess = 0, kAlreadyConnected = 2, kFailed = 3;
    std::lock_guard l(impl_->lock);
    impl_->log.push_back("CreateConnection " + FormatAddress(address) + " " +
                         Utf16ToUtf8(serviceName));
    if (impl_->connections.count(client) != 0) {
        return kAlreadyConnected;
    }
    const SimulatedDevice* d = impl_->FindLocked(address);
    if (d == nullptr || !d->serialPort || serviceName != d->serviceName) {
        return kFailed;
    }
    const int result = d->connectResult;
    if (result == kSuccess) {
        if (d->connectState == 0) {
            impl_->connections[client] = address;
        }
        if (d->connectNotifies) {
            ClientStateReport report{address, d->device.deviceClass, d->device.name, d->comPort,
                                     d->connectState};
            impl_->PostLocked(d->connectDelayMs, [this, report, notify = std::move(notify)] {
                {
                    std::lock_guard inner(impl_->lock);
                    impl_->log.push_back("ClientStateChange " + std::to_string(report.state) + " " +
                                         std::to_string(report.comPort));
                }
                notify(report);
            });
        }
    } else if (result == kAlreadyConnected) {
        impl_->connections[client] = address;
    }
    return result;
}

int SimulatedStack::RemoveConnection(ClientId client) {
    std::lock_guard l(impl_->lock);
    impl_->log.push_back("RemoveConnection");
    return impl_->connections.erase(client) != 0 ? 0 : 1;
}

void SimulatedStack::ShutDown() {
    std::lock_guard l(impl_->lock);
    impl_->log.push_back("ShutDown");
}

std::vector<std::string> SimulatedStack::Log() const {
    std::lock_guard l(impl_->lock);
    return impl_->log;
}

void SimulatedStack::Reset() {
    std::lock_guard l(impl_->lock);
    impl_->log.clear();
    impl_->connections.clear();
    impl_->queue.clear();
    impl_->discoveryPending = false;
    impl_->loaded = false;
    impl_->changed.notify_all();
}

int SimulatedStack::OpenInterfaces() const {
    std::lock_guard l(impl_->lock);
    return impl_->openInterfaces;
}

bool SimulatedStack::WaitIdle(uint32_t timeoutMs) const {
    std::unique_lock l(impl_->lock);
    return impl_->changed.wait_for(l, std::chrono::milliseconds(timeoutMs),
                                   [&] { return impl_->queue.empty() && !impl_->delivering; });
}

}  // namespace platform::btsdk
