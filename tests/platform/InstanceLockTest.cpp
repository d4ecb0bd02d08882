// The camcorder link's lock: one holder at a time, its name for the others,
// released with the holder (also when the holder is a process that ends).
#include "platform/fs/InstanceLock.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/fs/DeviceRoot.h"
#include "tests/support/TempDeviceRoot.h"

namespace {

using platform::InstanceLock;

class InstanceLockTest : public ::testing::Test {
protected:
    InstanceLockTest() { platform::OverrideDeviceRoot(root_.path()); }
    testsupport::TempDeviceRoot root_;
};

TEST_F(InstanceLockTest, LivesInTheDeviceRoot) {
    EXPECT_EQ(InstanceLock::LinkLockPath(), root_.Host("camora-link.lock"));
}

TEST_F(InstanceLockTest, SecondHolderIsRefusedAndToldWhoHasIt) {
    InstanceLock program;
    InstanceLock remote;
    ASSERT_EQ(program.TryTake("camora-controller"), InstanceLock::Result::Taken);
    EXPECT_TRUE(program.IsTaken());
    EXPECT_EQ(remote.TryTake("camora-remote"), InstanceLock::Result::Held);
    EXPECT_FALSE(remote.IsTaken());
    EXPECT_EQ(remote.Holder(), "camora-controller (pid " + std::to_string(::getpid()) + ")");
    // Trying again while held changes nothing.
    EXPECT_EQ(remote.TryTake("camora-remote"), InstanceLock::Result::Held);

    program.Release();
    EXPECT_FALSE(program.IsTaken());
    ASSERT_EQ(remote.TryTake("camora-remote"), InstanceLock::Result::Taken);
    // The new holder's name replaces the old one, not appended to it.
    EXPECT_EQ(program.TryTake("camora-controller"), InstanceLock::Result::Held);
    EXPECT_EQ(program.Holder(), "camora-remote (pid " + std::to_string(::getpid()) + ")");
}

TEST_F(InstanceLockTest, DestroyingTheHolderReleasesIt) {
    {
        InstanceLock first;
        ASSERT_EQ(first.TryTake("first"), InstanceLock::Result::Taken);
    }
    InstanceLock second;
    EXPECT_EQ(second.TryTake("second"), InstanceLock::Result::Taken);
}

TEST_F(InstanceLockTest, AProcessThatEndsLetsGoWithoutReleasing) {
    int ready[2];
    int finish[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(finish), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The child holds the lock and ends without any clean-up of its own.
        auto* lock = new InstanceLock;
        const char ok = lock->TryTake("child") == InstanceLock::Result::Taken ? 'y' : 'n';
        [[maybe_unused]] ssize_t n = ::write(ready[1], &ok, 1);
        char c = 0;
        n = ::read(finish[0], &c, 1);
        ::_exit(0);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');
    InstanceLock parent;
    EXPECT_EQ(parent.TryTake("parent"), InstanceLock::Result::Held);
    EXPECT_EQ(parent.Holder(), "child (pid " + std::to_string(child) + ")");
    ASSERT_EQ(::write(finish[1], "x", 1), 1);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(parent.TryTake("parent"), InstanceLock::Result::Taken);
    for (int fd : {ready[0], ready[1], finish[0], finish[1]}) {
        ::close(fd);
    }
}

TEST_F(InstanceLockTest, AnUnusablePathFailsWithTheReason) {
    root_.WriteFile("plain-file", "x");
    InstanceLock lock(root_.Host("plain-file/camora-link.lock"));
    EXPECT_EQ(lock.TryTake("camora-remote"), InstanceLock::Result::Failed);
    EXPECT_FALSE(lock.IsTaken());
    EXPECT_NE(lock.Error().find("plain-file/camora-link.lock: open: "), std::string::npos)
        << lock.Error();
}

}  // namespace
