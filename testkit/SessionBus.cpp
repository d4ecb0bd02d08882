#include "testkit/SessionBus.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace testsupport {
namespace {

constexpr uint64_t kCallTimeoutUs = 5'000'000;

std::string Trimmed(const char* line) {
    std::string s = line;
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) {
        s.pop_back();
    }
    return s;
}

bool ReadValue(sd_bus_message* m, std::string* out);

// The next complete value of the message (of any type the tests meet) as text.
bool ReadValue(sd_bus_message* m, std::string* out) {
    char type = 0;
    const char* contents = nullptr;
    if (sd_bus_message_peek_type(m, &type, &contents) <= 0) {
        return false;
    }
    switch (type) {
        case 's':
        case 'o': {
            const char* text = nullptr;
            if (sd_bus_message_read_basic(m, type, &text) < 0) {
                return false;
            }
            *out = text;
            return true;
        }
        case 'b': {
            int value = 0;
            if (sd_bus_message_read_basic(m, 'b', &value) < 0) {
                return false;
            }
            *out = value != 0 ? "true" : "false";
            return true;
        }
        case 'd': {
            double value = 0;
            if (sd_bus_message_read_basic(m, 'd', &value) < 0) {
                return false;
            }
            *out = std::to_string(value);
            return true;
        }
        case 'x': {
            int64_t value = 0;
            if (sd_bus_message_read_basic(m, 'x', &value) < 0) {
                return false;
            }
            *out = std::to_string(value);
            return true;
        }
        case 'v':
            if (sd_bus_message_enter_container(m, 'v', contents) < 0 || !ReadValue(m, out)) {
                return false;
            }
            return sd_bus_message_exit_container(m) >= 0;
        case 'a': {
            if (sd_bus_message_enter_container(m, 'a', contents) < 0) {
                return false;
            }
            const std::string element = contents;
            const bool dictionary = element.front() == '{';
            // "{sv}" holds entries of "sv".
            const std::string entry = dictionary ? element.substr(1, element.size() - 2) : "";
            std::string text = dictionary ? "{" : "[";
            bool first = true;
            for (;;) {
                if (dictionary) {
                    const int r = sd_bus_message_enter_container(m, 'e', entry.c_str());
                    if (r < 0) {
                        return false;
                    }
                    if (r == 0) {
                        break;
                    }
                    std::string key;
                    std::string value;
                    if (!ReadValue(m, &key) || !ReadValue(m, &value) ||
                        sd_bus_message_exit_container(m) < 0) {
                        return false;
                    }
                    // Appended piece by piece: GCC 12 at -O3 takes a literal
                    // joined to a string for an overlapping copy (-Wrestrict).
                    text += first ? "" : ";";
                    text += key;
                    text += '=';
                    text += value;
                } else {
                    if (sd_bus_message_at_end(m, false) > 0) {
                        break;
                    }
                    std::string value;
                    if (!ReadValue(m, &value)) {
                        return false;
                    }
                    text += first ? "" : ",";
                    text += value;
                }
                first = false;
            }
            text += dictionary ? '}' : ']';
            *out = std::move(text);
            return sd_bus_message_exit_container(m) >= 0;
        }
        default:
            if (sd_bus_message_skip(m, nullptr) < 0) {
                return false;
            }
            out->assign(1, '?');  // not `= "?"`: GCC 12 at -O3 sees an overlap (-Wrestrict)
            return true;
    }
}

}  // namespace

PrivateSessionBus::PrivateSessionBus() {
    if (const char* before = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        previous_ = before;
    }
    daemon_ = std::make_unique<ChildProcess>(
        ChildProcess::Spawn({"dbus-daemon", "--session", "--nofork", "--print-address=1"},
                            SpawnOptions().In(Stream::Null()).Out(Stream::Pipe()).SearchPath()));
    if (!daemon_->Started()) {
        return;
    }
    address_ = Trimmed(daemon_->ReadOutputLine(std::chrono::seconds(30)).c_str());
    if (!address_.empty()) {
        ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
    }
}

PrivateSessionBus::~PrivateSessionBus() {
    if (daemon_ && daemon_->Started()) {
        daemon_->Stop(std::chrono::seconds(5));
    }
    if (previous_) {
        ::setenv("DBUS_SESSION_BUS_ADDRESS", previous_->c_str(), 1);
    } else {
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
}

BusClient::BusClient() {
    if (sd_bus_open_user(&bus_) < 0) {
        bus_ = nullptr;
        return;
    }
    sd_bus_set_method_call_timeout(bus_, kCallTimeoutUs);
}

BusClient::~BusClient() {
    sd_bus_slot_unref(watch_);
    sd_bus_flush_close_unref(bus_);
}

bool BusClient::HasOwner(const std::string& name) {
    sd_bus_message* reply = nullptr;
    int owned = 0;
    const bool ok = sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", "NameHasOwner", nullptr, &reply, "s",
                                       name.c_str()) >= 0 &&
                    sd_bus_message_read(reply, "b", &owned) >= 0;
    sd_bus_message_unref(reply);
    return ok && owned != 0;
}

std::string BusClient::Call(const std::string& service, const std::string& path,
                            const std::string& interface, const std::string& method) {
    sd_bus_error error{};
    sd_bus_message* reply = nullptr;
    const int r = sd_bus_call_method(bus_, service.c_str(), path.c_str(), interface.c_str(),
                                     method.c_str(), &error, &reply, "");
    std::string name;
    if (r < 0) {
        name = error.name != nullptr ? error.name : "failed";
    }
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return name;
}

std::optional<std::string> BusClient::Get(const std::string& service, const std::string& path,
                                          const std::string& interface,
                                          const std::string& property) {
    sd_bus_message* reply = nullptr;
    std::string value;
    const bool ok = sd_bus_call_method(bus_, service.c_str(), path.c_str(),
                                       "org.freedesktop.DBus.Properties", "Get", nullptr, &reply,
                                       "ss", interface.c_str(), property.c_str()) >= 0 &&
                    ReadValue(reply, &value);
    sd_bus_message_unref(reply);
    return ok ? std::optional<std::string>(value) : std::nullopt;
}

void BusClient::WatchProperties(const std::string& path) {
    const std::string rule =
        "type='signal',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',"
        "path='" +
        path + "'";
    sd_bus_add_match(bus_, &watch_, rule.c_str(), &BusClient::OnPropertiesChanged, this);
}

std::vector<BusClient::Change> BusClient::TakeChanges() {
    while (sd_bus_process(bus_, nullptr) > 0) {
    }
    std::vector<Change> taken;
    taken.swap(changes_);
    return taken;
}

int BusClient::OnPropertiesChanged(sd_bus_message* m, void* self, sd_bus_error* /*error*/) {
    Change change;
    const char* interface = nullptr;
    if (sd_bus_message_read(m, "s", &interface) < 0 ||
        sd_bus_message_enter_container(m, 'a', "{sv}") < 0) {
        return 0;
    }
    change.interface = interface;
    while (sd_bus_message_enter_container(m, 'e', "sv") > 0) {
        std::string name;
        std::string value;
        if (!ReadValue(m, &name) || !ReadValue(m, &value) || sd_bus_message_exit_container(m) < 0) {
            return 0;
        }
        change.values[name] = value;
    }
    static_cast<BusClient*>(self)->changes_.push_back(change);
    return 0;
}

}  // namespace testsupport
