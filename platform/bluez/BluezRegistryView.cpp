#include "platform/bluez/BluezRegistryView.h"

#include <algorithm>

#include "platform/bluez/PortNames.h"
#include "platform/serial/PortBindings.h"
#include "platform/text/Text.h"

namespace platform::bluez {
namespace {

char16_t Fold(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

bool Same(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char16_t x, char16_t y) { return Fold(x) == Fold(y); });
}

// The path's names; empty names (a trailing backslash) are left out.
std::vector<std::u16string_view> Split(std::u16string_view path) {
    std::vector<std::u16string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string_view::npos) {
            end = path.size();
        }
        if (end > start) {
            parts.push_back(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return parts;
}

bool ValidAddress(const std::string& address) {
    if (address.size() != 17) {
        return false;
    }
    for (size_t i = 0; i < address.size(); ++i) {
        const char c = address[i];
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (i % 3 == 2 ? c != ':' : !hex) {
            return false;
        }
    }
    return true;
}

}  // namespace

BluezRegistryView::BluezRegistryView(std::shared_ptr<BluezClient> client, std::string ttyClass)
    : client_(std::move(client)), ttyClass_(std::move(ttyClass)), owner_(NewPortOwner()) {}

BluezRegistryView::~BluezRegistryView() {
    UnbindPorts(owner_);
}

std::u16string BluezRegistryView::AddressKey(const std::string& address) {
    std::u16string key;
    for (char c : address) {
        if (c == ':') {
            continue;
        }
        key += Fold(static_cast<char16_t>(static_cast<unsigned char>(c)));
    }
    return key;
}

void BluezRegistryView::RefreshLocked() {
    const Snapshot snapshot = client_->GetManagedObjects();
    // A device unpaired since the last scan loses its port.
    UnbindPorts(owner_);
    State state;
    state.hasAdapter = snapshot.answered && snapshot.hasAdapter;
    for (const Device& device : snapshot.devices) {
        if (!device.paired || !ValidAddress(device.address)) {
            continue;
        }
        Entry entry{device, AddressKey(device.address), {}};
        const bool seen = std::any_of(state.entries.begin(), state.entries.end(),
                                      [&](const Entry& e) { return e.key == entry.key; });
        if (seen) {
            continue;  // the same device paired on a second adapter
        }
        if (device.OffersSerialPort()) {
            const int bound = RfcommBinding(device.address, ttyClass_);
            if (bound >= 0) {
                entry.port = PortName(bound);
            } else if (const int number = StablePortNumber(device.address); number >= 0) {
                entry.port = PortName(number);
                std::weak_ptr<BluezClient> weak = client_;
                BindPort(entry.port, owner_, [weak, path = device.path] {
                    const auto client = weak.lock();
                    return client ? client->ConnectSerialPort(path) : -1;
                });
            }
        }
        state.entries.push_back(std::move(entry));
    }
    std::sort(state.entries.begin(), state.entries.end(),
              [](const Entry& a, const Entry& b) { return a.key < b.key; });
    state_ = std::move(state);
}

BluezRegistryView::Resolved BluezRegistryView::ResolveLocked(std::u16string_view path,
                                                             bool refresh) {
    const auto parts = Split(path);
    if (parts.empty() || (parts.size() == 1 && Same(parts[0], u"Software")) ||
        (parts.size() == 2 && Same(parts[0], u"Software") && Same(parts[1], u"Microsoft"))) {
        return {Kind::Plain};
    }
    if (parts.size() < 3 || !Same(parts[0], u"Software") || !Same(parts[1], u"Microsoft") ||
        !Same(parts[2], u"Bluetooth")) {
        return {};
    }
    const size_t rest = parts.size() - 3;
    if (!state_ || (refresh && rest <= 1)) {
        RefreshLocked();
    }
    if (!state_->hasAdapter) {
        return {};
    }
    if (rest == 0) {
        return {Kind::Bluetooth};
    }
    auto findEntry = [&](std::u16string_view key) -> const Entry* {
        for (const Entry& e : state_->entries) {
            if (Same(e.key, key)) {
                return &e;
            }
        }
        return nullptr;
    };
    if (Same(parts[3], u"Device")) {
        if (rest == 1) {
            return {Kind::DeviceList};
        }
        const Entry* entry = findEntry(parts[4]);
        if (entry == nullptr || (rest >= 3 && !Same(parts[5], u"Services")) || rest > 4) {
            return {};
        }
        if (rest == 2) {
            return {Kind::Device, entry};
        }
        if (rest == 3) {
            return {Kind::Services, entry};
        }
        const auto& uuids = entry->device.uuids;
        const bool offered = std::any_of(uuids.begin(), uuids.end(), [&](const std::string& u) {
            return Same(Utf8ToUtf16(u), parts[6]);
        });
        return offered ? Resolved{Kind::Service, entry} : Resolved{};
    }
    if (Same(parts[3], u"Serial")) {
        if (rest == 1) {
            return {Kind::Serial};
        }
        if (!Same(parts[4], u"Ports") || rest > 3) {
            return {};
        }
        if (rest == 2) {
            return {Kind::PortList};
        }
        const std::u16string_view name = parts[5];
        if (name.size() < 4 || name.substr(0, 4) != u"0000") {
            return {};
        }
        const Entry* entry = findEntry(name.substr(4));
        return entry != nullptr && !entry->port.empty() ? Resolved{Kind::Port, entry} : Resolved{};
    }
    return {};
}

bool BluezRegistryView::HasKey(RegistryRoot, std::u16string_view path) {
    std::lock_guard lock(lock_);
    return ResolveLocked(path, true).kind != Kind::None;
}

std::vector<std::u16string> BluezRegistryView::Subkeys(RegistryRoot, std::u16string_view path) {
    std::lock_guard lock(lock_);
    const Resolved r = ResolveLocked(path, false);
    std::vector<std::u16string> names;
    switch (r.kind) {
        case Kind::Plain: {
            const auto parts = Split(path);
            if (parts.empty()) {
                names = {u"Software"};
            } else if (parts.size() == 1) {
                names = {u"Microsoft"};
            } else if (ResolveLocked(u"Software\\Microsoft\\Bluetooth", true).kind != Kind::None) {
                names = {u"Bluetooth"};
            }
            break;
        }
        case Kind::Bluetooth:
            names = {u"Device", u"Serial"};
            break;
        case Kind::DeviceList:
            for (const Entry& e : state_->entries) {
                names.push_back(e.key);
            }
            break;
        case Kind::Device:
            names = {u"Services"};
            break;
        case Kind::Services:
            for (const std::string& uuid : r.entry->device.uuids) {
                names.push_back(Utf8ToUtf16(uuid));
            }
            break;
        case Kind::Serial:
            names = {u"Ports"};
            break;
        case Kind::PortList:
            for (const Entry& e : state_->entries) {
                if (!e.port.empty()) {
                    names.push_back(u"0000" + e.key);
                }
            }
            break;
        default:
            break;
    }
    return names;
}

std::optional<std::u16string> BluezRegistryView::StringValue(RegistryRoot, std::u16string_view path,
                                                             std::u16string_view name) {
    std::lock_guard lock(lock_);
    const Resolved r = ResolveLocked(path, false);
    if (r.kind == Kind::Device && Same(name, u"name")) {
        return Utf8ToUtf16(r.entry->device.name);
    }
    if (r.kind == Kind::Port && Same(name, u"Port")) {
        return r.entry->port;
    }
    return std::nullopt;
}

}  // namespace platform::bluez
