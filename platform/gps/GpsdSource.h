// The real position source on a Linux handset: the gpsd daemon, read through
// libgps on a thread of its own. Internal to platform/gps.
#pragma once

#include <gps.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "platform/gps/GpsSource.h"

namespace platform {

// The position in one gpsd report. gpsd leaves coordinates NaN until it has a
// fix and reports times that may go backwards or come without a date: only a
// report with valid coordinates and a time counts as a fix, and the time of day
// is taken from the report alone.
GpsPosition PositionFromGpsdFix(const gps_fix_t& fix, gps_mask_t set);

class GpsdSource : public GpsSource {
public:
    GpsdSource(std::string host, std::string port);
    ~GpsdSource() override;

    // Connects to gpsd and asks it to stream reports; false when it does not answer.
    bool Start(GpsSink& sink) override;
    void Stop() override;

private:
    void Run();

    std::string host_;
    std::string port_;
    gps_data_t data_{};
    int fd_ = -1;
    bool open_ = false;
    GpsSink* sink_ = nullptr;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace platform
