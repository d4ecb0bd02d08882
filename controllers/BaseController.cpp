#include "controllers/BaseController.h"

#include "core/CameraState.h"
#include "core/ConfigStore.h"
#include "ctp/CtpDataFactory.h"
#include "ctp/CtpEngine.h"

ControllerServices ControllerServices::Program() {
    return ControllerServices{CCtpEngine::GetInstance(), CCameraState::GetInstance(),
                              CConfigStore::GetInstance()};
}

CBaseController::CBaseController(const ControllerServices& services) : services_(services) {}

CBaseController::~CBaseController() = default;

int CBaseController::Start() {
    return 0;
}

void CBaseController::Request(platform::WindowHandle /*window*/) {}

void CBaseController::SendErrorReport(int channel, uint16_t code) {
    std::unique_ptr<CCtpDataPara1> report =
        CCtpDataFactory::CreateAs<CCtpDataPara1>(CTP_ERROR_REPORT);
    if (report == nullptr) {
        return;
    }
    report->SetParam(code);
    engine()->Send(report.release(), channel);  // the engine owns what it is given
}

CBaseController::ExchangeResult CBaseController::Exchange(
    CCtpData* request, int channel, uint16_t timeoutSeconds, CCtpData** reply,
    const std::function<bool(const CCtpData&)>& accept) {
    *reply = nullptr;
    if (request == nullptr) {
        return ExchangeResult::Failed;  // "Create SendData Error."
    }
    const uint16_t requestOpcode = static_cast<uint16_t>(request->GetOpcode());
    if (engine()->Send(request, channel) != 1) {
        return ExchangeResult::Failed;  // "Send Message Error."
    }
    const uint32_t limitMs = uint32_t{timeoutSeconds} * 1000u;
    const uint64_t startMs = platform::TickCountMs();
    for (;;) {
        uint32_t waitMs = 0;  // no limit
        if (limitMs != 0) {
            const uint64_t elapsed = platform::TickCountMs() - startMs;
            if (elapsed >= limitMs) {
                break;
            }
            waitMs = limitMs - static_cast<uint32_t>(elapsed);
        }
        CCtpData* got = nullptr;
        if (engine()->ReceiveWithin(channel, &got, waitMs) == 0) {
            break;
        }
        if (got == nullptr) {
            return ExchangeResult::Failed;
        }
        // A late or misdirected answer to something else is not this one.
        if (AnswersRequest(requestOpcode, *got) && (!accept || accept(*got))) {
            *reply = got;
            return ExchangeResult::Replied;
        }
        delete got;
    }
    SendErrorReport(channel, 1);
    return ExchangeResult::TimedOut;
}

bool CBaseController::AnswersRequest(uint16_t requestOpcode, const CCtpData& reply) {
    const auto opcode = static_cast<uint16_t>(reply.GetOpcode());
    switch (requestOpcode) {
        case CTP_GET_MODE:
        case CTP_MODE_POLL:
            return opcode == CTP_CAM_MODE;
        case CTP_GET_IMAGE_DATA:
            return opcode == CTP_IMAGE_DATA;
        case CTP_GET_DATA_INFO:
            return opcode == CTP_DATA_INFO;
        default:
            return opcode != CTP_CAM_MODE && opcode != CTP_IMAGE_DATA && opcode != CTP_DATA_INFO;
    }
}
