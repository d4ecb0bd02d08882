#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/serial/SerialPort.h"
#include "tests/support/PtyPair.h"
#include "tests/support/TempDeviceRoot.h"

using namespace platform;
using namespace std::chrono_literals;
using testsupport::PtyPair;
using testsupport::TempDeviceRoot;

namespace {

// The time-outs the exchange engine sets on its port.
SerialTimeouts EngineTimeouts() {
    SerialTimeouts t;
    t.readIntervalMs = SerialTimeouts::kNoIntervalLimit;
    t.readTotalConstantMs = 200;
    t.writeTotalConstantMs = 1000;
    return t;
}

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        pty_.LinkAs(root_.path(), "COM4");
        port_ = SerialPort::Open(u"COM4:");
        ASSERT_NE(port_, nullptr);
        port_->SetTimeouts(EngineTimeouts());
    }

    TempDeviceRoot root_;
    PtyPair pty_;
    PortHandle port_;
};

}  // namespace

TEST_F(SerialPortTest, IdleReadReturnsEmptyAfterAbout200Ms) {
    uint8_t buf[16];
    uint32_t got = 99;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(port_->Read(buf, sizeof buf, &got));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(got, 0u);
    EXPECT_GE(took, 150ms);
    EXPECT_LT(took, 400ms);
}

TEST_F(SerialPortTest, ReadWithBytesWaitingReturnsThemAtOnce) {
    pty_.PeerWrite({0x00, 0x01, 0x00, 0x06, 0x11, 0x01});
    std::this_thread::sleep_for(20ms);
    uint8_t buf[16];
    uint32_t got = 0;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(port_->Read(buf, sizeof buf, &got));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms);
    ASSERT_EQ(got, 6u);
    EXPECT_EQ(buf[4], 0x11);
    EXPECT_EQ(buf[5], 0x01);
}

TEST_F(SerialPortTest, ReadReturnsAsSoonAsTheFirstBytesArrive) {
    std::thread peer([&] {
        std::this_thread::sleep_for(50ms);
        pty_.PeerWrite({0xAB});
    });
    uint8_t buf[16];
    uint32_t got = 0;
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(port_->Read(buf, sizeof buf, &got));
    const auto took = std::chrono::steady_clock::now() - start;
    peer.join();
    EXPECT_EQ(got, 1u);
    EXPECT_LT(took, 150ms) << "the read waited for its time-out although bytes had come";
}

TEST_F(SerialPortTest, WrittenBytesReachThePeerUnchanged) {
    // Raw mode: CR, LF and control bytes pass as they are, nothing is echoed.
    const std::vector<uint8_t> frame{0x00, 0x02, 0x00, 0x0A, 0x0D, 0x0A, 0x03, 0x11, 0x7F, 0xFF};
    uint32_t written = 0;
    ASSERT_TRUE(port_->Write(frame.data(), static_cast<uint32_t>(frame.size()), &written));
    EXPECT_EQ(written, frame.size());
    EXPECT_EQ(pty_.PeerRead(frame.size(), 2000), frame);
    uint8_t buf[16];
    uint32_t got = 0;
    ASSERT_TRUE(port_->Read(buf, sizeof buf, &got));
    EXPECT_EQ(got, 0u) << "the line echoed the bytes back";
}

TEST_F(SerialPortTest, HangUpIsAFailedReadEveryTime) {
    pty_.HangUp();
    uint8_t buf[16];
    uint32_t got = 0;
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(port_->Read(buf, sizeof buf, &got)) << "read " << i;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 300ms);
    }
}

TEST_F(SerialPortTest, HangUpDuringAReadFailsThatRead) {
    std::thread peer([&] {
        std::this_thread::sleep_for(50ms);
        pty_.HangUp();
    });
    SerialTimeouts t = EngineTimeouts();
    t.readTotalConstantMs = 0;  // no limit: only the hang-up can end this read
    port_->SetTimeouts(t);
    uint8_t buf[16];
    uint32_t got = 0;
    EXPECT_FALSE(port_->Read(buf, sizeof buf, &got));
    peer.join();
}

TEST_F(SerialPortTest, WriteToAPeerThatNeverReadsGivesUpAfterAboutOneSecond) {
    std::vector<uint8_t> chunk(1 << 20, 0x55);
    uint32_t written = 0;
    const auto start = std::chrono::steady_clock::now();
    const bool ok = port_->Write(chunk.data(), static_cast<uint32_t>(chunk.size()), &written);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(ok);
    EXPECT_LT(written, chunk.size());
    EXPECT_GE(took, 900ms);
    EXPECT_LT(took, 1500ms);
}

TEST_F(SerialPortTest, ClosedPortFailsReadsAndWrites) {
    port_->Close();
    EXPECT_FALSE(port_->IsOpen());
    uint8_t buf[4] = {};
    uint32_t n = 0;
    EXPECT_FALSE(port_->Read(buf, sizeof buf, &n));
    EXPECT_FALSE(port_->Write(buf, sizeof buf, &n));
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
