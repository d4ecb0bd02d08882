// The link library's interface object: the SDK's interface object plus the
// event that its discovery-complete notification sets.
#pragma once

#include <memory>

#include "platform/btsdk/BtSdk.h"
#include "platform/kernel/Kernel.h"

class CLinkBtIf : public CBtIf {
public:
    CLinkBtIf();
    ~CLinkBtIf() override;

    // Runs on the stack's thread: sets the discovery event when it exists.
    void OnDiscoveryComplete() override;

    // Manual-reset, created non-signalled; null when it could not be created.
    platform::Event* DiscoveryEvent() const { return discoveryEvent_.get(); }

private:
    std::unique_ptr<platform::Event> discoveryEvent_;
};
