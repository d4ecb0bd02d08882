// The command controller against the simulator: what a held, released or
// replaced key puts on channel 3, byte for byte.
#include <gtest/gtest.h>

#include "controllers/CamCmdController.h"
#include "ctp/CtpOpcodes.h"
#include "platform/kernel/Kernel.h"
#include "tests/controllers/ControllerFixture.h"

namespace controllertest {
namespace {

// Button ids of the panel.
constexpr int kRecord = 210;
constexpr int kPause = 211;
constexpr int kZoomT = 214;
constexpr int kZoomW = 202;
constexpr int kIndex = 207;
constexpr int kStill = 213;

// The command frame for key `code` with the camera's mode and state bytes.
Bytes KeyFrame(uint8_t code, uint8_t mode, uint8_t state) {
    return {0x00, 0x03, 0x00, 0x0A, 0x10, 0x01, 0x00, code, mode, state};
}

const Bytes kErrorReportOn3 = {0x00, 0x03, 0x00, 0x08, 0xFF, 0x01, 0x00, 0x01};

class CamCmdControllerTest : public ControllerFixture {
protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        controller_ = KeepForever(new CCamCmdController(Services()));
        ASSERT_EQ(controller_->Start(), 1);
    }

    void Press(int button) {
        const CamCmdRecord record = CCamCmdController::MakeCommand(button);
        controller_->Request(&record);
    }
    void Release() { controller_->Request(nullptr); }

    size_t KeysReceived() const { return ReceivedWith(CTP_CAMCMD).size(); }
    bool WaitForKeys(size_t count) {
        return PumpUntil([&] { return KeysReceived() >= count; });
    }

    CCamCmdController* controller_ = nullptr;
};

TEST(CamCmdMakeCommandTest, EachKeyButtonHasItsCodeOnChannel3) {
    const struct {
        int button;
        uint16_t code;
    } table[] = {{210, 0}, {211, 1}, {214, 2}, {212, 3}, {209, 4},
                 {205, 5}, {202, 6}, {207, 7}, {213, 8}};
    for (const auto& row : table) {
        const CamCmdRecord r = CCamCmdController::MakeCommand(row.button);
        EXPECT_EQ(r.opcode, CTP_CAMCMD) << row.button;
        EXPECT_EQ(r.keyCode, row.code) << row.button;
        EXPECT_EQ(r.channel, 3u) << row.button;
    }
    // The GPS button and ids of no button are not keys.
    for (int other : {206, 201, 0, -1}) {
        const CamCmdRecord r = CCamCmdController::MakeCommand(other);
        EXPECT_EQ(r.opcode, 0u) << other;
        EXPECT_EQ(r.channel, 0u) << other;
    }
}

TEST_F(CamCmdControllerTest, HeldKeyIsSentAgainAsSoonAsEachAnswerHasCome) {
    // Slow answers, so that a repeat that did not wait would show.
    cam_.AddFault({.kind = sim::FaultKind::Late, .opcode = sim::CTP_CAMCMD, .delayMs = 150});
    state_->SetMode(3);
    state_->SetOperationState(1);
    Press(kZoomT);
    ASSERT_TRUE(WaitForKeys(3));
    Release();

    // Every exchange answered, then the worker rests: the next key to go out
    // is one pressed after that, with no repeat of the held one before it.
    ASSERT_TRUE(PumpUntil([&] { return SentOn(3).size() >= KeysReceived(); }));
    const size_t held = KeysReceived();
    Press(kIndex);
    ASSERT_TRUE(WaitForKeys(held + 1));
    Release();
    const std::vector<sim::WireFrame> answers = SentOn(3);
    std::vector<sim::WireFrame> keys;
    for (const sim::WireFrame& f : cam_.ReceivedFrames()) {
        if (f.Opcode() == sim::CTP_CAMCMD) {
            keys.push_back(f);
        }
    }
    ASSERT_GE(held, 3u);
    ASSERT_GT(keys.size(), held);
    EXPECT_EQ(keys[held].bytes, KeyFrame(7, 3, 1)) << "a key went out after the release was seen";
    keys.resize(held);
    for (size_t i = 0; i < keys.size(); ++i) {
        EXPECT_EQ(keys[i].bytes, KeyFrame(2, 3, 1)) << i;
        if (i > 0) {
            EXPECT_GE(keys[i].atMs, answers[i - 1].atMs) << "key " << i << " before answer";
            EXPECT_GE(keys[i].atMs - keys[i - 1].atMs, 150u) << i;
        }
    }
    EXPECT_TRUE(cam_.ErrorReports().empty());
}

TEST_F(CamCmdControllerTest, KeyPressedAndReleasedBeforeTheWorkerLooksSendsNothing) {
    // The worker is held in an exchange without a time limit while the pen
    // goes down and up on another key.
    config_->SetString("TimeOut", "0");
    cam_.AddFault({.kind = sim::FaultKind::Silence, .opcode = sim::CTP_CAMCMD, .times = 1});
    Press(kPause);
    ASSERT_TRUE(WaitForKeys(1));
    Release();
    Press(kStill);
    Release();
    const uint8_t ok[] = {0x00, 0x00};
    cam_.SendFrame(3, sim::CTP_2001, ok);

    // The worker is idle, not stuck: the next key goes out, and it is the
    // first after the held exchange (a key sent in between would come first).
    Press(kIndex);
    ASSERT_TRUE(WaitForKeys(2));
    Release();
    const std::vector<Bytes> keys = ReceivedWith(CTP_CAMCMD);
    EXPECT_EQ(keys[0], KeyFrame(1, 0, 0));
    EXPECT_EQ(keys[1], KeyFrame(7, 0, 0));
    for (const Bytes& k : keys) {
        EXPECT_NE(k[7], 8) << "the released key went out";
    }
}

TEST_F(CamCmdControllerTest, SilentCameraGetsOneErrorReportAfterTimeOutThenTheCommandAgain) {
    config_->SetString("TimeOut", "10");
    platform::SetTimeScale(10.0);  // ten seconds pass in one
    cam_.AddFault({.kind = sim::FaultKind::Silence, .opcode = sim::CTP_CAMCMD});
    Press(kRecord);
    ASSERT_TRUE(PumpUntil([&] { return ReceivedOn(3).size() >= 3; }));
    Release();

    std::vector<sim::WireFrame> frames;
    for (const sim::WireFrame& f : cam_.ReceivedFrames()) {
        if (f.Channel() == 3) {
            frames.push_back(f);
        }
    }
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(frames[0].bytes, KeyFrame(0, 0, 0));
    EXPECT_EQ(frames[1].bytes, kErrorReportOn3);
    EXPECT_EQ(frames[2].bytes, KeyFrame(0, 0, 0));
    // Ten scaled seconds are one real second, counted from before the
    // command reached the camera, so a slow write shortens the gap a little.
    EXPECT_GE(frames[1].atMs - frames[0].atMs, 950u);
    EXPECT_LT(frames[1].atMs - frames[0].atMs, 2500u);
    EXPECT_LT(frames[2].atMs - frames[1].atMs, 500u) << "the command follows the report at once";
    ASSERT_FALSE(cam_.ErrorReports().empty());
    EXPECT_EQ(cam_.ErrorReports()[0].channel, 3);
    EXPECT_EQ(cam_.ErrorReports()[0].param, 1);
}

TEST_F(CamCmdControllerTest, QuickStartStandbySendsNothingWhileTheKeyIsHeld) {
    state_->SetOperationState(2);
    Press(kRecord);
    PumpFor(300ms);
    EXPECT_EQ(KeysReceived(), 0u);
    // Still held: the worker keeps asking and sends once the camera allows it.
    state_->SetOperationState(0);
    ASSERT_TRUE(WaitForKeys(1));
    Release();
    EXPECT_EQ(ReceivedWith(CTP_CAMCMD)[0], KeyFrame(0, 0, 0));
}

TEST_F(CamCmdControllerTest, KeyReleasedDuringStandbyLeavesTheWorkerIdle) {
    state_->SetOperationState(2);
    Press(kRecord);
    PumpFor(100ms);
    Release();
    // A pass that read the key just before the release may still go on to
    // send it; once the worker waits, that pass is over.
    ASSERT_TRUE(PumpUntil([&] { return controller_->IsIdle(); }));
    state_->SetOperationState(0);
    PumpFor(300ms);
    EXPECT_EQ(KeysReceived(), 0u);
    Press(kZoomW);
    ASSERT_TRUE(WaitForKeys(1));
    Release();
    EXPECT_EQ(ReceivedWith(CTP_CAMCMD)[0], KeyFrame(6, 0, 0));
}

TEST_F(CamCmdControllerTest, SecondKeyPressedWhileAnExchangeWaitsGoesOutNext) {
    config_->SetString("TimeOut", "0");
    cam_.AddFault({.kind = sim::FaultKind::Silence, .opcode = sim::CTP_CAMCMD, .times = 1});
    Press(kZoomT);
    ASSERT_TRUE(WaitForKeys(1));
    Press(kZoomW);
    const uint8_t ok[] = {0x00, 0x00};
    cam_.SendFrame(3, sim::CTP_2001, ok);
    ASSERT_TRUE(WaitForKeys(2));
    Release();
    const std::vector<Bytes> keys = ReceivedWith(CTP_CAMCMD);
    EXPECT_EQ(keys[0], KeyFrame(2, 0, 0));
    EXPECT_EQ(keys[1], KeyFrame(6, 0, 0));
}

TEST_F(CamCmdControllerTest, TapGoesOutOnce) {
    controller_->Tap(CCamCmdController::MakeCommand(kRecord));
    ASSERT_TRUE(WaitForKeys(1));
    // A held key goes again the moment its answer comes, every few
    // milliseconds here; a tap never does. (A repeat later than this would
    // pass unseen; the test never fails for a slow machine.)
    ASSERT_TRUE(PumpUntil([&] { return SentOn(3).size() >= 1; }));
    PumpFor(300ms);
    EXPECT_EQ(ReceivedWith(CTP_CAMCMD), std::vector<Bytes>{KeyFrame(0, 0, 0)});
}

TEST_F(CamCmdControllerTest, KeyUpAfterATapDoesNotCancelIt) {
    // The worker is held in an exchange without a time limit while the tap
    // comes and a held key goes up (the panel's pen, or its focus lost).
    config_->SetString("TimeOut", "0");
    cam_.AddFault({.kind = sim::FaultKind::Silence, .opcode = sim::CTP_CAMCMD, .times = 1});
    Press(kPause);
    ASSERT_TRUE(WaitForKeys(1));
    Release();
    controller_->Tap(CCamCmdController::MakeCommand(kRecord));
    Release();
    const uint8_t ok[] = {0x00, 0x00};
    cam_.SendFrame(3, sim::CTP_2001, ok);
    ASSERT_TRUE(WaitForKeys(2)) << "the key up cancelled the tap";
    const std::vector<Bytes> keys = ReceivedWith(CTP_CAMCMD);
    EXPECT_EQ(keys[0], KeyFrame(1, 0, 0));
    EXPECT_EQ(keys[1], KeyFrame(0, 0, 0));
}

TEST_F(CamCmdControllerTest, TapInQuickStartStandbyIsDroppedNotKeptForLater) {
    state_->SetOperationState(2);
    controller_->Tap(CCamCmdController::MakeCommand(kRecord));
    // The worker has looked at the tap, while the camera refuses it, once it
    // waits again; then a tap kept for later would go out once the camera
    // allows it.
    ASSERT_TRUE(PumpUntil([&] { return controller_->IsIdle(); }));
    state_->SetOperationState(0);
    PumpFor(300ms);
    EXPECT_EQ(KeysReceived(), 0u);
    controller_->Tap(CCamCmdController::MakeCommand(kZoomW));
    ASSERT_TRUE(WaitForKeys(1));
    EXPECT_EQ(ReceivedWith(CTP_CAMCMD)[0], KeyFrame(6, 0, 0));
}

TEST_F(CamCmdControllerTest, StartKeepsWhatItMadeWhenTheNextObjectCannotBeCreated) {
    auto* controller = KeepForever(new CCamCmdController(Services()));
    // The event, then the lock, then the thread cannot be had; each Start
    // makes only what is still missing.
    for (int round = 0; round < 3; ++round) {
        platform::FailNextCreations(1);
        EXPECT_EQ(controller->Start(), -2) << round;
    }
    platform::FailNextCreations(0);
    ASSERT_EQ(controller->Start(), 1);
    const CamCmdRecord record = CCamCmdController::MakeCommand(kIndex);
    controller->Request(&record);
    ASSERT_TRUE(WaitForKeys(1));
    controller->Request(nullptr);
    EXPECT_EQ(ReceivedWith(CTP_CAMCMD)[0], KeyFrame(7, 0, 0));
}

}  // namespace
}  // namespace controllertest
