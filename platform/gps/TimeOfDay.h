// The UTC time of day of a time stamp, for the position sources of
// platform/gps. Internal to platform/gps.
#pragma once

#include <cstdint>

#include "platform/gps/Gps.h"

namespace platform {

inline int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

// The time of day of `totalMs` milliseconds since the epoch, split with floor
// division so that a pre-epoch time stamp never gives a negative part.
inline GpsUtcTime UtcTimeOfDay(int64_t totalMs) {
    const int64_t msOfDay = totalMs - FloorDiv(totalMs, 86'400'000) * 86'400'000;
    GpsUtcTime time;
    time.hour = static_cast<uint16_t>(msOfDay / 3'600'000);
    time.minute = static_cast<uint16_t>(msOfDay / 60'000 % 60);
    time.second = static_cast<uint16_t>(msOfDay / 1000 % 60);
    time.millisecond = static_cast<uint16_t>(msOfDay % 1000);
    return time;
}

}  // namespace platform
