// The program's spine: builds every long-lived object once, in a fixed order,
// into AppRegistry, starts the controllers, and runs the screens in their
// fixed sequence on the main thread.
#pragma once

#include <cstdint>

#include "platform/ui/Resources.h"

class CApplication {
public:
    // Fills AppRegistry in its fourteen steps. Throws when an object cannot
    // be allocated or constructed; nothing here starts a thread or opens a
    // device.
    CApplication();
    // Never runs: the application object lives until the process ends.
    ~CApplication() = default;
    CApplication(const CApplication&) = delete;
    CApplication& operator=(const CApplication&) = delete;

    // Stores the instance handle and starts the controllers' workers (the
    // mode controller's suspended); their results are not looked at.
    void Init(platform::InstanceHandle instance);
    // The backdrop, the GPS probe, the instruction screen once, the
    // connection loop and the main screen; returns 0.
    int Run();
    // Device selection and connection until both succeed; returns 1.
    int ConnectLoop();
};

// Thread procedure: runs the backdrop screen until the main screen closes it.
uint32_t BackdropThread(void* unused);
