// The platform configuration that chooses the position source behind the GPS
// device: the file `<device root>/gps.conf`, "key=value" lines ('#' starts a
// comment line):
//   backend=auto|geoclue|gpsd|track|nmea|none
//                                  auto (also when the file is missing or
//                                  names no backend): GeoClue when its
//                                  service answers, else gpsd, else none
//   host=localhost  port=2947      gpsd's address
//   file=<path>                    track file or NMEA log; relative paths are
//                                  below the device root
//   interval_ms=1000               NMEA log: pause between two fixes
//   loop=0|1                       track and NMEA log: start again at the end
// A file that cannot be read as such (an unknown backend, a malformed value)
// means no GPS device. Internal to platform/gps.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/gps/GpsSource.h"

namespace platform {

enum class GpsBackend { Auto, Geoclue, Gpsd, Track, Nmea, None };

struct GpsConfig {
    GpsBackend backend = GpsBackend::Auto;
    std::string host = "localhost";
    std::string port = "2947";
    std::string file;
    uint32_t intervalMs = 1000;
    bool loop = false;
};

GpsConfig ParseGpsConfig(std::string_view text);

// The configuration in the device root, or the default when there is none.
GpsConfig LoadGpsConfig();

// The source the configuration names; null for none, or when its file cannot
// be read.
std::unique_ptr<GpsSource> MakeGpsSource(const GpsConfig& config);

}  // namespace platform
