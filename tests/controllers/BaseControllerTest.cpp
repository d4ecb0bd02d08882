#include <gtest/gtest.h>

#include <vector>

#include "controllers/BaseController.h"
#include "core/CameraState.h"
#include "core/ConfigStore.h"
#include "ctp/CtpDataFactory.h"
#include "ctp/CtpEngine.h"
#include "platform/serial/SerialPort.h"
#include "testkit/PtyPair.h"

using testsupport::PtyPair;

namespace {

class BaseControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Engines run their threads until the process ends, so they are never freed.
        engine_ = new CCtpEngine;
        ASSERT_EQ(engine_->Start(platform::SerialPort::Adopt(pty_.OpenSlave())), 1);
        controller_ =
            std::make_unique<CBaseController>(ControllerServices{engine_, &state_, &config_});
    }
    void TearDown() override { platform::SetTimeScale(1.0); }

    PtyPair pty_;
    CCtpEngine* engine_ = nullptr;
    CCameraState state_;
    CConfigStore config_;
    std::unique_ptr<CBaseController> controller_;
};

}  // namespace

TEST_F(BaseControllerTest, ErrorReportGoesOutOnTheGivenChannel) {
    controller_->SendErrorReport(4, 1);
    EXPECT_EQ(pty_.PeerRead(8, 3000),
              (std::vector<uint8_t>{0x00, 0x04, 0x00, 0x08, 0xFF, 0x01, 0x00, 0x01}));
}

TEST_F(BaseControllerTest, ExchangeHandsBackTheReply) {
    CCtpData* reply = nullptr;
    std::thread peer([&] {
        pty_.PeerRead(6, 3000);
        pty_.PeerWrite(
            {0x00, 0x01, 0x00, 0x0E, 0x21, 0x01, 0x02, 0x01, 0x01, 0x00, 0x12, 0x34, 0x05, 0x00});
    });
    EXPECT_EQ(controller_->Exchange(CCtpDataFactory::Create(CTP_GET_MODE), 1, 3, &reply),
              CBaseController::ExchangeResult::Replied);
    peer.join();
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply->GetOpcode(), CTP_CAM_MODE);
    delete reply;
}

TEST_F(BaseControllerTest, ExchangeTimeOutSendsOneErrorReportAndNothingElse) {
    platform::SetTimeScale(10.0);
    CCtpData* reply = nullptr;
    EXPECT_EQ(controller_->Exchange(CCtpDataFactory::Create(CTP_CAMCMD), 3, 2, &reply),
              CBaseController::ExchangeResult::TimedOut);
    EXPECT_EQ(reply, nullptr);
    EXPECT_EQ(pty_.PeerRead(18, 3000),
              (std::vector<uint8_t>{0x00, 0x03, 0x00, 0x0A, 0x10, 0x01, 0x00, 0x00, 0x00, 0x00,
                                    0x00, 0x03, 0x00, 0x08, 0xFF, 0x01, 0x00, 0x01}));
    EXPECT_TRUE(pty_.PeerRead(1, 300).empty());
}

TEST_F(BaseControllerTest, ExchangeWithoutAPacketSendsNothing) {
    CCtpData* reply = nullptr;
    EXPECT_EQ(controller_->Exchange(nullptr, 2, 1, &reply),
              CBaseController::ExchangeResult::Failed);
    EXPECT_TRUE(pty_.PeerRead(1, 300).empty());
}

TEST(BaseControllerDefaultsTest, BaseHasNoWorker) {
    CCameraState state;
    CConfigStore config;
    CBaseController base(ControllerServices{nullptr, &state, &config});
    EXPECT_EQ(base.Start(), 0);
    base.Request(platform::WindowHandle{});  // does nothing, and must not touch the engine
}
