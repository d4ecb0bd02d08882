// The common shape of every controller: a worker thread started once, a
// request entry for the main screen, and the one request/reply exchange
// (with its error report after a time-out) that every controller runs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/kernel/Kernel.h"
#include "platform/ui/Window.h"

class CCameraState;
class CConfigStore;
class CCtpData;
class CCtpEngine;

// The shared objects a controller talks through. The program's controllers
// use the process-wide ones; tests hand in engines and states of their own.
struct ControllerServices {
    CCtpEngine* engine = nullptr;
    CCameraState* cameraState = nullptr;
    CConfigStore* configStore = nullptr;

    // The program's own engine, camera state and configuration store.
    static ControllerServices Program();
};

class CBaseController {
public:
    explicit CBaseController(const ControllerServices& services);
    // Frees nothing: the worker is never stopped and no handle is closed.
    virtual ~CBaseController();
    CBaseController(const CBaseController&) = delete;
    CBaseController& operator=(const CBaseController&) = delete;

    // Creates the controller's synchronisation objects and worker thread:
    // 1 on success, -2 when one of them cannot be created. The base has no
    // worker and returns 0.
    virtual int Start();
    // A user action from the main screen, which passes its window; the base
    // does nothing. The command controller takes its key record instead.
    virtual void Request(platform::WindowHandle window);

    // Queues a CTP_ERROR_REPORT with `code` on `channel` and waits for nothing.
    void SendErrorReport(int channel, uint16_t code);

    // How one exchange ended.
    enum class ExchangeResult {
        Replied,   // *reply holds the answer; the caller deletes it
        TimedOut,  // no answer in time; the error report has gone out
        Failed,    // no packet could be made or queued, or no reply packet came
    };
    // The whole request/reply sequence: queue `request` (the engine owns it
    // from here, also when it is null) on `channel`, wait up to
    // `timeoutSeconds` (0: without limit), and after a time-out send the
    // error report on the same channel.
    // A reply that does not answer the request (see AnswersRequest, and
    // `accept` when given) is dropped, and the wait goes on for the rest of
    // the time-out.
    ExchangeResult Exchange(CCtpData* request, int channel, uint16_t timeoutSeconds,
                            CCtpData** reply,
                            const std::function<bool(const CCtpData&)>& accept = {});

    // True when `reply` is of the kind that answers a request with
    // `requestOpcode`: the mode answer for the mode questions, a block for a
    // block request, a data-info answer for the size question, and for the
    // commands a status answer (anything but those three).
    static bool AnswersRequest(uint16_t requestOpcode, const CCtpData& reply);

protected:
    CCtpEngine* engine() const { return services_.engine; }
    CCameraState* cameraState() const { return services_.cameraState; }
    CConfigStore* configStore() const { return services_.configStore; }

    std::unique_ptr<platform::Thread> thread_;  // the worker, null until Start

private:
    ControllerServices services_;
};
