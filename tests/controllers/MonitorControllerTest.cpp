// The monitor controller against the simulator: the frames of each live-view
// image on channel 4, the window messages, the image handed over, and how a
// run starts over or ends. Where a test needs answers of its own, the
// simulator leaves those requests unanswered and the test answers them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "controllers/MonitorController.h"
#include "ctp/CtpOpcodes.h"
#include "platform/kernel/Kernel.h"
#include "resources/ResourceIds.h"
#include "tests/controllers/ControllerFixture.h"

namespace controllertest {
namespace {

constexpr size_t kBlock = 10240;

Bytes ImageCommand(uint8_t param, uint8_t mode = 0, uint8_t state = 0) {
    return {0x00, 0x04, 0x00, 0x0A, 0x10, 0x03, 0x00, param, mode, state};
}
const Bytes kGetDataInfo = {0x00, 0x04, 0x00, 0x06, 0x11, 0x04};
Bytes GetBlock(uint16_t number) {
    return {0x00,
            0x04,
            0x00,
            0x08,
            0x11,
            0x03,
            static_cast<uint8_t>(number >> 8),
            static_cast<uint8_t>(number)};
}
const Bytes kErrorReportOn4 = {0x00, 0x04, 0x00, 0x08, 0xFF, 0x01, 0x00, 0x01};

Bytes DataInfo(uint32_t size, uint16_t count) {
    return {static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16),
            static_cast<uint8_t>(size >> 8),  static_cast<uint8_t>(size),
            static_cast<uint8_t>(count >> 8), static_cast<uint8_t>(count)};
}
Bytes BlockBody(uint16_t number, const Bytes& data) {
    Bytes body(2 + data.size());
    body[0] = static_cast<uint8_t>(number >> 8);
    body[1] = static_cast<uint8_t>(number);
    std::copy(data.begin(), data.end(), body.begin() + 2);
    return body;
}
// Image bytes that differ from block to block.
// Picture bytes that differ from block to block, between the start and end
// markers of a JPEG image.
Bytes Pattern(size_t size) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) {
        b[i] = static_cast<uint8_t>(i * 7 + i / kBlock);
    }
    b[0] = 0xFF;
    b[1] = 0xD8;
    b[size - 2] = 0xFF;
    b[size - 1] = 0xD9;
    return b;
}

class MonitorControllerTest : public ControllerFixture {
protected:
    void SetUp() override {
        ControllerFixture::SetUp();
        // Answers the test gives itself may take a while under a sanitizer.
        config_->SetString("TimeOut", "0");
        controller_ = KeepForever(new CMonitorController(Services()));
        ASSERT_EQ(controller_->Start(), 1);
        onMessage_ = [this](uint32_t message) {
            if (message != WM_MONITOR_FRAME) {
                return;
            }
            framesAtImage_.push_back(ReceivedOn(4).size());
            if (!takeImages_) {
                return;
            }
            uint8_t* image = nullptr;
            uint32_t size = 0;
            controller_->TakeImage(&image, &size);
            images_.emplace_back(image, image + size);
            std::free(image);
        };
    }

    // The camera leaves the next `times` requests with `opcode` to the test.
    void LeaveToTest(uint16_t opcode, uint32_t times) {
        cam_.AddFault({.kind = sim::FaultKind::Silence, .opcode = opcode, .times = times});
    }
    bool WaitForRequests(uint16_t opcode, size_t count) {
        return PumpUntil([&] { return ReceivedWith(opcode).size() >= count; });
    }
    void Answer(uint16_t opcode, const Bytes& body) { cam_.SendFrame(4, opcode, body); }

    bool Active() {
        CameraStateSnapshot s{};
        state_->GetSnapshot(&s);
        return s.monitorActive != 0;
    }
    size_t EndCommands() const {
        size_t n = 0;
        for (const Bytes& f : ReceivedWith(CTP_IMAGE_CMD)) {
            n += f[7] == 1 ? 1 : 0;
        }
        return n;
    }
    // Switches live view off and waits for the run's end command, so that no
    // run outlives the test.
    void SwitchOffAndWaitForEnd() {
        const size_t before = EndCommands();
        if (Active()) {
            controller_->Request(window_);
        }
        ASSERT_TRUE(PumpUntil([&] { return EndCommands() > before; }));
    }

    CMonitorController* controller_ = nullptr;
    bool takeImages_ = true;
    std::vector<Bytes> images_;
    std::vector<size_t> framesAtImage_;  // channel-4 frames seen when each image was told
};

struct BlockCase {
    const char* name;
    uint32_t size;
    uint16_t blocks;
};
void PrintTo(const BlockCase& c, std::ostream* os) {
    *os << c.name;
}

class MonitorBlocksTest : public MonitorControllerTest,
                          public ::testing::WithParamInterface<BlockCase> {};

TEST_P(MonitorBlocksTest, ImageIsFetchedInWholeBlocksAndHandedOverWithItsSize) {
    const BlockCase& c = GetParam();
    const Bytes image = Pattern(c.size);
    LeaveToTest(sim::CTP_GET_DATA_INFO, 1);
    LeaveToTest(sim::CTP_GET_IMAGE_DATA, c.blocks);

    uint8_t* nothing = reinterpret_cast<uint8_t*>(1);
    uint32_t nothingSize = 1;
    controller_->TakeImage(&nothing, &nothingSize);
    EXPECT_EQ(nothing, nullptr);
    EXPECT_EQ(nothingSize, 0u);

    controller_->Request(window_);
    EXPECT_EQ(messages_, (std::vector<uint32_t>{WM_MONITOR_STARTING}));
    EXPECT_TRUE(Active());
    ASSERT_TRUE(WaitForRequests(CTP_GET_DATA_INFO, 1));
    Answer(sim::CTP_DATA_INFO, DataInfo(c.size, 1));
    for (uint16_t n = 1; n <= c.blocks; ++n) {
        ASSERT_TRUE(WaitForRequests(CTP_GET_IMAGE_DATA, n));
        const size_t from = (n - 1u) * kBlock;
        const size_t count = std::min(kBlock, c.size - from);
        Answer(sim::CTP_IMAGE_DATA,
               BlockBody(n, Bytes(image.begin() + static_cast<long>(from),
                                  image.begin() + static_cast<long>(from + count))));
    }
    ASSERT_TRUE(PumpUntil([&] { return !images_.empty(); }));
    // The next image starts with its own command, not with another block.
    ASSERT_TRUE(PumpUntil([&] { return ReceivedOn(4).size() >= 3u + c.blocks; }));

    std::vector<Bytes> expected = {ImageCommand(0), kGetDataInfo};
    for (uint16_t n = 1; n <= c.blocks; ++n) {
        expected.push_back(GetBlock(n));
    }
    expected.push_back(ImageCommand(0));
    std::vector<Bytes> frames = ReceivedOn(4);
    frames.resize(expected.size());
    EXPECT_EQ(frames, expected);
    ASSERT_GE(messages_.size(), 2u);
    EXPECT_EQ(messages_[1], WM_MONITOR_FRAME);
    EXPECT_EQ(framesAtImage_[0], 2u + c.blocks) << "told before the last block came";
    EXPECT_EQ(images_[0].size(), c.size);
    EXPECT_TRUE(images_[0] == image);
    SwitchOffAndWaitForEnd();
}

INSTANTIATE_TEST_SUITE_P(Sizes, MonitorBlocksTest,
                         ::testing::Values(BlockCase{"OneWholeBlock", 10240, 1},
                                           BlockCase{"OneByteMore", 10241, 2},
                                           BlockCase{"OneAndAHalfBlocks", 15360, 2}),
                         [](const ::testing::TestParamInfo<BlockCase>& row) {
                             return row.param.name;
                         });

struct StartOverCase {
    const char* name;
    struct Step {
        uint16_t request;
        uint16_t reply;
        Bytes body;
    };
    std::vector<Step> script;
    std::vector<Bytes> frames;  // on channel 4, up to the new start
};
void PrintTo(const StartOverCase& c, std::ostream* os) {
    *os << c.name;
}

class MonitorStartOverTest : public MonitorControllerTest,
                             public ::testing::WithParamInterface<StartOverCase> {};

TEST_P(MonitorStartOverTest, RunStartsOverWithANewImageCommand) {
    const StartOverCase& c = GetParam();
    for (const StartOverCase::Step& step : c.script) {
        LeaveToTest(step.request, 1);
    }
    controller_->Request(window_);
    for (const StartOverCase::Step& step : c.script) {
        ASSERT_TRUE(WaitForRequests(step.request, 1));
        Answer(step.reply, step.body);
    }
    ASSERT_TRUE(PumpUntil([&] { return ReceivedOn(4).size() >= c.frames.size(); }));
    std::vector<Bytes> frames = ReceivedOn(4);
    frames.resize(c.frames.size());
    EXPECT_EQ(frames, c.frames);

    // The run goes on with the camera's own picture, told only after the new start.
    ASSERT_TRUE(PumpUntil([&] { return !images_.empty(); }));
    EXPECT_GT(framesAtImage_[0], c.frames.size());
    ASSERT_GE(images_[0].size(), 2u);
    EXPECT_EQ(images_[0][0], 0xFF);
    EXPECT_EQ(images_[0][1], 0xD8) << "the camera's JPEG, not the dropped bytes";
    EXPECT_EQ(CountMessages(WM_MONITOR_STOPPED), 0u);
    SwitchOffAndWaitForEnd();
}

INSTANTIATE_TEST_SUITE_P(
    Answers, MonitorStartOverTest,
    ::testing::Values(
        StartOverCase{"DataCountZero",
                      {{sim::CTP_GET_DATA_INFO, sim::CTP_DATA_INFO, DataInfo(15360, 0)}},
                      {ImageCommand(0), kGetDataInfo, ImageCommand(0)}},
        StartOverCase{"DataSizeZero",
                      {{sim::CTP_GET_DATA_INFO, sim::CTP_DATA_INFO, DataInfo(0, 1)}},
                      {ImageCommand(0), kGetDataInfo, ImageCommand(0)}},
        StartOverCase{"CommandRefused",
                      {{sim::CTP_IMAGE_CMD, sim::CTP_2001, {0x00, 0x01}}},
                      {ImageCommand(0), ImageCommand(0)}},
        StartOverCase{"BlockWithoutData",
                      {{sim::CTP_GET_DATA_INFO, sim::CTP_DATA_INFO, DataInfo(15360, 1)},
                       {sim::CTP_GET_IMAGE_DATA, sim::CTP_IMAGE_DATA, {0x00, 0x01}}},
                      {ImageCommand(0), kGetDataInfo, GetBlock(1), ImageCommand(0)}}),
    [](const ::testing::TestParamInfo<StartOverCase>& row) { return row.param.name; });

// Replies that do not answer the request in hand come before the right one:
// each is dropped and the wait goes on, within the same time-out.
struct StrayCase {
    const char* name;
    uint16_t before;  // the request the stray reply arrives for
    uint16_t strayOpcode;
    Bytes strayBody;
};
void PrintTo(const StrayCase& c, std::ostream* os) {
    *os << c.name;
}

class MonitorStrayReplyTest : public MonitorControllerTest,
                              public ::testing::WithParamInterface<StrayCase> {};

TEST_P(MonitorStrayReplyTest, AStrayReplyIsNotTakenForTheAnswer) {
    const StrayCase& c = GetParam();
    config_->SetString("TimeOut", "5");
    const Bytes image = Pattern(15360);
    LeaveToTest(sim::CTP_IMAGE_CMD, 1);
    LeaveToTest(sim::CTP_GET_DATA_INFO, 1);
    LeaveToTest(sim::CTP_GET_IMAGE_DATA, 2);
    controller_->Request(window_);
    auto answer = [&](uint16_t request, size_t nth, uint16_t opcode, const Bytes& body) {
        ASSERT_TRUE(WaitForRequests(request, nth));
        if (request == c.before && nth == 1) {
            Answer(c.strayOpcode, c.strayBody);
        }
        Answer(opcode, body);
    };
    answer(sim::CTP_IMAGE_CMD, 1, sim::CTP_2001, {0x00, 0x00});
    answer(sim::CTP_GET_DATA_INFO, 1, sim::CTP_DATA_INFO, DataInfo(15360, 1));
    answer(sim::CTP_GET_IMAGE_DATA, 1, sim::CTP_IMAGE_DATA,
           BlockBody(1, Bytes(image.begin(), image.begin() + kBlock)));
    answer(sim::CTP_GET_IMAGE_DATA, 2, sim::CTP_IMAGE_DATA,
           BlockBody(2, Bytes(image.begin() + kBlock, image.end())));
    ASSERT_TRUE(PumpUntil([&] { return !images_.empty(); }));
    EXPECT_TRUE(images_[0] == image) << "the stray reply went into the picture";
    EXPECT_EQ(framesAtImage_[0], 4u) << "a step was repeated";
    EXPECT_TRUE(cam_.ErrorReports().empty());
    SwitchOffAndWaitForEnd();
}

INSTANTIATE_TEST_SUITE_P(
    Replies, MonitorStrayReplyTest,
    ::testing::Values(StrayCase{"LateBlockWhileBlock1IsAwaited", sim::CTP_GET_IMAGE_DATA,
                                sim::CTP_IMAGE_DATA, BlockBody(2, Bytes(kBlock, 0x55))},
                      StrayCase{"DataInfoWhileABlockIsAwaited", sim::CTP_GET_IMAGE_DATA,
                                sim::CTP_DATA_INFO, DataInfo(999, 1)},
                      StrayCase{"BlockWhileTheCommandStatusIsAwaited", sim::CTP_IMAGE_CMD,
                                sim::CTP_IMAGE_DATA, BlockBody(0, {})},
                      StrayCase{"ModeAnswerWhileTheSizeIsAwaited",
                                sim::CTP_GET_DATA_INFO,
                                sim::CTP_CAM_MODE,
                                {0, 0, 1, 1, 0, 0, 5, 0}}),
    [](const ::testing::TestParamInfo<StrayCase>& row) { return row.param.name; });

TEST_F(MonitorControllerTest, BytesThatAreNotAJpegImageAreNeverShown) {
    // Whole blocks that do not start and end as a JPEG image does: dropped,
    // and the run asks for a new picture.
    Bytes notJpeg = Pattern(3000);
    notJpeg[2999] = 0x00;
    LeaveToTest(sim::CTP_GET_DATA_INFO, 1);
    LeaveToTest(sim::CTP_GET_IMAGE_DATA, 1);
    controller_->Request(window_);
    ASSERT_TRUE(WaitForRequests(CTP_GET_DATA_INFO, 1));
    Answer(sim::CTP_DATA_INFO, DataInfo(3000, 1));
    ASSERT_TRUE(WaitForRequests(CTP_GET_IMAGE_DATA, 1));
    Answer(sim::CTP_IMAGE_DATA, BlockBody(1, notJpeg));
    // The camera's own next picture is the first one shown.
    ASSERT_TRUE(PumpUntil([&] { return !images_.empty(); }));
    EXPECT_EQ(images_[0][0], 0xFF);
    EXPECT_EQ(images_[0][1], 0xD8);
    EXPECT_NE(images_[0].size(), 3000u);
    EXPECT_GT(framesAtImage_[0], 4u) << "the broken picture was shown";
    SwitchOffAndWaitForEnd();
}

TEST_F(MonitorControllerTest, SwitchedOffDuringBlock2Of3TheRunEndsAfterThatBlock) {
    LeaveToTest(sim::CTP_GET_DATA_INFO, 1);
    LeaveToTest(sim::CTP_GET_IMAGE_DATA, 2);
    const Bytes image = Pattern(3 * kBlock - 5000);
    controller_->Request(window_);
    ASSERT_TRUE(WaitForRequests(CTP_GET_DATA_INFO, 1));
    Answer(sim::CTP_DATA_INFO, DataInfo(static_cast<uint32_t>(image.size()), 1));
    ASSERT_TRUE(WaitForRequests(CTP_GET_IMAGE_DATA, 1));
    Answer(sim::CTP_IMAGE_DATA, BlockBody(1, Bytes(image.begin(), image.begin() + kBlock)));
    ASSERT_TRUE(WaitForRequests(CTP_GET_IMAGE_DATA, 2));

    controller_->Request(window_);  // off while block 2 is under way
    EXPECT_FALSE(Active());
    EXPECT_EQ(messages_, (std::vector<uint32_t>{WM_MONITOR_STARTING, WM_MONITOR_STOPPED}));
    Answer(sim::CTP_IMAGE_DATA,
           BlockBody(2, Bytes(image.begin() + kBlock, image.begin() + 2 * kBlock)));
    ASSERT_TRUE(PumpUntil([&] { return EndCommands() == 1; }));

    EXPECT_EQ(messages_,
              (std::vector<uint32_t>{WM_MONITOR_STARTING, WM_MONITOR_STOPPED, WM_MONITOR_STOPPED}));
    EXPECT_FALSE(Active());
    uint8_t* left = nullptr;
    uint32_t leftSize = 7;
    controller_->TakeImage(&left, &leftSize);
    EXPECT_EQ(left, nullptr) << "the partial image is not handed out";
    EXPECT_EQ(leftSize, 0u);
    // The next run's first frame follows the end command: nothing of the
    // stopped run went out in between.
    controller_->Request(window_);
    ASSERT_TRUE(PumpUntil([&] { return ReceivedOn(4).size() >= 6; }));
    const std::vector<Bytes> frames = ReceivedOn(4);
    EXPECT_EQ(std::vector<Bytes>(frames.begin(), frames.begin() + 6),
              (std::vector<Bytes>{ImageCommand(0), kGetDataInfo, GetBlock(1), GetBlock(2),
                                  ImageCommand(1), ImageCommand(0)}));
    SwitchOffAndWaitForEnd();
}

TEST_F(MonitorControllerTest, InStillPlaybackNothingGoesOutAndTheRunChecksOnceASecond) {
    platform::SetTimeScale(4.0);  // a second passes in 250 ms
    state_->SetMode(3);
    controller_->Request(window_);
    EXPECT_EQ(messages_, (std::vector<uint32_t>{WM_MONITOR_STARTING}));
    PumpFor(750ms);
    EXPECT_TRUE(ReceivedOn(4).empty());

    const auto allowed = std::chrono::steady_clock::now();
    state_->SetMode(0);
    ASSERT_TRUE(PumpUntil([&] { return !ReceivedOn(4).empty(); }));
    // Within the second of the pause (plus room for a busy machine).
    EXPECT_LT(std::chrono::steady_clock::now() - allowed, 250ms + 400ms);
    EXPECT_EQ(ReceivedOn(4)[0], ImageCommand(0));
    SwitchOffAndWaitForEnd();
}

class MonitorAbsurdSizeTest : public MonitorControllerTest,
                              public ::testing::WithParamInterface<uint32_t> {};

TEST_P(MonitorAbsurdSizeTest, SizeAboveTheBoundEndsTheRunWithoutFetching) {
    LeaveToTest(sim::CTP_GET_DATA_INFO, 1);
    controller_->Request(window_);
    ASSERT_TRUE(WaitForRequests(CTP_GET_DATA_INFO, 1));
    Answer(sim::CTP_DATA_INFO, DataInfo(GetParam(), 1));
    ASSERT_TRUE(PumpUntil([&] { return EndCommands() == 1; }));
    EXPECT_EQ(messages_, (std::vector<uint32_t>{WM_MONITOR_STARTING, WM_MONITOR_STOPPED}));
    EXPECT_FALSE(Active());
    // The next run's first frame follows the end command: no block was
    // fetched in between.
    controller_->Request(window_);
    ASSERT_TRUE(PumpUntil([&] { return ReceivedOn(4).size() >= 4; }));
    const std::vector<Bytes> frames = ReceivedOn(4);
    EXPECT_EQ(
        std::vector<Bytes>(frames.begin(), frames.begin() + 4),
        (std::vector<Bytes>{ImageCommand(0), kGetDataInfo, ImageCommand(1), ImageCommand(0)}));
    SwitchOffAndWaitForEnd();
}

INSTANTIATE_TEST_SUITE_P(Sizes, MonitorAbsurdSizeTest,
                         ::testing::Values(0xFFFFFFFFu, CMonitorController::kMaxImageBytes + 1));

TEST_F(MonitorControllerTest, ImageNotTakenIsReplacedByTheNextAndDroppedAtTheEnd) {
    takeImages_ = false;
    controller_->Request(window_);
    ASSERT_TRUE(PumpUntil([&] { return CountMessages(WM_MONITOR_FRAME) >= 2; }));
    // While the window handles the message the worker waits, so the image
    // stored is the one the camera holds now.
    Bytes taken;
    Bytes held;
    onMessage_ = [&](uint32_t message) {
        if (message == WM_MONITOR_FRAME && taken.empty()) {
            uint8_t* image = nullptr;
            uint32_t size = 0;
            controller_->TakeImage(&image, &size);
            taken.assign(image, image + size);
            std::free(image);
            held = cam_.HeldImage();
        }
    };
    ASSERT_TRUE(PumpUntil([&] { return !taken.empty(); }));
    EXPECT_TRUE(taken == held);
    takeImages_ = false;
    onMessage_ = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return CountMessages(WM_MONITOR_FRAME) >= 4; }));
    SwitchOffAndWaitForEnd();
    uint8_t* left = nullptr;
    uint32_t leftSize = 0;
    controller_->TakeImage(&left, &leftSize);
    EXPECT_EQ(left, nullptr);
    EXPECT_EQ(leftSize, 0u);
}

TEST_F(MonitorControllerTest, StepsServeTheCaptureActionTypeToo) {
    state_->SetMode(3);  // still playback: capture allowed, live view refused
    cam_.SetMode(3);
    EXPECT_EQ(controller_->SendCommand(ActionCapture, 2), 1);
    uint32_t size = 99;
    uint16_t count = 99;
    EXPECT_EQ(controller_->GetDataInfo(ActionCapture, &size, &count), 1);
    const Bytes held = cam_.HeldImage();
    ASSERT_FALSE(held.empty());
    EXPECT_EQ(size, held.size());
    EXPECT_EQ(count, 1);
    Bytes block(kBlock, 0xAA);
    EXPECT_EQ(controller_->GetImageData(ActionCapture, block.data(), 1), 1);
    const size_t inBlock = std::min(kBlock, held.size());
    EXPECT_TRUE(std::equal(held.begin(), held.begin() + static_cast<long>(inBlock), block.begin()));
    // A block the picture does not have carries no data.
    const auto past = static_cast<uint16_t>(held.size() / kBlock + 2);
    EXPECT_EQ(controller_->GetImageData(ActionCapture, block.data(), past), 0);
    // The camera refuses a live-view image in playback: its status word is 1.
    EXPECT_EQ(controller_->SendCommand(ActionCapture, 0), 0);
    EXPECT_EQ(controller_->SendCommand(ActionCapture, 3), 1);

    // The same steps as live view are refused by the state and send nothing.
    const size_t before = ReceivedOn(4).size();
    EXPECT_EQ(controller_->SendCommand(ActionMonitor, 0), 0);
    EXPECT_EQ(controller_->GetDataInfo(ActionMonitor, &size, &count), 0);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(controller_->GetImageData(ActionMonitor, block.data(), 1), 0);
    // An allowed step after them is the next frame on the line.
    EXPECT_EQ(controller_->SendCommand(ActionCapture, 3), 1);
    ASSERT_EQ(ReceivedOn(4).size(), before + 1) << "a refused step went out";

    EXPECT_EQ(ReceivedOn(4),
              (std::vector<Bytes>{ImageCommand(2, 3), kGetDataInfo, GetBlock(1), GetBlock(past),
                                  ImageCommand(0, 3), ImageCommand(3, 3), ImageCommand(3, 3)}));
}

struct SilentStepCase {
    const char* name;
    Bytes request;
};
void PrintTo(const SilentStepCase& c, std::ostream* os) {
    *os << c.name;
}

class MonitorSilentStepTest : public MonitorControllerTest,
                              public ::testing::WithParamInterface<SilentStepCase> {};

TEST_P(MonitorSilentStepTest, StepFailsAfterTimeOutWithOneErrorReport) {
    config_->SetString("TimeOut", "2");
    platform::SetTimeScale(10.0);
    cam_.AddFault({.kind = sim::FaultKind::Silence});
    const std::string step = GetParam().name;
    int result = -1;
    uint32_t size = 5;
    uint16_t count = 5;
    Bytes block(kBlock);
    const uint64_t before = platform::TickCountMs();
    if (step == "SendCommand") {
        result = controller_->SendCommand(ActionMonitor, 0);
    } else if (step == "GetDataInfo") {
        result = controller_->GetDataInfo(ActionMonitor, &size, &count);
        EXPECT_EQ(size, 0u);
        EXPECT_EQ(count, 0);
    } else {
        result = controller_->GetImageData(ActionMonitor, block.data(), 5);
    }
    EXPECT_EQ(result, 0);
    EXPECT_GE(platform::TickCountMs() - before, 1990u);
    ASSERT_TRUE(PumpUntil([&] { return ReceivedOn(4).size() >= 2; }));
    // A step answered afterwards shows that nothing else went out in between.
    cam_.ClearFaults();
    EXPECT_EQ(controller_->SendCommand(ActionMonitor, 0), 1);
    EXPECT_EQ(ReceivedOn(4),
              (std::vector<Bytes>{GetParam().request, kErrorReportOn4, ImageCommand(0)}));
}

INSTANTIATE_TEST_SUITE_P(Steps, MonitorSilentStepTest,
                         ::testing::Values(SilentStepCase{"SendCommand", ImageCommand(0)},
                                           SilentStepCase{"GetDataInfo", kGetDataInfo},
                                           SilentStepCase{"GetImageData", GetBlock(5)}),
                         [](const ::testing::TestParamInfo<SilentStepCase>& row) {
                             return row.param.name;
                         });

TEST_F(MonitorControllerTest, StartKeepsWhatItMadeWhenTheNextObjectCannotBeCreated) {
    auto* controller = KeepForever(new CMonitorController(Services()));
    // The event, the two locks and the thread, one after the other.
    for (int round = 0; round < 4; ++round) {
        platform::FailNextCreations(1);
        EXPECT_EQ(controller->Start(), -2) << round;
    }
    platform::FailNextCreations(0);
    ASSERT_EQ(controller->Start(), 1);
    state_->SetMode(3);  // the run waits without sending
    controller->Request(window_);
    EXPECT_EQ(messages_, (std::vector<uint32_t>{WM_MONITOR_STARTING}));
    controller->Request(window_);
    EXPECT_EQ(messages_, (std::vector<uint32_t>{WM_MONITOR_STARTING, WM_MONITOR_STOPPED}));
    state_->SetMode(0);
    // The worker ran: it ends the run it was started for.
    ASSERT_TRUE(PumpUntil([&] { return EndCommands() == 1; }));
    EXPECT_EQ(ReceivedOn(4), (std::vector<Bytes>{ImageCommand(1)}));
}

}  // namespace
}  // namespace controllertest
