#include "platform/gps/GpsSourceName.h"

#include "platform/gps/GpsConfig.h"

namespace platform {

std::string GpsSourceName() {
    const GpsConfig c = LoadGpsConfig();
    switch (c.backend) {
        case GpsBackend::Gpsd:
            return "gpsd at " + c.host + ":" + c.port;
        case GpsBackend::Track:
            return "a track (" + c.file + ")";
        case GpsBackend::Nmea:
            return "an NMEA log (" + c.file + ")";
        case GpsBackend::Auto:
            return "GeoClue, else gpsd at " + c.host + ":" + c.port;
        case GpsBackend::Geoclue:
            return "GeoClue";
        case GpsBackend::None:
            return "none";
    }
    return "the configured source";
}

}  // namespace platform
