// The connect procedure against the simulated camcorder over a pseudo-terminal,
// with the registry device source and with the link library's.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "controllers/CamModeController.h"
#include "controllers/ConnectProcedure.h"
#include "core/AppRegistry.h"
#include "core/CameraState.h"
#include "core/ConfigStore.h"
#include "ctp/CtpEngine.h"
#include "link/Bluetooth.h"
#include "link/LinkLoader.h"
#include "platform/btsdk/SimulatedStack.h"
#include "platform/kernel/Kernel.h"
#include "resources/ResourceIds.h"
#include "sim/Camcorder.h"
#include "testkit/PumpUntil.h"
#include "testkit/TempDeviceRoot.h"

namespace {

using testsupport::PumpUntil;

class ConnectProcedureTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::btsdk::SimulatedStack::Instance().Reset();
        root_.WriteFile("bluetooth.conf", "backend=simulated\n");
        // The handshake's 3-second time-out and the pause after it.
        platform::SetTimeScale(20.0);
        // Each test gets an engine of its own; its threads outlive the test,
        // so it is never freed, and kept reachable.
        engine_ = new CCtpEngine;
        static auto* engines = new std::vector<CCtpEngine*>;
        engines->push_back(engine_);
        // The handler outlives the test with the engine: it keeps its own flag.
        engine_->SetLinkLostHandler([flag = linkLost_] { *flag = true; });
        mode_ =
            std::make_unique<CCamModeController>(ControllerServices{engine_, &state_, &config_});
        AppRegistry = AppRegistryTable{};
        AppRegistry.ctpEngine = engine_;
        AppRegistry.modeController = mode_.get();
    }

    void TearDown() override {
        camera_.Stop();
        AppRegistry = AppRegistryTable{};
        platform::btsdk::SimulatedStack::Instance().Reset();
        platform::SetTimeScale(1.0);
    }

    // "CAMORA HD" paired in the registry with the serial-port service on COM8.
    void PairInRegistry() {
        const std::string bt = "registry/HKLM/Software/Microsoft/Bluetooth/";
        root_.WriteFile(bt + "Device/0a1b2c3d4e5f/name", "CAMORA HD\n");
        std::filesystem::create_directories(
            root_.Host(bt + "Device/0a1b2c3d4e5f/Services/00001101-0000-1000-8000-00805f9b34fb"));
        root_.WriteFile(bt + "Serial/Ports/00000a1b2c3d4e5f/Port", "COM8\n");
        bluetooth_ = std::make_unique<CBluetooth>();
        bluetooth_->EnumerateDevices();
        bluetooth_->SelectDevice(u"CAMORA HD");
        AppRegistry.bluetooth = bluetooth_.get();
    }

    void StartCamera(const std::string& device) {
        ASSERT_TRUE(camera_.Start());
        ASSERT_TRUE(camera_.LinkAsDevice(device));
    }

    testsupport::TempDeviceRoot root_;
    sim::Camcorder camera_;
    CCameraState state_;
    CConfigStore config_;
    CCtpEngine* engine_ = nullptr;
    std::unique_ptr<CCamModeController> mode_;
    std::unique_ptr<CBluetooth> bluetooth_;
    std::shared_ptr<std::atomic<bool>> linkLost_ = std::make_shared<std::atomic<bool>>(false);
};

TEST_F(ConnectProcedureTest, AnsweredHandshakeEndsTheConnectingState) {
    PairInRegistry();
    StartCamera("COM8");
    sim::CameraStatus status;
    status.mode = 3;
    camera_.SetStatus(status);

    ASSERT_EQ(app::ConnectSelectedDevice(), WM_CONNECTED);
    // One mode query went out on channel 1, and its answer was stored.
    ASSERT_EQ(camera_.ReceivedFrames().size(), 1u);
    EXPECT_EQ(camera_.ReceivedFrames()[0].bytes,
              (std::vector<uint8_t>{0x00, 0x01, 0x00, 0x06, 0x11, 0x01}));
    CameraStateSnapshot snapshot{};
    state_.GetSnapshot(&snapshot);
    EXPECT_EQ(snapshot.mode, 3);
    EXPECT_TRUE(bluetooth_->GetPortHandle()->IsOpen());
    // Connected: a lost link now reaches the link-lost handler.
    camera_.DropLink();
    EXPECT_TRUE(PumpUntil([this] { return linkLost_->load(); }));
}

TEST_F(ConnectProcedureTest, SilentCameraTimesOutAndThePortIsClosed) {
    PairInRegistry();
    StartCamera("COM8");
    camera_.AddFault({.kind = sim::FaultKind::Silence});

    EXPECT_EQ(app::ConnectSelectedDevice(), WM_CONNECT_TIMEOUT);
    ASSERT_NE(bluetooth_->GetPortHandle(), nullptr);
    EXPECT_FALSE(bluetooth_->GetPortHandle()->IsOpen());
    // The time-out was followed by the error report on the same channel.
    EXPECT_TRUE(camera_.WaitForFrames(2, std::chrono::seconds(10)));
    EXPECT_EQ(camera_.ReceivedFrames()[1].Opcode(), 0xFF01);
    EXPECT_EQ(camera_.ReceivedFrames()[1].Channel(), 1);
}

TEST_F(ConnectProcedureTest, CutAnswerFailsAndThePortIsClosed) {
    PairInRegistry();
    StartCamera("COM8");
    // The line goes away instead of answering: the handshake cannot end well.
    camera_.AddFault({.kind = sim::FaultKind::DropLink});

    const uint32_t report = app::ConnectSelectedDevice();
    EXPECT_TRUE(report == WM_CONNECT_TIMEOUT || report == WM_CONNECT_FAILED) << report;
    EXPECT_FALSE(bluetooth_->GetPortHandle()->IsOpen());
    EXPECT_FALSE(linkLost_->load());  // still connecting: no disconnect message
}

TEST_F(ConnectProcedureTest, PortThatDoesNotOpenFails) {
    PairInRegistry();  // no camera behind COM8
    EXPECT_EQ(app::ConnectSelectedDevice(), WM_CONNECT_FAILED);
    EXPECT_EQ(camera_.ReceivedFrames().size(), 0u);
}

TEST_F(ConnectProcedureTest, PortOfAnEarlierFailedAttemptIsNotReused) {
    PairInRegistry();
    StartCamera("COM8");
    camera_.AddFault({.kind = sim::FaultKind::Silence});
    ASSERT_EQ(app::ConnectSelectedDevice(), WM_CONNECT_TIMEOUT);
    // The camera goes away: the source still holds the closed port.
    camera_.Stop();
    EXPECT_EQ(app::ConnectSelectedDevice(), WM_CONNECT_FAILED);
}

TEST_F(ConnectProcedureTest, SecondAttemptAfterATimeOutConnects) {
    PairInRegistry();
    StartCamera("COM8");
    camera_.AddFault({.kind = sim::FaultKind::Silence, .times = 1});
    ASSERT_EQ(app::ConnectSelectedDevice(), WM_CONNECT_TIMEOUT);
    EXPECT_EQ(app::ConnectSelectedDevice(), WM_CONNECTED);
    EXPECT_TRUE(bluetooth_->GetPortHandle()->IsOpen());
}

TEST_F(ConnectProcedureTest, LinkLibraryThatCannotBeLoadedFails) {
    root_.WriteFile("Windows/BtSdkCE50.dll", "");
    platform::OverrideLibraryFolder(root_.path());  // no CamoraConnect there
    CLinkLoader loader;
    platform::OverrideLibraryFolder("");
    AppRegistry.linkLoader = &loader;
    EXPECT_EQ(app::ConnectSelectedDevice(), WM_CONNECT_FAILED);
}

TEST_F(ConnectProcedureTest, LinkLibraryConnectsTheSelectedDevice) {
    root_.WriteFile("Windows/BtSdkCE50.dll", "");
    root_.WriteFile("bluetooth/stack.ini",
                    "[device]\naddress = 00:11:22:33:00:02\nname = CAMORA HD\n"
                    "class = 20 04 14\ncom-port = 13\n");
    StartCamera("BTC3");
    CLinkLoader loader;
    loader.EnumerateDevices();
    loader.SelectDevice(u"CAMORA HD");
    AppRegistry.linkLoader = &loader;
    EXPECT_EQ(app::ConnectSelectedDevice(), WM_CONNECTED);
    camera_.Stop();
    EXPECT_TRUE(PumpUntil([this] { return linkLost_->load(); }));
    loader.Disconnect();
    EXPECT_TRUE(platform::btsdk::SimulatedStack::Instance().WaitIdle(10000));
}

}  // namespace
