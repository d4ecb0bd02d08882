// What camora-remote keeps of the positions it feeds the camera: a GPX 1.1
// track written point by point, and the last fix, which `status` shows.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/gps/Gps.h"

namespace remote {

using WallClock = std::chrono::system_clock;

// One position as it went to the camera, and when.
struct FedPosition {
    WallClock::time_point at;
    platform::GpsPosition position;
};

// The position a GPS packet's text (a $GPGGA sentence) carries; none for
// another text.
std::optional<platform::GpsPosition> PositionOfSentence(std::string_view text);

// The whole UTC time of a fix that carries only its time of day, fed at `at`:
// the date of `at`, or the day before or after when the time of day is more
// than twelve hours from that of `at` (a fix from just before midnight fed
// just after it).
WallClock::time_point FixTime(WallClock::time_point at, const platform::GpsUtcTime& time);

// "2026-12-09T09:30:00.000Z"
std::string Iso8601(WallClock::time_point t);

// One <trkpt> of the track, with its line end.
std::string GpxPoint(const FedPosition& fed);

// A GPX 1.1 file of one track. The file is a whole GPX document after every
// point: each point is written together with the closing tags, over the
// closing tags before it, in one write; a process killed at any moment
// leaves every point written before that write.
class GpxTrack {
public:
    // Makes the file at `path`, which must not exist yet (a track is never
    // written over); null with the reason in *error.
    static std::unique_ptr<GpxTrack> Create(const std::string& path, std::string* error);
    ~GpxTrack();
    GpxTrack(const GpxTrack&) = delete;
    GpxTrack& operator=(const GpxTrack&) = delete;

    // Adds a point; false (reason in *error) when it could not be written.
    // A position without a fix has no place in a track and is left out.
    bool Add(const FedPosition& fed, std::string* error);
    size_t Points() const { return points_; }

private:
    GpxTrack(int fd, long end) : fd_(fd), end_(end) {}
    int fd_;
    long end_;  // where the closing tags start
    size_t points_ = 0;
};

// The last fix fed to the camera, kept in the device root between runs.
struct LastFix {
    int64_t atMs = 0;  // Unix time of the feed, in milliseconds
    platform::GpsPosition position;
    std::string source;  // the position source it came from
};
std::string LastFixPath();
// Replaces the file whole (a reader never sees half of it); false on failure.
bool SaveLastFix(const LastFix& fix);
std::optional<LastFix> LoadLastFix();
// "35.681236 N, 139.767125 E, fix quality 1, 12 s ago, from a track (track.txt)"
std::string FormatLastFix(const LastFix& fix, WallClock::time_point now);
double LastFixAgeSeconds(const LastFix& fix, WallClock::time_point now);

}  // namespace remote
