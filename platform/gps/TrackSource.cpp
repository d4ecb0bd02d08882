#include "platform/gps/TrackSource.h"

#include <charconv>
#include <system_error>

#include "platform/gps/Lines.h"
#include "platform/kernel/Kernel.h"

namespace platform {
namespace {

template <typename T>
bool ParseNumber(std::string_view text, T* value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return ec == std::errc() && end == text.data() + text.size();
}

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t at = 0;
    while (at < line.size()) {
        const size_t start = line.find_first_not_of(" \t\r", at);
        if (start == std::string_view::npos) {
            break;
        }
        size_t end = line.find_first_of(" \t\r", start);
        if (end == std::string_view::npos) {
            end = line.size();
        }
        words.push_back(line.substr(start, end - start));
        at = end;
    }
    return words;
}

// "hh:mm:ss.mmm" (the milliseconds may be left out).
bool ParseClock(std::string_view text, GpsUtcTime* time) {
    unsigned h = 0;
    unsigned m = 0;
    unsigned s = 0;
    unsigned ms = 0;
    if (text.size() != 8 && text.size() != 12) {
        return false;
    }
    if (text[2] != ':' || text[5] != ':' || (text.size() == 12 && text[8] != '.')) {
        return false;
    }
    if (!ParseNumber(text.substr(0, 2), &h) || !ParseNumber(text.substr(3, 2), &m) ||
        !ParseNumber(text.substr(6, 2), &s) ||
        (text.size() == 12 && !ParseNumber(text.substr(9, 3), &ms))) {
        return false;
    }
    if (h > 23 || m > 59 || s > 60) {
        return false;
    }
    *time = GpsUtcTime{static_cast<uint16_t>(h), static_cast<uint16_t>(m), static_cast<uint16_t>(s),
                       static_cast<uint16_t>(ms)};
    return true;
}

}  // namespace

std::optional<std::vector<GpsTrackPoint>> ParseGpsTrack(std::string_view text) {
    std::vector<GpsTrackPoint> points;
    for (const std::string_view line : SplitLines(text)) {
        const std::vector<std::string_view> w = Words(line);
        if (w.empty() || w[0].front() == '#') {
            continue;
        }
        GpsTrackPoint p;
        if (w.size() != 5 || !ParseNumber(w[0], &p.afterMs) ||
            !ParseNumber(w[1], &p.position.fixQuality) ||
            !ParseNumber(w[2], &p.position.latitude) || !ParseNumber(w[3], &p.position.longitude) ||
            !ParseClock(w[4], &p.position.utcTime)) {
            return std::nullopt;
        }
        if (p.position.fixQuality < kGpsNoFix || p.position.fixQuality > kGpsDifferentialFix ||
            !(p.position.latitude >= -90.0 && p.position.latitude <= 90.0) ||
            !(p.position.longitude >= -180.0 && p.position.longitude <= 180.0)) {
            return std::nullopt;
        }
        points.push_back(p);
    }
    return points;
}

TrackSource::TrackSource(std::vector<GpsTrackPoint> points, bool loop)
    : points_(std::move(points)), loop_(loop) {
    uint64_t total = 0;
    for (const auto& p : points_) {
        total += p.afterMs;
    }
    if (total == 0) {
        loop_ = false;
    }
}

TrackSource::~TrackSource() {
    // Named: a derived class is already gone by now.
    TrackSource::Stop();
}

bool TrackSource::Start(GpsSink& sink) {
    sink_ = &sink;
    if (points_.empty()) {
        return true;
    }
    stop_ = Event::Create(ResetMode::Manual, false);
    if (stop_ == nullptr) {
        return false;
    }
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void TrackSource::Stop() {
    if (thread_.joinable()) {
        stop_->Set();
        thread_.join();
    }
}

void TrackSource::Run() {
    do {
        for (const auto& point : points_) {
            if (stop_->Wait(point.afterMs)) {
                return;
            }
            sink_->OnPosition(point.position);
        }
    } while (loop_);
}

}  // namespace platform
