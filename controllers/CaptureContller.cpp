#include "controllers/CaptureContller.h"

#include <cstdlib>
#include <cstring>

#include "controllers/CaptureScreens.h"
#include "controllers/StayAwake.h"
#include "core/AppRegistry.h"
#include "core/CameraState.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/Graphics.h"
#include "platform/ui/WindowMessages.h"
#include "resources/ResourceIds.h"

namespace {

constexpr uint16_t kCaptureStart = 2;
constexpr uint16_t kCaptureEnd = 3;

}  // namespace

CCaptureContller* CCaptureContller::GetInstance() {
    static CCaptureContller* instance = [] {
        auto* controller = new CCaptureContller(ControllerServices::Program());
        AppRegistry.captureController = controller;
        return controller;
    }();
    return instance;
}

CCaptureContller::CCaptureContller(const ControllerServices& services)
    : CMonitorController(services) {}

int CCaptureContller::Start() {
    if (wakeEvent_ == nullptr) {
        wakeEvent_ = platform::Event::Create(platform::ResetMode::Auto, false);
    }
    if (wakeEvent_ == nullptr || !capture_.Create()) {
        return -2;
    }
    // The inherited exchange steps need nothing of the monitor's own; this
    // controller's worker runs the capture job.
    thread_ = platform::Thread::Create(&CCaptureContller::WorkerProc, this, false);
    return thread_ != nullptr ? 1 : -2;
}

void CCaptureContller::SetInstance(platform::InstanceHandle instance) {
    instance_ = instance;
}

void CCaptureContller::SetScreens(CCaptureScreens* screens) {
    screens_ = screens;
}

void CCaptureContller::Request(platform::WindowHandle owner) {
    if (screens_ == nullptr) {
        return;  // no screens to run a capture with
    }
    capture_.With([&](Capture& c) {
        // A new session rather than the inverted flag: a job still ending
        // from the last capture must not switch this one off.
        ++c.session;
        c.running = 1;
        c.sessionWoken = false;
        c.progressWindow = {};
        c.progressBar = {};
        cameraState()->SetCaptureActive(1);
        SetAwake(AwakeActivity::SavingPicture, true);
    });
    RunDialogFlow(owner);
}

void CCaptureContller::ProgressScreenReady(platform::WindowHandle window,
                                           platform::WindowHandle progressBar) {
    const bool wake = capture_.With([&](Capture& c) {
        if (c.sessionWoken || c.running == 0) {
            return false;
        }
        c.progressWindow = window;
        c.progressBar = progressBar;
        c.sessionWoken = true;
        return true;
    });
    if (wake) {
        wakeEvent_->Set();
    }
}

void CCaptureContller::CancelCapture() {
    capture_.With([](Capture& c) { c.running = 0; });
}

const uint8_t* CCaptureContller::ImageData() const {
    return capture_.With([](const Capture& c) -> const uint8_t* { return c.image; });
}

uint32_t CCaptureContller::ImageSize() const {
    return capture_.With([](const Capture& c) { return c.imageSize; });
}

bool CCaptureContller::IsRunning(uint64_t session) {
    return capture_.With([&](const Capture& c) { return c.running != 0 && c.session == session; });
}

void CCaptureContller::CaptureJob() {
    uint64_t session = 0;
    platform::WindowHandle window;
    platform::WindowHandle bar;
    capture_.With([&](const Capture& c) {
        session = c.session;
        window = c.progressWindow;
        bar = c.progressBar;
    });
    const auto fail = [&] { platform::SendWindowMessage(window, WM_CAPTURE_FAILED); };
    bool lastStepFailed = false;
    [&] {
        if (!IsRunning(session)) {
            return;  // "CAPTURE START Cancel."
        }
        if (SendCommand(ActionCapture, kCaptureStart) == 0) {
            lastStepFailed = true;
            fail();
            return;  // "CAPTURE SendCommand Error."
        }
        if (!IsRunning(session)) {
            return;  // "CAPTURE Cancel."
        }
        uint32_t dataSize = 0;
        uint16_t dataCount = 0;
        if (GetDataInfo(ActionCapture, &dataSize, &dataCount) == 0) {
            lastStepFailed = true;
            fail();
            return;  // "CAPTURE GetDataInfo Error."
        }
        if (dataSize == 0 || dataCount == 0) {
            fail();
            return;  // "CAPTURE GetDataInfo Size 0."
        }
        const auto count =
            static_cast<intptr_t>((uint64_t{dataSize} + kBlockBytes - 1) / kBlockBytes);
        platform::SendWindowMessage(bar, platform::kMsgProgressSetRange, 0, count);
        platform::SendWindowMessage(bar, platform::kMsgProgressSetStep, 1);
        uint16_t blocks = 0;
        uint8_t* buffer = AllocateImage(dataSize, &blocks);
        if (buffer == nullptr) {
            fail();
            return;  // "CAPTURE MEMORY Error."
        }
        std::memset(buffer, 0, size_t{blocks} * kBlockBytes);
        for (uint16_t n = 1; n <= blocks; ++n) {
            if (!IsRunning(session)) {
                std::free(buffer);
                return;  // "CAPTURE Cancel."
            }
            if (GetImageData(ActionCapture, buffer + size_t{n - 1u} * kBlockBytes, n) == 0) {
                lastStepFailed = true;
                std::free(buffer);
                fail();
                return;  // "CAPTURE GetImageData Error."
            }
            platform::SendWindowMessage(bar, platform::kMsgProgressStep);
        }
        // Every block came as asked, yet the bytes may not be the still: a
        // size answer of an earlier picture, or a camera that changed the
        // picture meanwhile. Such bytes are never offered for saving.
        if (!LooksLikeJpeg(buffer, dataSize)) {
            std::free(buffer);
            fail();
            return;  // "CAPTURE Image Error."
        }
        // Made before the lock is taken: decoding takes a while.
        auto preview = platform::JpegImage::FromBuffer(std::span<const uint8_t>(buffer, dataSize));
        const bool stored = capture_.With([&](Capture& c) {
            // A capture cancelled after its last check keeps nothing.
            if (c.running == 0 || c.session != session) {
                return false;
            }
            std::free(c.image);
            c.image = buffer;
            c.imageSize = dataSize;
            c.preview = std::move(preview);
            return true;
        });
        if (!stored) {
            preview.reset();  // it reads the buffer
            std::free(buffer);
            return;  // "CAPTURE Cancel."
        }
        platform::SendWindowMessage(window, WM_CAPTURE_DONE);
    }();

    if (!lastStepFailed) {
        SendCommand(ActionCapture, kCaptureEnd);
    }
    capture_.With([&](Capture& c) {
        if (c.session == session) {
            c.running = 0;
            cameraState()->SetCaptureActive(0);
            SetAwake(AwakeActivity::SavingPicture, false);
        }
    });
}

void CCaptureContller::RunDialogFlow(platform::WindowHandle owner) {
    const int result = screens_->RunProgress(*this);
    capture_.With([&](Capture& c) {
        if (result != CCaptureScreens::kImageReady && result != CCaptureScreens::kFailed) {
            c.running = 0;  // cancelled, or the screen could not be shown
        }
        if (!c.sessionWoken) {
            // No job will ever run for this session: end it here.
            c.running = 0;
            cameraState()->SetCaptureActive(0);
            SetAwake(AwakeActivity::SavingPicture, false);
        }
    });
    if (result == CCaptureScreens::kImageReady) {
        if (screens_->RunConfirm(*this) == CCaptureScreens::kYes) {
            SaveImage(owner, ImageData(), ImageSize());
        }
    } else if (result == CCaptureScreens::kFailed) {
        ShowFailure(owner);
    }
    ForgetCapture();
}

void CCaptureContller::ForgetCapture() {
    capture_.With([](Capture& c) {
        c.progressWindow = {};
        c.progressBar = {};
        c.preview.reset();  // before the buffer it reads
        std::free(c.image);
        c.image = nullptr;
        c.imageSize = 0;
    });
}

uint32_t CCaptureContller::WorkerProc(void* controller) {
    auto* self = static_cast<CCaptureContller*>(controller);
    for (;;) {
        self->wakeEvent_->Wait(platform::kWaitForever);
        self->CaptureJob();
    }
}

void CCaptureContller::DrawPreview(platform::DrawingContext& context,
                                   const platform::Rect& rect) const {
    capture_.With([&](const Capture& c) {
        // The still keeps its proportions inside the rectangle.
        if (c.preview != nullptr) {
            c.preview->DrawFitted(context, rect);
        }
    });
}
