#include "controllers/GpsController.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "core/CameraState.h"
#include "core/ConfigStore.h"
#include "ctp/CtpData.h"
#include "ctp/CtpEngine.h"
#include "platform/gps/Gps.h"
#include "platform/serial/SerialPort.h"
#include "platform/ui/WindowMessages.h"
#include "sim/Camcorder.h"
#include "testkit/PumpUntil.h"
#include "testkit/TempDeviceRoot.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using platform::GpsPosition;

// The design's pauses run this many times faster: GpsInterval 2 s, the
// position thread's 2 s and the worker's 1 s retry take a quarter.
constexpr double kScale = 4.0;
constexpr auto kIntervalReal = 500ms;  // GpsInterval 2, scaled
constexpr auto kRetryReal = 250ms;     // the 1 s retry while GPS is refused, scaled
constexpr auto kPatience = 20s;

GpsPosition Fix(double latitude, double longitude, platform::GpsUtcTime time = {1, 2, 3, 4}) {
    return GpsPosition{platform::kGpsFix, latitude, longitude, time};
}

uint16_t Param(const sim::WireFrame& frame) {
    return static_cast<uint16_t>(frame.bytes.at(6) << 8 | frame.bytes.at(7));
}

// The GPS controller against the simulated camcorder over a pseudo-terminal,
// with positions pushed into a scripted GPS device. The test thread owns the
// main window and keeps it answering while it waits.
class GpsControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetTimeScale(kScale);
        platform::UseGpsTrack({}, false);
        ASSERT_EQ(platform::OpenGpsDeviceCount(), 0u);
        ASSERT_TRUE(cam_.Start());
        ASSERT_TRUE(cam_.LinkAsDevice("COM4"));
        // None of these is ever freed: engine and controller threads run on.
        engine_ = new CCtpEngine;
        ASSERT_EQ(engine_->Start(platform::SerialPort::Open(u"COM4:")), 1);
        state_ = new CCameraState;
        config_ = new CConfigStore;
        config_->SetString("TimeOut", "10");
        config_->SetString("GpsInterval", "2");
        gps_ = new CGpsController(ControllerServices{engine_, state_, config_});
        ASSERT_EQ(gps_->Start(), 1);
        window_ = platform::CreateMessageWindow(
            [this](platform::WindowHandle, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
                if (message == WM_GPS_STATUS) {
                    shown_.push_back(GpsStatus());
                }
                return 0;
            });
    }

    void TearDown() override {
        // Leave the controller off with its device closed, so that its threads
        // stay idle through later tests and their positions never reach it.
        if (gps_ != nullptr && GpsStatus() != 0) {
            gps_->Request(window_);
        }
        EXPECT_TRUE(PumpUntil([] { return platform::OpenGpsDeviceCount() == 0; }));
        platform::DestroyMessageWindow(window_);
        platform::UseConfiguredGps();
        platform::SetTimeScale(1.0);
    }

    bool PumpUntil(const std::function<bool()>& done,
                   std::chrono::milliseconds timeout = kPatience) {
        return testsupport::PumpUntil(done, timeout);
    }
    void PumpFor(std::chrono::milliseconds span) { testsupport::PumpFor(span); }

    uint16_t GpsStatus() {
        CameraStateSnapshot snapshot{};
        state_->GetSnapshot(&snapshot);
        return snapshot.gpsStatus;
    }
    std::vector<sim::WireFrame> Frames(uint16_t opcode) const {
        std::vector<sim::WireFrame> found;
        for (auto& frame : cam_.ReceivedFrames()) {
            if (frame.Opcode() == opcode) {
                found.push_back(frame);
            }
        }
        return found;
    }
    size_t OnChannel2() const {
        size_t count = 0;
        for (const auto& frame : cam_.ReceivedFrames()) {
            count += frame.Channel() == 2 ? 1 : 0;
        }
        return count;
    }
    // Presses the GPS button and waits until the camera agreed and the device is open.
    void SwitchOn() {
        gps_->Request(window_);
        ASSERT_TRUE(PumpUntil([] { return platform::OpenGpsDeviceCount() == 1; }));
    }
    void FeedUntilSent(const GpsPosition& position, const std::string& sentence) {
        platform::PushGpsTrackPosition(position);
        ASSERT_TRUE(PumpUntil([&] {
            const auto sent = cam_.GpsSentences();
            return !sent.empty() && sent.back() == sentence;
        }));
    }

    testsupport::TempDeviceRoot root_;
    sim::Camcorder cam_;
    CCtpEngine* engine_ = nullptr;
    CCameraState* state_ = nullptr;
    CConfigStore* config_ = nullptr;
    CGpsController* gps_ = nullptr;
    platform::WindowHandle window_;
    std::vector<uint16_t> shown_;  // gpsStatus at each WM_GPS_STATUS
};

const std::string kSentenceA = "$GPGGA,010203.004,3530.000000,N,13915.000000,W,1,,,,,,,\r\n";
const std::string kSentenceB = "$GPGGA,010203.004,0530.000000,S,00030.000000,E,1,,,,,,,\r\n";

TEST_F(GpsControllerTest, SwitchingOnSendsTheCommandWithTheCameraStateBytes) {
    state_->SetOperationState(1);  // shooting in video recording mode still takes GPS
    gps_->Request(window_);
    EXPECT_EQ(GpsStatus(), 1);
    EXPECT_EQ(shown_, std::vector<uint16_t>{1});
    ASSERT_TRUE(PumpUntil([] { return platform::OpenGpsDeviceCount() == 1; }));
    const auto frames = cam_.ReceivedFrames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, (Bytes{0x00, 0x02, 0x00, 0x0A, 0x10, 0x04, 0x00, 0x00, 0x00, 0x01}));
    EXPECT_TRUE(cam_.GpsFeedOn());
}

TEST_F(GpsControllerTest, RefusedSwitchReturnsToOffWithoutAnotherFrame) {
    cam_.QueueGpsCommandStatuses({3});
    gps_->Request(window_);
    ASSERT_TRUE(PumpUntil([&] { return shown_.size() == 2; }));
    EXPECT_EQ(shown_, (std::vector<uint16_t>{1, 0}));
    EXPECT_EQ(GpsStatus(), 0);
    PumpFor(3 * kIntervalReal);
    EXPECT_EQ(OnChannel2(), 1u);
    EXPECT_EQ(platform::OpenGpsDeviceCount(), 0u);
    // Off again, so the next press switches on rather than off.
    gps_->Request(window_);
    ASSERT_TRUE(PumpUntil([&] { return Frames(CTP_GPS_CMD).size() == 2; }));
    EXPECT_EQ(Param(Frames(CTP_GPS_CMD)[1]), 0);
}

TEST_F(GpsControllerTest, NothingIsSentBeforeTheFirstPosition) {
    SwitchOn();
    PumpFor(4 * kIntervalReal);
    EXPECT_TRUE(Frames(CTP_GPS).empty());
    // A first position without fix is sent as the empty sentence.
    platform::PushGpsTrackPosition(GpsPosition{});
    ASSERT_TRUE(PumpUntil([&] { return !cam_.GpsSentences().empty() && shown_.back() == 2; }));
    EXPECT_EQ(cam_.GpsSentences()[0], "$GPGGA,,,,,,0,,,,,,,\r\n");
}

TEST_F(GpsControllerTest, FeedingSendsTheLatestSentenceOncePerInterval) {
    SwitchOn();
    platform::PushGpsTrackPosition(Fix(35.5, -139.25));
    ASSERT_TRUE(PumpUntil([&] { return cam_.GpsSentences().size() >= 3 && GpsStatus() == 1; }));
    FeedUntilSent(Fix(-5.5, 0.5), kSentenceB);
    ASSERT_TRUE(PumpUntil([&] { return cam_.GpsSentences().size() >= 6; }));

    // The same sentence again every interval until a newer one replaces it.
    const auto sent = cam_.GpsSentences();
    size_t i = 0;
    while (i < sent.size() && sent[i] == kSentenceA) {
        ++i;
    }
    EXPECT_GE(i, 3u);
    for (; i < sent.size(); ++i) {
        EXPECT_EQ(sent[i], kSentenceB) << "sentence " << i;
    }
    const auto frames = Frames(CTP_GPS);
    for (size_t k = 1; k < frames.size(); ++k) {
        const auto gap = std::chrono::milliseconds(frames[k].atMs - frames[k - 1].atMs);
        EXPECT_GE(gap, kIntervalReal * 9 / 10) << "frame " << k;
        EXPECT_LT(gap, kIntervalReal * 2) << "frame " << k;
    }
}

TEST_F(GpsControllerTest, PositionThreadReadsAtMostOnePositionPerPause) {
    SwitchOn();
    shown_.clear();
    // A position every 10 ms for four pauses of the position thread.
    const auto end = Clock::now() + 4 * 500ms;
    for (int n = 0; Clock::now() < end; ++n) {
        platform::PushGpsTrackPosition(Fix(10.0 + n * 0.001, 20.0));
        PumpFor(10ms);
    }
    PumpFor(600ms);
    EXPECT_GE(shown_.size(), 2u);
    EXPECT_LE(shown_.size(), 5u);
}

TEST_F(GpsControllerTest, SwitchingOffSendsTheOffCommandAtOnce) {
    config_->SetString("GpsInterval", "15");  // 3.75 s here: "at once" must not wait for it
    SwitchOn();
    const auto pressed = Clock::now();
    gps_->Request(window_);
    EXPECT_EQ(GpsStatus(), 0);
    // The worker may still be taking the device it has just opened; it then
    // sees GPS off and closes it itself.
    EXPECT_TRUE(PumpUntil([] { return platform::OpenGpsDeviceCount() == 0; }));
    ASSERT_TRUE(PumpUntil([&] { return Frames(CTP_GPS_CMD).size() == 2; }));
    EXPECT_LT(Clock::now() - pressed, 3000ms) << "the off command waited for the interval";
    EXPECT_EQ(Frames(CTP_GPS_CMD)[1].bytes,
              (Bytes{0x00, 0x02, 0x00, 0x0A, 0x10, 0x04, 0x00, 0x01, 0x00, 0x00}));
    EXPECT_FALSE(cam_.GpsFeedOn());
    EXPECT_EQ(shown_, (std::vector<uint16_t>{1, 0}));
}

TEST_F(GpsControllerTest, CameraEndingTheFeedStopsIt) {
    cam_.QueueGpsSentenceStatuses({0, 2});
    SwitchOn();
    platform::PushGpsTrackPosition(Fix(35.5, -139.25));
    ASSERT_TRUE(PumpUntil([&] { return shown_.back() == 0; }));
    EXPECT_EQ(GpsStatus(), 0);
    EXPECT_EQ(platform::OpenGpsDeviceCount(), 0u);
    PumpFor(3 * kIntervalReal);
    EXPECT_EQ(cam_.GpsSentences().size(), 2u);
    EXPECT_EQ(OnChannel2(), 3u);  // the switch and two sentences; no switch-off follows
    gps_->Request(window_);
    ASSERT_TRUE(PumpUntil([&] { return Frames(CTP_GPS_CMD).size() == 2; }));
    EXPECT_EQ(Param(Frames(CTP_GPS_CMD)[1]), 0);
}

TEST_F(GpsControllerTest, HandsetWithoutGpsDeviceIgnoresTheButton) {
    EXPECT_EQ(gps_->CheckDevice(), 1);              // the scripted device is there...
    EXPECT_EQ(platform::OpenGpsDeviceCount(), 0u);  // ...and was closed again
    root_.WriteFile("gps.conf", "backend=none\n");
    platform::UseConfiguredGps();
    EXPECT_EQ(gps_->CheckDevice(), 0);
    gps_->Request(window_);
    gps_->Request(window_);
    EXPECT_EQ(GpsStatus(), 0);
    PumpFor(2 * kIntervalReal);
    EXPECT_TRUE(shown_.empty());
    EXPECT_EQ(OnChannel2(), 0u);
}

struct RefusedCase {
    const char* name;
    uint32_t mode, state;                // a state in which GPS is refused
    uint32_t allowedMode, allowedState;  // where it is allowed again
    friend void PrintTo(const RefusedCase& c, std::ostream* out) { *out << c.name; }
};

class GpsRefusedStateTest : public GpsControllerTest,
                            public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(GpsRefusedStateTest, ClosesTheDeviceAndSwitchesOnAgainOnceAllowed) {
    const RefusedCase& c = GetParam();
    SwitchOn();
    FeedUntilSent(Fix(35.5, -139.25), kSentenceA);
    state_->SetMode(c.mode);
    state_->SetOperationState(c.state);
    ASSERT_TRUE(PumpUntil([] { return platform::OpenGpsDeviceCount() == 0; }));
    const size_t before = OnChannel2();
    PumpFor(4 * kRetryReal);
    EXPECT_EQ(OnChannel2(), before);

    state_->SetMode(c.allowedMode);
    state_->SetOperationState(c.allowedState);
    ASSERT_TRUE(PumpUntil(
        [&] { return Frames(CTP_GPS_CMD).size() == 2 && platform::OpenGpsDeviceCount() == 1; }));
    EXPECT_EQ(Frames(CTP_GPS_CMD)[1].bytes,
              (Bytes{0x00, 0x02, 0x00, 0x0A, 0x10, 0x04, 0x00, 0x00,
                     static_cast<uint8_t>(c.allowedMode), static_cast<uint8_t>(c.allowedState)}));
    FeedUntilSent(Fix(-5.5, 0.5), kSentenceB);
}

INSTANTIATE_TEST_SUITE_P(
    States, GpsRefusedStateTest,
    ::testing::Values(RefusedCase{"VideoPlayback", 1, 0, 0, 0},
                      RefusedCase{"VideoQuickStartStandby", 0, 2, 0, 0},
                      RefusedCase{"StillRecordingQuickStartStandby", 2, 2, 2, 0}),
    [](const ::testing::TestParamInfo<RefusedCase>& param) { return param.param.name; });

// A started controller for the sentence tests; its threads stay idle as GPS
// is never switched on, so it needs no engine.
CGpsController* IdleController() {
    auto* gps = new CGpsController(ControllerServices{nullptr, new CCameraState, new CConfigStore});
    EXPECT_EQ(gps->Start(), 1);
    return gps;
}

TEST(GpsSentenceTest, SentencesOfTheRecords) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        GpsPosition record;
        int result;
        std::string sentence;
    } kCases[] = {
        {Fix(35.5, -139.25), 1, kSentenceA},
        {Fix(-5.5, 0.5), 1, kSentenceB},
        {Fix(0.0, 9.75, {23, 59, 59, 999}), 1,
         "$GPGGA,235959.999,0000.000000,N,00945.000000,E,1,,,,,,,\r\n"},
        // The quality field says 1 whatever the kind of fix.
        {{platform::kGpsDifferentialFix, 35.5, -139.25, {1, 2, 3, 4}}, 1, kSentenceA},
        {{platform::kGpsNoFix, 35.5, -139.25, {1, 2, 3, 4}}, 0, "$GPGGA,,,,,,0,,,,,,,\r\n"},
        // A coordinate that is no number leaves its field empty.
        {Fix(nan, 180.0), 1, "$GPGGA,010203.004,,N,18000.000000,E,1,,,,,,,\r\n"},
    };
    CGpsController* gps = IdleController();
    EXPECT_EQ(gps->MakeGpsPacket(), nullptr);  // no sentence yet
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.sentence);
        EXPECT_EQ(gps->FormatGga(c.record), c.result);
        CCtpDataGps* packet = gps->MakeGpsPacket();
        ASSERT_NE(packet, nullptr);
        EXPECT_EQ(std::string(packet->GetText()), c.sentence);
        uint8_t frame[kCtpMaxFrameSize];
        EXPECT_EQ(CtpWriteFrame(*packet, 2, frame, sizeof frame), 6 + c.sentence.size());
        delete packet;
    }
}

TEST(GpsSentenceTest, PaddingBandsAtTheirEdges) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double packed;
        bool longitude;
        const char* text;
    } kCases[] = {
        {0.0, false, "0000.000000"},
        {9.99999, false, "0009.999990"},
        {10.0, false, "0010.000000"},
        {99.99999, false, "0099.999990"},
        {100.0, false, "0100.000000"},
        {999.99999, false, "0999.999990"},
        {1000.0, false, "1000.000000"},
        {9999.99, false, "9999.990000"},
        {10000.0, false, ""},
        {9.99999, true, "00009.999990"},
        {10.0, true, "00010.000000"},
        {99.99999, true, "00099.999990"},
        {100.0, true, "00100.000000"},
        {999.99, true, "00999.990000"},
        {1000.0, true, "01000.000000"},
        {9999.99, true, "09999.990000"},
        {10000.0, true, "10000.000000"},
        {99999.99, true, "99999.990000"},
        {100000.0, true, ""},
        {nan, true, ""},
        {-1.0, false, ""},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(CGpsController::FormatCoordinate(c.packed, c.longitude), c.text)
            << c.packed << (c.longitude ? " longitude" : " latitude");
    }
    EXPECT_EQ(CGpsController::PackCoordinate(-139.25), 13915.0);
    EXPECT_EQ(CGpsController::PackCoordinate(0.5), 30.0);
}

TEST(GpsControllerStartTest, FailedCreationGivesMinusTwoAndAnInertButton) {
    CCameraState state;
    CConfigStore config;
    CGpsController gps(ControllerServices{nullptr, &state, &config});
    platform::FailNextCreations(1);
    EXPECT_EQ(gps.Start(), -2);
    gps.Request(platform::WindowHandle{});
    CameraStateSnapshot snapshot{};
    state.GetSnapshot(&snapshot);
    EXPECT_EQ(snapshot.gpsStatus, 0);
}

}  // namespace

TEST_F(GpsControllerTest, SwitchingOffWhileTheSwitchOnIsAnsweredStillSendsTheOffCommand) {
    // The camera takes its time over the switch-on; the user presses again meanwhile.
    cam_.AddFault(sim::Fault{
        .kind = sim::FaultKind::Late, .opcode = CTP_GPS_CMD, .times = 1, .delayMs = 400});
    gps_->Request(window_);
    ASSERT_TRUE(PumpUntil([&] { return Frames(CTP_GPS_CMD).size() == 1; }));
    gps_->Request(window_);
    ASSERT_TRUE(PumpUntil([&] { return Frames(CTP_GPS_CMD).size() == 2; }))
        << "the press made during the exchange was lost";
    EXPECT_EQ(Param(Frames(CTP_GPS_CMD)[1]), 1);
    PumpFor(2 * kIntervalReal);
    EXPECT_EQ(platform::OpenGpsDeviceCount(), 0u) << "the device stayed open with GPS off";
    EXPECT_EQ(GpsStatus(), 0);
    EXPECT_FALSE(cam_.GpsFeedOn());
    EXPECT_EQ(Frames(CTP_GPS_CMD).size(), 2u);
}
