#include "tools/remote/HeadlessCaptureScreens.h"

#include <cstdio>
#include <string>

#include "controllers/CaptureContller.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/WindowMessages.h"
#include "resources/ResourceIds.h"
#include "tools/remote/RemoteSession.h"

namespace remote {

HeadlessCaptureScreens::HeadlessCaptureScreens(RemoteSession& session, bool progressBar)
    : session_(session), progressBar_(progressBar) {}

int HeadlessCaptureScreens::RunProgress(CCaptureContller& controller) {
    int outcome = 0;
    const platform::WindowHandle screen = platform::CreateMessageWindow(
        [&](platform::WindowHandle, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
            if (message == WM_CAPTURE_DONE) {
                outcome = kImageReady;
            } else if (message == WM_CAPTURE_FAILED) {
                outcome = kFailed;
            }
            return 0;
        });
    const platform::WindowHandle bar = platform::CreateMessageWindow(
        [&](platform::WindowHandle, uint32_t message, uintptr_t, intptr_t high) -> intptr_t {
            if (message == platform::kMsgProgressSetRange) {
                total_ = static_cast<uint32_t>(high);
                done_ = 0;
                Draw();
            } else if (message == platform::kMsgProgressStep) {
                ++done_;
                Draw();
            }
            return 0;
        });
    controller.ProgressScreenReady(screen, bar);
    if (session_.PumpUntil([&] { return outcome != 0; }) != RemoteSession::Wait::Done) {
        // CANCEL: the job stops at its next check and tells the camera.
        controller.CancelCapture();
        abandoned_ = true;
        outcome = kCancelled;
    }
    platform::DestroyMessageWindow(bar);
    platform::DestroyMessageWindow(screen);
    if (drawn_) {
        std::fprintf(stderr, "\n");
    }
    return outcome;
}

int HeadlessCaptureScreens::RunConfirm(CCaptureContller& controller) {
    const uint8_t* data = controller.ImageData();
    if (data != nullptr) {
        image_.assign(data, data + controller.ImageSize());
    }
    return kNo;  // the flow frees its image; the tool saves the copy
}

void HeadlessCaptureScreens::Draw() {
    if (!progressBar_ || total_ == 0) {
        return;
    }
    constexpr uint32_t kWidth = 30;
    const uint32_t filled = (done_ > total_ ? total_ : done_) * kWidth / total_;
    std::string line(filled, '#');
    line.append(kWidth - filled, '-');
    std::fprintf(stderr, "\r[%s] %u/%u blocks", line.c_str(), done_, total_);
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace remote
