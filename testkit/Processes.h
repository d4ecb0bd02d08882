// Helper processes for tests: started with posix_spawn, ended by their id.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testsupport {

// Runs `argv` (looked up in PATH) with stdin from /dev/null, stdout to `out`
// (or /dev/null when -1) and stderr appended to the file `err` (or /dev/null
// when empty); -1 when it cannot be started.
pid_t Spawn(const std::vector<std::string>& argv, int out = -1, const std::string& err = {});
// Waits for the process and returns its exit status, -1 when it did not exit.
int Reap(pid_t pid);
// Ends the process (SIGTERM), waits for it and sets `pid` to -1; nothing for -1.
void Stop(pid_t& pid);
// One line from `fd`, without its "\n", within `timeoutMs`; empty when none came.
std::string ReadLine(int fd, int timeoutMs);
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
    pid_t daemon_ = -1;
    std::string address_;
};

}  // namespace testsupport
