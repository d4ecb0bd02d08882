// A test against the mock Bluetooth daemon: a device root whose
// bluetooth.conf picks the daemon, and the mock on its private bus. Skips
// only when python3-dbusmock is not installed.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "link/Bluetooth.h"
#include "platform/bluetooth/Backend.h"
#include "testkit/TempDeviceRoot.h"
#include "tests/bluez/MockBluez.h"

namespace blueztest {

// "00:11:22:33:44:NN" style addresses for test devices.
inline std::string TestAddress(int n) {
    char text[18];
    std::snprintf(text, sizeof text, "0A:1B:2C:3D:%02X:%02X", (n >> 8) & 0xFF, n & 0xFF);
    return text;
}

class BluezFixture : public ::testing::Test {
protected:
    void SetUp() override {
        // As start-up does: the registry and the SDK serve what bluetooth.conf picks.
        platform::bluetooth::InstallBluetoothBackend();
        if (!mock_->Unavailable().empty()) {
            GTEST_SKIP() << mock_->Unavailable();
        }
        root_.WriteFile("bluetooth.conf", "backend=bluez\nconnect_timeout_ms=1500\n");
    }

    // A paired device with these services; returns its object path.
    std::string Paired(int n, const std::string& name, const std::vector<std::string>& uuids) {
        const std::string path = mock_->AddDevice(TestAddress(n), name);
        mock_->Pair(TestAddress(n), uuids);
        return path;
    }

    // What the device list screen would offer: entries with a name and a port.
    static std::vector<std::pair<std::u16string, std::u16string>> Listed(const CBluetooth& bt) {
        std::vector<std::pair<std::u16string, std::u16string>> out;
        for (int i = 0; i < CBluetooth::kDeviceCount; ++i) {
            std::u16string name, port;
            bt.GetDevice(i, name, port);
            if (!name.empty() && !port.empty()) {
                out.emplace_back(name, port);
            }
        }
        return out;
    }

    // A connected socket pair: [0] stays with the test, [1] goes to the mock.
    static void SocketPair(int fds[2]) {
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    }

    testsupport::TempDeviceRoot root_;
    std::unique_ptr<MockBluez> mock_ = std::make_unique<MockBluez>();
};

}  // namespace blueztest
