// Round trips on the live link, timed where the frames leave and arrive: a
// request written on a channel and the next frame the camera sends on it.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace remote {

class LinkStats {
public:
    using Clock = std::chrono::steady_clock;

    // Sender thread: a frame about to be written.
    void NoteSent(std::span<const uint8_t> frame, Clock::time_point at = Clock::now());
    // Receiver thread: a whole frame from the camera.
    void NoteReceived(std::span<const uint8_t> frame, Clock::time_point at = Clock::now());

    struct Summary {
        size_t samples = 0;
        double medianMs = 0;
        double p99Ms = 0;
    };
    // Channel 1 to 4.
    Summary RoundTrips(int channel) const;

    // What crossed the link on one channel so far.
    struct Traffic {
        uint64_t sentFrames = 0;
        uint64_t sentBytes = 0;
        uint64_t receivedBytes = 0;
    };
    Traffic Totals(int channel) const;

    // The value at quantile q (0..1) of `values`, nearest rank; 0 for none.
    static double Quantile(std::vector<double> values, double q);

private:
    mutable std::mutex lock_;  // guards everything below
    std::array<bool, 4> waiting_{};
    std::array<Clock::time_point, 4> sentAt_{};
    std::array<std::vector<double>, 4> roundTripsMs_{};
    std::array<Traffic, 4> traffic_{};
};

}  // namespace remote
