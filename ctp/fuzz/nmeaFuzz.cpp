// NMEA text from a GPS receiver or a log file: one sentence, and a whole log
// turned into a track. A position with a fix must lie on the globe.
#include <cstdint>
#include <string_view>

#include "platform/gps/Nmea.h"

namespace {

void CheckPosition(const platform::GpsPosition& p) {
    if (p.fixQuality != platform::kGpsNoFix && !(p.latitude >= -90.0 && p.latitude <= 90.0 &&
                                                 p.longitude >= -180.0 && p.longitude <= 180.0)) {
        __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (const auto position = platform::ParseNmeaSentence(text)) {
        CheckPosition(*position);
    }
    for (const platform::GpsTrackPoint& point : platform::NmeaLogToTrack(text, 1000)) {
        CheckPosition(point.position);
    }
    return 0;
}
