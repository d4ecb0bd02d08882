// Which device source start-up made: the link loader on handsets whose
// device root holds the SDK stack, the registry-based one otherwise.
#pragma once

#include "core/AppRegistry.h"
#include "link/Bluetooth.h"
#include "link/LinkLoader.h"

// Runs `use` on the source start-up made (both offer the same operations under
// the same names); `otherwise` when it made none.
template <typename F, typename R>
R WithDeviceSource(F use, R otherwise) {
    if (AppRegistry.linkLoader != nullptr) {
        return use(*AppRegistry.linkLoader);
    }
    if (AppRegistry.bluetooth != nullptr) {
        return use(*AppRegistry.bluetooth);
    }
    return otherwise;
}
