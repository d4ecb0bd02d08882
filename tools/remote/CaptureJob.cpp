#include "tools/remote/CaptureJob.h"

#include <cstdlib>

#include "app/CameraState.h"
#include "controllers/MonitorController.h"

namespace remote {
namespace {

constexpr uint32_t kBlockBytes = 10240;
constexpr uint16_t kCaptureStart = 2;
constexpr uint16_t kCaptureEnd = 3;

}  // namespace

CaptureJob::CaptureJob(CMonitorController* steps, CCameraState* state)
    : steps_(steps), state_(state) {}

CaptureJob::~CaptureJob() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void CaptureJob::Start() {
    thread_ = std::thread([this] { Run(); });
}

void CaptureJob::Run() {
    state_->SetCaptureActive(1);  // live view stays away meanwhile
    Outcome outcome = Outcome::Failed;
    bool lastStepFailed = false;
    [&] {
        if (cancel_) {
            outcome = Outcome::Cancelled;
            return;
        }
        if (steps_->SendCommand(ActionCapture, kCaptureStart) != 1) {
            lastStepFailed = true;
            return;
        }
        uint32_t dataSize = 0;
        uint16_t dataCount = 0;
        if (cancel_) {
            outcome = Outcome::Cancelled;
            return;
        }
        if (steps_->GetDataInfo(ActionCapture, &dataSize, &dataCount) != 1) {
            lastStepFailed = true;
            return;
        }
        if (dataSize == 0 || dataCount == 0 || dataSize > CMonitorController::kMaxImageBytes) {
            return;
        }
        const uint32_t blocks = (dataSize + kBlockBytes - 1) / kBlockBytes;
        total_ = blocks;
        std::vector<uint8_t> buffer(static_cast<size_t>(blocks) * kBlockBytes);
        for (uint32_t n = 1; n <= blocks; ++n) {
            if (cancel_) {
                outcome = Outcome::Cancelled;
                return;
            }
            if (steps_->GetImageData(ActionCapture, buffer.data() + (n - 1) * kBlockBytes,
                                     static_cast<uint16_t>(n)) != 1) {
                lastStepFailed = true;
                return;
            }
            done_ = n;
        }
        buffer.resize(dataSize);
        image_ = std::move(buffer);
        outcome = Outcome::Done;
    }();
    // The camera leaves capture unless the last request itself went unanswered.
    if (!lastStepFailed) {
        steps_->SendCommand(ActionCapture, kCaptureEnd);
    }
    state_->SetCaptureActive(0);
    outcome_ = outcome;
}

}  // namespace remote
