// CBluetooth over registry trees in a private device root.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "link/Bluetooth.h"
#include "testkit/PtyPair.h"
#include "testkit/TempDeviceRoot.h"

using testsupport::PtyPair;
using testsupport::TempDeviceRoot;

namespace {

constexpr const char* kSpp = "00001101-0000-1000-8000-00805f9b34fb";
const std::string kBt = "registry/HKLM/Software/Microsoft/Bluetooth/";

class BluetoothTest : public ::testing::Test {
protected:
    // A paired device: its key, "name" value (none when null), service keys
    // and, when given, the "Port" value of its serial port key.
    void AddDevice(const std::string& key, const char* name, std::vector<std::string> services,
                   std::optional<std::string> port = std::nullopt) {
        const std::string device = kBt + "Device/" + key;
        std::filesystem::create_directories(root_.Host(device + "/Services"));
        if (name != nullptr) {
            root_.WriteFile(device + "/name", name);
        }
        for (const auto& service : services) {
            std::filesystem::create_directories(root_.Host(device + "/Services/" + service));
        }
        if (port) {
            root_.WriteFile(kBt + "Serial/Ports/0000" + key + "/Port", *port);
        }
    }
    void RemoveDevice(const std::string& key) {
        std::filesystem::remove_all(root_.Host(kBt + "Device/" + key));
    }

    std::pair<std::u16string, std::u16string> At(int index) const {
        std::u16string name, port;
        bluetooth_.GetDevice(index, name, port);
        return {name, port};
    }
    std::u16string Selected() const {
        std::u16string name;
        bluetooth_.GetSelectedName(name);
        return name;
    }

    TempDeviceRoot root_;
    CBluetooth bluetooth_;
};

using Entry = std::pair<std::u16string, std::u16string>;

}  // namespace

TEST_F(BluetoothTest, AvailableOnlyWhenTheStacksKeyExists) {
    EXPECT_EQ(bluetooth_.IsAvailable(), 0);
    std::filesystem::create_directories(root_.Host(kBt));
    EXPECT_EQ(bluetooth_.IsAvailable(), 1);
}

TEST_F(BluetoothTest, NoDeviceKeyFindsNothing) {
    std::filesystem::create_directories(root_.Host(kBt));
    bluetooth_.EnumerateDevices();
    EXPECT_EQ(At(0), Entry(u"", u""));
}

TEST_F(BluetoothTest, OnlyDevicesWithTheSerialPortServiceAreListed) {
    AddDevice("000000000001", "HEADSET", {"0000111e-0000-1000-8000-00805f9b34fb"}, "COM5");
    AddDevice("000000000002", "NOSERVICES", {}, "COM6");
    // Two other services sort before the serial port's: it is the third key.
    AddDevice("000000000003", "CAMERA",
              {"00001000-0000-1000-8000-00805f9b34fb", "00001100-0000-1000-8000-00805f9b34fb", kSpp,
               "0000111f-0000-1000-8000-00805f9b34fb"},
              "COM8");
    AddDevice("000000000004", "UPPERCASE", {"00001101-0000-1000-8000-00805F9B34FB"}, "COM9");
    bluetooth_.EnumerateDevices();
    EXPECT_EQ(At(0), Entry(u"CAMERA", u"COM8"));
    EXPECT_EQ(At(1), Entry(u"UPPERCASE", u"COM9"));
    EXPECT_EQ(At(2), Entry(u"", u""));
}

TEST_F(BluetoothTest, ADeviceWithoutAPortKeyHasAnEmptyPort) {
    AddDevice("000000000001", "NOPORT", {kSpp});
    AddDevice("000000000002", "NAMELESS_PORT_LATER", {kSpp}, "COM7");
    AddDevice("000000000003", nullptr, {kSpp}, "COM3");
    bluetooth_.EnumerateDevices();
    EXPECT_EQ(At(0), Entry(u"NOPORT", u""));
    EXPECT_EQ(At(1), Entry(u"NAMELESS_PORT_LATER", u"COM7"));
    EXPECT_EQ(At(2), Entry(u"", u"COM3"));
}

TEST_F(BluetoothTest, TwoDevicesOfOneNameSelectTheLowerIndex) {
    AddDevice("000000000001", "CAM", {kSpp}, "COM4");
    AddDevice("000000000002", "CAM", {kSpp}, "COM5");
    PtyPair first;
    first.LinkAs(root_.path(), "COM4");
    bluetooth_.EnumerateDevices();
    bluetooth_.SelectDevice(u"CAM");
    EXPECT_EQ(Selected(), u"CAM");
    EXPECT_EQ(bluetooth_.OpenPort(), 1);
    ASSERT_NE(bluetooth_.GetPortHandle(), nullptr) << "COM4: of the first entry was not opened";
}

TEST_F(BluetoothTest, SelectionComparesNamesExactlyAndKeepsTheLastMatch) {
    AddDevice("000000000001", "Cam", {kSpp}, "COM4");
    bluetooth_.EnumerateDevices();
    EXPECT_EQ(Selected(), u"");
    bluetooth_.SelectDevice(u"Cam");
    bluetooth_.SelectDevice(u"CAM");
    EXPECT_EQ(Selected(), u"Cam");
}

TEST_F(BluetoothTest, ASecondScanThatFindsFewerLeavesTheLaterEntriesInPlace) {
    AddDevice("000000000001", "ONE", {kSpp}, "COM1");
    AddDevice("000000000002", "TWO", {kSpp}, "COM2");
    AddDevice("000000000003", "THREE", {kSpp}, "COM3");
    bluetooth_.EnumerateDevices();
    RemoveDevice("000000000001");
    bluetooth_.EnumerateDevices();
    EXPECT_EQ(At(0), Entry(u"TWO", u"COM2"));
    EXPECT_EQ(At(1), Entry(u"THREE", u"COM3"));
    EXPECT_EQ(At(2), Entry(u"THREE", u"COM3"));
}

TEST_F(BluetoothTest, ARescannedEntryDoesNotKeepAnotherDevicesPort) {
    AddDevice("000000000001", "ONE", {kSpp}, "COM1");
    bluetooth_.EnumerateDevices();
    RemoveDevice("000000000001");
    AddDevice("000000000002", "TWO", {kSpp});
    bluetooth_.EnumerateDevices();
    EXPECT_EQ(At(0), Entry(u"TWO", u""));
}

TEST_F(BluetoothTest, AHundredAndFirstDeviceIsNotWrittenPastTheTable) {
    AddDevice("first", "FIRST", {kSpp}, "COM1");
    bluetooth_.EnumerateDevices();
    bluetooth_.SelectDevice(u"FIRST");
    RemoveDevice("first");
    for (int i = 0; i <= 100; ++i) {
        char key[16], name[16];
        std::snprintf(key, sizeof key, "dev%03d", i);
        std::snprintf(name, sizeof name, "DEV%03d", i);
        AddDevice(key, name, {kSpp});
    }
    bluetooth_.EnumerateDevices();
    EXPECT_EQ(At(0).first, u"DEV000");
    EXPECT_EQ(At(99).first, u"DEV099");
    // The selected entry follows the table: a 101st entry would land there.
    EXPECT_EQ(Selected(), u"FIRST");
    EXPECT_EQ(At(100), Entry(u"", u""));
}

TEST_F(BluetoothTest, LongNamesAndPortsAreCutAt35Characters) {
    const std::string name40 = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";
    const std::string port300(300, 'P');
    AddDevice("000000000001", name40.c_str(), {kSpp}, port300);
    bluetooth_.EnumerateDevices();
    const auto [name, port] = At(0);
    EXPECT_EQ(name, std::u16string(u"ABCDEFGHIJKLMNOPQRSTUVWXYZ012345678"));
    EXPECT_EQ(port, std::u16string(35, u'P'));
    bluetooth_.SelectDevice(name);
    EXPECT_EQ(Selected(), name);
}

TEST_F(BluetoothTest, OpenPortAlwaysAnswersOneAndKeepsTheLastOpenedPort) {
    AddDevice("000000000001", "CAM", {kSpp}, "COM8");
    AddDevice("000000000002", "GONE", {kSpp}, "COM9");
    EXPECT_EQ(bluetooth_.OpenPort(), 1);  // nothing selected
    EXPECT_EQ(bluetooth_.GetPortHandle(), nullptr);
    PtyPair pty;
    pty.LinkAs(root_.path(), "COM8");
    bluetooth_.EnumerateDevices();
    bluetooth_.SelectDevice(u"CAM");
    ASSERT_EQ(bluetooth_.OpenPort(), 1);
    const auto first = bluetooth_.GetPortHandle();
    ASSERT_NE(first, nullptr);
    bluetooth_.SelectDevice(u"GONE");
    EXPECT_EQ(bluetooth_.OpenPort(), 1);
    EXPECT_EQ(bluetooth_.GetPortHandle(), first);
}
