// The mode controller against the simulator: the handshake, the endless
// poll once the main screen exists, and what each answer leaves in the
// camera state before the window is told.
#include <gtest/gtest.h>

#include <thread>

#include "controllers/CamModeController.h"
#include "ctp/CtpOpcodes.h"
#include "platform/kernel/Kernel.h"
#include "resources/ResourceIds.h"
#include "tests/controllers/ControllerFixture.h"

namespace controllertest {
namespace {

const Bytes kGetMode = {0x00, 0x01, 0x00, 0x06, 0x11, 0x01};
const Bytes kModePoll = {0x00, 0x01, 0x00, 0x06, 0x11, 0x02};
const Bytes kErrorReportOn1 = {0x00, 0x01, 0x00, 0x08, 0xFF, 0x01, 0x00, 0x01};

class CamModeControllerTest : public ControllerFixture {
protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        controller_ = KeepForever(new CCamModeController(Services()));
        ASSERT_EQ(controller_->Start(), 1);
        // The state as the window sees it when told of a change.
        onMessage_ = [this](uint32_t message) {
            if (message == WM_CAMERA_STATUS) {
                CameraStateSnapshot s{};
                state_->GetSnapshot(&s);
                seen_.push_back(Values(s));
            }
        };
    }

    CCamModeController* controller_ = nullptr;
    std::vector<std::vector<uint16_t>> seen_;
};

struct AnswerCase {
    const char* name;
    sim::CameraStatus camera;
    Bytes answer;                   // the frame the camera sends for it
    std::vector<uint16_t> initial;  // mode, state, ac, battery, word, level before
    std::vector<uint16_t> stored;   // the same after the answer
};
void PrintTo(const AnswerCase& c, std::ostream* os) {
    *os << c.name;
}

class ModeAnswerTest : public CamModeControllerTest,
                       public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(ModeAnswerTest, AnswerIsStoredBeforeTheWindowIsTold) {
    const AnswerCase& c = GetParam();
    cam_.SetStatus(c.camera);
    state_->SetMode(c.initial[0]);
    state_->SetOperationState(c.initial[1]);
    state_->SetAcPower(c.initial[2]);
    state_->SetBatteryAttached(c.initial[3]);
    state_->SetResponseWord(c.initial[4]);
    state_->SetBatteryLevel(c.initial[5]);
    controller_->SetWindow(window_);
    ASSERT_TRUE(PumpUntil([&] { return !seen_.empty(); }));

    EXPECT_EQ(ReceivedOn(1).at(0), kModePoll);
    ASSERT_FALSE(SentOn(1).empty());
    EXPECT_EQ(SentOn(1)[0].bytes, c.answer);
    std::vector<uint16_t> expected = c.stored;
    expected.insert(expected.end(), {0, 0, 0});  // the handset's own flags stay
    EXPECT_EQ(seen_[0], expected);
}

INSTANTIATE_TEST_SUITE_P(Answers, ModeAnswerTest,
                         ::testing::Values(AnswerCase{"AllSixValues",
                                                      {2, 1, 1, 0, 0x1234, 5, 0},
                                                      {0x00, 0x01, 0x00, 0x0E, 0x21, 0x01, 0x02,
                                                       0x01, 0x01, 0x00, 0x12, 0x34, 0x05, 0x00},
                                                      {0, 0, 0, 0, 0, 0},
                                                      {2, 1, 1, 0, 0x1234, 5}},
                                           AnswerCase{"ModeFourKeepsTheModeOnly",
                                                      {4, 0, 0, 1, 0xBEEF, 2, 7},
                                                      {0x00, 0x01, 0x00, 0x0E, 0x21, 0x01, 0x04,
                                                       0x00, 0x00, 0x01, 0xBE, 0xEF, 0x02, 0x07},
                                                      {3, 1, 1, 0, 0, 5},
                                                      {3, 0, 0, 1, 0xBEEF, 2}},
                                           AnswerCase{"EveryByteOutOfRange",
                                                      {0xFF, 3, 2, 0x80, 0xFFFF, 6, 0},
                                                      {0x00, 0x01, 0x00, 0x0E, 0x21, 0x01, 0xFF,
                                                       0x03, 0x02, 0x80, 0xFF, 0xFF, 0x06, 0x00},
                                                      {1, 2, 1, 1, 7, 3},
                                                      {1, 2, 1, 1, 0xFFFF, 3}}),
                         [](const ::testing::TestParamInfo<AnswerCase>& row) {
                             return row.param.name;
                         });

TEST_F(CamModeControllerTest, QueryModeAgainstASilentCameraReturns0AfterSixSeconds) {
    platform::SetTimeScale(10.0);
    cam_.AddFault({.kind = sim::FaultKind::Silence, .opcode = sim::CTP_GET_MODE});
    const uint64_t before = platform::TickCountMs();
    EXPECT_EQ(controller_->QueryMode(), 0);
    const uint64_t elapsed = platform::TickCountMs() - before;
    EXPECT_GE(elapsed, 5950u);
    EXPECT_LT(elapsed, 11000u) << "more than the one time-out passed";

    // A query answered afterwards shows what went out in between: nothing
    // but the one error report.
    cam_.ClearFaults();
    EXPECT_EQ(controller_->QueryMode(), 1);
    std::vector<Bytes> all;
    for (const sim::WireFrame& f : cam_.ReceivedFrames()) {
        all.push_back(f.bytes);
    }
    EXPECT_EQ(all, (std::vector<Bytes>{kGetMode, kErrorReportOn1, kGetMode}));
    EXPECT_TRUE(messages_.empty());
}

TEST_F(CamModeControllerTest, NoPollBeforeSetWindowThenPollsPacedByTheAnswers) {
    cam_.SetModePollInterval(100);
    cam_.SetStatus({2, 0, 1, 1, 0, 4, 0});
    ASSERT_EQ(controller_->QueryMode(), 1);
    CameraStateSnapshot s{};
    state_->GetSnapshot(&s);
    EXPECT_EQ(s.mode, 2);
    EXPECT_EQ(s.batteryLevel, 4);
    // The worker stays suspended: only the handshake went out.
    PumpFor(600ms);
    EXPECT_EQ(ReceivedOn(1), (std::vector<Bytes>{kGetMode}));
    EXPECT_TRUE(messages_.empty()) << "no window to tell yet";

    controller_->SetWindow(window_);
    ASSERT_TRUE(PumpUntil([&] { return ReceivedWith(CTP_MODE_POLL).size() >= 4; }));
    std::vector<sim::WireFrame> polls;
    for (const sim::WireFrame& f : cam_.ReceivedFrames()) {
        if (f.Opcode() == sim::CTP_MODE_POLL) {
            polls.push_back(f);
            EXPECT_EQ(f.bytes, kModePoll);
        }
    }
    const std::vector<sim::WireFrame> answers = SentOn(1);  // [0] answers the handshake
    for (size_t i = 1; i < polls.size(); ++i) {
        ASSERT_GT(answers.size(), i);
        EXPECT_GE(polls[i].atMs, answers[i].atMs) << "poll " << i << " before the answer";
    }
    EXPECT_GE(seen_.size(), 3u);
    EXPECT_TRUE(cam_.ErrorReports().empty()) << "an answer that came in time was taken as lost";
}

TEST_F(CamModeControllerTest, ALostPollAnswerIsReportedAndPollingGoesOn) {
    platform::SetTimeScale(10.0);  // the TimeOut setting's second and the pause after it
    cam_.SetModePollInterval(50);
    struct Row {
        const char* name;
        sim::Fault fault;
    };
    const Row rows[] = {
        {"no answer", {.kind = sim::FaultKind::Silence, .opcode = sim::CTP_MODE_POLL, .times = 1}},
        {"answer cut", {.kind = sim::FaultKind::Cut, .opcode = sim::CTP_MODE_POLL, .times = 1}},
        {"answer on the wrong channel",
         {.kind = sim::FaultKind::WrongChannel, .opcode = sim::CTP_MODE_POLL, .times = 1}},
    };
    cam_.SetBatteryLevel(5);
    ASSERT_EQ(controller_->QueryMode(), 1);
    controller_->SetWindow(window_);
    uint8_t level = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ++level;
        const size_t reports = cam_.ErrorReports().size();
        cam_.AddFault(row.fault);
        ASSERT_TRUE(PumpUntil([&] { return cam_.ErrorReports().size() > reports; }))
            << "the lost answer was waited for without limit";
        EXPECT_EQ(cam_.ErrorReports().back().channel, 1);
        // Polling resumes and the indicators follow the camera again.
        cam_.SetBatteryLevel(level);
        ASSERT_TRUE(PumpUntil([&] {
            CameraStateSnapshot s{};
            state_->GetSnapshot(&s);
            return s.batteryLevel == level;
        })) << "the indicators stayed frozen";
    }
}

TEST_F(CamModeControllerTest, RequestThatCannotBeMadeFailsAfterThePause) {
    platform::SetTimeScale(10.0);
    const uint64_t before = platform::TickCountMs();
    EXPECT_EQ(controller_->GetCamMode(0x1234, 3), -1);  // no packet for this opcode
    const uint64_t elapsed = platform::TickCountMs() - before;
    EXPECT_GE(elapsed, 2950u);
    EXPECT_LT(elapsed, 6000u);
    // A query answered afterwards is the first frame on the line.
    EXPECT_EQ(controller_->QueryMode(), 1);
    const std::vector<sim::WireFrame> frames = cam_.ReceivedFrames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].bytes, kGetMode);
}

TEST_F(CamModeControllerTest, AnswersOfAnotherKindAreDroppedAndTheWaitGoesOn) {
    platform::SetTimeScale(10.0);  // the time-out and the pause after it
    state_->SetMode(1);
    state_->SetBatteryLevel(3);
    struct Row {
        const char* name;
        bool answerAfterwards;  // the mode answer follows the wrong ones
    };
    for (const Row& row : {Row{"the right answer follows", true}, Row{"it never does", false}}) {
        SCOPED_TRACE(row.name);
        cam_.ClearRecords();
        cam_.AddFault({.kind = sim::FaultKind::Silence, .opcode = sim::CTP_GET_MODE, .times = 1});
        std::thread camera([&] {
            if (cam_.WaitForFrames(1, 5s)) {
                // A status word and an image-size answer where the mode answer belongs.
                const uint8_t status[] = {0x00, 0x03};
                cam_.SendFrame(1, sim::CTP_2001, status);
                const uint8_t info[] = {0x00, 0x00, 0x01, 0xF4, 0x00, 0x01};
                cam_.SendFrame(1, sim::CTP_DATA_INFO, info);
                if (row.answerAfterwards) {
                    const uint8_t mode[] = {0x02, 0x01, 0x01, 0x00, 0x12, 0x34, 0x05, 0x00};
                    cam_.SendFrame(1, sim::CTP_CAM_MODE, mode);
                }
            }
        });
        const uint64_t before = platform::TickCountMs();
        const int result = controller_->GetCamMode(CTP_GET_MODE, 3);
        const uint64_t took = platform::TickCountMs() - before;
        camera.join();
        CameraStateSnapshot s{};
        state_->GetSnapshot(&s);
        if (row.answerAfterwards) {
            EXPECT_EQ(result, 1);
            EXPECT_LT(took, 3000u) << "the right answer was not taken when it came";
            EXPECT_EQ(s.mode, 2);
            EXPECT_EQ(s.batteryLevel, 5);
            EXPECT_TRUE(cam_.ErrorReports().empty());
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_GE(took, 3000u) << "a wrong answer cut the wait short";
            EXPECT_EQ(s.mode, 2) << "a wrong answer was read as a mode answer";
            EXPECT_EQ(cam_.ErrorReports().size(), 1u);
        }
    }
}

TEST_F(CamModeControllerTest, StartReportsMinus2WhenTheWorkerCannotBeCreated) {
    auto* controller = KeepForever(new CCamModeController(Services()));
    platform::FailNextCreations(1);
    EXPECT_EQ(controller->Start(), -2);
    platform::FailNextCreations(0);
    // Without a worker, SetWindow only stores the window.
    controller->SetWindow(window_);
    // Asked on the window's own thread, the message is handled at once.
    EXPECT_EQ(controller->QueryMode(), 1);
    EXPECT_EQ(seen_.size(), 1u) << "the handshake's answer is told once the window is known";
    EXPECT_TRUE(ReceivedWith(CTP_MODE_POLL).empty());
}

}  // namespace
}  // namespace controllertest
