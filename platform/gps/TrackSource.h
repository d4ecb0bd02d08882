// A position source that replays a timed track (scripted positions, or an
// NMEA log turned into one) on a thread of its own. Internal to platform/gps.
#pragma once

#include <memory>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/gps/GpsSource.h"

namespace platform {

// A track file: one point per line, "<after ms> <fix quality> <latitude>
// <longitude> <hh:mm:ss.mmm>", degrees signed (south and west negative);
// blank lines and lines starting with '#' are skipped. None when a line is
// malformed.
std::optional<std::vector<GpsTrackPoint>> ParseGpsTrack(std::string_view text);

class TrackSource : public GpsSource {
public:
    // With `loop`, the track starts again after its last point, unless it
    // takes no time at all (that would only spin).
    TrackSource(std::vector<GpsTrackPoint> points, bool loop);
    ~TrackSource() override;

    bool Start(GpsSink& sink) override;
    void Stop() override;

private:
    void Run();

    std::vector<GpsTrackPoint> points_;
    bool loop_;
    GpsSink* sink_ = nullptr;
    std::unique_ptr<Event> stop_;
    std::thread thread_;
};

}  // namespace platform
