// The camera's status as camora-remote prints it: a line for people, or a
// JSON object for scripts.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/CameraState.h"
#include "tools/remote/GpsTrack.h"

namespace remote {

struct StatusReport {
    std::string device;
    CameraStateSnapshot state{};
    bool gpsDevice = false;          // this machine has a position source
    std::string gpsSource;           // which one
    std::optional<LastFix> lastFix;  // the last one fed to the camera
    WallClock::time_point now;       // for the fix's age
};

const char* ModeName(uint16_t mode);
const char* OperationName(uint16_t state);
const char* GpsName(uint16_t gpsStatus);

std::string FormatStatusText(const StatusReport& report);
// One line, no trailing newline.
std::string FormatStatusJson(const StatusReport& report);
// `text` as a JSON string, quotes included.
std::string JsonString(const std::string& text);

// Whether two snapshots differ in what a status report shows.
bool StatusChanged(const CameraStateSnapshot& a, const CameraStateSnapshot& b);

}  // namespace remote
