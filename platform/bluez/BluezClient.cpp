#include "platform/bluez/BluezClient.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

#include "platform/dbus/SdBus.h"
#include "platform/sys/Syscall.h"

namespace platform::bluez {
namespace {

constexpr const char* kService = "org.bluez";
constexpr const char* kDeviceInterface = "org.bluez.Device1";
constexpr const char* kAdapterInterface = "org.bluez.Adapter1";
constexpr const char* kProfilePath = "/org/camora/serial_port";

using Clock = std::chrono::steady_clock;
namespace sys = platform::sys;

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

using dbus::ErrorRef;
using dbus::MessageRef;

// True when the next value is a variant holding `signature`; any other
// variant is skipped, so that reading goes on with the next property.
bool VariantHolds(sd_bus_message* m, const char* signature) {
    char type = 0;
    const char* contents = nullptr;
    if (sd_bus_message_peek_type(m, &type, &contents) > 0 && type == 'v' && contents != nullptr &&
        std::strcmp(contents, signature) == 0) {
        return true;
    }
    sd_bus_message_skip(m, "v");
    return false;
}

bool ReadVariantString(sd_bus_message* m, const char* signature, std::string* out) {
    const char* text = nullptr;
    if (!VariantHolds(m, signature) || sd_bus_message_read(m, "v", signature, &text) < 0 ||
        text == nullptr) {
        return false;
    }
    *out = text;
    return true;
}

bool ReadVariantBool(sd_bus_message* m, bool* out) {
    int value = 0;
    if (!VariantHolds(m, "b") || sd_bus_message_read(m, "v", "b", &value) < 0) {
        return false;
    }
    *out = value != 0;
    return true;
}

bool ReadVariantUint(sd_bus_message* m, uint32_t* out) {
    return VariantHolds(m, "u") && sd_bus_message_read(m, "v", "u", out) >= 0;
}

bool ReadVariantStrings(sd_bus_message* m, std::vector<std::string>* out) {
    if (!VariantHolds(m, "as") || sd_bus_message_enter_container(m, 'v', "as") <= 0) {
        return false;
    }
    char** strv = nullptr;
    if (sd_bus_message_read_strv(m, &strv) < 0) {
        return false;
    }
    out->clear();
    for (char** s = strv; s != nullptr && *s != nullptr; ++s) {
        out->push_back(Lower(*s));
        std::free(*s);
    }
    std::free(strv);
    return sd_bus_message_exit_container(m) >= 0;
}

// One device's properties (a{sv}); false when the message is malformed.
bool ReadDeviceProperties(sd_bus_message* m, Device* device) {
    std::string name;
    std::string alias;
    const bool read = dbus::ReadPropertyDictionary(m, [&](const char* key) {
        const std::string k = key;
        if (k == "Address") {
            ReadVariantString(m, "s", &device->address);
        } else if (k == "Name") {
            ReadVariantString(m, "s", &name);
        } else if (k == "Alias") {
            ReadVariantString(m, "s", &alias);
        } else if (k == "Paired") {
            ReadVariantBool(m, &device->paired);
        } else if (k == "Class") {
            ReadVariantUint(m, &device->deviceClass);
        } else if (k == "UUIDs") {
            ReadVariantStrings(m, &device->uuids);
        } else {
            return sd_bus_message_skip(m, "v") >= 0;
        }
        return true;
    });
    device->name = !alias.empty() ? alias : name;
    return read;
}

// The reply of GetManagedObjects: a{oa{sa{sv}}}.
bool ReadManagedObjects(sd_bus_message* m, Snapshot* snapshot) {
    if (sd_bus_message_enter_container(m, 'a', "{oa{sa{sv}}}") <= 0) {
        return false;
    }
    int r = 0;
    while ((r = sd_bus_message_enter_container(m, 'e', "oa{sa{sv}}")) > 0) {
        const char* path = nullptr;
        if (sd_bus_message_read(m, "o", &path) < 0 ||
            sd_bus_message_enter_container(m, 'a', "{sa{sv}}") <= 0) {
            return false;
        }
        int q = 0;
        while ((q = sd_bus_message_enter_container(m, 'e', "sa{sv}")) > 0) {
            const char* interface = nullptr;
            if (sd_bus_message_read(m, "s", &interface) < 0 || interface == nullptr) {
                return false;
            }
            if (std::strcmp(interface, kDeviceInterface) == 0) {
                Device device;
                device.path = path;
                if (!ReadDeviceProperties(m, &device)) {
                    return false;
                }
                snapshot->devices.push_back(std::move(device));
            } else {
                if (std::strcmp(interface, kAdapterInterface) == 0) {
                    snapshot->hasAdapter = true;
                }
                if (sd_bus_message_skip(m, "a{sv}") < 0) {
                    return false;
                }
            }
            if (sd_bus_message_exit_container(m) < 0) {
                return false;
            }
        }
        if (q < 0 || sd_bus_message_exit_container(m) < 0 || sd_bus_message_exit_container(m) < 0) {
            return false;
        }
    }
    return r >= 0 && sd_bus_message_exit_container(m) >= 0;
}

}  // namespace

bool Device::OffersSerialPort() const {
    return std::find(uuids.begin(), uuids.end(), kSerialPortUuid) != uuids.end();
}

BluezClient::BluezClient(ClientTimeouts timeouts) : timeouts_(timeouts) {}

BluezClient::~BluezClient() {
    StopServing();
    std::lock_guard lock(callLock_);
    sd_bus_flush_close_unref(call_);
    call_ = nullptr;
}

sd_bus* BluezClient::CallBusLocked() {
    if (call_ != nullptr && sd_bus_is_open(call_) <= 0) {
        sd_bus_flush_close_unref(call_);
        call_ = nullptr;
    }
    if (call_ == nullptr && sd_bus_open_system(&call_) < 0) {
        call_ = nullptr;
    }
    return call_;
}

Snapshot BluezClient::GetManagedObjects() {
    Snapshot snapshot;
    std::lock_guard lock(callLock_);
    sd_bus* bus = CallBusLocked();
    if (bus == nullptr) {
        return snapshot;
    }
    MessageRef call;
    MessageRef reply;
    ErrorRef error;
    if (sd_bus_message_new_method_call(bus, &call.m, kService, "/",
                                       "org.freedesktop.DBus.ObjectManager",
                                       "GetManagedObjects") < 0 ||
        sd_bus_call(bus, call.m, dbus::MsToUsec(timeouts_.callMs), &error.e, &reply.m) < 0) {
        return snapshot;
    }
    Snapshot read;
    if (!ReadManagedObjects(reply.m, &read)) {
        return snapshot;
    }
    read.answered = true;
    return read;
}

BluezClient::CallResult BluezClient::CallDeviceLocked(const std::string& devicePath,
                                                      const char* method, uint32_t timeoutMs) {
    CallResult result;
    sd_bus* bus = CallBusLocked();
    if (bus == nullptr) {
        result.errorName = "no system bus";
        return result;
    }
    MessageRef call;
    MessageRef reply;
    ErrorRef error;
    if (sd_bus_message_new_method_call(bus, &call.m, kService, devicePath.c_str(), kDeviceInterface,
                                       method) < 0 ||
        sd_bus_message_append(call.m, "s", kSerialPortUuid) < 0) {
        result.errorName = "message could not be built";
        return result;
    }
    const int r = sd_bus_call(bus, call.m, dbus::MsToUsec(timeoutMs), &error.e, &reply.m);
    if (r < 0) {
        result.errorName = error.e.name != nullptr ? std::string(error.e.name)
                                                   : std::generic_category().message(-r);
        result.errorMessage = error.e.message != nullptr ? error.e.message : "";
        return result;
    }
    result.ok = true;
    return result;
}

int BluezClient::ConnectSerialPort(const std::string& devicePath, std::string* error) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeouts_.connectMs);
    auto remainingMs = [&] {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        return static_cast<uint32_t>(std::max<int64_t>(1, left.count()));
    };
    auto fail = [&](const std::string& why) {
        if (error != nullptr) {
            *error = why;
        }
        return -1;
    };
    // At most one retry: after the daemon dropped our profile, or when a
    // connection of an earlier run is still up.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!EnsureProfile(error)) {
            return -1;
        }
        DropConnection(devicePath);
        CallResult r;
        {
            std::lock_guard lock(callLock_);
            r = CallDeviceLocked(devicePath, "ConnectProfile", remainingMs());
            if (!r.ok && attempt == 0 && r.errorName == "org.bluez.Error.AlreadyConnected") {
                CallDeviceLocked(devicePath, "DisconnectProfile", timeouts_.callMs);
                continue;
            }
        }
        if (!r.ok) {
            if (attempt == 0 && r.errorMessage.find("profile-unavailable") != std::string::npos) {
                StopServing();  // registers anew on the next attempt
                continue;
            }
            return fail(r.errorName + (r.errorMessage.empty() ? "" : ": " + r.errorMessage));
        }
        // The daemon hands the socket over before it answers; wait for it
        // anyway, within what is left of the time.
        std::unique_lock lock(connectionsLock_);
        if (!connectionArrived_.wait_until(lock, deadline,
                                           [&] { return connections_.count(devicePath) != 0; })) {
            return fail("no connection was handed over in time");
        }
        const int fd = connections_[devicePath];
        connections_.erase(devicePath);
        return fd;
    }
    return fail("the serial-port profile could not be connected");
}

void BluezClient::DisconnectSerialPort(const std::string& devicePath) {
    DropConnection(devicePath);
    std::lock_guard lock(callLock_);
    CallDeviceLocked(devicePath, "DisconnectProfile", timeouts_.callMs);
}

void BluezClient::DropConnection(const std::string& devicePath) {
    std::lock_guard lock(connectionsLock_);
    if (auto it = connections_.find(devicePath); it != connections_.end()) {
        sys::Close(it->second, "closing a Bluetooth connection");
        connections_.erase(it);
    }
}

bool BluezClient::EnsureProfile(std::string* error) {
    std::lock_guard lock(profileLock_);
    {
        std::lock_guard c(connectionsLock_);
        if (registered_) {
            return true;
        }
    }
    auto fail = [&](const std::string& why) {
        if (error != nullptr) {
            *error = why;
        }
        return false;
    };
    // A serving thread that ended (lost bus, released profile) is cleaned up first.
    if (server_.joinable()) {
        ::eventfd_write(wake_, 1);
        server_.join();
    }
    if (wake_ >= 0) {
        sys::Close(wake_, "closing the Bluetooth server's wake-up descriptor");
        wake_ = -1;
    }
    sd_bus_slot_unref(slot_);
    slot_ = nullptr;
    sd_bus_flush_close_unref(serve_);
    serve_ = nullptr;

    if (sd_bus_open_system(&serve_) < 0) {
        serve_ = nullptr;
        return fail("no system bus");
    }
    if (sd_bus_add_object_vtable(serve_, &slot_, kProfilePath, "org.bluez.Profile1",
                                 ProfileVtable(), this) < 0) {
        return fail("the profile object could not be exported");
    }
    MessageRef call;
    MessageRef reply;
    ErrorRef err;
    const char* owner = nullptr;
    if (sd_bus_call_method(serve_, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                           "org.freedesktop.DBus", "GetNameOwner", &err.e, &reply.m, "s",
                           kService) < 0 ||
        sd_bus_message_read(reply.m, "s", &owner) < 0 || owner == nullptr) {
        return fail("the Bluetooth daemon is not on the system bus");
    }
    const std::string daemon = owner;
    sd_bus_message_unref(reply.m);
    reply.m = nullptr;
    if (sd_bus_message_new_method_call(serve_, &call.m, kService, "/org/bluez",
                                       "org.bluez.ProfileManager1", "RegisterProfile") < 0 ||
        sd_bus_message_append(call.m, "osa{sv}", kProfilePath, kSerialPortUuid, 3, "Role", "s",
                              "client", "Name", "s", "Camora serial link", "AutoConnect", "b",
                              0) < 0) {
        return fail("the profile registration could not be built");
    }
    if (sd_bus_call(serve_, call.m, dbus::MsToUsec(timeouts_.callMs), &err.e, &reply.m) < 0 &&
        !sd_bus_error_has_name(&err.e, "org.bluez.Error.AlreadyExists")) {
        return fail(std::string("profile not registered: ") +
                    (err.e.message != nullptr ? err.e.message : "no answer"));
    }
    wake_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_ < 0) {
        return fail("no eventfd");
    }
    {
        std::lock_guard c(connectionsLock_);
        daemonName_ = daemon;
        registered_ = true;
    }
    server_ = std::thread([this] { Serve(); });
    return true;
}

void BluezClient::StopServing() {
    std::lock_guard lock(profileLock_);
    if (server_.joinable()) {
        ::eventfd_write(wake_, 1);
        server_.join();
    }
    if (wake_ >= 0) {
        sys::Close(wake_, "closing the Bluetooth server's wake-up descriptor");
        wake_ = -1;
    }
    sd_bus_slot_unref(slot_);
    slot_ = nullptr;
    sd_bus_flush_close_unref(serve_);
    serve_ = nullptr;
    std::lock_guard c(connectionsLock_);
    registered_ = false;
    for (auto& [path, fd] : connections_) {
        sys::Close(fd, "closing a Bluetooth connection");
    }
    connections_.clear();
}

void BluezClient::Serve() {
    if (dbus::ServeUntilWoken(serve_, wake_) == dbus::BusWake::Woken) {
        return;  // asked to stop: StopServing cleans up
    }
    {
        std::lock_guard c(connectionsLock_);
        registered_ = false;  // the next connect registers anew
    }
    // The bus is gone; the thread waits to be joined by whoever starts the
    // next one or ends the client, so that no finished thread is left behind.
    pollfd wake{wake_, POLLIN, 0};
    sys::Call("poll", [&] { return ::poll(&wake, 1, -1); });
}

bool BluezClient::FromDaemon(sd_bus_message* m) {
    const char* sender = sd_bus_message_get_sender(m);
    std::lock_guard c(connectionsLock_);
    return sender != nullptr && daemonName_ == sender;
}

int BluezClient::OnNewConnection(sd_bus_message* m, void* self, sd_bus_error* error) {
    auto* client = static_cast<BluezClient*>(self);
    if (!client->FromDaemon(m)) {
        return sd_bus_error_set(error, "org.bluez.Error.Rejected", "not from the daemon");
    }
    const char* device = nullptr;
    int fd = -1;
    if (sd_bus_message_read(m, "oh", &device, &fd) < 0 || device == nullptr || fd < 0) {
        return sd_bus_error_set(error, "org.bluez.Error.InvalidArguments", "bad arguments");
    }
    // The message owns its descriptor; keep a copy of our own.
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (own < 0) {
        return sd_bus_error_set_errno(error, errno);
    }
    {
        std::lock_guard lock(client->connectionsLock_);
        auto [it, added] = client->connections_.emplace(device, own);
        if (!added) {
            sys::Close(it->second, "closing a Bluetooth connection");
            it->second = own;
        }
    }
    client->connectionArrived_.notify_all();
    return sd_bus_reply_method_return(m, "");
}

int BluezClient::OnRequestDisconnection(sd_bus_message* m, void* self, sd_bus_error* error) {
    auto* client = static_cast<BluezClient*>(self);
    if (!client->FromDaemon(m)) {
        return sd_bus_error_set(error, "org.bluez.Error.Rejected", "not from the daemon");
    }
    const char* device = nullptr;
    if (sd_bus_message_read(m, "o", &device) >= 0 && device != nullptr) {
        // A socket already handed to a port stays with it: the port sees the
        // link end when the daemon closes its side.
        client->DropConnection(device);
    }
    return sd_bus_reply_method_return(m, "");
}

int BluezClient::OnRelease(sd_bus_message* m, void* self, sd_bus_error* error) {
    auto* client = static_cast<BluezClient*>(self);
    if (!client->FromDaemon(m)) {
        return sd_bus_error_set(error, "org.bluez.Error.Rejected", "not from the daemon");
    }
    {
        std::lock_guard lock(client->connectionsLock_);
        client->registered_ = false;  // the next connect registers anew
    }
    return sd_bus_reply_method_return(m, "");
}

const sd_bus_vtable* BluezClient::ProfileVtable() {
    static const sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Release", "", "", &BluezClient::OnRelease, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("NewConnection", "oha{sv}", "", &BluezClient::OnNewConnection,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_METHOD("RequestDisconnection", "o", "", &BluezClient::OnRequestDisconnection,
                      SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };
    return vtable;
}

}  // namespace platform::bluez
