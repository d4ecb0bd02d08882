#include "controllers/CamModeController.h"

#include "controllers/StayAwake.h"
#include "core/AppRegistry.h"
#include "core/CameraState.h"
#include "core/ConfigStore.h"
#include "ctp/CtpDataFactory.h"
#include "platform/ui/WindowMessages.h"
#include "resources/ResourceIds.h"

namespace {

constexpr int kModeChannel = 1;
constexpr uint16_t kHandshakeTimeoutSeconds = 3;
constexpr uint32_t kFailurePauseMs = 3000;

}  // namespace

CCamModeController* CCamModeController::GetInstance() {
    static CCamModeController* instance = [] {
        auto* controller = new CCamModeController(ControllerServices::Program());
        AppRegistry.modeController = controller;
        return controller;
    }();
    return instance;
}

CCamModeController::CCamModeController(const ControllerServices& services)
    : CBaseController(services) {}

int CCamModeController::Start() {
    thread_ = platform::Thread::Create(&CCamModeController::WorkerProc, this, true);
    return thread_ != nullptr ? 1 : -2;
}

void CCamModeController::SetWindow(platform::WindowHandle window) {
    window_.store(window);
    if (thread_ != nullptr) {
        thread_->Resume();
    }
}

void CCamModeController::SetStateListener(CameraStateListener* listener) {
    listener_.store(listener);
}

int CCamModeController::QueryMode() {
    return GetCamMode(CTP_GET_MODE, kHandshakeTimeoutSeconds);
}

int CCamModeController::GetCamMode(uint16_t opcode, uint16_t timeoutSeconds) {
    CCtpData* reply = nullptr;
    // "Create SendData Error." or "Send Message Error." (-1), "Send Error
    // Report." (0): the camera is given time before it is asked again.
    switch (Exchange(CCtpDataFactory::CreateAs<CCtpData>(opcode).release(), kModeChannel,
                     timeoutSeconds, &reply)) {
        case ExchangeResult::Replied:
            break;
        case ExchangeResult::TimedOut:
            platform::Sleep(kFailurePauseMs);
            return 0;
        case ExchangeResult::Failed:
            platform::Sleep(kFailurePauseMs);
            return -1;
    }
    // Any other packet on this channel is not a mode answer and is not read as one.
    const auto* answer = dynamic_cast<const CCtpDataCamMode*>(reply);
    if (answer == nullptr) {
        delete reply;
        return -1;
    }
    // Stored as unsigned 16-bit numbers, so a byte the camera sent as 0x80 or
    // more is out of range and dropped by the setter.
    auto value = [answer](int i) { return static_cast<uint16_t>(answer->GetValue(i)); };
    CCameraState* state = cameraState();
    state->SetMode(value(0));
    state->SetOperationState(value(1));
    CameraStateSnapshot now{};
    state->GetSnapshot(&now);
    SetAwake(AwakeActivity::Recording, now.operationState == kStateShooting);
    state->SetAcPower(value(2));
    state->SetBatteryAttached(value(3));
    state->SetResponseWord(value(4));
    state->SetBatteryLevel(value(5));
    // Before the window, whose message waits for the main thread.
    if (CameraStateListener* listener = listener_.load()) {
        listener->CameraStateChanged();
    }
    if (const platform::WindowHandle window = window_.load()) {
        platform::SendWindowMessage(window, WM_CAMERA_STATUS);
    }
    delete reply;
    return 1;
}

uint32_t CCamModeController::WorkerProc(void* controller) {
    auto* self = static_cast<CCamModeController*>(controller);
    // The camera sets the pace: each answer is followed at once by the next
    // question. An answer lost on the way must not stop the polling, so the
    // wait is bounded like every other exchange.
    for (;;) {
        self->GetCamMode(CTP_MODE_POLL, self->configStore()->GetTimeOut());
    }
}
