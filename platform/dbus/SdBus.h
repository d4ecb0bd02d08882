// What the platform's clients of the message buses share over sd-bus: scoped
// references to messages, errors and slots, and one turn of a thread that
// serves a bus connection of its own. Internal to platform/.
#pragma once

#include <systemd/sd-bus.h>

#include <functional>

namespace platform::dbus {

// Frees an sd-bus message, error or slot when the scope ends.
struct MessageRef {
    sd_bus_message* m = nullptr;
    MessageRef() = default;
    MessageRef(const MessageRef&) = delete;
    MessageRef& operator=(const MessageRef&) = delete;
    ~MessageRef() { sd_bus_message_unref(m); }
};
struct ErrorRef {
    sd_bus_error e{};  // SD_BUS_ERROR_NULL, without its C compound literal
    ErrorRef() = default;
    ErrorRef(const ErrorRef&) = delete;
    ErrorRef& operator=(const ErrorRef&) = delete;
    ~ErrorRef() { sd_bus_error_free(&e); }
    const char* Message() const { return e.message != nullptr ? e.message : ""; }
};
struct SlotRef {
    sd_bus_slot* s = nullptr;
    SlotRef() = default;
    SlotRef(const SlotRef&) = delete;
    SlotRef& operator=(const SlotRef&) = delete;
    ~SlotRef() { sd_bus_slot_unref(s); }
    void Reset() {
        sd_bus_slot_unref(s);
        s = nullptr;
    }
};

inline constexpr uint64_t MsToUsec(uint32_t ms) {
    return uint64_t{ms} * 1000u;
}

// Walks a property dictionary (a{sv}): `readValue` is given each key with the
// message at that key's variant, and must read or skip the variant; false
// when it fails or the dictionary is malformed.
bool ReadPropertyDictionary(sd_bus_message* m,
                            const std::function<bool(const char* key)>& readValue);

enum class BusTurn {
    Busy,   // something was processed; there may be more
    Idle,   // waited, and the time or the bus's own time-out came
    Woken,  // `wake` became readable
    Gone,   // the connection is lost
};

// Processes one queued message of `bus`, or, with none queued, waits for the
// bus, for `wake` (a descriptor that becomes readable when the serving thread
// must stop) or for `timeoutMs` (-1: no limit besides the bus's own).
BusTurn ServeBusOnce(sd_bus* bus, int wake, int timeoutMs);

enum class BusWake {
    Woken,    // `wakeFd` became readable (it is not read here)
    BusGone,  // the connection failed or was closed
};

// Dispatches everything the bus brings (method calls, replies, time-outs)
// until `wakeFd` is readable or the bus is gone.
BusWake ServeUntilWoken(sd_bus* bus, int wakeFd);

}  // namespace platform::dbus
