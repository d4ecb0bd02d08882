// Keeping the handset awake: which reason a set of activities gives, and the
// controllers taking and releasing the login manager's lock (a mock on a
// private bus) as keys are held, the camera records and live view runs.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "controllers/CamCmdController.h"
#include "controllers/CamModeController.h"
#include "controllers/MonitorController.h"
#include "controllers/StayAwake.h"
#include "platform/power/SleepInhibitor.h"
#include "testkit/MockLogind.h"
#include "tests/controllers/ControllerFixture.h"

namespace controllertest {
namespace {

using testsupport::InhibitorLock;
using testsupport::MockLogind;

constexpr uint32_t Bits(AwakeActivity a) {
    return static_cast<uint32_t>(a);
}

TEST(AwakeReasonTest, TheMostTellingActivityNamesTheLock) {
    const uint32_t key = Bits(AwakeActivity::KeyHeld);
    const uint32_t rec = Bits(AwakeActivity::Recording);
    const uint32_t live = Bits(AwakeActivity::LiveView);
    const uint32_t save = Bits(AwakeActivity::SavingPicture);
    struct Case {
        uint32_t activities;
        const char* why;  // null: no lock
    };
    const Case cases[] = {
        {0, nullptr},
        {key, "recording"},
        {rec, "recording"},
        {live, "live view"},
        {save, "saving a picture"},
        {live | save, "live view"},
        {rec | live, "recording"},
        {key | save, "recording"},
        {key | rec | live | save, "recording"},
    };
    for (const Case& c : cases) {
        const char* why = AwakeReasonFor(c.activities);
        if (c.why == nullptr) {
            EXPECT_EQ(why, nullptr) << c.activities;
        } else {
            ASSERT_NE(why, nullptr) << c.activities;
            EXPECT_STREQ(why, c.why) << c.activities;
        }
    }
}

InhibitorLock Lock(const char* why) {
    return {"idle:sleep", "CamoraController", why, "block"};
}

class StayAwakeTest : public ControllerFixture {
protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        if (!logind_.Unavailable().empty()) {
            GTEST_SKIP() << logind_.Unavailable();
        }
        ClearAwake();
        platform::EnableSleepInhibitor(true);
    }
    void TearDown() override {
        ClearAwake();
        platform::EnableSleepInhibitor(false);
        EXPECT_TRUE(platform::WaitSleepInhibitorSettled(10000));
        ControllerFixture::TearDown();
    }
    bool Holds(const std::vector<InhibitorLock>& locks) {
        return PumpUntil([&] { return logind_.Inhibitors() == locks; });
    }

    MockLogind logind_;
};

TEST_F(StayAwakeTest, AHeldKeyKeepsTheHandsetAwakeUntilReleased) {
    auto* controller = KeepForever(new CCamCmdController(Services()));
    ASSERT_EQ(controller->Start(), 1);
    const CamCmdRecord zoom = CCamCmdController::MakeCommand(214);
    controller->Request(&zoom);
    EXPECT_TRUE(Holds({Lock("recording")})) << "pressing a key took no lock";
    controller->Request(nullptr);
    EXPECT_TRUE(Holds({})) << "releasing the key kept the lock";
}

TEST_F(StayAwakeTest, RecordingKeepsTheHandsetAwakeUntilTheCameraStops) {
    auto* controller = KeepForever(new CCamModeController(Services()));
    ASSERT_EQ(controller->Start(), 1);
    cam_.SetOperationState(kStateShooting);
    ASSERT_EQ(controller->QueryMode(), 1);
    EXPECT_TRUE(Holds({Lock("recording")})) << "the camera recording took no lock";
    cam_.SetOperationState(kStateStandby);
    ASSERT_EQ(controller->QueryMode(), 1);
    EXPECT_TRUE(Holds({})) << "the camera in standby kept the lock";
}

TEST_F(StayAwakeTest, LiveViewKeepsTheHandsetAwakeUntilSwitchedOff) {
    config_->SetString("TimeOut", "0");
    auto* controller = KeepForever(new CMonitorController(Services()));
    ASSERT_EQ(controller->Start(), 1);
    controller->Request(window_);
    EXPECT_TRUE(Holds({Lock("live view")})) << "live view took no lock";
    // A still being saved meanwhile does not change the reason, nor does its end.
    {
        const AwakeWhile saving(AwakeActivity::SavingPicture);
        ASSERT_TRUE(platform::WaitSleepInhibitorSettled(10000));
        EXPECT_EQ(logind_.Inhibitors(), std::vector{Lock("live view")});
    }
    controller->Request(window_);
    EXPECT_TRUE(Holds({})) << "live view switched off kept the lock";
}

TEST_F(StayAwakeTest, SavingAPictureHoldsItsLockAndALostLinkEndsEverything) {
    {
        const AwakeWhile saving(AwakeActivity::SavingPicture);
        EXPECT_TRUE(Holds({Lock("saving a picture")}));
    }
    EXPECT_TRUE(Holds({})) << "the save's end kept the lock";

    SetAwake(AwakeActivity::LiveView, true);
    SetAwake(AwakeActivity::KeyHeld, true);
    EXPECT_TRUE(Holds({Lock("recording")}));
    ClearAwake();  // what the program does when the link is lost
    EXPECT_TRUE(Holds({})) << "the lost link kept the lock";
    // An activity that ends after the link was lost takes nothing again.
    SetAwake(AwakeActivity::KeyHeld, false);
    ASSERT_TRUE(platform::WaitSleepInhibitorSettled(10000));
    EXPECT_TRUE(logind_.Inhibitors().empty());
}

}  // namespace
}  // namespace controllertest
