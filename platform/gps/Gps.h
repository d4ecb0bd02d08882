// The handset's GPS device: opened with a new-location event and a
// device-state event that it signals as positions come, it yields the latest
// fix quality, latitude, longitude and UTC time of day.
//
// Which position source stands behind it is platform configuration, the file
// `<device root>/gps.conf` (see GpsConfig.h): by default GeoClue when its
// service answers, else gpsd; or a scripted track, an NMEA log replay, or none. Opening fails when
// there is no device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform {

class Event;

// Names one open GPS device. A plain word rather than a pointer: a handle that
// was closed is harmless to use (every call on it fails), and callers can keep
// it in a std::atomic.
struct GpsDevice {
    uint64_t id = 0;
    explicit operator bool() const { return id != 0; }
    friend bool operator==(GpsDevice, GpsDevice) = default;
};

struct GpsUtcTime {
    uint16_t hour = 0;         // 0 to 23
    uint16_t minute = 0;       // 0 to 59
    uint16_t second = 0;       // 0 to 59 (60 during a leap second)
    uint16_t millisecond = 0;  // 0 to 999
    friend bool operator==(const GpsUtcTime&, const GpsUtcTime&) = default;
};

// Fix quality values, as in the quality field of a GGA sentence.
inline constexpr int kGpsNoFix = 0;
inline constexpr int kGpsFix = 1;
inline constexpr int kGpsDifferentialFix = 2;

struct GpsPosition {
    int fixQuality = kGpsNoFix;  // latitude, longitude and time mean something only with a fix
    double latitude = 0.0;       // degrees, south negative
    double longitude = 0.0;      // degrees, west negative
    GpsUtcTime utcTime;
    friend bool operator==(const GpsPosition&, const GpsPosition&) = default;
};

// A maximum age that accepts a position however old it is.
inline constexpr uint32_t kGpsAnyAge = 0xFFFFFFFFu;

// Opens the configured GPS device. From now until it is closed, each new
// position sets `newLocation` and each change of the source's state (it came
// up, it was lost) sets `deviceState`; either may be null, and both are null
// for a mere presence check. The events must outlive the open device.
// Returns an empty handle when there is no GPS device.
GpsDevice OpenGpsDevice(Event* newLocation, Event* deviceState);

// Fills `record` with the latest position. A position older than `maxAgeMs`
// (measured on this handset's clock, never from the receiver's time stamps)
// and a source that was lost both give a record without fix. `flags` are
// reserved and must be 0. False, with `record` untouched, for a handle that is
// not open, a null record or non-zero flags.
bool GetGpsPosition(GpsDevice device, GpsPosition* record, uint32_t maxAgeMs, uint32_t flags);

// Closes the device: once this returns its events are never set again.
// False for a handle that is not open.
bool CloseGpsDevice(GpsDevice device);

// A point of a scripted track: the position is delivered `afterMs` (on the
// scaled clock) after the previous one, or after opening for the first point.
struct GpsTrackPoint {
    uint32_t afterMs = 0;
    GpsPosition position;
};

// Test support: devices opened from now on replay this track, each from its
// start (again and again when `loop` is set and the track takes any time),
// whatever the configuration says. An empty track delivers only what
// PushGpsTrackPosition gives.
void UseGpsTrack(std::vector<GpsTrackPoint> points, bool loop);
// Test support: delivers one position at once to every device open on the
// track set by UseGpsTrack.
void PushGpsTrackPosition(const GpsPosition& position);
// Test support: devices opened from now on follow the configuration again.
void UseConfiguredGps();
// Test support: how many devices are open now, whatever stands behind them.
size_t OpenGpsDeviceCount();

}  // namespace platform
