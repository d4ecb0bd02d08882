#include "platform/gps/GpsConfig.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <utility>
#include <vector>

#include "platform/fs/DeviceRoot.h"
#include "platform/gps/GeoclueSource.h"
#include "platform/gps/GpsdSource.h"
#include "platform/gps/Lines.h"
#include "platform/gps/Nmea.h"
#include "platform/gps/TrackSource.h"

namespace platform {
namespace {

std::string_view Trim(std::string_view s) {
    const size_t start = s.find_first_not_of(" \t\r");
    if (start == std::string_view::npos) {
        return {};
    }
    const size_t end = s.find_last_not_of(" \t\r");
    return s.substr(start, end - start + 1);
}

bool ParseUnsigned(std::string_view text, uint32_t* value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
    return ec == std::errc() && end == text.data() + text.size();
}

bool ReadWholeFile(const std::string& path, std::string* contents) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    *contents = ss.str();
    return true;
}

// A file that cannot be read means no device, never a guess.
GpsConfig Unreadable() {
    GpsConfig config;
    config.backend = GpsBackend::None;
    return config;
}

bool ParseBackend(std::string_view name, GpsBackend* backend) {
    static constexpr std::pair<std::string_view, GpsBackend> kNames[] = {
        {"auto", GpsBackend::Auto},   {"geoclue", GpsBackend::Geoclue}, {"gpsd", GpsBackend::Gpsd},
        {"track", GpsBackend::Track}, {"nmea", GpsBackend::Nmea},       {"none", GpsBackend::None},
    };
    for (const auto& [known, value] : kNames) {
        if (name == known) {
            *backend = value;
            return true;
        }
    }
    return false;
}

// The first of its sources that starts; the others are never started again.
class FirstAnswering final : public GpsSource {
public:
    explicit FirstAnswering(std::vector<std::unique_ptr<GpsSource>> candidates)
        : candidates_(std::move(candidates)) {}

    bool Start(GpsSink& sink) override {
        for (auto& candidate : candidates_) {
            if (candidate->Start(sink)) {
                chosen_ = candidate.get();
                return true;
            }
        }
        return false;
    }
    void Stop() override {
        if (chosen_ != nullptr) {
            chosen_->Stop();
        }
    }

private:
    std::vector<std::unique_ptr<GpsSource>> candidates_;
    GpsSource* chosen_ = nullptr;
};

std::string HostPath(const std::string& file) {
    return !file.empty() && file.front() == '/' ? file : DeviceRootPath(file);
}

}  // namespace

GpsConfig ParseGpsConfig(std::string_view text) {
    GpsConfig config;
    for (const std::string_view raw : SplitLines(text)) {
        const std::string_view line = Trim(raw);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        const size_t eq = line.find('=');
        if (eq == std::string_view::npos) {
            return Unreadable();
        }
        const std::string_view key = Trim(line.substr(0, eq));
        const std::string_view value = Trim(line.substr(eq + 1));
        bool readable = true;
        if (key == "backend") {
            readable = ParseBackend(value, &config.backend);
        } else if (key == "host") {
            config.host = value;
        } else if (key == "port") {
            config.port = value;
        } else if (key == "file") {
            config.file = value;
        } else if (key == "interval_ms") {
            readable = ParseUnsigned(value, &config.intervalMs);
        } else if (key == "loop") {
            readable = value == "0" || value == "1";
            config.loop = value == "1";
        }
        // Other keys are left for later versions of the file.
        if (!readable) {
            return Unreadable();
        }
    }
    return config;
}

GpsConfig LoadGpsConfig() {
    std::string text;
    if (!ReadWholeFile(DeviceRootPath("gps.conf"), &text)) {
        return GpsConfig{};
    }
    return ParseGpsConfig(text);
}

std::unique_ptr<GpsSource> MakeGpsSource(const GpsConfig& config) {
    std::string contents;
    switch (config.backend) {
        case GpsBackend::Auto: {
            // A phone's position service first: gpsd is rarely part of its stack.
            std::vector<std::unique_ptr<GpsSource>> candidates;
            candidates.push_back(std::make_unique<GeoclueSource>());
            candidates.push_back(std::make_unique<GpsdSource>(config.host, config.port));
            return std::make_unique<FirstAnswering>(std::move(candidates));
        }
        case GpsBackend::Geoclue:
            return std::make_unique<GeoclueSource>();
        case GpsBackend::Gpsd:
            return std::make_unique<GpsdSource>(config.host, config.port);
        case GpsBackend::Track: {
            if (config.file.empty() || !ReadWholeFile(HostPath(config.file), &contents)) {
                return nullptr;
            }
            auto points = ParseGpsTrack(contents);
            if (!points) {
                return nullptr;
            }
            return std::make_unique<TrackSource>(std::move(*points), config.loop);
        }
        case GpsBackend::Nmea:
            if (config.file.empty() || !ReadWholeFile(HostPath(config.file), &contents)) {
                return nullptr;
            }
            return std::make_unique<TrackSource>(NmeaLogToTrack(contents, config.intervalMs),
                                                 config.loop);
        case GpsBackend::None:
            break;
    }
    return nullptr;
}

}  // namespace platform
