// The link library's serial-port client: remembers the COM port that the
// last connected notification reported and signals every state change.
#pragma once

#include <atomic>
#include <memory>

#include "platform/btsdk/BtSdk.h"
#include "platform/kernel/Kernel.h"

class CLinkSppClient : public CSppClient {
public:
    CLinkSppClient();
    ~CLinkSppClient() override;

    // Runs on the stack's thread. Does nothing without connectEvent; a
    // connected state stores the port (0 for a negative number); every state
    // then sets connectEvent.
    void OnClientStateChange(const uint8_t* address, const uint8_t* deviceClass, const char* name,
                             int16_t comPort, int state) override;

    // The COM port of the last connected notification; 0 at first.
    std::atomic<int> comPort{0};
    // Manual-reset, created non-signalled; null when it could not be created.
    std::unique_ptr<platform::Event> connectEvent;
    // The state code of the last notification, kNoState before the first
    // since the caller cleared it: tells a connection from a failed attempt.
    static constexpr int kNoState = -1;
    std::atomic<int> lastState{kNoState};
};
