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
    int ComPort() const { return comPort_; }
    // Manual-reset, created non-signalled; null when it could not be created.
    platform::Event* ConnectEvent() const { return connectEvent_.get(); }
    // The state code of the last notification, kNoState before the first
    // since ClearLastState: tells a connection from a failed attempt.
    static constexpr int kNoState = -1;
    int LastState() const { return lastState_; }
    void ClearLastState() { lastState_ = kNoState; }

private:
    std::atomic<int> comPort_{0};
    std::unique_ptr<platform::Event> connectEvent_;
    std::atomic<int> lastState_{kNoState};
};
