#include "platform/gps/GeoclueSource.h"

#include <poll.h>
#include <sys/eventfd.h>

#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <system_error>

#include "platform/dbus/SdBus.h"
#include "platform/gps/TimeOfDay.h"
#include "platform/sys/Syscall.h"

namespace platform {
namespace {

using dbus::ErrorRef;
using dbus::MessageRef;

constexpr const char* kService = "org.freedesktop.GeoClue2";
constexpr const char* kManagerPath = "/org/freedesktop/GeoClue2/Manager";
constexpr const char* kManagerInterface = "org.freedesktop.GeoClue2.Manager";
constexpr const char* kClientInterface = "org.freedesktop.GeoClue2.Client";
constexpr const char* kLocationInterface = "org.freedesktop.GeoClue2.Location";
constexpr const char* kProperties = "org.freedesktop.DBus.Properties";

// GeoClue's accuracy levels; anything below exact gives a place's centre.
constexpr uint32_t kAccuracyExact = 8;

// The daemon may be started by the bus for the first call, and GeoClue holds a
// client back until an agent has registered; a client that is let in answers
// Start at once, one that an agent asks the user about waits for the answer.
constexpr uint32_t kGetClientMs = 5000;
constexpr uint32_t kStartMs = 10000;
constexpr uint32_t kCallMs = 3000;
constexpr uint32_t kStopMs = 1000;

int64_t NowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A method call with its own time-out; false with the reply unset on failure.
bool Call(sd_bus* bus, const char* destination, const char* path, const char* interface,
          const char* member, uint32_t timeoutMs, MessageRef* reply, const char* signature, ...) {
    MessageRef call;
    ErrorRef error;
    if (sd_bus_message_new_method_call(bus, &call.m, destination, path, interface, member) < 0) {
        return false;
    }
    va_list ap;
    va_start(ap, signature);
    const int r = signature != nullptr ? sd_bus_message_appendv(call.m, signature, ap) : 0;
    va_end(ap);
    if (r < 0) {
        return false;
    }
    MessageRef ignored;
    return sd_bus_call(bus, call.m, dbus::MsToUsec(timeoutMs), &error.e,
                       reply != nullptr ? &reply->m : &ignored.m) >= 0;
}

bool ReadVariantDouble(sd_bus_message* m, double* out) {
    char type = 0;
    const char* contents = nullptr;
    if (sd_bus_message_peek_type(m, &type, &contents) > 0 && type == 'v' && contents != nullptr &&
        std::strcmp(contents, "d") == 0) {
        return sd_bus_message_read(m, "v", "d", out) >= 0;
    }
    return sd_bus_message_skip(m, "v") >= 0;
}

bool ReadVariantTimestamp(sd_bus_message* m, GeoclueLocation* location) {
    char type = 0;
    const char* contents = nullptr;
    if (sd_bus_message_peek_type(m, &type, &contents) > 0 && type == 'v' && contents != nullptr &&
        std::strcmp(contents, "(tt)") == 0) {
        return sd_bus_message_enter_container(m, 'v', "(tt)") > 0 &&
               sd_bus_message_read(m, "(tt)", &location->seconds, &location->microseconds) >= 0 &&
               sd_bus_message_exit_container(m) >= 0;
    }
    return sd_bus_message_skip(m, "v") >= 0;
}

// The reply of GetAll on a Location object: a{sv}. False when malformed.
bool ReadLocation(sd_bus_message* m, GeoclueLocation* location) {
    return dbus::ReadPropertyDictionary(m, [&](const char* key) {
        if (std::strcmp(key, "Latitude") == 0) {
            return ReadVariantDouble(m, &location->latitude);
        }
        if (std::strcmp(key, "Longitude") == 0) {
            return ReadVariantDouble(m, &location->longitude);
        }
        if (std::strcmp(key, "Accuracy") == 0) {
            return ReadVariantDouble(m, &location->accuracy);
        }
        if (std::strcmp(key, "Timestamp") == 0) {
            return ReadVariantTimestamp(m, location);
        }
        return sd_bus_message_skip(m, "v") >= 0;
    });
}

}  // namespace

GpsPosition PositionFromGeoclue(const GeoclueLocation& location, int64_t nowUs) {
    GpsPosition position;
    // Far-off values are garbage, not times; bounding them keeps the sums defined.
    constexpr uint64_t kFarOffSeconds = 1'000'000'000'000;
    if (location.seconds == 0 || location.seconds > kFarOffSeconds ||
        location.microseconds >= 1'000'000) {
        return position;
    }
    const int64_t stampUs = static_cast<int64_t>(location.seconds) * 1'000'000 +
                            static_cast<int64_t>(location.microseconds);
    position.utcTime = UtcTimeOfDay(FloorDiv(stampUs, 1000));
    const int64_t ageUs = nowUs - stampUs;
    const bool fresh = ageUs <= kGeoclueMaxAgeUs && ageUs >= -kGeoclueMaxAgeUs;
    const bool fine = std::isfinite(location.accuracy) && location.accuracy >= 0.0 &&
                      location.accuracy <= kGeoclueMaxAccuracyM;
    const bool located = std::isfinite(location.latitude) && std::isfinite(location.longitude) &&
                         std::fabs(location.latitude) <= 90.0 &&
                         std::fabs(location.longitude) <= 180.0;
    if (fresh && fine && located) {
        position.fixQuality = kGpsFix;
        position.latitude = location.latitude;
        position.longitude = location.longitude;
    }
    return position;
}

GeoclueSource::GeoclueSource() = default;

GeoclueSource::~GeoclueSource() {
    GeoclueSource::Stop();
}

bool GeoclueSource::Fail() {
    sd_bus_slot_unref(updated_);
    updated_ = nullptr;
    sd_bus_slot_unref(owner_);
    owner_ = nullptr;
    sd_bus_flush_close_unref(bus_);
    bus_ = nullptr;
    client_.clear();
    return false;
}

bool GeoclueSource::Start(GpsSink& sink) {
    sink_ = &sink;
    if (sd_bus_open_system(&bus_) < 0) {
        bus_ = nullptr;
        return false;
    }
    MessageRef reply;
    const char* path = nullptr;
    if (!Call(bus_, kService, kManagerPath, kManagerInterface, "GetClient", kGetClientMs, &reply,
              nullptr) ||
        sd_bus_message_read(reply.m, "o", &path) < 0 || path == nullptr) {
        return Fail();
    }
    client_ = path;
    // Signals only from the daemon that made the client; a daemon started
    // anew later knows nothing of it.
    MessageRef owner;
    const char* unique = nullptr;
    if (!Call(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
              "GetNameOwner", kCallMs, &owner, "s", kService) ||
        sd_bus_message_read(owner.m, "s", &unique) < 0 || unique == nullptr) {
        return Fail();
    }
    daemon_ = unique;
    const bool configured =
        Call(bus_, daemon_.c_str(), client_.c_str(), kProperties, "Set", kCallMs, nullptr, "ssv",
             kClientInterface, "DesktopId", "s", kGeoclueDesktopId) &&
        Call(bus_, daemon_.c_str(), client_.c_str(), kProperties, "Set", kCallMs, nullptr, "ssv",
             kClientInterface, "RequestedAccuracyLevel", "u", kAccuracyExact) &&
        Call(bus_, daemon_.c_str(), client_.c_str(), kProperties, "Set", kCallMs, nullptr, "ssv",
             kClientInterface, "DistanceThreshold", "u", uint32_t{0});
    if (!configured) {
        return Fail();
    }
    // Watched before Start, so that the first location is never missed; what
    // comes meanwhile waits in the connection for the serving thread.
    const std::string ownerMatch =
        "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
        "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='" +
        std::string(kService) + "'";
    if (sd_bus_match_signal(bus_, &updated_, daemon_.c_str(), client_.c_str(), kClientInterface,
                            "LocationUpdated", &GeoclueSource::OnLocationUpdated, this) < 0 ||
        sd_bus_add_match(bus_, &owner_, ownerMatch.c_str(), &GeoclueSource::OnOwnerChanged, this) <
            0) {
        return Fail();
    }
    if (!Call(bus_, daemon_.c_str(), client_.c_str(), kClientInterface, "Start", kStartMs, nullptr,
              nullptr)) {
        return Fail();
    }
    wake_ = ::eventfd(0, EFD_CLOEXEC);
    if (wake_ < 0) {
        return Fail();
    }
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        sys::Close(wake_, "closing the GeoClue client's wake-up descriptor");
        wake_ = -1;
        return Fail();
    }
    return true;
}

void GeoclueSource::Stop() {
    if (thread_.joinable()) {
        ::eventfd_write(wake_, 1);
        thread_.join();
    }
    if (wake_ >= 0) {
        sys::Close(wake_, "closing the GeoClue client's wake-up descriptor");
        wake_ = -1;
    }
    if (bus_ != nullptr && !lost_) {
        // The daemon also drops a client whose connection closes; asking
        // first lets it switch the receiver off at once.
        Call(bus_, daemon_.c_str(), client_.c_str(), kClientInterface, "Stop", kStopMs, nullptr,
             nullptr);
    }
    Fail();
}

void GeoclueSource::Run() {
    for (;;) {
        int timeoutMs = -1;
        if (fresh_) {
            // Wake when the latest fix goes stale, to say so.
            const int64_t stampUs = static_cast<int64_t>(latest_->seconds) * 1'000'000 +
                                    static_cast<int64_t>(latest_->microseconds);
            const int64_t leftUs = stampUs + kGeoclueMaxAgeUs - NowUs();
            timeoutMs = leftUs <= 0 ? 0 : static_cast<int>((leftUs + 999) / 1000 + 1);
        }
        const dbus::BusTurn turn = dbus::ServeBusOnce(bus_, wake_, timeoutMs);
        if (turn == dbus::BusTurn::Woken) {
            return;
        }
        if (turn == dbus::BusTurn::Gone && !lost_) {
            lost_ = true;
            sink_->OnLost();
        }
        if (lost_) {
            break;
        }
        if (fresh_) {
            const GpsPosition now = PositionFromGeoclue(*latest_, NowUs());
            if (now.fixQuality == kGpsNoFix) {
                fresh_ = false;
                Deliver(now);
            }
        }
    }
    // The daemon is gone; the thread waits to be joined, so that no finished
    // thread is left behind.
    pollfd wake{wake_, POLLIN, 0};
    sys::Call("poll", [&] { return ::poll(&wake, 1, -1); });
}

void GeoclueSource::Deliver(const GpsPosition& position) {
    sink_->OnPosition(position);
}

void GeoclueSource::OnLocation(const char* path) {
    MessageRef reply;
    GeoclueLocation location;
    if (!Call(bus_, daemon_.c_str(), path, kProperties, "GetAll", kCallMs, &reply, "s",
              kLocationInterface) ||
        !ReadLocation(reply.m, &location)) {
        return;  // the location was replaced before it could be read; the next one comes
    }
    const GpsPosition position = PositionFromGeoclue(location, NowUs());
    latest_ = location;
    fresh_ = position.fixQuality != kGpsNoFix;
    Deliver(position);
}

int GeoclueSource::OnLocationUpdated(sd_bus_message* m, void* self, sd_bus_error*) {
    const char* old = nullptr;
    const char* updated = nullptr;
    if (sd_bus_message_read(m, "oo", &old, &updated) >= 0 && updated != nullptr) {
        static_cast<GeoclueSource*>(self)->OnLocation(updated);
    }
    return 0;
}

int GeoclueSource::OnOwnerChanged(sd_bus_message* m, void* self, sd_bus_error*) {
    auto* source = static_cast<GeoclueSource*>(self);
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &oldOwner, &newOwner) < 0 || name == nullptr ||
        oldOwner == nullptr || std::strcmp(name, kService) != 0 || source->daemon_ != oldOwner) {
        return 0;
    }
    if (!source->lost_) {
        source->lost_ = true;
        source->sink_->OnLost();
    }
    return 0;
}

}  // namespace platform
