// Serving an sd-bus connection on a thread of its own, with a second
// descriptor that wakes the thread for work that does not come from the bus.
#pragma once

#include <systemd/sd-bus.h>

namespace platform::dbus {

enum class BusWake {
    Woken,    // `wakeFd` became readable (it is not read here)
    BusGone,  // the connection failed or was closed
};

// Dispatches everything the bus brings (method calls, replies, time-outs)
// until `wakeFd` is readable or the bus is gone.
BusWake ServeUntilWoken(sd_bus* bus, int wakeFd);

}  // namespace platform::dbus
