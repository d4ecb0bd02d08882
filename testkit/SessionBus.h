// A session bus of the test's own (a dbus-daemon that this process starts and
// ends), and a small client of it, for tests of what the program offers there.
#pragma once

#include "testkit/ChildProcess.h"

#include <sys/types.h>
#include <systemd/sd-bus.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// Starts `dbus-daemon --session` and makes it this process's session bus
// (DBUS_SESSION_BUS_ADDRESS, which children inherit); the destructor ends
// that daemon by its process id and puts the variable back.
class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // Empty when the daemon did not start.
    const std::string& Address() const { return address_; }

private:
    std::string address_;
    std::unique_ptr<ChildProcess> daemon_;
    std::optional<std::string> previous_;
};

// A connection to the session bus, for the thread that made it. Property
// values come back as text: strings as they are, booleans "true"/"false",
// numbers in decimal, arrays as "[a,b]" and dictionaries as "{k=v;k=v}".
class BusClient {
public:
    BusClient();
    ~BusClient();
    BusClient(const BusClient&) = delete;
    BusClient& operator=(const BusClient&) = delete;

    bool Connected() const { return bus_ != nullptr; }
    bool HasOwner(const std::string& name);
    // A method without arguments; the error's name when it failed, "" when answered.
    std::string Call(const std::string& service, const std::string& path,
                     const std::string& interface, const std::string& method);
    // The property's value as text; none when it could not be read.
    std::optional<std::string> Get(const std::string& service, const std::string& path,
                                   const std::string& interface, const std::string& property);

    // PropertiesChanged of `path`, from now on: each signal's interface and
    // changed values as text, in the order they came.
    struct Change {
        std::string interface;
        std::map<std::string, std::string> values;
    };
    void WatchProperties(const std::string& path);
    // What has come so far (without waiting), taken from the client.
    std::vector<Change> TakeChanges();

private:
    static int OnPropertiesChanged(sd_bus_message* m, void* self, sd_bus_error* error);

    sd_bus* bus_ = nullptr;
    sd_bus_slot* watch_ = nullptr;
    std::vector<Change> changes_;
};

}  // namespace testsupport
