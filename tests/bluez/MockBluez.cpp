#include "tests/bluez/MockBluez.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <stdexcept>

#include "testkit/ChildProcess.h"
#include "testkit/PumpUntil.h"
#include "testkit/SourceDir.h"

namespace blueztest {
namespace {

// `argv` with standard input and error on /dev/null and standard output piped
// to this process when asked for, else on /dev/null too.
testsupport::ChildProcess Spawn(const std::vector<std::string>& argv, bool pipeOut) {
    return testsupport::ChildProcess::Spawn(
        argv, testsupport::SpawnOptions()
                  .In(testsupport::Stream::Null())
                  .Out(pipeOut ? testsupport::Stream::Pipe() : testsupport::Stream::Null())
                  .Err(testsupport::Stream::Null())
                  .SearchPath());
}

// Debian's interpreter first: python3-dbusmock is installed for it.
std::string PythonWithDbusmock() {
    for (const char* python : {"/usr/bin/python3", "python3"}) {
        testsupport::ChildProcess probe = Spawn({python, "-c", "import dbusmock"}, false);
        const auto status = probe.Wait(testsupport::kPatience);
        if (status && status->Exited() && status->code == 0) {
            return python;
        }
    }
    return {};
}

}  // namespace

MockBluez::MockBluez() {
    const std::string python = PythonWithDbusmock();
    if (python.empty()) {
        unavailable_ = "python3-dbusmock is not installed (scripts/setup installs it)";
        return;
    }
    // A private bus of the session kind: it listens on a fresh socket of its own.
    daemon_ =
        Spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=1"}, true);
    address_ = daemon_.Started() ? daemon_.ReadOutputLine(std::chrono::milliseconds(10000)) : "";
    if (address_.empty()) {
        unavailable_ = "dbus-daemon did not start";
        return;
    }
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
    mock_ = Spawn({python, "-m", "dbusmock", "--system", "-t",
                   testsupport::SourceDir() + "/tests/bluez/bluez_profiles.py"},
                  false);
    if (sd_bus_new(&bus_) < 0 || sd_bus_set_address(bus_, address_.c_str()) < 0 ||
        sd_bus_set_bus_client(bus_, 1) < 0 || sd_bus_start(bus_) < 0) {
        throw std::runtime_error("cannot reach the private bus");
    }
    const bool up = testsupport::PumpUntil(
        [&] {
            sd_bus_error error{};
            sd_bus_message* reply = nullptr;
            int has = 0;
            if (sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                   "org.freedesktop.DBus", "NameHasOwner", &error, &reply, "s",
                                   "org.bluez") >= 0) {
                sd_bus_message_read(reply, "b", &has);
            }
            sd_bus_message_unref(reply);
            sd_bus_error_free(&error);
            return has != 0;
        },
        std::chrono::milliseconds(15000));
    if (!up) {
        throw std::runtime_error("the mock daemon did not come up");
    }
}

MockBluez::~MockBluez() {
    sd_bus_flush_close_unref(bus_);
    mock_.Stop(testsupport::kPatience);
    daemon_.Stop(testsupport::kPatience);
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

std::string MockBluez::DevicePath(const std::string& address) {
    std::string path = "/org/bluez/hci0/dev_" + address;
    for (char& c : path) {
        if (c == ':') {
            c = '_';
        }
    }
    return path;
}

void MockBluez::Call(const char* method, const char* signature, ...) {
    sd_bus_message* m = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error{};
    va_list ap;
    va_start(ap, signature);
    int r = sd_bus_message_new_method_call(bus_, &m, "org.bluez", "/", "org.bluez.Mock", method);
    if (r >= 0) {
        r = sd_bus_message_appendv(m, signature, ap);
    }
    va_end(ap);
    if (r >= 0) {
        r = sd_bus_call(bus_, m, 10 * 1000 * 1000, &error, &reply);
    }
    EXPECT_GE(r, 0) << method << ": " << (error.message != nullptr ? error.message : "");
    sd_bus_message_unref(reply);
    sd_bus_message_unref(m);
    sd_bus_error_free(&error);
}

void MockBluez::AddAdapter() {
    Call("AddAdapter", "ss", "hci0", "handset");
}

void MockBluez::RemoveAdapter() {
    Call("RemoveAdapterWithDevices", "s", "hci0");
}

std::string MockBluez::AddDevice(const std::string& address, const std::string& name) {
    Call("AddDevice", "sss", "hci0", address.c_str(), name.c_str());
    return DevicePath(address);
}

void MockBluez::RemoveDevice(const std::string& address) {
    sd_bus_message* reply = nullptr;
    sd_bus_error error{};
    const int r =
        sd_bus_call_method(bus_, "org.bluez", "/org/bluez/hci0", "org.bluez.Adapter1",
                           "RemoveDevice", &error, &reply, "o", DevicePath(address).c_str());
    EXPECT_GE(r, 0) << "RemoveDevice: " << (error.message != nullptr ? error.message : "");
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
}

void MockBluez::Pair(const std::string& address, const std::vector<std::string>& uuids) {
    Call("PairDevice", "ssi", "hci0", address.c_str(), 0x200404);
    Call("SetDeviceClass", "su", DevicePath(address).c_str(), 0x200404u);
    SetUuids(DevicePath(address), uuids);
}

void MockBluez::SetUuids(const std::string& path, const std::vector<std::string>& uuids) {
    sd_bus_message* m = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error{};
    int r = sd_bus_message_new_method_call(bus_, &m, "org.bluez", "/", "org.bluez.Mock",
                                           "SetDeviceUUIDs");
    if (r >= 0) {
        r = sd_bus_message_append(m, "s", path.c_str());
    }
    if (r >= 0) {
        r = sd_bus_message_open_container(m, 'a', "s");
    }
    for (const auto& u : uuids) {
        if (r >= 0) {
            r = sd_bus_message_append(m, "s", u.c_str());
        }
    }
    if (r >= 0) {
        r = sd_bus_message_close_container(m);
    }
    if (r >= 0) {
        r = sd_bus_call(bus_, m, 10 * 1000 * 1000, &error, &reply);
    }
    EXPECT_GE(r, 0) << "SetDeviceUUIDs: " << (error.message != nullptr ? error.message : "");
    sd_bus_message_unref(reply);
    sd_bus_message_unref(m);
    sd_bus_error_free(&error);
}

void MockBluez::SetSerialLink(const std::string& path, int fd) {
    Call("SetSerialLink", "sh", path.c_str(), fd);
}

void MockBluez::SetConnectBehaviour(const std::string& path, const std::string& mode) {
    Call("SetConnectBehaviour", "ss", path.c_str(), mode.c_str());
}

std::vector<std::string> MockBluez::RegisteredProfiles() {
    std::vector<std::string> out;
    sd_bus_message* reply = nullptr;
    sd_bus_error error{};
    char** strv = nullptr;
    if (sd_bus_call_method(bus_, "org.bluez", "/", "org.bluez.Mock", "RegisteredProfiles", &error,
                           &reply, "") >= 0 &&
        sd_bus_message_read_strv(reply, &strv) >= 0) {
        for (char** s = strv; s != nullptr && *s != nullptr; ++s) {
            out.emplace_back(*s);
            std::free(*s);
        }
        std::free(strv);
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return out;
}

void MockBluez::ReleaseProfiles() {
    Call("ReleaseProfiles", "");
}

}  // namespace blueztest
