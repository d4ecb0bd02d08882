// The camcorder link's lock: one holder at a time, its name for the others,
// released with the holder (also when the holder is a process that ends).
#include "platform/fs/InstanceLock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/fs/DeviceRoot.h"
#include "testkit/ChildProcess.h"
#include "testkit/PumpUntil.h"
#include "testkit/TempDeviceRoot.h"

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
    testsupport::ChildProcess child = testsupport::ChildProcess::Fork([&] {
        // The child holds the lock and ends without any clean-up of its own.
        auto* lock = new InstanceLock;
        const char ok = lock->TryTake("child") == InstanceLock::Result::Taken ? 'y' : 'n';
        [[maybe_unused]] ssize_t n = ::write(ready[1], &ok, 1);
        char c = 0;
        n = ::read(finish[0], &c, 1);
        return 0;
    });
    ASSERT_TRUE(child.Started()) << child.Error();
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ASSERT_EQ(ok, 'y');
    InstanceLock parent;
    EXPECT_EQ(parent.TryTake("parent"), InstanceLock::Result::Held);
    EXPECT_EQ(parent.Holder(), "child (pid " + std::to_string(child.Pid()) + ")");
    ASSERT_EQ(::write(finish[1], "x", 1), 1);
    ASSERT_TRUE(child.Wait(testsupport::kPatience).has_value());
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

namespace {

// Another local user must not be able to hold the camcorder's lock: a
// device root made now is its user's alone, the lock file is 0600, and a
// lock left wider by an older start is narrowed when it is next taken.
class LinkLockOtherUserTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The temporary folder is the test's; what the program makes below it is under test.
        ASSERT_EQ(::chmod(parent_.path().c_str(), 0755), 0);
        root_ = parent_.Host("root");
        platform::OverrideDeviceRoot(root_);
    }

    // The exit status of `flock -n FILE true` run as uid 65534, or -1 when
    // this process cannot change uid.
    static int OtherUserLocks(const std::string& file) {
        if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0 ||
            ::access("/usr/bin/flock", X_OK) != 0) {
            return -1;
        }
        testsupport::ChildProcess flock = testsupport::ChildProcess::Spawn(
            {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
             "/usr/bin/flock", "-n", file, "true"},
            testsupport::SpawnOptions().Err(testsupport::Stream::Null()));
        const auto status = flock.Wait(testsupport::kPatience);
        return status && status->Exited() ? status->code : 128;
    }

    static unsigned Mode(const std::string& path) {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 07777) : 0u;
    }

    testsupport::TempDeviceRoot parent_;
    std::string root_;
};

TEST_F(LinkLockOtherUserTest, ANewDeviceRootAndItsLockAreTheUsersAlone) {
    {
        InstanceLock lock;
        ASSERT_EQ(lock.TryTake("camora-controller"), InstanceLock::Result::Taken);
    }
    EXPECT_EQ(Mode(root_), 0700u);
    EXPECT_EQ(Mode(InstanceLock::LinkLockPath()), 0600u);
    const int other = OtherUserLocks(InstanceLock::LinkLockPath());
    if (other < 0) {
        GTEST_SKIP() << "cannot run as another uid (needs root and setpriv); modes checked only";
    }
    EXPECT_NE(other, 0) << "uid 65534 took the released link lock";
}

TEST_F(LinkLockOtherUserTest, AWiderLockOfAnOlderStartIsNarrowed) {
    // An older start's root and lock, readable by everyone.
    ASSERT_EQ(::mkdir(root_.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(root_.c_str(), 0755), 0);
    const std::string file = InstanceLock::LinkLockPath();
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::fchmod(fd, 0644), 0);
    ::close(fd);
    {
        InstanceLock lock;
        ASSERT_EQ(lock.TryTake("camora-controller"), InstanceLock::Result::Taken);
    }
    EXPECT_EQ(Mode(file), 0600u);
    const int other = OtherUserLocks(file);
    if (other < 0) {
        GTEST_SKIP() << "cannot run as another uid (needs root and setpriv); modes checked only";
    }
    EXPECT_NE(other, 0) << "uid 65534 took the released link lock of an older root";
}

}  // namespace
