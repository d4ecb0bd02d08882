#include "controllers/CamCmdController.h"

#include "controllers/StayAwake.h"
#include "core/AppRegistry.h"
#include "core/CameraState.h"
#include "core/ConfigStore.h"
#include "ctp/CtpDataFactory.h"
#include "resources/ResourceIds.h"

namespace {

constexpr int kCommandChannel = 3;

struct KeyButton {
    int buttonId;
    uint16_t keyCode;
};

// The panel's key buttons and the camera's key codes.
constexpr KeyButton kKeyButtons[] = {
    {ui::res::kBmpRecord, 0},   {ui::res::kBmpPause, 1},
    {ui::res::kBmpZoomTele, 2},                                 // and cursor up
    {ui::res::kBmpRewind, 3},                                   // and cursor left
    {ui::res::kBmpPlay, 4},     {ui::res::kBmpFastForward, 5},  // and cursor right
    {ui::res::kBmpZoomWide, 6},                                 // and cursor down
    {ui::res::kBmpIndex, 7},    {ui::res::kBmpSnapshot, 8},
};

}  // namespace

CCamCmdController* CCamCmdController::GetInstance() {
    static CCamCmdController* instance = [] {
        auto* controller = new CCamCmdController(ControllerServices::Program());
        AppRegistry.commandController = controller;
        return controller;
    }();
    return instance;
}

CCamCmdController::CCamCmdController(const ControllerServices& services)
    : CBaseController(services) {}

int CCamCmdController::Start() {
    if (commandEvent_ == nullptr) {
        commandEvent_ = platform::Event::Create(platform::ResetMode::Auto, false);
    }
    if (commandEvent_ == nullptr || !command_.Create()) {
        return -2;
    }
    thread_ = platform::Thread::Create(&CCamCmdController::WorkerProc, this, false);
    return thread_ != nullptr ? 1 : -2;
}

void CCamCmdController::Request(const CamCmdRecord* record) {
    if (record == nullptr) {
        // Only a held key goes up; a tap waiting for the worker still goes out.
        command_.With([](HeldCommand& held) { held.pending = held.once; });
        SetAwake(AwakeActivity::KeyHeld, false);
        return;
    }
    Hold(*record, false);
}

void CCamCmdController::Tap(const CamCmdRecord& record) {
    Hold(record, true);
}

void CCamCmdController::Hold(const CamCmdRecord& record, bool once) {
    // An opcode wider than the wire's 16 bits is kept as 0, which no packet
    // class has: the key is held but nothing is sent for it.
    const uint16_t opcode = record.opcode <= 0xFFFF ? static_cast<uint16_t>(record.opcode) : 0;
    command_.With([&](HeldCommand& held) {
        held.pending = true;
        held.once = once;
        held.opcode = opcode;
        held.keyCode = record.keyCode;
        held.channel = record.channel;
    });
    // A tap is over once it is sent; only a held key keeps the handset awake.
    if (!once) {
        SetAwake(AwakeActivity::KeyHeld, true);
    }
    commandEvent_->Set();
}

bool CCamCmdController::IsIdle() {
    return command_.With([](const HeldCommand& held) { return held.waiting && !held.pending; });
}

CamCmdRecord CCamCmdController::MakeCommand(int buttonId) {
    for (const KeyButton& key : kKeyButtons) {
        if (key.buttonId == buttonId) {
            return CamCmdRecord{CTP_CAMCMD, key.keyCode, kCommandChannel};
        }
    }
    return CamCmdRecord{};
}

uint32_t CCamCmdController::WorkerProc(void* controller) {
    static_cast<CCamCmdController*>(controller)->Work();
}

void CCamCmdController::Work() {
    for (;;) {
        SendPending();
    }
}

void CCamCmdController::SendPending() {
    if (!command_.With([](HeldCommand& held) {
            held.waiting = !held.pending;
            return held.pending;
        })) {
        commandEvent_->Wait(platform::kWaitForever);
    }
    // A tap is taken as it is read, so that it goes out once at most.
    const HeldCommand held = command_.With([](HeldCommand& pending) {
        pending.waiting = false;
        const HeldCommand copy = pending;
        if (pending.once) {
            pending.pending = false;
            pending.once = false;
        }
        return copy;
    });
    // No pause while the camera refuses commands: the test repeats at once
    // for as long as the key is held.
    if (!held.pending || !cameraState()->IsActionAllowed(ActionCommand)) {
        return;
    }
    CameraStateSnapshot snapshot{};
    cameraState()->GetSnapshot(&snapshot);
    std::unique_ptr<CCtpDataCamCmd> command =
        CCtpDataFactory::CreateAs<CCtpDataCamCmd>(held.opcode);
    if (command == nullptr) {
        return;
    }
    command->SetCommand(held.keyCode, static_cast<uint8_t>(snapshot.mode),
                        static_cast<uint8_t>(snapshot.operationState));
    CCtpData* reply = nullptr;
    // The answer's contents do not matter: it only paces the next repeat.
    Exchange(command.release(), static_cast<int>(held.channel), configStore()->GetTimeOut(),
             &reply);
    delete reply;
}
