#include "platform/power/SleepInhibitor.h"

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>

#include "platform/dbus/SdBus.h"
#include "platform/kernel/Kernel.h"
#include "platform/kernel/Protected.h"
#include "platform/sys/Syscall.h"

namespace platform {
namespace {

constexpr const char* kWhat = "idle:sleep";
constexpr const char* kWho = "CamoraController";
constexpr const char* kMode = "block";
constexpr uint32_t kCallMs = 3000;

struct Wanted {
    bool enabled = false;
    std::string why;       // what the callers want held
    uint64_t asked = 0;    // counts the requests
    uint64_t done = 0;     // the last request the bus thread has carried out
    bool running = false;  // the bus thread exists
};

struct Inhibitor {
    Protected<Wanted> wanted;
    std::unique_ptr<Event> wake;     // a new request
    std::unique_ptr<Event> settled;  // a request was carried out
};

Inhibitor& Shared() {
    // Never destroyed: the bus thread runs until the process ends.
    static Inhibitor* inhibitor = [] {
        auto* i = new Inhibitor;
        if (!i->wanted.Create()) {
            throw std::runtime_error("cannot create the sleep inhibitor's lock");
        }
        i->wake = Event::Create(ResetMode::Auto, false);
        i->settled = Event::Create(ResetMode::Manual, false);
        if (i->wake == nullptr || i->settled == nullptr) {
            throw std::runtime_error("cannot create the sleep inhibitor's events");
        }
        return i;
    }();
    return *inhibitor;
}

int TryLock(sd_bus* bus, const std::string& why) {
    dbus::MessageRef call;
    dbus::MessageRef reply;
    dbus::ErrorRef error;
    int fd = -1;
    if (sd_bus_message_new_method_call(bus, &call.m, "org.freedesktop.login1",
                                       "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                                       "Inhibit") < 0 ||
        sd_bus_message_append(call.m, "ssss", kWhat, kWho, why.c_str(), kMode) < 0 ||
        sd_bus_call(bus, call.m, dbus::MsToUsec(kCallMs), &error.e, &reply.m) < 0 ||
        sd_bus_message_read(reply.m, "h", &fd) < 0) {
        return -1;
    }
    // The descriptor belongs to the reply; the lock lasts while a copy is open.
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
}

// The lock's descriptor, or -1 when logind is not there or refuses. A
// connection kept from an earlier lock may have gone with the bus daemon
// since: one failure is tried again on a fresh connection.
int TakeLock(sd_bus** bus, const std::string& why) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (*bus == nullptr && sd_bus_open_system(bus) < 0) {
            *bus = nullptr;
            return -1;
        }
        const int fd = TryLock(*bus, why);
        if (fd >= 0) {
            return fd;
        }
        sd_bus_flush_close_unref(*bus);
        *bus = nullptr;
    }
    return -1;
}

void Serve() {
    Inhibitor& inhibitor = Shared();
    sd_bus* bus = nullptr;
    int held = -1;
    std::string heldWhy;
    for (;;) {
        inhibitor.wake->Wait(kWaitForever);
        const auto [why, asked] = inhibitor.wanted.With(
            [](Wanted& w) { return std::pair(w.enabled ? w.why : std::string(), w.asked); });
        if (why != heldWhy || (held < 0 && !why.empty())) {
            // The new lock first, then the old one goes.
            const int taken = why.empty() ? -1 : TakeLock(&bus, why);
            if (held >= 0) {
                sys::Close(held, "releasing the sleep inhibitor");
            }
            held = taken;
            heldWhy = taken >= 0 ? why : std::string();
        }
        // A copy: a lambda may not capture a structured binding (clang, C++20).
        inhibitor.wanted.With([done = asked](Wanted& w) { w.done = done; });
        inhibitor.settled->Set();
    }
}

void Ask(const std::function<void(Wanted&)>& change) {
    Inhibitor& inhibitor = Shared();
    const bool start = inhibitor.wanted.With([&](Wanted& w) {
        change(w);
        ++w.asked;
        const bool first = !w.running && w.enabled;
        w.running = w.running || first;
        return first;
    });
    if (start) {
        try {
            std::thread(Serve).detach();
        } catch (const std::system_error&) {
            inhibitor.wanted.With([](Wanted& w) { w.running = false; });
            return;
        }
    }
    inhibitor.settled->Reset();
    inhibitor.wake->Set();
}

}  // namespace

void EnableSleepInhibitor(bool enabled) {
    Ask([&](Wanted& w) { w.enabled = enabled; });
}

void SetSleepInhibitReason(const std::string& why) {
    Ask([&](Wanted& w) { w.why = why; });
}

std::string SleepInhibitReason() {
    return Shared().wanted.With([](Wanted& w) { return w.why; });
}

bool WaitSleepInhibitorSettled(uint32_t timeoutMs) {
    Inhibitor& inhibitor = Shared();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const bool done =
            inhibitor.wanted.With([](Wanted& w) { return !w.running || w.done == w.asked; });
        if (done) {
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        inhibitor.settled->Wait(static_cast<uint32_t>(std::min<int64_t>(left.count(), 50)));
    }
}

}  // namespace platform
