#include "platform/gps/GpsdSource.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cmath>
#include <ctime>
#include <system_error>

#include "platform/gps/TimeOfDay.h"
#include "platform/sys/Syscall.h"

namespace platform {

GpsPosition PositionFromGpsdFix(const gps_fix_t& fix, gps_mask_t set) {
    GpsPosition position;
    // Far-off values are garbage, not times; bounding them keeps the sums below defined.
    constexpr int64_t kFarOff = 1'000'000'000'000;
    const int64_t sec = fix.time.tv_sec;
    const int64_t nsec = fix.time.tv_nsec;
    const bool hasTime = (set & TIME_SET) != 0 && (sec != 0 || nsec != 0) && sec > -kFarOff &&
                         sec < kFarOff && nsec > -kFarOff && nsec < kFarOff;
    if (hasTime) {
        // Whole milliseconds, rounded, then split with floor division so that
        // an unnormalised or pre-epoch time stamp never gives a negative part.
        position.utcTime = UtcTimeOfDay(sec * 1000 + FloorDiv(nsec + 500'000, 1'000'000));
    }
    const bool located = fix.mode >= MODE_2D && std::isfinite(fix.latitude) &&
                         std::isfinite(fix.longitude) && std::fabs(fix.latitude) <= 90.0 &&
                         std::fabs(fix.longitude) <= 180.0;
    if (located && hasTime) {
        position.fixQuality = fix.status == STATUS_DGPS_FIX ? kGpsDifferentialFix : kGpsFix;
        position.latitude = fix.latitude;
        position.longitude = fix.longitude;
    }
    return position;
}

GpsdSource::GpsdSource(std::string host, std::string port)
    : host_(std::move(host)), port_(std::move(port)) {}

GpsdSource::~GpsdSource() {
    // Named: a derived class is already gone by now.
    GpsdSource::Stop();
}

bool GpsdSource::Start(GpsSink& sink) {
    sink_ = &sink;
    if (gps_open(host_.c_str(), port_.c_str(), &data_) != 0) {
        return false;
    }
    open_ = true;
    fd_ = data_.gps_fd;
    if (gps_stream(&data_, WATCH_ENABLE | WATCH_JSON, nullptr) < 0) {
        Stop();
        return false;
    }
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        Stop();
        return false;
    }
    return true;
}

void GpsdSource::Stop() {
    if (thread_.joinable()) {
        stopping_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
    }
    if (open_) {
        gps_close(&data_);
        open_ = false;
    }
}

void GpsdSource::Run() {
    while (!stopping_) {
        // libgps may hold whole reports already read; only when it holds none
        // does the reader block on the socket. Stop ends that wait by shutting
        // the socket, which then reads as ended.
        if (!gps_waiting(&data_, 0)) {
            pollfd p{fd_, POLLIN, 0};
            const long r = sys::Call("poll", [&] { return ::poll(&p, 1, -1); }).result;
            if (r < 0 || (r > 0 && (p.revents & POLLNVAL) != 0)) {
                if (!stopping_) {
                    sink_->OnLost();
                }
                return;
            }
            continue;
        }
        data_.set = 0;
        if (gps_read(&data_, nullptr, 0) < 0) {
            if (!stopping_) {
                sink_->OnLost();
            }
            return;
        }
        // Only a TPV report carries the mode; the others (sky view, device
        // list, version) say nothing about the position.
        if ((data_.set & MODE_SET) != 0 && !stopping_) {
            sink_->OnPosition(PositionFromGpsdFix(data_.fix, data_.set));
        }
    }
}

}  // namespace platform
