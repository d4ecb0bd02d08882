// The Bluetooth SDK's stack over the mock daemon: known devices, the
// serial-port service record, and connections reported on the stack's own
// thread with the port that then opens once.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/bluetooth/Backend.h"
#include "platform/bluez/BluezStack.h"
#include "platform/serial/SerialPort.h"
#include "tests/bluez/BluezFixture.h"

using namespace blueztest;
using platform::bluez::BluezStack;
using platform::btsdk::Address;
using platform::btsdk::ClientStateReport;

namespace {

class BluezStackTest : public BluezFixture {
protected:
    void SetUp() override {
        BluezFixture::SetUp();
        if (IsSkipped()) {
            return;
        }
        mock_->AddAdapter();
        camcorder_ = Paired(2, "CAMORA HD", {kSerialPortUuid});
        Paired(1, "HEADSET", {kHandsFreeUuid});
        mock_->AddDevice(TestAddress(3), "STRANGER");
        stack_ = platform::bluetooth::ChosenBluezStack();
        ASSERT_NE(stack_, nullptr);
    }

    static Address At(int n) {
        Address a{};
        EXPECT_TRUE(BluezStack::ParseAddress(TestAddress(n), &a));
        return a;
    }

    // Connects client 1 to device `n` and waits for the notification.
    std::optional<ClientStateReport> Connect(int n, int* result) {
        *result = stack_->CreateConnection(1, At(n), u"Serial Port",
                                           [this](const ClientStateReport& report) {
                                               std::lock_guard lock(lock_);
                                               report_ = report;
                                               notifiedOn_ = std::this_thread::get_id();
                                               arrived_.notify_all();
                                           });
        std::unique_lock lock(lock_);
        arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return report_.has_value(); });
        return report_;
    }

    std::string camcorder_;
    std::shared_ptr<platform::btsdk::BtStack> stack_;
    std::mutex lock_;
    std::condition_variable arrived_;
    std::optional<ClientStateReport> report_;
    std::thread::id notifiedOn_;
};

}  // namespace

TEST(BluezStackAddressTest, AddressesParseInTheOrderWritten) {
    Address a{};
    ASSERT_TRUE(BluezStack::ParseAddress("0A:1b:2C:3d:4E:5F", &a));
    EXPECT_EQ(a, (Address{0x0A, 0x1B, 0x2C, 0x3D, 0x4E, 0x5F}));
    for (const char* bad : {"", "0A:1B:2C:3D:4E", "0A:1B:2C:3D:4E:5F:", "0A-1B-2C-3D-4E-5F",
                            "0A:1B:2C:3D:4E:5G", "0A:1B:2C:3D:4E:5F0"}) {
        EXPECT_FALSE(BluezStack::ParseAddress(bad, &a)) << bad;
    }
}

TEST_F(BluezStackTest, KnownDevicesCarryTheirPairedFlagAndClass) {
    const auto devices = stack_->KnownDevices();
    ASSERT_EQ(devices.size(), 3u);
    int paired = 0;
    for (const auto& d : devices) {
        if (d.address == At(2)) {
            EXPECT_EQ(d.name, u"CAMORA HD");
            EXPECT_TRUE(d.paired);
            EXPECT_EQ(d.deviceClass, (platform::btsdk::DeviceClass{0x20, 0x04, 0x04}));
        }
        if (d.address == At(3)) {
            EXPECT_FALSE(d.paired);
        }
        paired += d.paired ? 1 : 0;
    }
    EXPECT_EQ(paired, 2);
}

TEST_F(BluezStackTest, OnlyADeviceWithTheServiceHasASerialPortRecord) {
    const auto spp = platform::btsdk::kSerialPortUuid;
    EXPECT_EQ(stack_->ServiceRecords(At(2), &spp, 1).size(), 1u);
    EXPECT_EQ(stack_->ServiceRecords(At(2), nullptr, 1).size(), 1u);
    EXPECT_TRUE(stack_->ServiceRecords(At(2), &spp, 0).empty());
    EXPECT_TRUE(stack_->ServiceRecords(At(1), &spp, 1).empty());
    EXPECT_TRUE(stack_->ServiceRecords(At(9), &spp, 1).empty());
}

TEST_F(BluezStackTest, AConnectionIsReportedOnTheStacksThreadAndItsPortOpensOnce) {
    int link[2];
    SocketPair(link);
    mock_->SetSerialLink(camcorder_, link[1]);
    ::close(link[1]);

    int result = -1;
    const auto report = Connect(2, &result);
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->state, 0);
    EXPECT_EQ(report->comPort, 20);  // BTC10
    EXPECT_NE(notifiedOn_, std::this_thread::get_id());

    auto port = platform::SerialPort::Open(u"BTC10:");
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(platform::SerialPort::Open(u"BTC10:"), nullptr) << "the socket was handed out twice";
    EXPECT_EQ(stack_->CreateConnection(1, At(2), u"Serial Port", [](const ClientStateReport&) {}),
              2);
    EXPECT_EQ(stack_->RemoveConnection(1), 0);
    EXPECT_EQ(stack_->RemoveConnection(1), 1);
    ::close(link[0]);
}

TEST_F(BluezStackTest, AFailedConnectionIsReportedWithoutAPort) {
    mock_->SetConnectBehaviour(camcorder_, "refused");
    int result = -1;
    const auto report = Connect(2, &result);
    EXPECT_EQ(result, 0);
    ASSERT_TRUE(report.has_value());
    EXPECT_EQ(report->state, 2);
    EXPECT_EQ(report->comPort, 0);
    EXPECT_EQ(stack_->RemoveConnection(1), 1);
}

TEST_F(BluezStackTest, DevicesWithoutTheServiceOrUnknownAreRefusedAtOnce) {
    auto ignore = [](const ClientStateReport&) { ADD_FAILURE() << "no notification expected"; };
    EXPECT_EQ(stack_->CreateConnection(1, At(1), u"Serial Port", ignore), 3);
    EXPECT_EQ(stack_->CreateConnection(1, At(9), u"Serial Port", ignore), 3);
}
