// The position source of Linux phones: the GeoClue 2 daemon on the system bus
// (fed there by the modem's GNSS or an NMEA socket), read over sd-bus on a
// thread of its own. Internal to platform/gps.
#pragma once

#include <systemd/sd-bus.h>

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>

#include "platform/gps/GpsSource.h"

namespace platform {

// The daemon's application id for this program: the name of its desktop entry,
// and of the section that allows it in GeoClue's configuration.
inline constexpr const char* kGeoclueDesktopId = "camora-controller";

// A location no older than this counts as a fix. A receiver reports once a
// second and the GPS controller reads at most every two seconds, so five
// seconds is a few missed reports, never a position the handset has since
// left behind; the daemon's time stamps have whole seconds.
inline constexpr int64_t kGeoclueMaxAgeUs = 5'000'000;
// A location whose radius of uncertainty is larger than this (street level:
// enough to name the street) is no fix. GeoClue's satellite positions are
// within it unless the receiver's geometry is poor; its city-level guesses
// from the network address are kilometres wide and must never reach the
// camera as a position.
inline constexpr double kGeoclueMaxAccuracyM = 100.0;

// One org.freedesktop.GeoClue2.Location, as far as the camera needs it.
struct GeoclueLocation {
    double latitude = 0.0;
    double longitude = 0.0;
    double accuracy = -1.0;     // metres; the daemon's "unknown" is negative
    uint64_t seconds = 0;       // Timestamp: since the epoch
    uint64_t microseconds = 0;  //   and the microseconds within that second
};

// The fix a location gives at `nowUs` (microseconds since the epoch, this
// handset's clock): its position and time of day when it is fresh, fine and
// plausible, else no fix. A time stamp far ahead of the clock is as suspect as
// one far behind it.
GpsPosition PositionFromGeoclue(const GeoclueLocation& location, int64_t nowUs);

class GeoclueSource : public GpsSource {
public:
    GeoclueSource();
    ~GeoclueSource() override;
    GeoclueSource(const GeoclueSource&) = delete;
    GeoclueSource& operator=(const GeoclueSource&) = delete;

    // Asks the daemon for a client of exact accuracy and starts it; false when
    // the bus or the daemon does not answer or the daemon refuses the program.
    bool Start(GpsSink& sink) override;
    void Stop() override;

private:
    bool Fail();
    void Run();
    void Deliver(const GpsPosition& position);
    void OnLocation(const char* path);
    static int OnLocationUpdated(sd_bus_message* m, void* self, sd_bus_error* error);
    static int OnOwnerChanged(sd_bus_message* m, void* self, sd_bus_error* error);

    sd_bus* bus_ = nullptr;  // after Start, the serving thread's alone until joined
    sd_bus_slot* updated_ = nullptr;
    sd_bus_slot* owner_ = nullptr;
    std::string daemon_;  // the daemon's unique name
    std::string client_;  // our client object's path
    GpsSink* sink_ = nullptr;
    int wake_ = -1;  // eventfd that stops the serving thread
    std::thread thread_;
    // The serving thread's: the latest location, and whether the daemon went away.
    std::optional<GeoclueLocation> latest_;
    bool fresh_ = false;  // the latest location was delivered as a fix
    bool lost_ = false;
};

}  // namespace platform
