// NMEA text for the GPS tests that feed a receiver's sentences to a daemon.
#pragma once

#include <cstdio>
#include <string>

namespace gpstest {

// "$body*hh\r\n": the sentence with its checksum, as a receiver sends it.
inline std::string WithChecksum(const std::string& body) {
    unsigned sum = 0;
    for (const char c : body) {
        sum ^= static_cast<unsigned char>(c);
    }
    char tail[8];
    std::snprintf(tail, sizeof tail, "*%02X\r\n", sum);
    return "$" + body + tail;
}

}  // namespace gpstest
