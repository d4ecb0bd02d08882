// A name for people of the position source the configuration chooses.
#pragma once

#include <string>

namespace platform {

// "gpsd at localhost:2947", "a track (track.txt)", "an NMEA log (walk.nmea)",
// "none", as <device root>/gps.conf says now.
std::string GpsSourceName();

}  // namespace platform
