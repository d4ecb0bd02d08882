#include "platform/btsdk/BtSdk.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>

#include "platform/btsdk/SimulatedStack.h"
#include "platform/text/Text.h"

namespace platform::btsdk {
namespace {

std::mutex& StackLock() {
    static auto* lock = new std::mutex;
    return *lock;
}
std::shared_ptr<BtStack>& InstalledStack() {
    static auto* stack = new std::shared_ptr<BtStack>;
    return *stack;
}
StackSource g_defaultSource = nullptr;  // guarded by StackLock()

}  // namespace

std::shared_ptr<BtStack> CurrentStack() {
    std::lock_guard lock(StackLock());
    if (InstalledStack()) {
        return InstalledStack();
    }
    // Else the default source's (start-up installs the Bluetooth backend's
    // choice), or the simulated stack.
    if (g_defaultSource != nullptr) {
        if (auto chosen = g_defaultSource()) {
            return chosen;
        }
    }
    // The simulated stack is never destroyed, so it needs no owner.
    return std::shared_ptr<BtStack>(std::shared_ptr<BtStack>(), &SimulatedStack::Instance());
}

void SetStack(std::shared_ptr<BtStack> stack) {
    std::lock_guard lock(StackLock());
    InstalledStack() = std::move(stack);
}

void SetDefaultStackSource(StackSource source) {
    std::lock_guard lock(StackLock());
    g_defaultSource = source;
}

}  // namespace platform::btsdk

namespace {

using platform::btsdk::Address;
using platform::btsdk::ClientStateReport;
using platform::btsdk::CurrentStack;
using platform::btsdk::RemoteDevice;

// Notifications reach only objects that still exist: each object registers
// under an id of its own, and its destructor unregisters it while no
// notification is being delivered (so a destructor waits for one in progress).
// Notifications must therefore not create or destroy SDK objects.
struct LiveObjects {
    std::mutex deliveryLock;
    std::unordered_map<uint64_t, CBtIf*> interfaces;
    std::unordered_map<uint64_t, CSppClient*> clients;
};
LiveObjects& Live() {
    static auto* live = new LiveObjects;
    return *live;
}
std::atomic<uint64_t> g_nextId{1};

Address ToAddress(const uint8_t* bytes) {
    Address a{};
    std::memcpy(a.data(), bytes, a.size());
    return a;
}

bool IsLeadByte(unsigned char b) {
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// The name in the ANSI code page, cut to at most `capacity` bytes without
// splitting a double-byte character.
std::string NarrowName(const std::u16string& name, size_t capacity) {
    if (name.empty()) {
        return {};
    }
    const int srcLen = static_cast<int>(name.size());
    const int needed = platform::WideToAnsi(name.c_str(), srcLen, nullptr, 0);
    if (needed <= 0) {
        return {};
    }
    std::string narrow(static_cast<size_t>(needed), '\0');
    const int got = platform::WideToAnsi(name.c_str(), srcLen, narrow.data(), needed);
    narrow.resize(static_cast<size_t>(std::max(got, 0)));
    size_t cut = 0;
    while (cut < narrow.size()) {
        const size_t width = IsLeadByte(static_cast<unsigned char>(narrow[cut])) ? 2 : 1;
        if (cut + width > capacity || cut + width > narrow.size()) {
            break;
        }
        cut += width;
    }
    narrow.resize(cut);
    return narrow;
}

void Fill(const RemoteDevice& device, CBtIf::REM_DEV_INFO* info) {
    std::memset(info, 0, sizeof *info);
    std::memcpy(info->address, device.address.data(), sizeof info->address);
    std::memcpy(info->deviceClass, device.deviceClass.data(), sizeof info->deviceClass);
    const std::string name = NarrowName(device.name, sizeof info->name);
    std::memcpy(info->name, name.data(), name.size());
    info->paired = device.paired ? 1u : 0u;
}

bool MatchesClass(const RemoteDevice& device, const uint8_t* filter) {
    if (filter == nullptr || (filter[0] == 0xFF && filter[1] == 0xFF && filter[2] == 0xFF)) {
        return true;
    }
    return std::equal(device.deviceClass.begin(), device.deviceClass.end(), filter);
}

}  // namespace

static_assert(offsetof(CSdpDiscoveryRec, serviceName) == 0,
              "the record's address must be that of its service name");

CBtIf::CBtIf() : id_(g_nextId++) {
    {
        std::lock_guard lock(Live().deliveryLock);
        Live().interfaces[id_] = this;
    }
    CurrentStack()->InterfaceOpened();
}

CBtIf::~CBtIf() {
    {
        std::lock_guard lock(Live().deliveryLock);
        Live().interfaces.erase(id_);
    }
    CurrentStack()->InterfaceClosed();
}

void CBtIf::OnAudioConnected(uint16_t) {}
void CBtIf::OnAudioDisconnect(uint16_t) {}
void CBtIf::OnStackStatusChange(int) {}
void CBtIf::OnInquiryComplete(bool, int) {}
void CBtIf::OnDeviceResponded(const uint8_t*, const uint8_t*, const char*, bool) {}
void CBtIf::OnDiscoveryComplete() {}

int CBtIf::GetRemoteDeviceInfoEx(const uint8_t* classFilter, REM_DEV_INFO* info) {
    walk_.clear();
    next_ = 0;
    for (auto& device : CurrentStack()->KnownDevices()) {
        if (MatchesClass(device, classFilter)) {
            walk_.push_back(std::move(device));
        }
    }
    return GetNextRemoteDeviceInfo(info);
}

int CBtIf::GetNextRemoteDeviceInfo(REM_DEV_INFO* info) {
    if (info == nullptr || next_ >= walk_.size()) {
        return kDeviceInfoEndOfList;
    }
    Fill(walk_[next_++], info);
    return kDeviceInfoOk;
}

int CBtIf::StartDiscovery(const uint8_t* address, const BtUuid* serviceFilter) {
    if (address == nullptr) {
        return 0;
    }
    const uint64_t id = id_;
    const bool started = CurrentStack()->StartDiscovery(ToAddress(address), serviceFilter, [id] {
        std::lock_guard lock(Live().deliveryLock);
        if (auto it = Live().interfaces.find(id); it != Live().interfaces.end()) {
            it->second->OnDiscoveryComplete();
        }
    });
    return started ? 1 : 0;
}

int CBtIf::ReadDiscoveryRecords(const uint8_t* address, int maxRecords, CSdpDiscoveryRec* records,
                                const BtUuid* service) {
    if (address == nullptr || records == nullptr || maxRecords <= 0) {
        return 0;
    }
    const auto found = CurrentStack()->ServiceRecords(ToAddress(address), service,
                                                      static_cast<size_t>(maxRecords));
    const size_t count = std::min(found.size(), static_cast<size_t>(maxRecords));
    for (size_t i = 0; i < count; ++i) {
        CSdpDiscoveryRec& rec = records[i];
        const size_t units = std::min(
            found[i].name.size(), static_cast<size_t>(CSdpDiscoveryRec::kServiceNameLength - 1));
        std::fill(std::begin(rec.serviceName), std::end(rec.serviceName), u'\0');
        std::copy_n(found[i].name.begin(), units, rec.serviceName);
        rec.serviceClass = found[i].serviceClass;
        rec.channel = found[i].channel;
    }
    return static_cast<int>(count);
}

CSdpDiscoveryRec::CSdpDiscoveryRec() : serviceName{}, serviceClass{}, channel(0) {}

CSppClient::CSppClient() : id_(g_nextId++) {
    std::lock_guard lock(Live().deliveryLock);
    Live().clients[id_] = this;
}

CSppClient::~CSppClient() {
    {
        std::lock_guard lock(Live().deliveryLock);
        Live().clients.erase(id_);
    }
    CurrentStack()->RemoveConnection(id_);
}

void CSppClient::OnClientStateChange(const uint8_t*, const uint8_t*, const char*, int16_t, int) {}

int CSppClient::CreateConnection(const uint8_t* address, const char16_t* serviceName) {
    if (address == nullptr || serviceName == nullptr) {
        return kBadParameter;
    }
    const uint64_t id = id_;
    return CurrentStack()->CreateConnection(
        id_, ToAddress(address), serviceName, [id](const ClientStateReport& report) {
            const std::string name = NarrowName(report.name, CBtIf::kNameLength);
            std::lock_guard lock(Live().deliveryLock);
            if (auto it = Live().clients.find(id); it != Live().clients.end()) {
                it->second->OnClientStateChange(report.address.data(), report.deviceClass.data(),
                                                name.c_str(), static_cast<int16_t>(report.comPort),
                                                report.state);
            }
        });
}

int CSppClient::RemoveConnection() {
    return CurrentStack()->RemoveConnection(id_);
}

void WIDCOMMSDK_ShutDown() {
    CurrentStack()->ShutDown();
}
