// The registry view over the Bluetooth daemon as the registry device source
// reads it, the rule that picks it, stable port names and opening a port
// through the serial-port profile.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <ostream>
#include <thread>

#include "platform/bluetooth/Backend.h"
#include "platform/bluez/BluezClient.h"
#include "platform/bluez/BluezRegistryView.h"
#include "platform/bluez/PortNames.h"
#include "platform/registry/Registry.h"
#include "platform/serial/PortBindings.h"
#include "platform/serial/SerialPort.h"
#include "tests/bluez/BluezFixture.h"

using namespace blueztest;
using platform::RegistryKey;
using platform::RegistryRoot;

namespace {

class BluezRegistryTest : public BluezFixture {};

std::vector<std::u16string> SubkeysOf(std::u16string_view path) {
    std::vector<std::u16string> names;
    auto key = RegistryKey::Open(RegistryRoot::LocalMachine, path);
    if (!key) {
        return names;
    }
    for (uint32_t i = 0;; ++i) {
        char16_t name[256];
        uint32_t units = 256;
        if (key->EnumSubkey(i, name, &units) != platform::RegistryResult::Ok) {
            return names;
        }
        names.emplace_back(name, units);
    }
}

}  // namespace

TEST_F(BluezRegistryTest, OnlyPairedDevicesWithTheSerialPortServiceAreListed) {
    mock_->AddAdapter();
    Paired(1, "CAMORA HD", {kHandsFreeUuid, kAudioSinkUuid, kSerialPortUuid});
    Paired(2, "HEADSET", {kHandsFreeUuid, kAudioSinkUuid});
    const std::string stranger = mock_->AddDevice(TestAddress(3), "STRANGER");
    mock_->SetUuids(stranger, {kSerialPortUuid});

    CBluetooth bt;
    ASSERT_EQ(bt.IsAvailable(), 1);
    bt.EnumerateDevices();
    EXPECT_EQ(Listed(bt),
              (std::vector<std::pair<std::u16string, std::u16string>>{{u"CAMORA HD", u"BTC10"}}));

    // The layout behind it: both paired devices, keyed by address, their
    // services, and a port only for the one with the serial-port service.
    EXPECT_EQ(SubkeysOf(u"Software\\Microsoft\\Bluetooth\\Device"),
              (std::vector<std::u16string>{u"0a1b2c3d0001", u"0a1b2c3d0002"}));
    EXPECT_EQ(SubkeysOf(u"Software\\Microsoft\\Bluetooth\\Device\\0a1b2c3d0001\\Services\\"),
              (std::vector<std::u16string>{u"0000111e-0000-1000-8000-00805f9b34fb",
                                           u"0000110b-0000-1000-8000-00805f9b34fb",
                                           u"00001101-0000-1000-8000-00805f9b34fb"}));
    EXPECT_EQ(SubkeysOf(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports"),
              (std::vector<std::u16string>{u"00000a1b2c3d0001"}));
    EXPECT_FALSE(RegistryKey::Open(RegistryRoot::LocalMachine,
                                   u"Software\\Microsoft\\Bluetooth\\Device\\0a1b2c3d0003"));
}

TEST_F(BluezRegistryTest, TwoDevicesOfTheSameNameAreBothListedWithPortsOfTheirOwn) {
    mock_->AddAdapter();
    Paired(7, "CAMORA HD", {kSerialPortUuid});
    Paired(5, "CAMORA HD", {kSerialPortUuid});

    CBluetooth bt;
    bt.EnumerateDevices();
    const auto listed = Listed(bt);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].first, u"CAMORA HD");
    EXPECT_EQ(listed[1].first, u"CAMORA HD");
    EXPECT_NE(listed[0].second, listed[1].second);
}

TEST_F(BluezRegistryTest, ADeviceAddedBetweenTwoScansAppearsInTheSecond) {
    mock_->AddAdapter();
    Paired(1, "CAMORA HD", {kSerialPortUuid});
    CBluetooth bt;
    bt.EnumerateDevices();
    ASSERT_EQ(Listed(bt).size(), 1u);

    Paired(2, "CAMORA 4K", {kSerialPortUuid});
    bt.EnumerateDevices();
    const auto listed = Listed(bt);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[1].first, u"CAMORA 4K");
}

TEST_F(BluezRegistryTest, WithoutAnAdapterBluetoothIsNotAvailable) {
    CBluetooth bt;
    EXPECT_EQ(bt.IsAvailable(), 0);
    bt.EnumerateDevices();
    EXPECT_TRUE(Listed(bt).empty());

    // It follows the adapter: plugged in, then out again.
    mock_->AddAdapter();
    EXPECT_EQ(bt.IsAvailable(), 1);
    mock_->RemoveAdapter();
    EXPECT_EQ(bt.IsAvailable(), 0);
}

TEST_F(BluezRegistryTest, NamesLongerThan35CharactersAreCutSafely) {
    mock_->AddAdapter();
    const std::string ascii = "CAMORA HD WITH A VERY LONG NAME THAT GOES ON AND ON";
    // 30 ASCII characters, then characters of three UTF-8 bytes each.
    const std::string wide = "CAMORA HD 0123456789 0123456789\u30d3\u30c7\u30aa\u30ab\u30e1\u30e9";
    Paired(1, ascii, {kSerialPortUuid});
    Paired(2, wide, {kSerialPortUuid});

    CBluetooth bt;
    bt.EnumerateDevices();
    const auto listed = Listed(bt);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].first, u"CAMORA HD WITH A VERY LONG NAME THA");
    EXPECT_EQ(listed[1].first, u"CAMORA HD 0123456789 0123456789\u30d3\u30c7\u30aa\u30ab");
    bt.SelectDevice(listed[1].first);
    std::u16string selected;
    bt.GetSelectedName(selected);
    EXPECT_EQ(selected, listed[1].first);
}

TEST_F(BluezRegistryTest, PortNamesStayWithTheirDeviceFromRunToRun) {
    mock_->AddAdapter();
    Paired(9, "CAMORA HD", {kSerialPortUuid});
    {
        platform::bluez::BluezRegistryView run(std::make_shared<platform::bluez::BluezClient>());
        EXPECT_EQ(run.StringValue(
                      RegistryRoot::LocalMachine,
                      u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\00000a1b2c3d0009", u"Port"),
                  u"BTC10");
    }
    // A device that sorts first, paired before the next run, takes the next number.
    Paired(1, "CAMORA 4K", {kSerialPortUuid});
    platform::bluez::BluezRegistryView run(std::make_shared<platform::bluez::BluezClient>());
    auto port = [&](const char16_t* key) {
        return run.StringValue(
            RegistryRoot::LocalMachine,
            std::u16string(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\") + key, u"Port");
    };
    EXPECT_EQ(port(u"00000a1b2c3d0009"), u"BTC10");
    EXPECT_EQ(port(u"00000a1b2c3d0001"), u"BTC11");
    EXPECT_EQ(root_.ReadFile("bluetooth/ports"), "0A:1B:2C:3D:00:01 21\n0A:1B:2C:3D:00:09 20\n");
}

TEST_F(BluezRegistryTest, ADeviceBoundAsAnRfcommTerminalKeepsThatTerminal) {
    mock_->AddAdapter();
    Paired(1, "CAMORA HD", {kSerialPortUuid});
    Paired(2, "CAMORA 4K", {kSerialPortUuid});
    root_.WriteFile("sys/rfcomm3/address", "0a:1b:2c:3d:00:01\n");
    root_.WriteFile("sys/rfcomm12/address", "0A:1B:2C:3D:00:02\n");
    root_.WriteFile("sys/ttyS0/address", "0A:1B:2C:3D:00:02\n");
    platform::SetRegistryView(std::make_shared<platform::bluez::BluezRegistryView>(
        std::make_shared<platform::bluez::BluezClient>(), root_.Host("sys")));
    CBluetooth bt;
    bt.EnumerateDevices();
    platform::SetRegistryView(nullptr);
    EXPECT_EQ(Listed(bt), (std::vector<std::pair<std::u16string, std::u16string>>{
                              {u"CAMORA HD", u"COM3"}, {u"CAMORA 4K", u"BTC2"}}));
    // Opened as /dev/rfcommN by the serial port, not through the profile.
    EXPECT_FALSE(platform::BoundPort(u"COM3:"));
    EXPECT_FALSE(platform::BoundPort(u"BTC2:"));
}

TEST_F(BluezRegistryTest, OpeningThePortConnectsTheSerialPortProfile) {
    mock_->AddAdapter();
    const std::string path = Paired(1, "CAMORA HD", {kSerialPortUuid});
    int link[2];
    SocketPair(link);
    mock_->SetSerialLink(path, link[1]);
    ::close(link[1]);

    CBluetooth bt;
    bt.EnumerateDevices();
    bt.SelectDevice(u"CAMORA HD");
    ASSERT_EQ(bt.OpenPort(), 1);
    const platform::PortHandle port = bt.GetPortHandle();
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(mock_->RegisteredProfiles(),
              std::vector<std::string>{std::string(kSerialPortUuid) + " /org/camora/serial_port"});

    // The socket the daemon handed over is the port's link, both ways.
    const uint8_t out[] = {0x00, 0x01, 0x00, 0x06, 0x11, 0x01};
    uint32_t n = 0;
    ASSERT_TRUE(port->Write(out, sizeof out, &n));
    uint8_t in[16] = {};
    ASSERT_EQ(::read(link[0], in, sizeof in), static_cast<ssize_t>(sizeof out));
    EXPECT_EQ(in[4], 0x11);
    ASSERT_EQ(::write(link[0], "\x00\x01", 2), 2);
    platform::SerialTimeouts t;
    t.readTotalConstantMs = 2000;
    port->SetTimeouts(t);
    ASSERT_TRUE(port->Read(in, sizeof in, &n));
    EXPECT_EQ(n, 2u);
    ::close(link[0]);
}

TEST_F(BluezRegistryTest, ADeviceRemovedSinceTheLastScanLosesItsPort) {
    mock_->AddAdapter();
    Paired(1, "CAMORA HD", {kSerialPortUuid});
    CBluetooth bt;
    bt.EnumerateDevices();
    EXPECT_TRUE(platform::BoundPort(u"BTC10:"));
    mock_->RemoveDevice(TestAddress(1));
    bt.EnumerateDevices();
    EXPECT_FALSE(platform::BoundPort(u"BTC10:"));
    // The table keeps the entry of the earlier scan; opening it finds no port.
    bt.SelectDevice(u"CAMORA HD");
    EXPECT_EQ(bt.OpenPort(), 1);
    EXPECT_EQ(bt.GetPortHandle(), nullptr);
}

TEST_F(BluezRegistryTest, AProfileTheDaemonDroppedIsRegisteredAgain) {
    mock_->AddAdapter();
    const std::string path = Paired(1, "CAMORA HD", {kSerialPortUuid});
    CBluetooth bt;
    bt.EnumerateDevices();
    bt.SelectDevice(u"CAMORA HD");
    for (int attempt = 0; attempt < 2; ++attempt) {
        int link[2];
        SocketPair(link);
        mock_->SetSerialLink(path, link[1]);
        ::close(link[1]);
        auto port = platform::SerialPort::Open(u"BTC10:");
        EXPECT_NE(port, nullptr) << "attempt " << attempt;
        ::close(link[0]);
        mock_->ReleaseProfiles();
        EXPECT_TRUE(mock_->RegisteredProfiles().empty());
    }
}

// How a failed connection ends: at once, or within the connect bound (1.5 s here).
struct FailedOpen {
    const char* behaviour;
    int atMostMs;
};

void PrintTo(const FailedOpen& open, std::ostream* out) {
    *out << open.behaviour;
}

class BluezFailedOpenTest : public BluezFixture,
                            public ::testing::WithParamInterface<FailedOpen> {};

TEST_P(BluezFailedOpenTest, OpeningFailsCleanlyWithinItsBound) {
    mock_->AddAdapter();
    const std::string path = Paired(1, "CAMORA HD", {kSerialPortUuid});
    mock_->SetConnectBehaviour(path, GetParam().behaviour);
    CBluetooth bt;
    bt.EnumerateDevices();
    bt.SelectDevice(u"CAMORA HD");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(bt.OpenPort(), 1);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(bt.GetPortHandle(), nullptr);
    EXPECT_LT(took, std::chrono::milliseconds(GetParam().atMostMs));
}

INSTANTIATE_TEST_SUITE_P(Behaviours, BluezFailedOpenTest,
                         ::testing::Values(FailedOpen{"out-of-range", 1000},
                                           FailedOpen{"refused", 1000}, FailedOpen{"silent", 2500},
                                           FailedOpen{"no-connection", 2500}),
                         [](const ::testing::TestParamInfo<FailedOpen>& param) {
                             std::string name = param.param.behaviour;
                             for (char& c : name) {
                                 c = c == '-' ? '_' : c;
                             }
                             return name;
                         });

// The rule that picks the Bluetooth backend.
TEST_F(BluezRegistryTest, AutoPicksTheDaemonWhenItAnswers) {
    root_.WriteFile("bluetooth.conf", "# nothing chosen\n");
    mock_->AddAdapter();
    Paired(1, "CAMORA HD", {kSerialPortUuid});
    EXPECT_NE(platform::bluetooth::ChosenBluezClient(), nullptr);
    CBluetooth bt;
    EXPECT_EQ(bt.IsAvailable(), 1);
    bt.EnumerateDevices();
    EXPECT_EQ(Listed(bt).size(), 1u);
}

TEST_F(BluezRegistryTest, SimulatedPicksTheDeviceRootsStandInsEvenWithTheDaemonThere) {
    root_.WriteFile("bluetooth.conf", "backend=simulated\n");
    mock_->AddAdapter();
    EXPECT_EQ(platform::bluetooth::ChosenBluezClient(), nullptr);
    CBluetooth bt;
    EXPECT_EQ(bt.IsAvailable(), 0);  // no registry folder in this device root
    std::filesystem::create_directories(root_.Host("registry/HKLM/Software/Microsoft/Bluetooth"));
    EXPECT_EQ(bt.IsAvailable(), 1);
}

TEST(BluezBackendRuleTest, AutoFallsBackToTheStandInsWithoutTheDaemon) {
    platform::bluetooth::InstallBluetoothBackend();
    testsupport::TempDeviceRoot root;
    root.WriteFile("bluetooth.conf", "backend=auto\n");
    // A bus address where nothing listens: the daemon cannot answer.
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + root.Host("no-bus")).c_str(), 1);
    EXPECT_EQ(platform::bluetooth::ChosenBluezClient(), nullptr);
    std::filesystem::create_directories(root.Host("registry/HKLM/Software/Microsoft/Bluetooth"));
    CBluetooth bt;
    EXPECT_EQ(bt.IsAvailable(), 1);
    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}

TEST(BluezBackendRuleTest, ConfigurationLines) {
    using platform::bluetooth::BluetoothConfig;
    using platform::bluetooth::ParseBluetoothConfig;
    struct Case {
        const char* text;
        BluetoothConfig::Backend backend;
        uint32_t timeoutMs;
    };
    const Case cases[] = {
        {"", BluetoothConfig::Backend::Auto, 15000},
        {"backend=bluez\n", BluetoothConfig::Backend::Bluez, 15000},
        {" backend = simulated \r\nconnect_timeout_ms=2500\n", BluetoothConfig::Backend::Simulated,
         2500},
        {"#backend=bluez\nbackend=nonsense\n", BluetoothConfig::Backend::Auto, 15000},
        {"connect_timeout_ms=-5\n", BluetoothConfig::Backend::Auto, 15000},
        {"connect_timeout_ms=99999999\n", BluetoothConfig::Backend::Auto, 15000},
    };
    for (const Case& c : cases) {
        const BluetoothConfig config = ParseBluetoothConfig(c.text);
        EXPECT_EQ(config.backend, c.backend) << c.text;
        EXPECT_EQ(config.connectTimeoutMs, c.timeoutMs) << c.text;
    }
}
