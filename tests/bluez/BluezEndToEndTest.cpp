// Both device sources over the mock Bluetooth daemon, from the device list to
// live view: the daemon's ConnectProfile hands the program one end of a
// socket pair whose other end is the simulated camcorder.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "controllers/CamModeController.h"
#include "controllers/MonitorController.h"
#include "core/CameraState.h"
#include "core/ConfigStore.h"
#include "ctp/CtpEngine.h"
#include "link/LinkLoader.h"
#include "platform/library/Library.h"
#include "platform/ui/WindowMessages.h"
#include "resources/ResourceIds.h"
#include "sim/Camcorder.h"
#include "testkit/PumpUntil.h"
#include "tests/bluez/BluezFixture.h"

using namespace blueztest;

namespace {

// Twice the usual patience: the session runs through the mock daemon and the link library.
constexpr std::chrono::seconds kSessionPatience{20};

// Never freed: their threads run until the process ends.
template <typename T>
T* KeepForever(T* object) {
    static auto* kept = new std::vector<const void*>;
    kept->push_back(object);
    return object;
}

class BluezEndToEndTest : public BluezFixture {
protected:
    void SetUp() override {
        BluezFixture::SetUp();
        if (IsSkipped()) {
            return;
        }
        mock_->AddAdapter();
        Paired(1, "HEADSET", {kHandsFreeUuid});
        camcorder_ = Paired(2, "CAMORA HD", {kAudioSinkUuid, kSerialPortUuid});
        int link[2];
        SocketPair(link);
        mock_->SetSerialLink(camcorder_, link[1]);
        ::close(link[1]);
        sim::Options options;
        options.fd = link[0];
        options.status.mode = 0;  // video recording: live view is allowed
        options.status.batteryLevel = 4;
        options.modePollIntervalMs = 100;
        camera_ = std::make_unique<sim::Camcorder>(options);
        ASSERT_TRUE(camera_->Start());
        window_ = platform::CreateMessageWindow(
            [this](platform::WindowHandle, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
                messages_.push_back(message);
                if (message == WM_MONITOR_FRAME) {
                    uint8_t* image = nullptr;
                    uint32_t size = 0;
                    monitor_->TakeImage(&image, &size);
                    images_.emplace_back(image, image + size);
                    std::free(image);
                }
                return 0;
            });
    }
    void TearDown() override {
        platform::DestroyMessageWindow(window_);
        platform::OverrideLibraryFolder("");
    }

    template <typename Source>
    static std::vector<std::u16string> Names(const Source& source) {
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

    size_t Count(uint32_t message) const {
        return static_cast<size_t>(std::count(messages_.begin(), messages_.end(), message));
    }

    // The connect procedure's handshake, a few live-view images, then the
    // camcorder goes away and the port's next read fails.
    void RunSession(const platform::PortHandle& port) {
        ASSERT_NE(port, nullptr);
        auto* engine = KeepForever(new CCtpEngine);
        ASSERT_EQ(engine->Start(port), 1);
        auto* state = KeepForever(new CCameraState);
        auto* config = KeepForever(new CConfigStore);
        config->SetString("TimeOut", "0");
        const ControllerServices services{engine, state, config};
        CCamModeController mode(services);
        ASSERT_EQ(mode.QueryMode(), 1);
        CameraStateSnapshot snapshot{};
        state->GetSnapshot(&snapshot);
        EXPECT_EQ(snapshot.mode, 0);
        EXPECT_EQ(snapshot.batteryLevel, 4);

        monitor_ = KeepForever(new CMonitorController(services));
        ASSERT_EQ(monitor_->Start(), 1);
        monitor_->Request(window_);
        ASSERT_TRUE(testsupport::PumpUntil([&] { return images_.size() >= 3; }, kSessionPatience));
        monitor_->Request(window_);
        ASSERT_TRUE(testsupport::PumpUntil([&] { return Count(WM_MONITOR_STOPPED) >= 1; },
                                           kSessionPatience));
        for (const auto& image : images_) {
            ASSERT_GT(image.size(), 4u);
            EXPECT_EQ(image[0], 0xFF);  // a JPEG image, whole
            EXPECT_EQ(image[1], 0xD8);
            EXPECT_EQ(image[image.size() - 2], 0xFF);
            EXPECT_EQ(image[image.size() - 1], 0xD9);
        }
        EXPECT_NE(images_[0], images_[2]) << "live view showed the same picture again";

        // The engine stays in its connecting state, so that the loss does not
        // end the test's process; the port itself reports it.
        camera_->DropLink();
        uint8_t buf[16];
        uint32_t got = 0;
        EXPECT_TRUE(testsupport::PumpUntil([&] { return !port->Read(buf, sizeof buf, &got); },
                                           kSessionPatience));
    }

    std::string camcorder_;
    std::unique_ptr<sim::Camcorder> camera_;
    platform::WindowHandle window_{};
    CMonitorController* monitor_ = nullptr;
    std::vector<uint32_t> messages_;
    std::vector<std::vector<uint8_t>> images_;
};

}  // namespace

TEST_F(BluezEndToEndTest, RegistrySourceListsConnectsAndStreams) {
    ASSERT_EQ(CLinkLoader::IsSdkStackInstalled(), 0);
    CBluetooth bluetooth;
    ASSERT_EQ(bluetooth.IsAvailable(), 1);
    bluetooth.EnumerateDevices();
    EXPECT_EQ(Names(bluetooth), std::vector<std::u16string>{u"CAMORA HD"});
    bluetooth.SelectDevice(u"CAMORA HD");
    ASSERT_EQ(bluetooth.OpenPort(), 1);
    RunSession(bluetooth.GetPortHandle());
}

TEST_F(BluezEndToEndTest, LinkLibrarySourceListsConnectsAndStreams) {
    root_.WriteFile("Windows/BtSdkCE50.dll", "");
    ASSERT_EQ(CLinkLoader::IsSdkStackInstalled(), 1);
    CLinkLoader loader;
    ASSERT_EQ(loader.IsAvailable(), 1);
    loader.EnumerateDevices();
    // The link library lists every paired device; the serial-port service is
    // looked for when connecting.
    EXPECT_EQ(Names(loader), (std::vector<std::u16string>{u"HEADSET", u"CAMORA HD"}));
    loader.SelectDevice(u"CAMORA HD");
    ASSERT_EQ(loader.OpenPort(), 1);
    RunSession(loader.GetPortHandle());
    loader.Disconnect();
}

TEST_F(BluezEndToEndTest, LinkLibraryReportsNoPortWhenTheCamcorderIsOutOfRange) {
    mock_->SetConnectBehaviour(camcorder_, "out-of-range");
    root_.WriteFile("Windows/BtSdkCE50.dll", "");
    CLinkLoader loader;
    loader.EnumerateDevices();
    loader.SelectDevice(u"CAMORA HD");
    ASSERT_EQ(loader.OpenPort(), 1);
    // ConnectSpp gave 0, and COM0: is no port of this machine.
    EXPECT_EQ(loader.GetPortHandle(), nullptr);
}
