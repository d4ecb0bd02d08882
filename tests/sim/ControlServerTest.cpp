// The simulator's control socket and link against what else is on the
// machine: it replaces only a stale socket or link of its own, bounds what a
// client may send or leave unread, and one client that does not read never
// holds up another.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

#include "sim/Camcorder.h"
#include "sim/ControlServer.h"
#include "testkit/TempDeviceRoot.h"

namespace {

using namespace std::chrono_literals;

int Connect(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A listening socket bound at `path`; closed (stale) when `close`.
int Bound(const std::string& path, bool close) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        return -1;
    }
    if (close) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// One read of what has come within `limit`: bytes, 0 at the end, -1 for none.
ssize_t ReadSome(int fd, char* buffer, size_t size, std::chrono::milliseconds limit) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) {
        return -1;
    }
    const ssize_t n = ::recv(fd, buffer, size, 0);
    return n < 0 ? 0 : n;  // a reset counts as the end
}

// One question and its answer line, within a generous bound.
std::string Ask(int fd, const std::string& line) {
    const std::string text = line + "\n";
    if (::send(fd, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) {
        return "<send failed>";
    }
    std::string answer;
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (answer.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
        char c[256];
        const ssize_t n = ReadSome(fd, c, sizeof c, 100ms);
        if (n == 0) {
            return answer + "<closed>";
        }
        if (n > 0) {
            answer.append(c, static_cast<size_t>(n));
        }
    }
    return answer;
}

TEST(ControlServerPath, OnlyAStaleSocketOfItsOwnIsReplaced) {
    testsupport::TempDeviceRoot root;
    sim::Camcorder cam;
    struct Case {
        const char* what;
        bool take;
    };
    const std::string path = root.Host("control");
    for (const Case c :
         {Case{"nothing there", true}, Case{"a regular file", false}, Case{"a folder", false},
          Case{"a live socket", false}, Case{"a stale socket", true}}) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(path);
        int live = -1;
        if (std::string(c.what) == "a regular file") {
            root.WriteFile("control", "keep me");
        } else if (std::string(c.what) == "a folder") {
            std::filesystem::create_directory(path);
        } else if (std::string(c.what) == "a live socket") {
            live = Bound(path, false);
            ASSERT_GE(live, 0);
        } else if (std::string(c.what) == "a stale socket") {
            Bound(path, true);
            ASSERT_TRUE(std::filesystem::exists(std::filesystem::symlink_status(path)));
        }
        sim::ControlServer server(cam, {});
        EXPECT_EQ(server.Start(path), c.take);
        if (std::string(c.what) == "a regular file") {
            EXPECT_EQ(root.ReadFile("control"), "keep me");
        }
        if (c.take) {
            const int fd = Connect(path);
            ASSERT_GE(fd, 0);
            EXPECT_EQ(Ask(fd, "mode 3").substr(0, 2), "ok");
            ::close(fd);
        }
        server.Stop();
        if (live >= 0) {
            ::close(live);
        }
    }
}

TEST(ControlServerClients, AnOverlongLineDropsItsClientAndOthersAreServed) {
    testsupport::TempDeviceRoot root;
    sim::Camcorder cam;
    sim::ControlServer server(cam, {});
    const std::string path = root.Host("control");
    ASSERT_TRUE(server.Start(path));
    const int flood = Connect(path);
    const int other = Connect(path);
    ASSERT_GE(flood, 0);
    ASSERT_GE(other, 0);
    const std::string chunk(64 * 1024, 'x');
    size_t sent = 0;
    bool dropped = false;
    // Without a newline: the server must close rather than keep buffering.
    for (int i = 0; i < 64 && !dropped; ++i) {
        const ssize_t n = ::send(flood, chunk.data(), chunk.size(), MSG_NOSIGNAL);
        dropped = n < 0;
        sent += n > 0 ? static_cast<size_t>(n) : 0;
    }
    char c = 0;
    EXPECT_TRUE(dropped || ReadSome(flood, &c, 1, 10s) == 0)
        << "the server kept " << sent << " bytes without a newline";
    EXPECT_EQ(Ask(other, "mode 3").substr(0, 2), "ok");
    ::close(flood);
    ::close(other);
}

TEST(ControlServerClients, AClientThatNeverReadsHoldsUpNoOther) {
    testsupport::TempDeviceRoot root;
    sim::Camcorder cam;
    sim::ControlServer server(cam, {});
    const std::string path = root.Host("control");
    ASSERT_TRUE(server.Start(path));
    const int deaf = Connect(path);
    const int other = Connect(path);
    ASSERT_GE(deaf, 0);
    ASSERT_GE(other, 0);
    int small = 4096;
    ::setsockopt(deaf, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    // Many questions, no answer read: the answers would fill any socket buffer.
    std::string questions;
    for (int i = 0; i < 20000; ++i) {
        questions += "mode 3\n";
    }
    ::send(deaf, questions.data(), questions.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    EXPECT_EQ(Ask(other, "mode 2").substr(0, 2), "ok") << "one deaf client stalled the others";
    ::close(deaf);
    ::close(other);
}

TEST(CamcorderLink, OnlyADanglingLinkOrItsOwnIsReplaced) {
    testsupport::TempDeviceRoot root;
    sim::Camcorder cam;
    ASSERT_TRUE(cam.Start());
    const std::string link = root.Host("dev/COM8");
    std::filesystem::create_directories(root.Host("dev"));
    root.WriteFile("dev/COM8", "not a link");
    EXPECT_FALSE(cam.LinkAs(link));
    EXPECT_EQ(root.ReadFile("dev/COM8"), "not a link");
    std::filesystem::remove(link);
    std::filesystem::create_symlink(root.Host("elsewhere"), link);  // dangling
    EXPECT_TRUE(cam.LinkAs(link));
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), cam.SlavePath());
    EXPECT_TRUE(cam.LinkAs(link)) << "its own link is made again";
    std::filesystem::remove(link);
    root.WriteFile("target", "someone's file");
    std::filesystem::create_symlink(root.Host("target"), link);  // live, not ours
    EXPECT_FALSE(cam.LinkAs(link));
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), root.Host("target"));
    cam.Stop();
}

}  // namespace
