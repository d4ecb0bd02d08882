// Both device sources from listing to an open port, as the connection
// screens and the connect procedure use them: the camcorder's side is a
// pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "link/CBluetooth.h"
#include "link/CLinkLoader.h"
#include "tests/link/LinkTestSupport.h"
#include "tests/support/PtyPair.h"

using namespace linktest;
using testsupport::PtyPair;

namespace {

class EndToEndTest : public StackTest {
protected:
    // What the device list screen would offer: entries with a name and a port.
    template <typename Source>
    static std::vector<std::u16string> Listed(const Source& source) {
        std::vector<std::u16string> names;
        for (int i = 0; i < Source::kDeviceCount; ++i) {
            std::u16string name, port;
            source.GetDevice(i, name, port);
            if (!name.empty() && !port.empty()) {
                names.push_back(name);
            }
        }
        return names;
    }

    static void ExpectByteReachesCamera(const platform::PortHandle& port, const PtyPair& pty) {
        ASSERT_NE(port, nullptr);
        const uint8_t frame[] = {0x00, 0x01, 0x00, 0x06, 0x11, 0x01};
        uint32_t written = 0;
        ASSERT_TRUE(port->Write(frame, sizeof frame, &written));
        EXPECT_EQ(pty.PeerRead(sizeof frame, 5000),
                  std::vector<uint8_t>(frame, frame + sizeof frame));
    }

    void Mkdir(const std::string& relative) {
        std::filesystem::create_directories(root_.Host(relative));
    }
};

}  // namespace

TEST_F(EndToEndTest, SdkStackListsSelectsAndOpensTheCamcordersPort) {
    root_.WriteFile("Windows/BtSdkCE50.dll", "");
    WriteStack("[stack]\ndiscovery-delay-ms = 20\n" + Device(1, "HEADSET", "serial-port = no\n") +
               Device(2, "CAMORA HD", "class = 20 04 14\ncom-port = 13\nconnect-delay-ms = 20\n") +
               Device(3, "OLD PHONE", "paired = no\n"));
    PtyPair camera;
    camera.LinkAs(root_.path(), "BTC3");

    ASSERT_EQ(CLinkLoader::IsSdkStackInstalled(), 1);
    CLinkLoader loader;
    ASSERT_EQ(loader.IsAvailable(), 1);
    loader.EnumerateDevices();
    EXPECT_EQ(Listed(loader), (std::vector<std::u16string>{u"HEADSET", u"CAMORA HD"}));
    loader.SelectDevice(u"CAMORA HD");
    std::u16string selected;
    loader.GetSelectedName(selected);
    EXPECT_EQ(selected, u"CAMORA HD");
    ASSERT_EQ(loader.OpenPort(), 1);
    ExpectByteReachesCamera(loader.GetPortHandle(), camera);
    loader.Disconnect();
}

TEST_F(EndToEndTest, RegistryStackListsSelectsAndOpensTheCamcordersPort) {
    const std::string bt = "registry/HKLM/Software/Microsoft/Bluetooth/";
    root_.WriteFile(bt + "Device/0a1b2c3d4e5f/name", "CAMORA HD\n");
    Mkdir(bt + "Device/0a1b2c3d4e5f/Services/00001101-0000-1000-8000-00805f9b34fb");
    root_.WriteFile(bt + "Device/112233445566/name", "HEADSET\n");
    Mkdir(bt + "Device/112233445566/Services/0000111e-0000-1000-8000-00805f9b34fb");
    root_.WriteFile(bt + "Serial/Ports/00000a1b2c3d4e5f/Port", "COM8\n");
    PtyPair camera;
    camera.LinkAs(root_.path(), "COM8");

    ASSERT_EQ(CLinkLoader::IsSdkStackInstalled(), 0);
    CBluetooth bluetooth;
    ASSERT_EQ(bluetooth.IsAvailable(), 1);
    bluetooth.EnumerateDevices();
    EXPECT_EQ(Listed(bluetooth), std::vector<std::u16string>{u"CAMORA HD"});
    bluetooth.SelectDevice(u"CAMORA HD");
    std::u16string selected;
    bluetooth.GetSelectedName(selected);
    EXPECT_EQ(selected, u"CAMORA HD");
    ASSERT_EQ(bluetooth.OpenPort(), 1);
    ExpectByteReachesCamera(bluetooth.GetPortHandle(), camera);
}
