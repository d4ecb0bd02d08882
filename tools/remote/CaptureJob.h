// The still capture without its screens: the monitor controller's three
// request steps under the capture action (start, size, the blocks, end), on
// a thread of its own, with progress and cancel for whoever waits on it.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

class CMonitorController;
class CCameraState;

namespace remote {

class CaptureJob {
public:
    enum class Outcome { Running, Done, Failed, Cancelled };

    CaptureJob(CMonitorController* steps, CCameraState* state);
    ~CaptureJob();
    CaptureJob(const CaptureJob&) = delete;
    CaptureJob& operator=(const CaptureJob&) = delete;

    void Start();
    // Stops before the next block; the camera is still told that capture ended.
    void Cancel() { cancel_ = true; }
    Outcome Result() const { return outcome_.load(); }
    // Blocks fetched and blocks in all (0 until the size is known).
    uint32_t BlocksDone() const { return done_.load(); }
    uint32_t BlocksTotal() const { return total_.load(); }
    // After Done: exactly the image's bytes.
    const std::vector<uint8_t>& Image() const { return image_; }

private:
    void Run();

    CMonitorController* steps_;
    CCameraState* state_;
    std::atomic<bool> cancel_{false};
    std::atomic<Outcome> outcome_{Outcome::Running};
    std::atomic<uint32_t> done_{0};
    std::atomic<uint32_t> total_{0};
    std::vector<uint8_t> image_;  // the job's until the outcome is set
    std::thread thread_;
};

}  // namespace remote
