// The key commands of the remote panel: a held key goes to the camera as
// CTP_CAMCMD on channel 3 again and again, each time as soon as the camera
// has answered the previous one.
#pragma once

#include <cstdint>
#include <memory>

#include "controllers/BaseController.h"
#include "platform/kernel/Kernel.h"
#include "platform/kernel/Protected.h"

// The command a panel button stands for.
struct CamCmdRecord {
    uint32_t opcode = 0;
    uint16_t keyCode = 0;
    uint32_t channel = 0;
};

class CCamCmdController : public CBaseController {
public:
    // The program's controller, created on first use and recorded in AppRegistry.
    static CCamCmdController* GetInstance();

    explicit CCamCmdController(const ControllerServices& services);

    // Creates the command event, the lock and the running worker: 1, or -2
    // when one of them cannot be created (what was made before stays).
    int Start() override;

    using CBaseController::Request;
    // Key down (a record: the worker sends it until the key is released) or
    // key up (null). Must follow Start.
    void Request(const CamCmdRecord* record);
    // One press of a key that nobody holds (a media key, a headset button):
    // sent once, in the next exchange, unless the camera refuses commands
    // then, in which case it is dropped. A key up does not cancel it; a key
    // down replaces it. Must follow Start.
    void Tap(const CamCmdRecord& record);

    // True while the worker waits with nothing to send: a key released or a
    // tap dropped before then is surely not going out. Must follow Start.
    bool IsIdle();

    // The command of one of the nine key buttons; an id of no key button
    // gives an all-zero record, which the worker never sends.
    static CamCmdRecord MakeCommand(int buttonId);

private:
    void Hold(const CamCmdRecord& record, bool once);
    static uint32_t WorkerProc(void* controller);
    [[noreturn]] void Work();
    // One pass of the worker: waits for a held key and runs one exchange for it.
    void SendPending();

    // The held command: written by Request on the window thread, read by the
    // worker.
    struct HeldCommand {
        bool pending = false;  // true while a key is held, or a tap waits
        bool once = false;     // the pending command is a tap
        bool waiting = false;  // the worker found nothing pending and waits
        uint16_t opcode = 0;
        uint16_t keyCode = 0;
        uint32_t channel = 0;
    };

    platform::Protected<HeldCommand> command_;
    std::unique_ptr<platform::Event> commandEvent_;
};
