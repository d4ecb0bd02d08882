#include "testkit/Processes.h"

#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdlib>
#include <fstream>

namespace testsupport {

PrivateSystemBus::PrivateSystemBus(const std::string& folder) {
    // Of the system kind, as the daemons under test expect, with a policy
    // that lets them own their names as any user.
    const std::string config = folder + "/bus.conf";
    std::ofstream(config)
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><type>system</type><listen>unix:dir="
        << folder
        << "</listen><auth>EXTERNAL</auth>\n"
           "<policy context=\"default\"><allow send_destination=\"*\"/>"
           "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>\n";
    daemon_ = ChildProcess::Spawn(
        {"dbus-daemon", "--config-file=" + config, "--nofork", "--nopidfile", "--print-address=1"},
        SpawnOptions().In(Stream::Null()).Out(Stream::Pipe()).Err(Stream::Null()).SearchPath());
    address_ = daemon_.Started() ? daemon_.ReadOutputLine(std::chrono::seconds(10)) : "";
    if (!address_.empty()) {
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
    }
}

PrivateSystemBus::~PrivateSystemBus() {
    if (daemon_.Started()) {
        daemon_.Stop(std::chrono::seconds(5));
    }
    if (!address_.empty()) {
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
}

bool PrivateSystemBus::HasOwner(const char* name) const {
    sd_bus* bus = nullptr;
    int has = 0;
    if (sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, address_.c_str()) >= 0 &&
        sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0) {
        sd_bus_error error{};
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                               "org.freedesktop.DBus", "NameHasOwner", &error, &reply, "s",
                               name) >= 0) {
            sd_bus_message_read(reply, "b", &has);
        }
        sd_bus_message_unref(reply);
        sd_bus_error_free(&error);
    }
    sd_bus_flush_close_unref(bus);
    return has != 0;
}

}  // namespace testsupport
