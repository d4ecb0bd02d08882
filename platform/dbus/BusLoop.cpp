#include "platform/dbus/BusLoop.h"

#include <poll.h>

#include <cerrno>
#include <cstdint>
#include <ctime>

namespace platform::dbus {

namespace {

// The bus's own deadline (a method call's time-out) in poll's milliseconds.
int TimeoutMs(sd_bus* bus) {
    uint64_t until = 0;
    if (sd_bus_get_timeout(bus, &until) < 0 || until == UINT64_MAX) {
        return -1;
    }
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t nowUs = uint64_t(now.tv_sec) * 1000000u + uint64_t(now.tv_nsec) / 1000u;
    return until <= nowUs ? 0 : static_cast<int>((until - nowUs + 999) / 1000);
}

}  // namespace

BusWake ServeUntilWoken(sd_bus* bus, int wakeFd) {
    for (;;) {
        const int r = sd_bus_process(bus, nullptr);
        if (r < 0) {
            return BusWake::BusGone;
        }
        if (r > 0) {
            continue;
        }
        const int fd = sd_bus_get_fd(bus);
        const int events = sd_bus_get_events(bus);
        if (fd < 0 || events < 0) {
            return BusWake::BusGone;
        }
        pollfd fds[2] = {};
        fds[0].fd = fd;
        fds[0].events = static_cast<short>(events);
        fds[1].fd = wakeFd;
        fds[1].events = POLLIN;
        // Not sys::Call: an interrupted poll goes round this loop, so that the
        // bus's time-out is worked out afresh.
        if (::poll(fds, 2, TimeoutMs(bus)) < 0 && errno != EINTR) {
            return BusWake::BusGone;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return BusWake::Woken;
        }
    }
}

}  // namespace platform::dbus
