// Both device sources from listing to the first handshake, as the connection
// screens and the connect procedure use them, with the simulated camcorder at
// the other end of the port.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "controllers/CamModeController.h"
#include "core/CameraState.h"
#include "core/ConfigStore.h"
#include "ctp/CtpEngine.h"
#include "link/Bluetooth.h"
#include "link/LinkLoader.h"
#include "sim/Camcorder.h"
#include "tests/link/LinkTestSupport.h"

using namespace linktest;

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

    // The connect procedure's part once the port is open: start the engine on
    // it and ask the camera for its mode, as the handshake does.
    void ExpectHandshake(const platform::PortHandle& port) {
        ASSERT_NE(port, nullptr);
        auto* engine = new CCtpEngine;  // its threads run until the process ends
        ASSERT_EQ(engine->Start(port), 1);
        CCamModeController mode(ControllerServices{engine, &state_, &config_});
        // The engine stays in its connecting state: the camera goes away at the
        // end of the test, which would otherwise end the process.
        EXPECT_EQ(mode.QueryMode(), 1);
        CameraStateSnapshot snapshot{};
        state_.GetSnapshot(&snapshot);
        EXPECT_EQ(snapshot.mode, 2);
        EXPECT_EQ(snapshot.batteryLevel, 4);
        const auto frames = camera_.ReceivedFrames();
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(frames[0].bytes, (std::vector<uint8_t>{0x00, 0x01, 0x00, 0x06, 0x11, 0x01}));
    }

    void StartCamera(const std::string& device) {
        sim::CameraStatus status;
        status.mode = 2;
        status.batteryLevel = 4;
        camera_.SetStatus(status);
        ASSERT_TRUE(camera_.Start());
        ASSERT_TRUE(camera_.LinkAsDevice(device));
    }

    void Mkdir(const std::string& relative) {
        std::filesystem::create_directories(root_.Host(relative));
    }

    sim::Camcorder camera_;
    CCameraState state_;
    CConfigStore config_;
};

}  // namespace

TEST_F(EndToEndTest, SdkStackFindsTheCamcorderAndCompletesTheHandshake) {
    root_.WriteFile("Windows/BtSdkCE50.dll", "");
    WriteStack("[stack]\ndiscovery-delay-ms = 20\n" + Device(1, "HEADSET", "serial-port = no\n") +
               Device(2, "CAMORA HD", "class = 20 04 14\ncom-port = 13\nconnect-delay-ms = 20\n") +
               Device(3, "OLD PHONE", "paired = no\n"));
    StartCamera("BTC3");

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
    ExpectHandshake(loader.GetPortHandle());
    loader.Disconnect();
}

TEST_F(EndToEndTest, RegistryStackFindsTheCamcorderAndCompletesTheHandshake) {
    const std::string bt = "registry/HKLM/Software/Microsoft/Bluetooth/";
    root_.WriteFile(bt + "Device/0a1b2c3d4e5f/name", "CAMORA HD\n");
    Mkdir(bt + "Device/0a1b2c3d4e5f/Services/00001101-0000-1000-8000-00805f9b34fb");
    root_.WriteFile(bt + "Device/112233445566/name", "HEADSET\n");
    Mkdir(bt + "Device/112233445566/Services/0000111e-0000-1000-8000-00805f9b34fb");
    root_.WriteFile(bt + "Serial/Ports/00000a1b2c3d4e5f/Port", "COM8\n");
    StartCamera("COM8");

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
    ExpectHandshake(bluetooth.GetPortHandle());
}
