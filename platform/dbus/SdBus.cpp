#include "platform/dbus/SdBus.h"

#include <poll.h>
#include <time.h>

#include <cerrno>
#include <cstdint>

namespace platform::dbus {

bool ReadPropertyDictionary(sd_bus_message* m,
                            const std::function<bool(const char* key)>& readValue) {
    if (sd_bus_message_enter_container(m, 'a', "{sv}") <= 0) {
        return false;
    }
    int r = 0;
    while ((r = sd_bus_message_enter_container(m, 'e', "sv")) > 0) {
        const char* key = nullptr;
        if (sd_bus_message_read(m, "s", &key) < 0 || key == nullptr || !readValue(key) ||
            sd_bus_message_exit_container(m) < 0) {
            return false;
        }
    }
    return r >= 0 && sd_bus_message_exit_container(m) >= 0;
}

BusTurn ServeBusOnce(sd_bus* bus, int wake, int timeoutMs) {
    const int r = sd_bus_process(bus, nullptr);
    if (r < 0) {
        return BusTurn::Gone;
    }
    if (r > 0) {
        return BusTurn::Busy;
    }
    const int fd = sd_bus_get_fd(bus);
    const int events = sd_bus_get_events(bus);
    if (fd < 0 || events < 0) {
        return BusTurn::Gone;
    }
    pollfd fds[2] = {};
    fds[0].fd = fd;
    fds[0].events = static_cast<short>(events);
    fds[1].fd = wake;
    fds[1].events = POLLIN;
    uint64_t until = 0;
    if (sd_bus_get_timeout(bus, &until) >= 0 && until != UINT64_MAX) {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const uint64_t nowUs = uint64_t(now.tv_sec) * 1000000u + uint64_t(now.tv_nsec) / 1000u;
        const int busMs = until <= nowUs ? 0 : static_cast<int>((until - nowUs + 999) / 1000);
        timeoutMs = timeoutMs < 0 || busMs < timeoutMs ? busMs : timeoutMs;
    }
    // Not sys::Call: an interrupted poll returns to the caller, which works out
    // its time-out afresh.
    const int n = ::poll(fds, 2, timeoutMs);
    if (n < 0 && errno != EINTR) {
        return BusTurn::Gone;
    }
    if ((fds[1].revents & POLLIN) != 0) {
        return BusTurn::Woken;
    }
    return n > 0 ? BusTurn::Busy : BusTurn::Idle;
}

BusWake ServeUntilWoken(sd_bus* bus, int wakeFd) {
    for (;;) {
        switch (ServeBusOnce(bus, wakeFd, -1)) {
            case BusTurn::Woken:
                return BusWake::Woken;
            case BusTurn::Gone:
                return BusWake::BusGone;
            case BusTurn::Busy:
            case BusTurn::Idle:
                break;
        }
    }
}

}  // namespace platform::dbus
