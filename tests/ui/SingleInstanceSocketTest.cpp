// The single-instance socket against other local users and silent peers: it
// lives where only its user can create it, an answer from a process of
// another user is not believed, and a peer that never answers holds a second
// start up only briefly.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ui/Application.h"
#include "testkit/ChildProcess.h"
#include "testkit/PumpUntil.h"
#include "testkit/TempDeviceRoot.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr uid_t kOtherUid = 65534;

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
            had_ = true;
        }
        if (value.empty()) {
            ::unsetenv(name);
        } else {
            ::setenv(name, value.c_str(), 1);
        }
    }
    ~ScopedEnv() {
        if (had_) {
            ::setenv(name_, old_.c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

TEST(SingleInstanceSocketTest, WithoutARuntimeFolderTheSocketIsInAPrivateFolderOfTheDeviceRoot) {
    testsupport::TempDeviceRoot root;
    const ScopedEnv noRuntime("XDG_RUNTIME_DIR", "");
    const std::string path = platform::InstanceSocketPath();
    ASSERT_EQ(path.rfind(root.path() + "/", 0), 0u) << path;
    const std::string folder = path.substr(0, path.rfind('/'));
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0) << folder;
    EXPECT_EQ(st.st_mode & 0777, 0700u) << folder;
}

TEST(SingleInstanceSocketTest, TheRuntimeFolderIsUsedWhenItIsThisUsers) {
    testsupport::TempDeviceRoot root;
    const std::string runtime = root.Host("runtime");
    ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
    const ScopedEnv env("XDG_RUNTIME_DIR", runtime);
    EXPECT_EQ(platform::InstanceSocketPath().rfind(runtime + "/camora-controller-", 0), 0u)
        << platform::InstanceSocketPath();
}

// A process of another user listens at the socket's path and says "1" (a
// window is shown) to every question: the second start must not believe it.
TEST(SingleInstanceSocketTest, AnAnswerFromAnotherUsersProcessIsNotBelieved) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to run the other user's server as uid " << kOtherUid
                     << " (setpriv); this test runs as uid " << ::geteuid();
    }
    for (const char* tool : {"/usr/bin/setpriv", "/usr/bin/python3"}) {
        if (::access(tool, X_OK) != 0) {
            GTEST_SKIP() << tool << " is missing: cannot run a server as another user";
        }
    }
    testsupport::TempDeviceRoot root;
    // A runtime folder that anyone may write to stands for a place another
    // user reached first; the answer's sender is what must be checked.
    const std::string runtime = root.Host("runtime");
    ASSERT_EQ(::mkdir(runtime.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(runtime.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(root.path().c_str(), 0755), 0);
    const ScopedEnv env("XDG_RUNTIME_DIR", runtime);
    const std::string path = platform::InstanceSocketPath();
    ASSERT_FALSE(path.empty());
    const std::string ready = runtime + "/ready";
    const std::string script =
        "import socket,sys\n"
        "s=socket.socket(socket.AF_UNIX)\n"
        "s.bind(sys.argv[1]); s.listen(16); open(sys.argv[2],'w').close()\n"
        "while True:\n"
        "  c,_=s.accept(); c.recv(4096); c.sendall(b'1\\n'); c.close()\n";
    const testsupport::ChildProcess stranger = testsupport::ChildProcess::Spawn(
        {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3",
         "-c", script, path, ready});
    ASSERT_TRUE(stranger.Started());
    ASSERT_TRUE(testsupport::PumpUntil([&] { return Exists(ready); }))
        << "the other user's server did not start";
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    ASSERT_EQ(st.st_uid, kOtherUid);
    EXPECT_FALSE(platform::FindOtherInstanceWindow(u"Camora Controller", true))
        << "a socket of uid " << kOtherUid << " stopped this user's start";
}

// A socket that accepts (the kernel's backlog does) and never answers.
TEST(SingleInstanceSocketTest, APeerThatNeverAnswersHoldsTheStartUpOnlyBriefly) {
    testsupport::TempDeviceRoot root;
    const std::string runtime = root.Host("runtime");
    ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
    const ScopedEnv env("XDG_RUNTIME_DIR", runtime);
    const std::string path = platform::InstanceSocketPath();
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
        << std::strerror(errno);
    ASSERT_EQ(::listen(fd, 8), 0);
    const auto start = Clock::now();
    EXPECT_FALSE(platform::FindOtherInstanceWindow(u"Camora Controller", true));
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    // The wait is bounded at a few hundred milliseconds; the bound here
    // leaves room for a loaded machine and still tells it from seconds.
    EXPECT_LT(waited.count(), 1500)
        << "a silent socket held the start for " << waited.count() << " ms";
    ::close(fd);
}

// A raw client of the listening side; -1 when it cannot connect.
int ConnectRaw(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// True once the listening side has closed `fd` (running the GUI meanwhile).
bool ClosedByServer(int fd) {
    return testsupport::PumpGuiUntil([&] {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0) {
            return false;
        }
        char c[4096];
        return ::recv(fd, c, sizeof c, MSG_DONTWAIT) <= 0;
    });
}

// The listening side bounds each question's size and time and the number of
// questions open at once, and still answers the next one.
TEST(SingleInstanceSocketTest, TheListeningSideBoundsWhatAClientMayHoldAndAnswersAfterwards) {
    testsupport::TempDeviceRoot root;
    const std::string runtime = root.Host("runtime");
    ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
    const ScopedEnv env("XDG_RUNTIME_DIR", runtime);
    ASSERT_TRUE(platform::ListenForOtherInstances());
    const std::string path = platform::InstanceSocketPath();
    if (!Exists(path)) {
        GTEST_SKIP() << "this process listens for another device root already (an earlier test "
                        "in the same run); ctest runs each test in a process of its own";
    }
    // A line that never ends.
    const int flood = ConnectRaw(path);
    ASSERT_GE(flood, 0);
    const std::string chunk(64 * 1024, 'x');
    for (int i = 0; i < 8; ++i) {
        if (::send(flood, chunk.data(), chunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
            break;
        }
        platform::ProcessGuiEvents();
    }
    EXPECT_TRUE(ClosedByServer(flood)) << "a question without end was kept";
    ::close(flood);

    // Idle connections: the ones beyond the bound are closed at once, and
    // all of them after the question's time.
    std::vector<int> idle;
    for (int i = 0; i < 20; ++i) {
        idle.push_back(ConnectRaw(path));
        ASSERT_GE(idle.back(), 0);
    }
    EXPECT_TRUE(ClosedByServer(idle.back())) << "20 idle connections were all held";
    EXPECT_TRUE(ClosedByServer(idle.front())) << "an idle connection was held without limit";
    for (int fd : idle) {
        ::close(fd);
    }
    // The bounds leave the real question answered.
    const std::string question = "F Camora Controller\n";
    const int asker = ConnectRaw(path);
    ASSERT_GE(asker, 0);
    ASSERT_EQ(::send(asker, question.data(), question.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(question.size()));
    std::string answer;
    EXPECT_TRUE(testsupport::PumpGuiUntil([&] {
        char c[16];
        const ssize_t n = ::recv(asker, c, sizeof c, MSG_DONTWAIT);
        if (n > 0) {
            answer.append(c, static_cast<size_t>(n));
        }
        return answer.find('\n') != std::string::npos;
    }));
    EXPECT_EQ(answer, "0\n");  // no such window in this test
    ::close(asker);
}

}  // namespace
