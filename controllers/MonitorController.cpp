#include "controllers/MonitorController.h"

#include <algorithm>
#include <cstdlib>

#include "controllers/StayAwake.h"
#include "core/AppRegistry.h"
#include "core/CameraState.h"
#include "core/ConfigStore.h"
#include "ctp/CtpDataFactory.h"
#include "platform/ui/WindowMessages.h"
#include "resources/ResourceIds.h"

namespace {

constexpr uint16_t kReadyLiveImage = 0;
constexpr uint16_t kEndLiveView = 1;
constexpr uint32_t kRecheckPauseMs = 1000;
constexpr uint32_t kFirstFailurePauseMs = 20;
constexpr uint32_t kMaxFailurePauseMs = 320;
constexpr uint32_t kPauseSliceMs = 20;

}  // namespace

CMonitorController* CMonitorController::GetInstance() {
    static CMonitorController* instance = [] {
        auto* controller = new CMonitorController(ControllerServices::Program());
        AppRegistry.monitorController = controller;
        return controller;
    }();
    return instance;
}

CMonitorController::CMonitorController(const ControllerServices& services)
    : CBaseController(services) {}

int CMonitorController::Start() {
    if (startEvent_ == nullptr) {
        startEvent_ = platform::Event::Create(platform::ResetMode::Auto, false);
    }
    if (startEvent_ == nullptr || !active_.Create() || !image_.Create()) {
        return -2;
    }
    thread_ = platform::Thread::Create(&CMonitorController::WorkerProc, this, false);
    return thread_ != nullptr ? 1 : -2;
}

void CMonitorController::Request(platform::WindowHandle window) {
    window_.store(window);
    const bool active = active_.With([&](bool& on) {
        on = !on;
        cameraState()->SetMonitorActive(on ? 1 : 0);
        SetAwake(AwakeActivity::LiveView, on);
        return on;
    });
    if (active) {
        startEvent_->Set();
        platform::SendWindowMessage(window, WM_MONITOR_STARTING);
    } else {
        platform::SendWindowMessage(window, WM_MONITOR_STOPPED);
    }
}

void CMonitorController::TakeImage(uint8_t** image, uint32_t* imageSize) {
    image_.With([&](HeldImage& held) {
        *image = held.bytes;
        *imageSize = held.size;
        held = HeldImage{};
    });
}

CCtpData* CMonitorController::ExchangeStep(CCtpData* request,
                                           const std::function<bool(const CCtpData&)>& accept) {
    CCtpData* reply = nullptr;
    // "Create SendData Error.", "Send Message Error." or "Send Error Report.".
    if (Exchange(request, kImageChannel, configStore()->GetTimeOut(), &reply, accept) !=
        ExchangeResult::Replied) {
        return nullptr;
    }
    return reply;
}

int CMonitorController::SendCommand(int actionType, uint16_t param) {
    if (!cameraState()->IsActionAllowed(actionType)) {
        return 0;  // "Invalid State."
    }
    CameraStateSnapshot snapshot{};
    cameraState()->GetSnapshot(&snapshot);
    std::unique_ptr<CCtpDataCamCmd> command =
        CCtpDataFactory::CreateAs<CCtpDataCamCmd>(CTP_IMAGE_CMD);
    if (command != nullptr) {
        command->SetCommand(param, static_cast<uint8_t>(snapshot.mode),
                            static_cast<uint8_t>(snapshot.operationState));
    }
    CCtpData* reply = ExchangeStep(command.release());
    uint16_t status = 0;
    // A reply without a status word is a refusal.
    const bool done = GetReplyParam(reply, &status) && status == 0;
    delete reply;
    return done ? 1 : 0;
}

int CMonitorController::GetDataInfo(int actionType, uint32_t* dataSize, uint16_t* dataCount) {
    *dataSize = 0;
    *dataCount = 0;
    if (!cameraState()->IsActionAllowed(actionType)) {
        return 0;  // "Invalid State."
    }
    // "Send Error Repoer." after a time-out.
    CCtpData* reply =
        ExchangeStep(CCtpDataFactory::CreateAs<CCtpData>(CTP_GET_DATA_INFO).release());
    // Only a data-info answer is read as one.
    const auto* info = dynamic_cast<const CCtpDataInfo*>(reply);
    if (info != nullptr) {
        *dataSize = info->GetDataSize();
        *dataCount = info->GetDataCount();
    }
    delete reply;
    return info != nullptr ? 1 : 0;
}

int CMonitorController::GetImageData(int actionType, uint8_t* destination, uint16_t blockNumber) {
    if (!cameraState()->IsActionAllowed(actionType)) {
        return 0;  // "Invalid State."
    }
    std::unique_ptr<CCtpDataPara1> request =
        CCtpDataFactory::CreateAs<CCtpDataPara1>(CTP_GET_IMAGE_DATA);
    if (request != nullptr) {
        request->SetParam(blockNumber);
    }
    // A block that comes late for an earlier request is not this one.
    CCtpData* reply = ExchangeStep(request.release(), [blockNumber](const CCtpData& got) {
        const auto* block = dynamic_cast<const CCtpDataBlock*>(&got);
        return block != nullptr && block->GetParam() == blockNumber;
    });
    const auto* block = dynamic_cast<const CCtpDataBlock*>(reply);
    const bool hasData = block != nullptr && block->HasData();
    if (hasData) {
        block->CopyData(destination, kCtpBlockDataSize);
    }
    delete reply;
    return hasData ? 1 : 0;
}

uint8_t* CMonitorController::AllocateImage(uint32_t dataSize, uint16_t* blockCount) {
    *blockCount = 0;
    if (dataSize > kMaxImageBytes) {
        return nullptr;
    }
    const uint32_t blocks =
        static_cast<uint32_t>((uint64_t{dataSize} + kCtpBlockDataSize - 1) / kCtpBlockDataSize);
    auto* buffer = static_cast<uint8_t*>(std::malloc(size_t{blocks} * kCtpBlockDataSize));
    if (buffer != nullptr) {
        // The bound keeps the count well inside a block number.
        *blockCount = static_cast<uint16_t>(blocks);
    }
    return buffer;
}

bool CMonitorController::IsActive() {
    return active_.Get();
}

void CMonitorController::PauseAfterFailure(uint32_t* pauseMs) {
    *pauseMs = *pauseMs == 0 ? kFirstFailurePauseMs : std::min(*pauseMs * 2, kMaxFailurePauseMs);
    // In slices, so that switching live view off is seen soon.
    for (uint32_t slept = 0; slept < *pauseMs && IsActive(); slept += kPauseSliceMs) {
        platform::Sleep(kPauseSliceMs);
    }
}

bool CMonitorController::LooksLikeJpeg(const uint8_t* image, uint32_t size) {
    // Start of image first, end of image last.
    return image != nullptr && size >= 4 && image[0] == 0xFF && image[1] == 0xD8 &&
           image[size - 2] == 0xFF && image[size - 1] == 0xD9;
}

void CMonitorController::LiveView(int actionType) {
    // The pause after a failed cycle: 0 after a good image, then growing while
    // failures repeat, so that a camera that fails at once costs little.
    uint32_t pauseMs = 0;
    for (;;) {
        if (!cameraState()->IsActionAllowed(actionType)) {
            platform::Sleep(kRecheckPauseMs);
            continue;
        }
        if (!IsActive()) {
            break;  // "MONITOR START Cancel."
        }
        if (SendCommand(actionType, kReadyLiveImage) == 0) {
            PauseAfterFailure(&pauseMs);
            continue;
        }
        if (!IsActive()) {
            break;  // "MONITOR Cancel."
        }
        uint32_t dataSize = 0;
        uint16_t dataCount = 0;
        if (GetDataInfo(actionType, &dataSize, &dataCount) == 0 || dataSize == 0 ||
            dataCount == 0) {
            PauseAfterFailure(&pauseMs);
            continue;
        }
        uint16_t blocks = 0;
        uint8_t* buffer = AllocateImage(dataSize, &blocks);
        if (buffer == nullptr) {
            break;  // "MONITOR MEMORY Error."
        }
        bool cancelled = false;
        bool complete = true;
        for (uint16_t number = 1; number <= blocks && complete; ++number) {
            if (!IsActive()) {
                cancelled = true;  // "MONITOR Cancel."
                break;
            }
            complete = GetImageData(actionType, buffer + size_t{number - 1u} * kCtpBlockDataSize,
                                    number) != 0;
        }
        if (cancelled || !complete || !LooksLikeJpeg(buffer, dataSize)) {
            std::free(buffer);
            if (cancelled) {
                break;
            }
            PauseAfterFailure(&pauseMs);
            continue;
        }
        pauseMs = 0;
        StoreImage(buffer, dataSize);
        if (!cameraState()->IsActionAllowed(actionType)) {
            continue;
        }
        platform::SendWindowMessage(window_.load(), WM_MONITOR_FRAME);
    }
    EndLiveView(actionType);
}

void CMonitorController::EndLiveView(int actionType) {
    active_.With([&](bool& on) {
        on = false;
        cameraState()->SetMonitorActive(0);
        SetAwake(AwakeActivity::LiveView, false);
    });
    platform::SendWindowMessage(window_.load(), WM_MONITOR_STOPPED);
    // Dropped before the end command goes out: once the camera has it, no
    // image of the run is left to take.
    DropImage();
    // Not sent when the camera state no longer allows the action.
    SendCommand(actionType, kEndLiveView);
}

void CMonitorController::StoreImage(uint8_t* image, uint32_t imageSize) {
    image_.With([&](HeldImage& held) {
        std::free(held.bytes);
        held = HeldImage{image, imageSize};
    });
}

void CMonitorController::DropImage() {
    image_.With([](HeldImage& held) {
        std::free(held.bytes);
        held = HeldImage{};
    });
}

uint32_t CMonitorController::WorkerProc(void* controller) {
    auto* self = static_cast<CMonitorController*>(controller);
    for (;;) {
        self->startEvent_->Wait(platform::kWaitForever);
        self->LiveView(ActionMonitor);
    }
}
