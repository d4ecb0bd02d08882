// Helpers for tests that need the system's message bus: Debian's interpreter
// for the python mocks, and a private system bus of the test's own.
#pragma once

#include <string>

#include "testkit/ChildProcess.h"

namespace testsupport {

// Debian's interpreter, for which python3-dbus, python3-gi and python3-dbusmock are.
inline constexpr const char* kSystemPython = "/usr/bin/python3";

// A private message bus (dbus-daemon) that lets anyone own any name, named by
// DBUS_SYSTEM_BUS_ADDRESS while the object lives, so that the code under
// test never reaches the machine's own system bus.
class PrivateSystemBus {
public:
    // `folder` holds its configuration and socket.
    explicit PrivateSystemBus(const std::string& folder);
    ~PrivateSystemBus();
    PrivateSystemBus(const PrivateSystemBus&) = delete;
    PrivateSystemBus& operator=(const PrivateSystemBus&) = delete;

    bool running() const { return !address_.empty(); }
    const std::string& address() const { return address_; }
    // Whether `name` has an owner on the bus now.
    bool HasOwner(const char* name) const;

private:
    ChildProcess daemon_;
    std::string address_;
};

}  // namespace testsupport
