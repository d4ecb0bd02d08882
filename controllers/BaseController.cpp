#include "controllers/BaseController.h"

#include "app/CameraState.h"
#include "app/ConfigStore.h"
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

CBaseController::ExchangeResult CBaseController::Exchange(CCtpData* request, int channel,
                                                          uint16_t timeoutSeconds,
                                                          CCtpData** reply) {
    *reply = nullptr;
    if (request == nullptr || engine()->Send(request, channel) != 1) {
        return ExchangeResult::Failed;  // "Create SendData Error." / "Send Message Error."
    }
    if (engine()->Receive(channel, reply, timeoutSeconds) == 0) {
        SendErrorReport(channel, 1);
        return ExchangeResult::TimedOut;
    }
    return *reply != nullptr ? ExchangeResult::Replied : ExchangeResult::Failed;
}
