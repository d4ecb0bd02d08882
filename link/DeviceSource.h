// Which device source start-up made: the link loader on handsets whose
// device root holds the SDK stack, the registry-based one otherwise.
#pragma once

#include "core/AppRegistry.h"
#include "link/Bluetooth.h"
#include "link/LinkLoader.h"

// Makes the one device source of the run and puts it in AppRegistry: the link
// loader where the SDK stack is installed, else the registry-based source.
inline void InstallDeviceSource() {
    if (CLinkLoader::IsSdkStackInstalled() == 1) {
        AppRegistry.linkLoader = new CLinkLoader;
    } else {
        AppRegistry.bluetooth = new CBluetooth;
    }
}

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
