#include "linklib/LinkSppClient.h"

#include <mutex>

namespace {

// Guards connectEvent_ against a notification during destruction (see CLinkBtIf).
std::mutex g_eventLock;

}  // namespace

CLinkSppClient::CLinkSppClient()
    : connectEvent_(platform::Event::Create(platform::ResetMode::Manual, false)) {
    if (connectEvent_) {
        connectEvent_->Reset();
    }
}

CLinkSppClient::~CLinkSppClient() {
    std::lock_guard lock(g_eventLock);
    connectEvent_.reset();
}

void CLinkSppClient::OnClientStateChange(const uint8_t* /*address*/, const uint8_t* /*deviceClass*/,
                                         const char* /*name*/, int16_t port, int state) {
    std::lock_guard lock(g_eventLock);
    if (!connectEvent_) {
        return;
    }
    if (state == kStateConnected) {
        comPort_ = port < 0 ? 0 : port;
    }
    lastState_ = state;
    connectEvent_->Set();
}
