#include "linklib/LinkBtIf.h"

#include <mutex>

namespace {

// Guards discoveryEvent_ against a notification that arrives while the object
// is being destroyed (the SDK stops notifying only in its own destructor,
// which runs after ours). A library-wide lock outlives every object, which a
// Protected member of the object would not; a std::mutex cannot fail to exist.
std::mutex g_eventLock;

}  // namespace

CLinkBtIf::CLinkBtIf()
    : discoveryEvent_(platform::Event::Create(platform::ResetMode::Manual, false)) {
    if (discoveryEvent_) {
        discoveryEvent_->Reset();
    }
}

CLinkBtIf::~CLinkBtIf() {
    std::lock_guard lock(g_eventLock);
    discoveryEvent_.reset();
}

void CLinkBtIf::OnDiscoveryComplete() {
    std::lock_guard lock(g_eventLock);
    if (discoveryEvent_) {
        discoveryEvent_->Set();
    }
}
