// A still capture through the capture controller, and the same blocks fetched
// by a plain request/response loop.
#include <algorithm>

#include "bench/controllers/ControllersBenchSupport.h"
#include "controllers/CaptureContller.h"
#include "controllers/CaptureScreens.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/WindowMessages.h"
#include "resources/ResourceIds.h"

namespace controllersbench {
namespace {

// The capture's screens as a windowless handset has them: the progress screen
// is a window of this thread that counts the bar's steps and learns the job's
// outcome; the confirmation answers NO, so nothing is written.
class BenchScreens final : public CCaptureScreens {
public:
    int RunProgress(CCaptureContller& controller) override {
        result_ = 0;
        steps_ = 0;
        range_ = 0;
        const platform::WindowHandle screen = platform::CreateMessageWindow(
            [this](platform::WindowHandle, uint32_t m, uintptr_t, intptr_t) -> intptr_t {
                if (m == WM_CAPTURE_DONE) {
                    doneAt_ = Clock::now();
                    result_ = kImageReady;
                } else if (m == WM_CAPTURE_FAILED) {
                    result_ = kFailed;
                }
                return 0;
            });
        const platform::WindowHandle bar = platform::CreateMessageWindow(
            [this](platform::WindowHandle, uint32_t m, uintptr_t, intptr_t l) -> intptr_t {
                if (m == platform::kMsgProgressSetRange) {
                    range_ = static_cast<int>(l);
                    rangeAt_ = Clock::now();  // the size is known: fetching starts
                } else if (m == platform::kMsgProgressStep) {
                    ++steps_;
                    lastStepAt_ = Clock::now();  // a block is in
                }
                return 0;
            });
        startedAt_ = Clock::now();
        controller.ProgressScreenReady(screen, bar);
        if (!PumpUntil([this] { return result_ != 0; }, 120s)) {
            Die("the capture did not end");
        }
        platform::DestroyMessageWindow(bar);
        platform::DestroyMessageWindow(screen);
        return result_;
    }
    int RunConfirm(CCaptureContller&) override { return kNo; }

    int result_ = 0;
    int steps_ = 0;
    int range_ = 0;
    Clock::time_point startedAt_, rangeAt_, lastStepAt_, doneAt_;
};

}  // namespace

CaptureFigures MeasureCapture(const sim::Shaping& shaping, int quality, int captures) {
    sim::Camcorder* cam = StartCamera(shaping, quality);
    cam->SetMode(3);
    Handset* handset = Connect(cam->SlavePath());
    handset->state->SetMode(3);
    auto* controller = new CCaptureContller(handset->Services());
    auto* screens = new BenchScreens;
    controller->SetScreens(screens);
    if (controller->Start() != 1) {
        Die("the capture controller did not start");
    }
    CaptureFigures out;
    const auto count = [](const std::vector<sim::WireFrame>& frames, uint16_t op) {
        return std::count_if(frames.begin(), frames.end(),
                             [op](const sim::WireFrame& f) { return f.Opcode() == op; });
    };
    for (int i = 0; i < captures; ++i) {
        cam->ClearRecords();
        controller->Request(platform::WindowHandle{});
        if (screens->result_ != CCaptureScreens::kImageReady) {
            Die("a capture failed");
        }
        // The job's capture end, sent after the image was ready, to be left out.
        if (!cam->WaitFor([&] { return count(cam->SentFrames(), sim::CTP_2001) >= 2; }, 10s)) {
            Die("the capture end was not answered");
        }
        PumpFor(20ms);
        auto received = cam->ReceivedFrames();
        auto sent = cam->SentFrames();
        received.pop_back();  // the capture end
        sent.pop_back();      // its answer
        uint64_t size = 0;
        for (const sim::WireFrame& f : sent) {
            if (f.Opcode() == sim::CTP_IMAGE_DATA && f.bytes.size() > 8) {
                size += f.bytes.size() - 8;
            }
        }
        out.bytes = size;
        out.blocks = screens->range_;
        out.stepsPerBlock &= screens->steps_ == screens->range_;
        out.fetchSeconds += SecondsOf(screens->lastStepAt_ - screens->rangeAt_);
        out.fetchLinkSeconds += LinkSecondsOf(received, sim::CTP_GET_IMAGE_DATA, shaping) +
                                LinkSecondsOf(sent, sim::CTP_IMAGE_DATA, shaping);
        out.jobSeconds += SecondsOf(screens->doneAt_ - screens->startedAt_);
        out.jobLinkSeconds += LinkSeconds(received, shaping) + LinkSeconds(sent, shaping);
        ++out.captures;
    }
    return out;
}

// The same still fetched by a plain request/response loop on the same kind of
// link: what the link and the camera allow on this machine now.
CaptureFigures MeasureRawCapture(const sim::Shaping& shaping, int quality, int captures) {
    sim::Camcorder* cam = StartCamera(shaping, quality);
    cam->SetMode(3);
    RawLink link(OpenRaw(cam->SlavePath()));
    CaptureFigures out;
    for (int i = 0; i < captures; ++i) {
        link.Exchange(sim::CTP_IMAGE_CMD, {0x00, 0x02, 0x03, 0x00});
        const Bytes info = link.Exchange(sim::CTP_GET_DATA_INFO, {});
        const uint32_t size = info.size() >= 10 ? sim::GetU32(info.data() + 6) : 0;
        const auto blocks = static_cast<uint32_t>((size + sim::kBlockBytes - 1) / sim::kBlockBytes);
        cam->ClearRecords();
        const Clock::time_point from = Clock::now();
        for (uint32_t n = 1; n <= blocks; ++n) {
            link.Exchange(sim::CTP_GET_IMAGE_DATA,
                          {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
        }
        out.fetchSeconds += SecondsOf(Clock::now() - from);
        out.fetchLinkSeconds +=
            LinkSeconds(cam->ReceivedFrames(), shaping) + LinkSeconds(cam->SentFrames(), shaping);
        link.Exchange(sim::CTP_IMAGE_CMD, {0x00, 0x03, 0x03, 0x00});
        out.bytes = size;
        out.blocks = static_cast<int>(blocks);
        ++out.captures;
    }
    return out;
}

}  // namespace controllersbench
