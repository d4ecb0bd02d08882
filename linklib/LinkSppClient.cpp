#include "linklib/LinkSppClient.h"

#include <mutex>

namespace {

// Guards connectEvent against a notification during destruction (see CLinkBtIf).
std::mutex g_eventLock;

}  // namespace

CLinkSppClient::CLinkSppClient()
    : connectEvent(platform::Event::Create(platform::ResetMode::Manual, false)) {
    if (connectEvent) {
        connectEvent->Reset();
    }
}

CLinkSppClient::~CLinkSppClient() {
    std::lock_guard lock(g_eventLock);
    connectEvent.reset();
}

void CLinkSppClient::OnClientStateChange(const uint8_t* /*address*/, const uint8_t* /*deviceClass*/,
                                         const char* /*name*/, int16_t port, int state) {
    std::lock_guard lock(g_eventLock);
    if (!connectEvent) {
        return;
    }
    if (state == kStateConnected) {
        comPort = port < 0 ? 0 : port;
    }
    lastState = state;
    connectEvent->Set();
}
