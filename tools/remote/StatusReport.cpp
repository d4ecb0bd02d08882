#include "tools/remote/StatusReport.h"

#include <cstdio>

namespace remote {

const char* ModeName(uint16_t mode) {
    static const char* const kNames[] = {"video recording", "video playback", "still recording",
                                         "still playback"};
    return mode < 4 ? kNames[mode] : "unknown";
}

const char* OperationName(uint16_t state) {
    static const char* const kNames[] = {"standby", "shooting", "quick-start standby"};
    return state < 3 ? kNames[state] : "unknown";
}

const char* GpsName(uint16_t gpsStatus) {
    static const char* const kNames[] = {"off", "on", "on, no position"};
    return gpsStatus < 3 ? kNames[gpsStatus] : "unknown";
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;  // UTF-8 passes as it is
        }
    }
    return out + "\"";
}

std::string FormatStatusText(const StatusReport& r) {
    const CameraStateSnapshot& s = r.state;
    std::string battery = s.batteryAttached != 0
                              ? "attached, level " + std::to_string(s.batteryLevel) + " of 5"
                              : std::string("not attached");
    return "device:  " + r.device + "\nmode:    " + ModeName(s.mode) +
           "\nstate:   " + OperationName(s.operationState) +
           "\npower:   " + (s.acPower != 0 ? "mains" : "battery") + "\nbattery: " + battery +
           "\ngps:     " + GpsName(s.gpsStatus) +
           (r.gpsDevice ? "" : " (no position source on this machine)") +
           "\nfix:     " + (r.lastFix ? FormatLastFix(*r.lastFix, r.now) : "none fed yet") +
           "\nsource:  " + (r.gpsSource.empty() ? "none" : r.gpsSource) + "\n";
}

namespace {

std::string LastFixJson(const StatusReport& r) {
    if (!r.lastFix) {
        return "null";
    }
    const LastFix& f = *r.lastFix;
    char text[160];
    std::snprintf(text, sizeof text,
                  "{\"age_s\":%.1f,\"latitude\":%.7f,\"longitude\":%.7f,\"quality\":%d,",
                  LastFixAgeSeconds(f, r.now), f.position.latitude, f.position.longitude,
                  f.position.fixQuality);
    return text + ("\"source\":" + JsonString(f.source) + "}");
}

}  // namespace

std::string FormatStatusJson(const StatusReport& r) {
    const CameraStateSnapshot& s = r.state;
    auto flag = [](uint16_t v) { return v != 0 ? "true" : "false"; };
    return "{\"device\":" + JsonString(r.device) + ",\"mode\":" + JsonString(ModeName(s.mode)) +
           ",\"mode_code\":" + std::to_string(s.mode) +
           ",\"state\":" + JsonString(OperationName(s.operationState)) +
           ",\"state_code\":" + std::to_string(s.operationState) +
           ",\"recording\":" + flag(s.operationState == 1 ? 1 : 0) +
           ",\"mains_power\":" + flag(s.acPower) +
           ",\"battery_attached\":" + flag(s.batteryAttached) +
           ",\"battery_level\":" + std::to_string(s.batteryLevel) +
           ",\"gps\":" + JsonString(GpsName(s.gpsStatus)) +
           ",\"gps_device\":" + (r.gpsDevice ? "true" : "false") +
           ",\"gps_source\":" + JsonString(r.gpsSource) + ",\"last_fix\":" + LastFixJson(r) + "}";
}

bool StatusChanged(const CameraStateSnapshot& a, const CameraStateSnapshot& b) {
    return a.mode != b.mode || a.operationState != b.operationState || a.acPower != b.acPower ||
           a.batteryAttached != b.batteryAttached || a.batteryLevel != b.batteryLevel ||
           a.gpsStatus != b.gpsStatus;
}

}  // namespace remote
