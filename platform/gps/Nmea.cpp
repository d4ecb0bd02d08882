#include "platform/gps/Nmea.h"

#include <charconv>
#include <cmath>
#include <string>

#include "platform/gps/Lines.h"

namespace platform {
namespace {

std::vector<std::string_view> SplitFields(std::string_view body) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        const size_t comma = body.find(',', start);
        if (comma == std::string_view::npos) {
            fields.push_back(body.substr(start));
            return fields;
        }
        fields.push_back(body.substr(start, comma - start));
        start = comma + 1;
    }
}

bool AllDigits(std::string_view s) {
    for (const char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// The text between "$" and "*" when the sentence is well framed and its
// checksum (when it has one) is right.
std::optional<std::string_view> CheckedBody(std::string_view sentence) {
    while (!sentence.empty() && (sentence.back() == '\n' || sentence.back() == '\r')) {
        sentence.remove_suffix(1);
    }
    if (sentence.empty() || sentence.front() != '$') {
        return std::nullopt;
    }
    sentence.remove_prefix(1);
    const size_t star = sentence.find('*');
    if (star == std::string_view::npos) {
        return sentence;
    }
    const std::string_view body = sentence.substr(0, star);
    const std::string_view sum = sentence.substr(star + 1);
    if (sum.size() != 2 || HexValue(sum[0]) < 0 || HexValue(sum[1]) < 0) {
        return std::nullopt;
    }
    unsigned computed = 0;
    for (const char c : body) {
        computed ^= static_cast<unsigned char>(c);
    }
    if (computed != static_cast<unsigned>(HexValue(sum[0]) * 16 + HexValue(sum[1]))) {
        return std::nullopt;
    }
    return body;
}

// "hhmmss" with an optional fraction of any length; the milliseconds are the
// first three digits of the fraction, so they never carry into the seconds.
bool ParseTime(std::string_view field, GpsUtcTime* time) {
    if (field.empty()) {
        *time = GpsUtcTime{};
        return true;
    }
    const std::string_view whole = field.substr(0, field.find('.'));
    std::string_view fraction;
    if (whole.size() < field.size()) {
        fraction = field.substr(whole.size() + 1);
    }
    if (whole.size() != 6 || !AllDigits(whole) || !AllDigits(fraction)) {
        return false;
    }
    auto two = [&](size_t at) {
        return static_cast<uint16_t>((whole[at] - '0') * 10 + (whole[at + 1] - '0'));
    };
    GpsUtcTime t;
    t.hour = two(0);
    t.minute = two(2);
    t.second = two(4);
    int ms = 0;
    for (size_t i = 0; i < 3; ++i) {
        ms = ms * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
    }
    t.millisecond = static_cast<uint16_t>(ms);
    if (t.hour > 23 || t.minute > 59 || t.second > 60) {
        return false;
    }
    *time = t;
    return true;
}

enum class Coordinate { Malformed, Absent, OutOfRange, Valid };

// "ddmm.mmmm" or "dddmm.mmmm" with its hemisphere letter, in signed degrees.
Coordinate ParseCoordinate(std::string_view value, std::string_view hemisphere, char positive,
                           char negative, double limit, double* degrees) {
    if (value.empty()) {
        return Coordinate::Absent;
    }
    const std::string_view whole = value.substr(0, value.find('.'));
    const std::string_view fraction =
        whole.size() < value.size() ? value.substr(whole.size() + 1) : std::string_view();
    if (whole.size() < 2 || !AllDigits(whole) || !AllDigits(fraction) || hemisphere.size() != 1 ||
        (hemisphere[0] != positive && hemisphere[0] != negative)) {
        return Coordinate::Malformed;
    }
    double packed = 0;
    const std::string text(value);
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), packed);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return Coordinate::Malformed;
    }
    const double wholeDegrees = std::floor(packed / 100.0);
    const double minutes = packed - wholeDegrees * 100.0;
    const double result = wholeDegrees + minutes / 60.0;
    if (minutes >= 60.0 || result > limit) {
        return Coordinate::OutOfRange;
    }
    *degrees = hemisphere[0] == negative ? -result : result;
    return Coordinate::Valid;
}

}  // namespace

std::optional<GpsPosition> ParseNmeaSentence(std::string_view sentence) {
    const auto body = CheckedBody(sentence);
    if (!body) {
        return std::nullopt;
    }
    const std::vector<std::string_view> f = SplitFields(*body);
    // "xxGGA" or "xxRMC": any two-letter talker (GP, GN, GL...).
    if (f[0].size() != 5) {
        return std::nullopt;
    }
    const std::string_view type = f[0].substr(2);
    bool reportsFix = false;
    int quality = kGpsFix;
    size_t latAt = 0;
    if (type == "GGA" && f.size() >= 7) {
        if (f[6].empty() || !AllDigits(f[6]) || f[6].size() > 2) {
            return std::nullopt;
        }
        const int q = std::stoi(std::string(f[6]));
        reportsFix = q != 0;
        quality = q == kGpsDifferentialFix ? kGpsDifferentialFix : kGpsFix;
        latAt = 2;
    } else if (type == "RMC" && f.size() >= 7) {
        if (f[2] != "A" && f[2] != "V") {
            return std::nullopt;
        }
        reportsFix = f[2] == "A";
        latAt = 3;
    } else {
        return std::nullopt;
    }

    GpsPosition position;
    if (!ParseTime(f[1], &position.utcTime)) {
        return std::nullopt;
    }
    double lat = 0;
    double lon = 0;
    const Coordinate la = ParseCoordinate(f[latAt], f[latAt + 1], 'N', 'S', 90.0, &lat);
    const Coordinate lo = ParseCoordinate(f[latAt + 2], f[latAt + 3], 'E', 'W', 180.0, &lon);
    if (la == Coordinate::Malformed || lo == Coordinate::Malformed) {
        return std::nullopt;
    }
    if (reportsFix && la == Coordinate::Valid && lo == Coordinate::Valid) {
        position.fixQuality = quality;
        position.latitude = lat;
        position.longitude = lon;
    }
    return position;
}

std::vector<GpsTrackPoint> NmeaLogToTrack(std::string_view log, uint32_t epochMs) {
    std::vector<GpsTrackPoint> track;
    for (const std::string_view line : SplitLines(log)) {
        const auto position = ParseNmeaSentence(line);
        if (!position) {
            continue;
        }
        GpsTrackPoint point;
        point.position = *position;
        if (!track.empty()) {
            point.afterMs = position->utcTime == track.back().position.utcTime ? 0 : epochMs;
        }
        track.push_back(point);
    }
    return track;
}

}  // namespace platform
