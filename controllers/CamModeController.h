// Keeps the camera state in step with the camcorder: asks for its mode,
// operating state and power on channel 1, stores the answer and tells the
// main window. One question with a short time-out is the connect handshake;
// the worker asks again and again once the main screen exists.
#pragma once

#include <atomic>
#include <cstdint>

#include "controllers/BaseController.h"
#include "platform/ui/Window.h"

// Told after each stored answer, on the thread that asked.
class CameraStateListener {
public:
    virtual ~CameraStateListener() = default;
    virtual void CameraStateChanged() = 0;
};

class CCamModeController : public CBaseController {
public:
    // The program's controller, created on first use and recorded in AppRegistry.
    static CCamModeController* GetInstance();

    explicit CCamModeController(const ControllerServices& services);

    // Creates the worker suspended: 1, or -2 when it cannot be created.
    int Start() override;

    // Stores the window to notify and lets the worker run.
    void SetWindow(platform::WindowHandle window);

    // Another party to tell of each stored answer besides the window (null:
    // none); it must outlive the controller's use of it.
    void SetStateListener(CameraStateListener* listener);

    // The handshake: one CTP_GET_MODE exchange with a 3-second time-out.
    int QueryMode();

    // One exchange: 1 when an answer was stored (and the window told), 0 when
    // none came in time, -1 on any other failure. After a time-out or a
    // request that could not go out it sleeps 3 seconds before returning.
    int GetCamMode(uint16_t opcode, uint16_t timeoutSeconds);

private:
    static uint32_t WorkerProc(void* controller);

    // Read by the worker and the connecting thread, written by the main screen.
    std::atomic<platform::WindowHandle> window_{};
    std::atomic<CameraStateListener*> listener_{nullptr};
};
