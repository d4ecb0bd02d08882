// The Bluetooth SDK over its simulated stack, and over a stack of the test's own.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "platform/btsdk/BtSdk.h"
#include "platform/btsdk/SimulatedStack.h"
#include "platform/kernel/Kernel.h"
#include "testkit/TempDeviceRoot.h"

using namespace platform::btsdk;

namespace {

SimulatedStack& Sim() {
    return SimulatedStack::Instance();
}

const uint8_t kCamera[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

class BtSdkTest : public ::testing::Test {
protected:
    void SetUp() override { Sim().Reset(); }
    void TearDown() override {
        EXPECT_TRUE(Sim().WaitIdle(10000));
        Sim().Reset();
    }
    void WriteStack(const std::string& text) { root_.WriteFile("bluetooth/stack.ini", text); }

    testsupport::TempDeviceRoot root_;
};

std::atomic<int> g_discoveries{0};
std::atomic<bool> g_onCallersThread{false};

class CountingBtIf : public CBtIf {
public:
    explicit CountingBtIf(std::thread::id caller) : caller_(caller) {}
    void OnDiscoveryComplete() override {
        g_onCallersThread = std::this_thread::get_id() == caller_;
        ++g_discoveries;
    }

private:
    std::thread::id caller_;
};

class RecordingClient : public CSppClient {
public:
    void OnClientStateChange(const uint8_t*, const uint8_t*, const char* name, int16_t port,
                             int state) override {
        name_ = name;
        port_ = port;
        state_ = state;
        done_->Set();
    }
    bool Wait() { return done_->Wait(10000); }

    std::string name_;
    int16_t port_ = 0;
    int state_ = -1;

private:
    std::unique_ptr<platform::Event> done_ =
        platform::Event::Create(platform::ResetMode::Manual, false);
};

}  // namespace

TEST(StackDescription, ParsesSectionsKeysAndDefaults) {
    const auto d = ParseStackDescription(
        "# a comment\n[Stack]\ndiscovery = never\ndiscovery-delay-ms = 25\n"
        "[device]\naddress = 00:11:22:33:44:55\nname =  My Cam \nclass = 20:04:14\n"
        "paired = no\nserial-port = no\nservice-name = SPP\ncom-port = -2\n"
        "connect-result = 3\nconnect-state = 1\nconnect-notifies = no\nconnect-delay-ms = 7\n"
        "[other]\nname = ignored\n"
        "[device]\naddress = not an address\n");
    EXPECT_EQ(d.discovery, SimulatedDescription::Discovery::Never);
    EXPECT_EQ(d.discoveryDelayMs, 25u);
    ASSERT_EQ(d.devices.size(), 2u);
    const auto& a = d.devices[0];
    EXPECT_EQ(a.device.address, (Address{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}));
    EXPECT_EQ(a.device.name, u"My Cam");
    EXPECT_EQ(a.device.deviceClass, (DeviceClass{0x20, 0x04, 0x14}));
    EXPECT_FALSE(a.device.paired);
    EXPECT_FALSE(a.serialPort);
    EXPECT_EQ(a.serviceName, u"SPP");
    EXPECT_EQ(a.comPort, -2);
    EXPECT_EQ(a.connectResult, 3);
    EXPECT_EQ(a.connectState, 1);
    EXPECT_FALSE(a.connectNotifies);
    EXPECT_EQ(a.connectDelayMs, 7u);
    const auto& b = d.devices[1];
    EXPECT_EQ(b.device.address, Address{});
    EXPECT_TRUE(b.device.paired);
    EXPECT_TRUE(b.serialPort);
    EXPECT_TRUE(b.connectNotifies);
    EXPECT_EQ(b.serviceName, u"Serial Port");
}

TEST_F(BtSdkTest, NamesFillTheNarrowFieldWithoutSplittingACharacter) {
    std::string kana;
    for (int i = 0; i < 124; ++i) {
        kana += "\xE3\x82\xAB";  // two bytes each in the code page
    }
    WriteStack("[device]\nname = " + std::string(300, 'N') + "\n[device]\nname = A" + kana +
               "\n[device]\nname = short\n");
    CBtIf bt;
    const uint8_t any[3] = {0xFF, 0xFF, 0xFF};
    CBtIf::REM_DEV_INFO info;
    ASSERT_EQ(bt.GetRemoteDeviceInfoEx(any, &info), CBtIf::kDeviceInfoOk);
    EXPECT_EQ(std::string(info.name, sizeof info.name), std::string(248, 'N'));
    ASSERT_EQ(bt.GetNextRemoteDeviceInfo(&info), CBtIf::kDeviceInfoOk);
    // 'A' and 124 two-byte characters are 249 bytes: the last one goes whole.
    EXPECT_EQ(strnlen(info.name, sizeof info.name), 247u);
    EXPECT_EQ(static_cast<unsigned char>(info.name[245]), 0x83);
    ASSERT_EQ(bt.GetNextRemoteDeviceInfo(&info), CBtIf::kDeviceInfoOk);
    EXPECT_STREQ(info.name, "short");
    EXPECT_EQ(info.paired, 1u);
    EXPECT_EQ(bt.GetNextRemoteDeviceInfo(&info), CBtIf::kDeviceInfoEndOfList);
}

TEST_F(BtSdkTest, ClassFilterSelectsDevicesAndAWalkMustBeStarted) {
    WriteStack(
        "[device]\nname = CAM\nclass = 20 04 14\n[device]\nname = PHONE\nclass = 5A 02 0C\n");
    CBtIf bt;
    CBtIf::REM_DEV_INFO info;
    EXPECT_EQ(bt.GetNextRemoteDeviceInfo(&info), CBtIf::kDeviceInfoEndOfList);
    const uint8_t phone[3] = {0x5A, 0x02, 0x0C};
    ASSERT_EQ(bt.GetRemoteDeviceInfoEx(phone, &info), CBtIf::kDeviceInfoOk);
    EXPECT_STREQ(info.name, "PHONE");
    EXPECT_EQ(bt.GetNextRemoteDeviceInfo(&info), CBtIf::kDeviceInfoEndOfList);
    const uint8_t none[3] = {0x01, 0x01, 0x01};
    EXPECT_EQ(bt.GetRemoteDeviceInfoEx(none, &info), CBtIf::kDeviceInfoEndOfList);
}

TEST_F(BtSdkTest, DiscoveryCompletesOnTheStacksThreadAndOnlyForALiveObject) {
    WriteStack("[stack]\ndiscovery-delay-ms = 20\n[device]\naddress = 00:11:22:33:44:55\n");
    g_discoveries = 0;
    {
        CountingBtIf bt(std::this_thread::get_id());
        ASSERT_EQ(bt.StartDiscovery(kCamera, nullptr), 1);
        EXPECT_EQ(bt.StartDiscovery(kCamera, nullptr), 0) << "one discovery at a time";
        ASSERT_TRUE(Sim().WaitIdle(10000));
        EXPECT_EQ(g_discoveries, 1);
        EXPECT_FALSE(g_onCallersThread);
    }
    {
        CountingBtIf gone(std::this_thread::get_id());
        ASSERT_EQ(gone.StartDiscovery(kCamera, nullptr), 1);
    }  // destroyed before the stack completes
    ASSERT_TRUE(Sim().WaitIdle(10000));
    EXPECT_EQ(g_discoveries, 1);
    EXPECT_EQ(Sim().OpenInterfaces(), 0);
}

TEST_F(BtSdkTest, DiscoveryRecordsNameTheSerialPortService) {
    WriteStack("[device]\naddress = 00:11:22:33:44:55\nservice-name = " + std::string(80, 'S') +
               "\n[device]\naddress = 00:00:00:00:00:01\nserial-port = no\n");
    CBtIf bt;
    CSdpDiscoveryRec records[2];
    ASSERT_EQ(bt.ReadDiscoveryRecords(kCamera, 2, records, &CBtIf::guid_SERVCLASS_SERIAL_PORT), 1);
    EXPECT_EQ(std::u16string(records[0].serviceName), std::u16string(63, u'S'));
    EXPECT_EQ(records[0].serviceClass, CBtIf::guid_SERVCLASS_SERIAL_PORT);
    const BtUuid other{0x0000111E, 0, 0x1000, {0x80, 0, 0, 0x80, 0x5F, 0x9B, 0x34, 0xFB}};
    EXPECT_EQ(bt.ReadDiscoveryRecords(kCamera, 2, records, &other), 0);
    EXPECT_EQ(bt.ReadDiscoveryRecords(kCamera, 0, records, nullptr), 0);
    const uint8_t noSpp[6] = {0, 0, 0, 0, 0, 1};
    EXPECT_EQ(bt.ReadDiscoveryRecords(noSpp, 1, records, nullptr), 0);
}

TEST_F(BtSdkTest, ClientConnectsOnceReportsItsPortAndIsFreedWithTheClient) {
    WriteStack("[device]\naddress = 00:11:22:33:44:55\nname = CAM\ncom-port = 12\n");
    CBtIf bt;  // loads the description
    {
        RecordingClient client;
        EXPECT_EQ(client.CreateConnection(kCamera, u"Wrong Name"), CSppClient::kFailed);
        EXPECT_EQ(client.CreateConnection(nullptr, u"Serial Port"), CSppClient::kBadParameter);
        ASSERT_EQ(client.CreateConnection(kCamera, u"Serial Port"), CSppClient::kSuccess);
        ASSERT_TRUE(client.Wait());
        EXPECT_EQ(client.state_, CSppClient::kStateConnected);
        EXPECT_EQ(client.port_, 12);
        EXPECT_EQ(client.name_, "CAM");
        EXPECT_EQ(client.CreateConnection(kCamera, u"Serial Port"), CSppClient::kAlreadyConnected);
    }
    RecordingClient next;  // the first client's connection went with it
    EXPECT_EQ(next.CreateConnection(kCamera, u"Serial Port"), CSppClient::kSuccess);
    ASSERT_TRUE(next.Wait());
    EXPECT_EQ(next.RemoveConnection(), 0);
}

TEST_F(BtSdkTest, AnInstalledStackServesTheSdk) {
    class FixedStack final : public BtStack {
    public:
        void InterfaceOpened() override { ++opened; }
        void InterfaceClosed() override {}
        std::vector<RemoteDevice> KnownDevices() override {
            RemoteDevice d;
            d.name = u"REAL";
            d.paired = true;
            return {d};
        }
        bool StartDiscovery(const Address&, const Uuid*, std::function<void()>) override {
            return false;
        }
        std::vector<ServiceRecord> ServiceRecords(const Address&, const Uuid*, size_t) override {
            return {};
        }
        int CreateConnection(ClientId, const Address&, std::u16string_view,
                             std::function<void(const ClientStateReport&)>) override {
            return 3;
        }
        int RemoveConnection(ClientId) override { return 0; }
        void ShutDown() override {}
        int opened = 0;
    };
    auto fixed = std::make_shared<FixedStack>();
    SetStack(fixed);
    CBtIf::REM_DEV_INFO info{};
    int result = -1;
    {
        CBtIf bt;
        result = bt.GetRemoteDeviceInfoEx(nullptr, &info);
    }
    SetStack(nullptr);
    EXPECT_EQ(result, CBtIf::kDeviceInfoOk);
    EXPECT_STREQ(info.name, "REAL");
    EXPECT_EQ(fixed->opened, 1);
    EXPECT_TRUE(Sim().Log().empty());
}
