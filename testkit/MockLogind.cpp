#include "testkit/MockLogind.h"

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>
#include <stdexcept>

#include "testkit/PumpUntil.h"

namespace testsupport {

MockLogind::MockLogind() {
    ChildProcess probe = ChildProcess::Spawn(
        {kSystemPython, "-c", "import dbusmock"},
        SpawnOptions().In(Stream::Null()).Out(Stream::Null()).Err(Stream::Null()));
    const std::optional<ExitStatus> probed = probe.Wait(std::chrono::seconds(60));
    if (!probed || !probed->Exited() || probed->code != 0) {
        unavailable_ = "python3-dbusmock is not installed (scripts/setup installs it)";
        return;
    }
    char pattern[] = "/tmp/camora-logind-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    dir_ = pattern;
    bus_ = std::make_unique<PrivateSystemBus>(dir_);
    if (!bus_->running()) {
        unavailable_ = "dbus-daemon did not start (scripts/setup installs dbus-daemon)";
        return;
    }
    mock_ = ChildProcess::Spawn({kSystemPython, "-m", "dbusmock", "--system", "-t", "logind"},
                                SpawnOptions()
                                    .In(Stream::Null())
                                    .Out(Stream::Null())
                                    .Err(Stream::Append(dir_ + "/mock.log")));
    if (!PumpUntil([&] { return bus_->HasOwner("org.freedesktop.login1"); })) {
        throw std::runtime_error("the mock login manager did not come up");
    }
}

MockLogind::~MockLogind() {
    if (mock_.Started()) {
        mock_.Stop(std::chrono::seconds(5));
    }
    bus_.reset();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

std::vector<InhibitorLock> MockLogind::Inhibitors() const {
    std::vector<InhibitorLock> locks;
    sd_bus* bus = nullptr;
    sd_bus_message* reply = nullptr;
    sd_bus_error error{};
    if (sd_bus_new(&bus) >= 0 && sd_bus_set_address(bus, bus_->address().c_str()) >= 0 &&
        sd_bus_set_bus_client(bus, 1) >= 0 && sd_bus_start(bus) >= 0 &&
        sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                           "org.freedesktop.login1.Manager", "ListInhibitors", &error, &reply,
                           "") >= 0 &&
        sd_bus_message_enter_container(reply, 'a', "(ssssuu)") > 0) {
        const char* what = nullptr;
        const char* who = nullptr;
        const char* why = nullptr;
        const char* mode = nullptr;
        uint32_t uid = 0;
        uint32_t pid = 0;
        while (sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0) {
            locks.push_back({what, who, why, mode});
        }
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
    return locks;
}

bool MockLogind::WaitForInhibitors(const std::vector<InhibitorLock>& wanted) const {
    return PumpUntil([&] { return Inhibitors() == wanted; });
}

void PrintTo(const InhibitorLock& lock, std::ostream* os) {
    *os << "(" << lock.what << ", " << lock.who << ", " << lock.why << ", " << lock.mode << ")";
}

}  // namespace testsupport
