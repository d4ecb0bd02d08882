// Reading positions from NMEA 0183 text: GGA and RMC sentences of any talker,
// and whole logs turned into a timed track for replay.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "platform/gps/Gps.h"

namespace platform {

// The position one sentence gives: a GGA or RMC sentence (with "$" and with or
// without "*hh" checksum and line end). None for another sentence, a wrong
// checksum or a malformed field. A sentence without a usable position (quality
// 0, status V, empty or out-of-range coordinates) gives a record without fix,
// with the time when the sentence had one.
std::optional<GpsPosition> ParseNmeaSentence(std::string_view sentence);

// The positions of an NMEA log, one point per GGA or RMC sentence. A point
// whose time of day differs from the previous point's comes `epochMs` after
// it; one of the same time (GGA and RMC of one fix) comes at once.
std::vector<GpsTrackPoint> NmeaLogToTrack(std::string_view log, uint32_t epochMs);

}  // namespace platform
