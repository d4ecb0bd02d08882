// The program's controllers against a camcorder that slips once, in each phase
// of a session: each cell asserts what the user sees afterwards. The link must
// heal by itself (indicators follow the camera again, keys reach it, live view
// shows whole pictures again), a lost answer must be reported and asked again,
// a picture that is not the camera's is never shown, and a link dropped after
// the handshake ends the program with its message.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/LinkLost.h"
#include "controllers/CamCmdController.h"
#include "controllers/CamModeController.h"
#include "controllers/GpsController.h"
#include "controllers/MonitorController.h"
#include "core/AppRegistry.h"
#include "ctp/CtpOpcodes.h"
#include "platform/gps/Gps.h"
#include "platform/kernel/Kernel.h"
#include "platform/text/Text.h"
#include "platform/ui/MessageBox.h"
#include "resources/ResourceIds.h"
#include "tests/controllers/ControllerFixture.h"

namespace controllertest {
namespace {

// The design's waits (TimeOut 1 s, the handshake's 3 s, the pause of 3 s after
// a failed mode exchange, GpsInterval 2 s) run four times faster.
constexpr double kScale = 4.0;
// Later than any of those time-outs, in real milliseconds.
constexpr uint32_t kLateMs = 1000;
constexpr auto kHeal = 15s;  // generous: a loaded machine under a sanitizer

enum class Phase { Handshake, Idle, KeyHeld, LiveView, FeedingGps };
enum class Slip {
    Silence,
    Late,
    StrayBytes,
    WrongChannel,
    Cut,
    LyingLength,       // a header whose length the opcode's layout cannot have
    LyingBlockLength,  // a block header announcing more than comes
    Drop,
};

struct Cell {
    Phase phase;
    Slip slip;
};

const char* PhaseName(Phase p) {
    switch (p) {
        case Phase::Handshake:
            return "Handshake";
        case Phase::Idle:
            return "Idle";
        case Phase::KeyHeld:
            return "KeyHeld";
        case Phase::LiveView:
            return "LiveViewMidImage";
        case Phase::FeedingGps:
            return "FeedingGps";
    }
    return "?";
}

const char* SlipName(Slip s) {
    switch (s) {
        case Slip::Silence:
            return "Silence";
        case Slip::Late:
            return "LateReply";
        case Slip::StrayBytes:
            return "ThreeStrayBytes";
        case Slip::WrongChannel:
            return "WrongChannel";
        case Slip::Cut:
            return "CutMidFrame";
        case Slip::LyingLength:
            return "LyingLength";
        case Slip::LyingBlockLength:
            return "LyingBlockLength";
        case Slip::Drop:
            return "DroppedLink";
    }
    return "?";
}

// The request whose answer slips in each phase.
uint16_t Target(Phase p) {
    switch (p) {
        case Phase::Handshake:
            return sim::CTP_GET_MODE;
        case Phase::Idle:
            return sim::CTP_MODE_POLL;
        case Phase::KeyHeld:
            return sim::CTP_CAMCMD;
        case Phase::LiveView:
            return sim::CTP_GET_IMAGE_DATA;
        case Phase::FeedingGps:
            return sim::CTP_GPS;
    }
    return 0;
}

sim::Fault FaultFor(const Cell& c) {
    sim::Fault f{.opcode = Target(c.phase), .times = 1};
    switch (c.slip) {
        case Slip::Silence:
            f.kind = sim::FaultKind::Silence;
            break;
        case Slip::Late:
            f.kind = sim::FaultKind::Late;
            f.delayMs = kLateMs;
            break;
        case Slip::StrayBytes:
            f.kind = sim::FaultKind::Garbage;
            f.bytes = {0xEE, 0x00, 0x01};
            break;
        case Slip::WrongChannel:
            f.kind = sim::FaultKind::WrongChannel;
            break;
        case Slip::Cut:
            f.kind = sim::FaultKind::Cut;
            break;
        case Slip::LyingLength:
            f.kind = sim::FaultKind::Garbage;
            f.bytes = {0x00, 0x01, 0x00, 0x40, 0x21, 0x01, 0x00, 0x03};
            break;
        case Slip::LyingBlockLength:
            // A block header that announces a whole block, ahead of the answer:
            // the answer and what follows are read as its payload.
            f.kind = sim::FaultKind::Garbage;
            f.bytes = {0x00, 0x04, 0x28, 0x08, 0x21, 0x03, 0x00, 0x63};
            break;
        case Slip::Drop:
            f.kind = sim::FaultKind::DropLink;
            break;
    }
    return f;
}

class FaultMatrixTest : public ControllerFixture, public ::testing::WithParamInterface<Cell> {
protected:
    void SetUp() override {
        // The dropped-link cells end the process; their child runs the whole
        // test afresh, threads included.
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        ControllerFixture::SetUp();
        platform::SetTimeScale(kScale);
        cam_.SetModePollInterval(50);
        cam_.SetStatus({0, 0, 1, 1, 0, 5, 0});  // video recording: live view allowed
        cam_.SetJpegQuality(97);                // pictures of two or three blocks
        mode_ = KeepForever(new CCamModeController(Services()));
        command_ = KeepForever(new CCamCmdController(Services()));
        monitor_ = KeepForever(new CMonitorController(Services()));
        gps_ = KeepForever(new CGpsController(Services()));
        ASSERT_EQ(mode_->Start(), 1);
        ASSERT_EQ(command_->Start(), 1);
        ASSERT_EQ(monitor_->Start(), 1);
        ASSERT_EQ(gps_->Start(), 1);
        config_->SetString("GpsInterval", "2");
        platform::UseGpsTrack({}, false);  // positions come only when pushed
        onMessage_ = [this](uint32_t message) {
            if (message != WM_MONITOR_FRAME) {
                return;
            }
            uint8_t* image = nullptr;
            uint32_t size = 0;
            monitor_->TakeImage(&image, &size);
            // The worker waits for this message before it asks for the next
            // picture, so the camera still holds the one just fetched.
            const Bytes shown(image, image + size);
            std::free(image);
            (shown == cam_.HeldImage() ? goodPictures_ : foreignPictures_)++;
        };
    }

    void TearDown() override {
        if (State().monitorActive != 0) {
            monitor_->Request(window_);
        }
        command_->Request(nullptr);
        if (State().gpsStatus != 0) {
            // Off with its device closed, so that no later test's position reaches it.
            gps_->Request(window_);
            EXPECT_TRUE(PumpUntil([] { return platform::OpenGpsDeviceCount() == 0; }, kHeal));
        }
        platform::UseConfiguredGps();
        ControllerFixture::TearDown();
    }

    CameraStateSnapshot State() const {
        CameraStateSnapshot s{};
        state_->GetSnapshot(&s);
        return s;
    }

    void Connect() {
        ASSERT_EQ(mode_->QueryMode(), 1);
        engine_->SetConnecting(0);
        mode_->SetWindow(window_);
        ASSERT_TRUE(PumpUntil([&] { return CountMessages(WM_CAMERA_STATUS) > 0; }, kHeal));
    }

    void HoldKey(int buttonId) {
        const CamCmdRecord record = CCamCmdController::MakeCommand(buttonId);
        command_->Request(&record);
    }

    size_t KeysSent(uint16_t code) const {
        size_t n = 0;
        for (uint16_t k : cam_.Keys()) {
            n += k == code ? 1 : 0;
        }
        return n;
    }

    // Brings the session to the phase, just before the slip.
    void EnterPhase(Phase phase) {
        if (phase == Phase::Handshake) {
            return;
        }
        Connect();
        if (phase == Phase::KeyHeld) {
            HoldKey(209);  // play, key code 4
            ASSERT_TRUE(PumpUntil([&] { return KeysSent(4) >= 2; }, kHeal));
        }
        if (phase == Phase::LiveView) {
            monitor_->Request(window_);
            ASSERT_TRUE(PumpUntil([&] { return goodPictures_ >= 1; }, kHeal));
        }
        if (phase == Phase::FeedingGps) {
            gps_->Request(window_);
            ASSERT_TRUE(PumpUntil([] { return platform::OpenGpsDeviceCount() == 1; }, kHeal));
            platform::PushGpsTrackPosition(
                {platform::kGpsFix, 35.5, 139.25, platform::GpsUtcTime{1, 2, 3, 4}});
            ASSERT_TRUE(PumpUntil([&] { return !cam_.GpsSentences().empty(); }, kHeal));
        }
    }

    void Slip(const Cell& c) {
        if (c.phase == Phase::LiveView) {
            // Block 1 goes by untouched: the slip comes mid-image.
            cam_.AddFault({.kind = sim::FaultKind::Late,
                           .opcode = sim::CTP_GET_IMAGE_DATA,
                           .times = 1,
                           .delayMs = 0});
        }
        cam_.AddFault(FaultFor(c));
        ASSERT_TRUE(PumpUntil([&] { return cam_.Faults().empty(); }, kHeal))
            << "the slip never happened";
    }

    // What the user sees once the camera behaves again.
    void ExpectHealed(const Cell& c) {
        // The indicators follow the camera.
        cam_.SetBatteryLevel(2);
        EXPECT_TRUE(PumpUntil([&] { return State().batteryLevel == 2; }, kHeal))
            << "the battery indicator stayed frozen";
        if (c.phase == Phase::KeyHeld) {
            command_->Request(nullptr);
        }
        if (c.phase == Phase::KeyHeld || c.phase == Phase::Idle) {
            // Keys reach the camera.
            HoldKey(202);  // zoom W, key code 6
            EXPECT_TRUE(PumpUntil([&] { return KeysSent(6) >= 1; }, kHeal))
                << "a key press never reached the camera";
            command_->Request(nullptr);
        }
        if (c.phase == Phase::FeedingGps) {
            // The feed goes on with the same position, and the indicator still shows it.
            const size_t before = cam_.GpsSentences().size();
            EXPECT_TRUE(PumpUntil([&] { return cam_.GpsSentences().size() >= before + 2; }, kHeal))
                << "the camera got no position again";
            EXPECT_EQ(cam_.GpsSentences().back(), cam_.GpsSentences().front());
            EXPECT_EQ(State().gpsStatus, 1);
        }
        if (c.phase == Phase::LiveView) {
            const size_t before = goodPictures_;
            EXPECT_TRUE(PumpUntil([&] { return goodPictures_ >= before + 2; }, kHeal))
                << "live view showed no good pictures again";
        }
        EXPECT_EQ(foreignPictures_, 0u) << "a picture the camera never held was shown";
    }

    CCamModeController* mode_ = nullptr;
    CCamCmdController* command_ = nullptr;
    CMonitorController* monitor_ = nullptr;
    CGpsController* gps_ = nullptr;
    size_t goodPictures_ = 0;
    size_t foreignPictures_ = 0;
};

TEST_P(FaultMatrixTest, TheUserSeesTheSessionHeal) {
    const Cell c = GetParam();
    if (c.slip == Slip::Drop) {
        EXPECT_EXIT(
            {
                AppRegistry.mainWindow = window_;
                platform::SetMessageBoxPresenter(
                    [this](platform::WindowHandle, std::u16string_view text,
                           std::u16string_view caption, platform::MessageBoxButtons) {
                        std::string shown;
                        for (char ch : platform::Utf16ToUtf8(text)) {
                            shown += ch == '\r'   ? std::string("<CR>")
                                     : ch == '\n' ? std::string("<LF>")
                                                  : std::string(1, ch);
                        }
                        std::fprintf(stderr, "box %s: %s\n", platform::Utf16ToUtf8(caption).c_str(),
                                     shown.c_str());
                        // The process ends next: the camera's threads end first.
                        cam_.Stop();
                        return platform::MessageBoxResult::Ok;
                    });
                app::InstallLinkLostHandler(*engine_);
                EnterPhase(c.phase);
                cam_.AddFault(FaultFor(c));
                PumpFor(kHeal);
                std::exit(3);  // the program went on as if nothing happened
            },
            ::testing::ExitedWithCode(0),
            "box ERROR: BLUETOOTH DISCONNECTED <CR><LF>WILL CLOSE APPLICATION NOW");
        return;
    }

    EnterPhase(c.phase);
    const size_t reportsBefore = cam_.ErrorReports().size();
    if (c.phase == Phase::Handshake) {
        // The connect screen asks again after a failed handshake; the answer
        // that counts is the camera's own, never a stale or spliced one.
        cam_.AddFault(FaultFor(c));
        int result = mode_->QueryMode();
        if (c.slip == Slip::StrayBytes || c.slip == Slip::LyingLength) {
            EXPECT_EQ(result, 1) << "bytes ahead of the answer lost the handshake";
        } else if (result != 1) {
            EXPECT_EQ(result, 0);
            result = mode_->QueryMode();
        }
        EXPECT_EQ(result, 1);
        const CameraStateSnapshot s = State();
        EXPECT_EQ(s.batteryLevel, 5);
        EXPECT_EQ(s.acPower, 1);
        Connect();
    } else {
        Slip(c);
    }
    const bool answerLost = c.slip == Slip::Silence || c.slip == Slip::Late ||
                            c.slip == Slip::WrongChannel || c.slip == Slip::Cut;
    if (c.phase != Phase::Handshake && answerLost) {
        // The lost answer was reported on its channel; nobody waits for ever.
        EXPECT_TRUE(PumpUntil([&] { return cam_.ErrorReports().size() > reportsBefore; }, kHeal))
            << "no error report after the lost answer";
    }
    ExpectHealed(c);
}

std::vector<Cell> AllCells() {
    std::vector<Cell> cells;
    for (Phase p :
         {Phase::Handshake, Phase::Idle, Phase::KeyHeld, Phase::LiveView, Phase::FeedingGps}) {
        for (Slip s : {Slip::Silence, Slip::Late, Slip::StrayBytes, Slip::WrongChannel, Slip::Cut,
                       Slip::LyingLength, Slip::LyingBlockLength, Slip::Drop}) {
            if (p == Phase::Handshake && s == Slip::Drop) {
                continue;  // before the handshake a lost port is retried
            }
            cells.push_back({p, s});
        }
    }
    return cells;
}

INSTANTIATE_TEST_SUITE_P(Cells, FaultMatrixTest, ::testing::ValuesIn(AllCells()),
                         [](const ::testing::TestParamInfo<Cell>& row) {
                             return std::string(PhaseName(row.param.phase)) + "_" +
                                    SlipName(row.param.slip);
                         });

}  // namespace
}  // namespace controllertest
