#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ostream>
#include <thread>
#include <vector>

#include "platform/serial/PortBindings.h"
#include "platform/serial/SerialPort.h"
#include "testkit/PtyPair.h"
#include "testkit/ReadWithin.h"
#include "testkit/TempDeviceRoot.h"

using namespace platform;
using namespace std::chrono_literals;
using testsupport::PtyPair;
using testsupport::TempDeviceRoot;

namespace {

// The time-outs the exchange engine sets on its port.
// A read limit no test waits for when the port works: a read that should
// return at once and waits for it instead shows as taking longer than
// kLongerThanAtOnce, which no busy machine takes for an immediate return.
constexpr uint32_t kLongReadMs = 30000;
constexpr auto kLongerThanAtOnce = 10s;

SerialTimeouts EngineTimeouts() {
    SerialTimeouts t;
    t.readIntervalMs = SerialTimeouts::kNoIntervalLimit;
    t.readTotalConstantMs = 200;
    t.writeTotalConstantMs = 1000;
    return t;
}

// The port's two modes: a terminal (the RFCOMM TTY binding, a pseudo-terminal
// here) and a connected socket (the serial-port profile's connection, a
// socket pair here). Both keep the same contract.
enum class Link { Terminal, Socket };

void PrintTo(Link link, std::ostream* out) {
    *out << (link == Link::Terminal ? "terminal" : "socket");
}

class SerialPortTest : public ::testing::TestWithParam<Link> {
protected:
    void SetUp() override {
        if (GetParam() == Link::Terminal) {
            pty_.LinkAs(root_.path(), "COM4");
        } else {
            int fds[2];
            ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
            peer_ = fds[0];
            BindPort(u"COM4", owner_, [fd = fds[1]] { return fd; });
        }
        port_ = SerialPort::Open(u"COM4:");
        ASSERT_NE(port_, nullptr);
        port_->SetTimeouts(EngineTimeouts());
    }
    void TearDown() override {
        UnbindPorts(owner_);
        if (peer_ >= 0) {
            ::close(peer_);
        }
    }

    void PeerWrite(const std::vector<uint8_t>& bytes) {
        if (GetParam() == Link::Terminal) {
            pty_.PeerWrite(bytes);
        } else {
            ASSERT_EQ(::write(peer_, bytes.data(), bytes.size()),
                      static_cast<ssize_t>(bytes.size()));
        }
    }
    std::vector<uint8_t> PeerRead(size_t atLeast, int timeoutMs) {
        if (GetParam() == Link::Terminal) {
            return pty_.PeerRead(atLeast, timeoutMs);
        }
        return testsupport::ReadWithin(peer_, atLeast, std::chrono::milliseconds(timeoutMs),
                                       testsupport::ReadAmount::AtLeast);
    }
    // The other end goes away: the line hangs up, the socket is closed.
    void HangUp() {
        if (GetParam() == Link::Terminal) {
            pty_.HangUp();
        } else {
            ::close(peer_);
            peer_ = -1;
        }
    }

    TempDeviceRoot root_;
    PtyPair pty_;
    int peer_ = -1;
    const uint64_t owner_ = NewPortOwner();
    PortHandle port_;
};

}  // namespace

TEST_P(SerialPortTest, IdleReadReturnsEmptyAfterAbout200Ms) {
    // A busy machine only adds to a read's time: every read must end on its
    // time-out, and the shortest of three shows the port's own 200 ms.
    auto shortest = std::chrono::steady_clock::duration::max();
    for (int i = 0; i < 3; ++i) {
        uint8_t buf[16];
        uint32_t got = 99;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(port_->Read(buf, sizeof buf, &got));
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(got, 0u);
        EXPECT_GE(took, 150ms);
        EXPECT_LT(took, 2000ms) << "the read did not end on its time-out";
        shortest = std::min(shortest, took);
    }
    EXPECT_LT(shortest, 400ms);
}

TEST_P(SerialPortTest, ReadWithBytesWaitingReturnsThemAtOnce) {
    SerialTimeouts t = EngineTimeouts();
    t.readTotalConstantMs = kLongReadMs;
    port_->SetTimeouts(t);
    PeerWrite({0x00, 0x01, 0x00, 0x06, 0x11, 0x01});
    uint8_t buf[16];
    uint32_t got = 0;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(port_->Read(buf, sizeof buf, &got));
    EXPECT_LT(std::chrono::steady_clock::now() - start, kLongerThanAtOnce);
    ASSERT_EQ(got, 6u);
    EXPECT_EQ(buf[4], 0x11);
    EXPECT_EQ(buf[5], 0x01);
}

TEST_P(SerialPortTest, ReadReturnsAsSoonAsTheFirstBytesArrive) {
    SerialTimeouts t = EngineTimeouts();
    t.readTotalConstantMs = kLongReadMs;
    port_->SetTimeouts(t);
    // The byte comes a little later, so that the read is likely waiting.
    std::thread peer([&] {
        std::this_thread::sleep_for(50ms);
        PeerWrite({0xAB});
    });
    uint8_t buf[16];
    uint32_t got = 0;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(port_->Read(buf, sizeof buf, &got));
    const auto took = std::chrono::steady_clock::now() - start;
    peer.join();
    EXPECT_EQ(got, 1u);
    EXPECT_LT(took, kLongerThanAtOnce)
        << "the read waited for its time-out although bytes had come";
}

TEST_P(SerialPortTest, WrittenBytesReachThePeerUnchanged) {
    // Raw mode: CR, LF and control bytes pass as they are, nothing is echoed.
    const std::vector<uint8_t> frame{0x00, 0x02, 0x00, 0x0A, 0x0D, 0x0A, 0x03, 0x11, 0x7F, 0xFF};
    uint32_t written = 0;
    ASSERT_TRUE(port_->Write(frame.data(), static_cast<uint32_t>(frame.size()), &written));
    EXPECT_EQ(written, frame.size());
    EXPECT_EQ(PeerRead(frame.size(), 2000), frame);
    uint8_t buf[16];
    uint32_t got = 0;
    ASSERT_TRUE(port_->Read(buf, sizeof buf, &got));
    EXPECT_EQ(got, 0u) << "the line echoed the bytes back";
}

TEST_P(SerialPortTest, HangUpIsAFailedReadEveryTime) {
    SerialTimeouts t = EngineTimeouts();
    t.readTotalConstantMs = kLongReadMs;
    port_->SetTimeouts(t);
    HangUp();
    uint8_t buf[16];
    uint32_t got = 0;
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(port_->Read(buf, sizeof buf, &got)) << "read " << i;
        EXPECT_LT(std::chrono::steady_clock::now() - start, kLongerThanAtOnce);
    }
}

TEST_P(SerialPortTest, HangUpDuringAReadFailsThatRead) {
    std::thread peer([&] {
        std::this_thread::sleep_for(50ms);
        HangUp();
    });
    SerialTimeouts t = EngineTimeouts();
    t.readTotalConstantMs = 0;  // no limit: only the hang-up can end this read
    port_->SetTimeouts(t);
    uint8_t buf[16];
    uint32_t got = 0;
    EXPECT_FALSE(port_->Read(buf, sizeof buf, &got));
    peer.join();
}

TEST_P(SerialPortTest, WriteToAPeerThatNeverReadsGivesUpAfterAboutOneSecond) {
    // As with reads: each write gives up on its time-out, the shorter of two
    // within the port's own second and a half.
    std::vector<uint8_t> chunk(1 << 20, 0x55);
    auto shortest = std::chrono::steady_clock::duration::max();
    for (int i = 0; i < 2; ++i) {
        uint32_t written = 0;
        const auto start = std::chrono::steady_clock::now();
        const bool ok = port_->Write(chunk.data(), static_cast<uint32_t>(chunk.size()), &written);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_FALSE(ok);
        EXPECT_LT(written, chunk.size());
        EXPECT_GE(took, 900ms);
        EXPECT_LT(took, 5000ms) << "the write did not end on its time-out";
        shortest = std::min(shortest, took);
    }
    EXPECT_LT(shortest, 1500ms);
}

TEST_P(SerialPortTest, ClosedPortFailsReadsAndWrites) {
    port_->Close();
    EXPECT_FALSE(port_->IsOpen());
    uint8_t buf[4] = {};
    uint32_t n = 0;
    EXPECT_FALSE(port_->Read(buf, sizeof buf, &n));
    EXPECT_FALSE(port_->Write(buf, sizeof buf, &n));
}

INSTANTIATE_TEST_SUITE_P(Links, SerialPortTest, ::testing::Values(Link::Terminal, Link::Socket),
                         [](const ::testing::TestParamInfo<Link>& link) {
                             return link.param == Link::Terminal ? "Terminal" : "Socket";
                         });

TEST_P(SerialPortTest, WriteAfterThePeerWentAwayFailsWithoutEndingTheProcess) {
    HangUp();
    const uint8_t byte = 0x42;
    uint32_t written = 0;
    // A socket would raise SIGPIPE here, which ends the process unless caught.
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(port_->Write(&byte, 1, &written)) << i;
    }
}

TEST(SerialPortOpenTest, ABoundPortIsOpenedThroughItsConnector) {
    TempDeviceRoot root;
    PtyPair pty;
    pty.LinkAs(root.path(), "BTC10");  // the binding comes before the device root's link
    const uint64_t owner = NewPortOwner();
    int calls = 0;
    BindPort(u"btc10:", owner, [&] {
        ++calls;
        return -1;  // out of range
    });
    EXPECT_EQ(SerialPort::Open(u"BTC10:"), nullptr);
    EXPECT_EQ(calls, 1);
    UnbindPort(u"BTC10", owner + 1);  // not its binding: stays
    EXPECT_EQ(SerialPort::Open(u"BTC10:"), nullptr);
    EXPECT_EQ(calls, 2);
    UnbindPort(u"BTC10", owner);
    EXPECT_NE(SerialPort::Open(u"BTC10:"), nullptr);
    EXPECT_EQ(calls, 2);
}

TEST(SerialPortOpenTest, MissingPortFailsCleanly) {
    TempDeviceRoot root;
    EXPECT_EQ(SerialPort::Open(u"COM7:"), nullptr);
    EXPECT_EQ(SerialPort::Open(u"BTC3:"), nullptr);
    EXPECT_EQ(SerialPort::Open(u"nonsense"), nullptr);
}

TEST(SerialPortOpenTest, BtcNamesResolveThroughTheDeviceRoot) {
    TempDeviceRoot root;
    PtyPair pty;
    pty.LinkAs(root.path(), "BTC3");
    auto port = SerialPort::Open(u"BTC3:");
    ASSERT_NE(port, nullptr);
    uint32_t written = 0;
    const uint8_t byte = 0x42;
    ASSERT_TRUE(port->Write(&byte, 1, &written));
    EXPECT_EQ(pty.PeerRead(1, 2000), std::vector<uint8_t>{0x42});
}
