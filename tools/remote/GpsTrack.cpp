#include "tools/remote/GpsTrack.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/fs/DeviceRoot.h"
#include "platform/gps/Nmea.h"
#include "platform/sys/Syscall.h"

namespace remote {
namespace {

const char* const kGpxHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<gpx version=\"1.1\" creator=\"camora-remote\" xmlns=\"http://www.topografix.com/GPX/1/1\" "
    "xmlns:camora=\"urn:camora-controller:gpx:1\">\n"
    "<trk><name>positions fed to the camcorder</name><trkseg>\n";
const char* const kGpxTail = "</trkseg></trk></gpx>\n";

constexpr int64_t kDayMs = 86400000;

int64_t MsOfDay(const platform::GpsUtcTime& t) {
    return ((int64_t{t.hour} * 60 + t.minute) * 60 + t.second) * 1000 + t.millisecond;
}

}  // namespace

std::optional<platform::GpsPosition> PositionOfSentence(std::string_view text) {
    if (!text.starts_with("$GPGGA,")) {
        return std::nullopt;
    }
    return platform::ParseNmeaSentence(text);
}

WallClock::time_point FixTime(WallClock::time_point at, const platform::GpsUtcTime& time) {
    const int64_t atMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
    const int64_t day = atMs >= 0 ? atMs / kDayMs : (atMs - kDayMs + 1) / kDayMs;
    int64_t fix = day * kDayMs + MsOfDay(time);
    if (fix - atMs > kDayMs / 2) {
        fix -= kDayMs;
    } else if (atMs - fix > kDayMs / 2) {
        fix += kDayMs;
    }
    return WallClock::time_point(std::chrono::milliseconds(fix));
}

std::string Iso8601(WallClock::time_point t) {
    const int64_t ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(((ms % 1000) + 1000) % 1000));
    return text;
}

std::string GpxPoint(const FedPosition& fed) {
    const platform::GpsPosition& p = fed.position;
    // The GPX words for the GGA qualities that have one; the quality itself
    // goes in the extension either way.
    const char* fix = p.fixQuality == 2 ? "dgps" : p.fixQuality == 3 ? "pps" : nullptr;
    char text[512];
    std::snprintf(text, sizeof text,
                  "<trkpt lat=\"%.7f\" lon=\"%.7f\"><time>%s</time>%s%s%s<extensions>"
                  "<camora:quality>%d</camora:quality></extensions></trkpt>\n",
                  p.latitude, p.longitude, Iso8601(FixTime(fed.at, p.utcTime)).c_str(),
                  fix != nullptr ? "<fix>" : "", fix != nullptr ? fix : "",
                  fix != nullptr ? "</fix>" : "", p.fixQuality);
    return text;
}

std::unique_ptr<GpxTrack> GpxTrack::Create(const std::string& path, std::string* error) {
    const platform::sys::Outcome opened = platform::sys::Call("open", [&] {
        return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    });
    if (opened.Failed()) {
        *error = std::strerror(opened.error);
        return nullptr;
    }
    const int fd = static_cast<int>(opened.result);
    const std::string start = std::string(kGpxHead) + kGpxTail;
    const platform::sys::Outcome written = platform::sys::WriteAll(fd, start.data(), start.size());
    if (written.Failed()) {
        *error = written.error != 0 ? std::strerror(written.error) : "short write";
        platform::sys::Close(fd, "the GPX track");
        return nullptr;
    }
    return std::unique_ptr<GpxTrack>(new GpxTrack(fd, static_cast<long>(std::strlen(kGpxHead))));
}

GpxTrack::~GpxTrack() {
    platform::sys::Close(fd_, "the GPX track");
}

bool GpxTrack::Add(const FedPosition& fed, std::string* error) {
    if (fed.position.fixQuality == platform::kGpsNoFix) {
        return true;
    }
    const std::string point = GpxPoint(fed);
    const std::string bytes = point + kGpxTail;
    // One write from where the closing tags start: the file holds either the
    // old end or the new point with the end after it.
    const platform::sys::Outcome written =
        platform::sys::Whole("pwrite", bytes.size(), [&](size_t done) {
            return ::pwrite(fd_, bytes.data() + done, bytes.size() - done,
                            static_cast<off_t>(end_) + static_cast<off_t>(done));
        });
    if (written.Failed()) {
        *error = written.error != 0 ? std::strerror(written.error) : "short write";
        return false;
    }
    end_ += static_cast<long>(point.size());
    ++points_;
    return true;
}

std::string LastFixPath() {
    return platform::DeviceRootPath("camora-remote-last-fix");
}

bool SaveLastFix(const LastFix& fix) {
    const std::string path = LastFixPath();
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::trunc);
        char text[256];
        std::snprintf(text, sizeof text, "at_ms=%lld\nlat=%.7f\nlon=%.7f\nquality=%d\n",
                      static_cast<long long>(fix.atMs), fix.position.latitude,
                      fix.position.longitude, fix.position.fixQuality);
        out << text << "source=" << fix.source << "\n";
        out.close();
        if (!out) {
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    return !ec;
}

std::optional<LastFix> LoadLastFix() {
    std::ifstream in(LastFixPath());
    if (!in) {
        return std::nullopt;
    }
    LastFix fix;
    int seen = 0;
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        char* end = nullptr;
        if (key == "at_ms") {
            fix.atMs = std::strtoll(value.c_str(), &end, 10);
        } else if (key == "lat") {
            fix.position.latitude = std::strtod(value.c_str(), &end);
        } else if (key == "lon") {
            fix.position.longitude = std::strtod(value.c_str(), &end);
        } else if (key == "quality") {
            fix.position.fixQuality = static_cast<int>(std::strtol(value.c_str(), &end, 10));
        } else if (key == "source") {
            fix.source = value;
            ++seen;
            continue;
        } else {
            continue;
        }
        if (end == value.c_str() || *end != '\0') {
            return std::nullopt;  // a damaged file tells nothing
        }
        ++seen;
    }
    if (seen != 5) {
        return std::nullopt;
    }
    return fix;
}

double LastFixAgeSeconds(const LastFix& fix, WallClock::time_point now) {
    const int64_t nowMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
    return static_cast<double>(nowMs - fix.atMs) / 1000.0;
}

std::string FormatLastFix(const LastFix& fix, WallClock::time_point now) {
    const double age = LastFixAgeSeconds(fix, now);
    char ageText[64];
    if (age < 0) {
        std::snprintf(ageText, sizeof ageText, "in the future (the clock was set back)");
    } else if (age < 120) {
        std::snprintf(ageText, sizeof ageText, "%.0f s ago", age);
    } else if (age < 7200) {
        std::snprintf(ageText, sizeof ageText, "%.0f min ago", age / 60);
    } else {
        std::snprintf(ageText, sizeof ageText, "%.1f h ago", age / 3600);
    }
    char text[256];
    std::snprintf(text, sizeof text, "%.6f %c, %.6f %c, fix quality %d, %s, from %s",
                  std::fabs(fix.position.latitude), fix.position.latitude < 0 ? 'S' : 'N',
                  std::fabs(fix.position.longitude), fix.position.longitude < 0 ? 'W' : 'E',
                  fix.position.fixQuality, ageText, fix.source.c_str());
    return text;
}

}  // namespace remote
