#include "platform/serial/PortBindings.h"

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace platform {
namespace {

struct Binding {
    uint64_t owner = 0;
    PortConnector connector;
};

std::mutex& Lock() {
    static auto* lock = new std::mutex;
    return *lock;
}
// Guarded by Lock().
std::map<std::u16string, Binding>& Bindings() {
    static auto* bindings = new std::map<std::u16string, Binding>;
    return *bindings;
}
std::atomic<uint64_t> g_nextOwner{1};

std::u16string Key(std::u16string_view name) {
    std::u16string key(name);
    if (!key.empty() && key.back() == u':') {
        key.pop_back();
    }
    for (char16_t& c : key) {
        if (c >= u'a' && c <= u'z') {
            c = static_cast<char16_t>(c - u'a' + u'A');
        }
    }
    return key;
}

}  // namespace

void BindPort(std::u16string_view name, uint64_t owner, PortConnector connector) {
    std::lock_guard lock(Lock());
    Bindings()[Key(name)] = Binding{owner, std::move(connector)};
}

void UnbindPort(std::u16string_view name, uint64_t owner) {
    std::lock_guard lock(Lock());
    auto it = Bindings().find(Key(name));
    if (it != Bindings().end() && it->second.owner == owner) {
        Bindings().erase(it);
    }
}

void UnbindPorts(uint64_t owner) {
    std::lock_guard lock(Lock());
    for (auto it = Bindings().begin(); it != Bindings().end();) {
        it = it->second.owner == owner ? Bindings().erase(it) : std::next(it);
    }
}

PortConnector BoundPort(std::u16string_view name) {
    std::lock_guard lock(Lock());
    auto it = Bindings().find(Key(name));
    return it != Bindings().end() ? it->second.connector : PortConnector{};
}

uint64_t NewPortOwner() {
    return g_nextOwner++;
}

}  // namespace platform
