// The sleep inhibitor against a mock login manager on a private bus: each
// reason takes its lock, a new reason replaces the old lock, and clearing the
// reason or switching the inhibitor off releases it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/power/SleepInhibitor.h"
#include "testkit/MockLogind.h"
#include "testkit/TempDeviceRoot.h"

namespace {

using testsupport::InhibitorLock;
using testsupport::MockLogind;

constexpr uint32_t kSettleMs = 10000;

InhibitorLock Lock(const std::string& why) {
    return {"idle:sleep", "CamoraController", why, "block"};
}

class SleepInhibitorTest : public ::testing::Test {
protected:
    void TearDown() override {
        platform::SetSleepInhibitReason("");
        platform::EnableSleepInhibitor(false);
        EXPECT_TRUE(platform::WaitSleepInhibitorSettled(kSettleMs));
    }
};

TEST_F(SleepInhibitorTest, EachReasonHoldsOneLockUntilItIsCleared) {
    MockLogind logind;
    if (!logind.Unavailable().empty()) {
        GTEST_SKIP() << logind.Unavailable();
    }
    platform::EnableSleepInhibitor(true);
    const std::vector<std::string> reasons = {"recording", "live view", "saving a picture",
                                              "recording"};
    for (const std::string& why : reasons) {
        platform::SetSleepInhibitReason(why);
        EXPECT_EQ(platform::SleepInhibitReason(), why);
        ASSERT_TRUE(platform::WaitSleepInhibitorSettled(kSettleMs)) << why;
        // The old lock is gone once the new one is held: one lock at a time.
        EXPECT_TRUE(logind.WaitForInhibitors({Lock(why)}))
            << why << ": held " << ::testing::PrintToString(logind.Inhibitors());
    }
    platform::SetSleepInhibitReason("");
    EXPECT_TRUE(logind.WaitForInhibitors({})) << "clearing the reason kept the lock";

    // The same reason again takes a new lock.
    platform::SetSleepInhibitReason("live view");
    EXPECT_TRUE(logind.WaitForInhibitors({Lock("live view")}));
    platform::EnableSleepInhibitor(false);
    EXPECT_TRUE(logind.WaitForInhibitors({})) << "switching off kept the lock";
    platform::EnableSleepInhibitor(true);
    EXPECT_TRUE(logind.WaitForInhibitors({Lock("live view")}))
        << "switching on again did not take the lock for the reason still set";
}

TEST_F(SleepInhibitorTest, SwitchedOffItHoldsNothing) {
    MockLogind logind;
    if (!logind.Unavailable().empty()) {
        GTEST_SKIP() << logind.Unavailable();
    }
    platform::EnableSleepInhibitor(false);
    platform::SetSleepInhibitReason("recording");
    ASSERT_TRUE(platform::WaitSleepInhibitorSettled(kSettleMs));
    EXPECT_TRUE(logind.Inhibitors().empty());
}

TEST_F(SleepInhibitorTest, WithoutALoginManagerNothingIsHeldAndLaterLocksStillCome) {
    {
        const testsupport::TempDeviceRoot folder;
        testsupport::PrivateSystemBus empty(folder.path());
        ASSERT_TRUE(empty.running());
        platform::EnableSleepInhibitor(true);
        platform::SetSleepInhibitReason("recording");
        EXPECT_TRUE(platform::WaitSleepInhibitorSettled(kSettleMs))
            << "a missing login manager held the inhibitor up";
        platform::SetSleepInhibitReason("");
        ASSERT_TRUE(platform::WaitSleepInhibitorSettled(kSettleMs));
    }
    MockLogind logind;
    if (!logind.Unavailable().empty()) {
        GTEST_SKIP() << logind.Unavailable();
    }
    platform::SetSleepInhibitReason("saving a picture");
    EXPECT_TRUE(logind.WaitForInhibitors({Lock("saving a picture")}));
}

}  // namespace
