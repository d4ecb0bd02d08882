// Each fault of the simulator does what it says, seen from the handset's end
// of the line; shaping holds the link to its rate and latency.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "sim/Camcorder.h"
#include "tests/sim/SimClient.h"

namespace {

using simtest::Bytes;
using simtest::Concat;
using simtest::kPatience;
using simtest::SimClient;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const Bytes kGetMode = {0x00, 0x01, 0x00, 0x06, 0x11, 0x01};
const Bytes kModeAnswer = {0x00, 0x01, 0x00, 0x0E, 0x21, 0x01, 0x00,
                           0x00, 0x01, 0x01, 0x00, 0x00, 0x05, 0x00};
const Bytes kDataInfo = {0x00, 0x04, 0x00, 0x06, 0x11, 0x04};
const Bytes kNoPicture = {0x00, 0x04, 0x00, 0x0C, 0x21, 0x04, 0, 0, 0, 0, 0, 0};

using SimFaults = simtest::SimTest;

TEST_F(SimFaults, SilenceSwallowsTheAnswersOfItsOpcodeOnly) {
    cam.AddFault({.kind = sim::FaultKind::Silence, .opcode = sim::CTP_GET_MODE, .times = 1});
    // An error report gets no answer anyway and leaves the fault in force.
    client->Send({0x00, 0x01, 0x00, 0x08, 0xFF, 0x01, 0x00, 0x01});
    client->Send(kGetMode);
    ASSERT_TRUE(cam.WaitForFrames(2, kPatience));
    // Whatever comes next answers the next request: the mode query got nothing.
    EXPECT_EQ(client->Exchange(kDataInfo), kNoPicture);
    EXPECT_EQ(client->Exchange(kGetMode), kModeAnswer);  // used up
    EXPECT_TRUE(cam.Faults().empty());
}

TEST_F(SimFaults, SilenceWithoutOpcodeOrCountLastsUntilCleared) {
    cam.AddFault({.kind = sim::FaultKind::Silence});
    client->Send(kGetMode);
    client->Send(kDataInfo);
    client->Send(kGetMode);
    ASSERT_TRUE(cam.WaitForFrames(3, kPatience));
    cam.ClearFaults();
    EXPECT_EQ(client->Exchange(kDataInfo), kNoPicture);
}

TEST_F(SimFaults, LateAnswersLeaveAfterTheDelay) {
    constexpr auto kDelay = 400ms;
    cam.AddFault({.kind = sim::FaultKind::Late, .times = 1, .delayMs = 400});
    const auto start = Clock::now();
    EXPECT_EQ(client->Exchange(kGetMode), kModeAnswer);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, kDelay);
    EXPECT_LT(took, kDelay + kPatience);
    // A late answer does not hold back the answers behind it.
    cam.AddFault({.kind = sim::FaultKind::Late, .opcode = sim::CTP_GET_MODE, .delayMs = 60'000});
    client->Send(kGetMode);
    EXPECT_EQ(client->Exchange(kDataInfo), kNoPicture);
}

TEST_F(SimFaults, GarbageGoesOutBeforeTheAnswer) {
    cam.AddFault({.kind = sim::FaultKind::Garbage, .times = 1, .bytes = {0xA5, 0x5A, 0x01}});
    client->Send(kGetMode);
    EXPECT_EQ(client->Read(3 + 14), Concat({{0xA5, 0x5A, 0x01}, kModeAnswer}));
    cam.AddFault({.kind = sim::FaultKind::Garbage, .times = 1});
    client->Send(kGetMode);
    EXPECT_EQ(client->Read(6 + 14), Concat({Bytes(6, 0xEE), kModeAnswer}));
}

TEST_F(SimFaults, WrongChannelAnswersElsewhere) {
    cam.AddFault({.kind = sim::FaultKind::WrongChannel, .times = 1, .channel = 3});
    Bytes expected = kModeAnswer;
    expected[1] = 3;
    EXPECT_EQ(client->Exchange(kGetMode), expected);
    // Without a channel: the next one, 4 wrapping to 1; paced answers as well.
    cam.SetModePollInterval(0);
    cam.AddFault({.kind = sim::FaultKind::WrongChannel, .times = 2});
    EXPECT_EQ(client->Exchange(kDataInfo),
              Concat({{0x00, 0x01}, Bytes(kNoPicture.begin() + 2, kNoPicture.end())}));
    expected[1] = 2;
    EXPECT_EQ(client->Exchange({0x00, 0x01, 0x00, 0x06, 0x11, 0x02}), expected);
}

TEST_F(SimFaults, CutSendsOnlyTheStartOfTheAnswer) {
    cam.AddFault({.kind = sim::FaultKind::Cut, .times = 1, .cutAt = 5});
    client->Send(kDataInfo);
    ASSERT_TRUE(cam.WaitForFrames(1, kPatience));
    // The rest never comes: the next answer follows the five bytes directly.
    client->Send(kGetMode);
    EXPECT_EQ(client->Read(5 + 14), Concat({{0x00, 0x04, 0x00, 0x0C, 0x21}, kModeAnswer}));
    // By default half the frame goes out.
    cam.AddFault({.kind = sim::FaultKind::Cut, .times = 1});
    client->Send(kGetMode);
    ASSERT_TRUE(cam.WaitForFrames(3, kPatience));
    client->Send(kDataInfo);
    EXPECT_EQ(client->Read(7 + 12),
              Concat({Bytes(kModeAnswer.begin(), kModeAnswer.begin() + 7), kNoPicture}));
}

TEST_F(SimFaults, DropLinkFaultClosesTheLineInsteadOfAnswering) {
    cam.AddFault({.kind = sim::FaultKind::DropLink, .opcode = sim::CTP_CAMCMD});
    EXPECT_EQ(client->Exchange(kGetMode), kModeAnswer);
    client->Send({0x00, 0x03, 0x00, 0x0A, 0x10, 0x01, 0x00, 0x00, 0x00, 0x00});
    EXPECT_TRUE(client->SeesHangUp());
    EXPECT_TRUE(cam.WaitFor([&] { return !cam.LinkUp(); }, kPatience));
    EXPECT_EQ(cam.CountReceived(sim::CTP_CAMCMD), 1u);
}

TEST_F(SimFaults, DropLinkNowHangsUpAWaitingReader) {
    cam.DropLink();
    EXPECT_TRUE(client->SeesHangUp());
    EXPECT_TRUE(cam.WaitFor([&] { return !cam.LinkUp(); }, kPatience));
    cam.Stop();  // after a drop, stopping still ends cleanly
}

TEST_F(SimFaults, RestoreAfterADropServesANewLineWhereTheLinksPoint) {
    const std::string link = ::testing::TempDir() + "restore-link-" + std::to_string(::getpid()) +
                             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
    ASSERT_TRUE(cam.LinkAs(link));
    EXPECT_FALSE(cam.RestoreLink()) << "the line is up";
    const std::string oldLine = cam.SlavePath();
    cam.DropLink();
    EXPECT_TRUE(client->SeesHangUp());
    ASSERT_TRUE(cam.RestoreLink());
    EXPECT_TRUE(cam.LinkUp());
    EXPECT_NE(cam.SlavePath(), oldLine);
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), cam.SlavePath());
    // The camera answers on the new line as before, state and record kept.
    SimClient again(link);
    EXPECT_EQ(again.Exchange(kGetMode), kModeAnswer);
    EXPECT_EQ(cam.CountReceived(sim::CTP_GET_MODE), 1u);
    // And it can be dropped and restored again.
    cam.DropLink();
    EXPECT_TRUE(again.SeesHangUp());
    EXPECT_TRUE(cam.RestoreLink());
    cam.Stop();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST_F(SimFaults, TheFirstMatchingFaultWins) {
    cam.AddFault(
        {.kind = sim::FaultKind::Garbage, .opcode = sim::CTP_GET_DATA_INFO, .bytes = {0x42}});
    cam.AddFault({.kind = sim::FaultKind::Silence});
    client->Send(kGetMode);  // silenced
    client->Send(kDataInfo);
    EXPECT_EQ(client->Read(1 + 12, kPatience), Concat({{0x42}, kNoPicture})) << "only info";
    ASSERT_EQ(cam.CountReceived(sim::CTP_GET_MODE), 1u);
}

// Pipelines block requests for the held still and measures the pace of the
// answers from the handset's end, from before the requests leave to the last
// byte. The shaper lets no byte out before its time on the link, counted from
// when the requests arrive at the earliest, so on this span a busy machine can
// only make the pace slower, never faster.
double MeasuredRate(sim::Camcorder& cam, const SimClient& client, int rounds) {
    cam.SetMode(3);
    if (client.Exchange({0x00, 0x04, 0x00, 0x0A, 0x10, 0x03, 0x00, 0x02, 0x03, 0x00}).at(7) != 0) {
        return 0;
    }
    const size_t size = cam.HeldImage().size();
    const size_t blocks = (size + 10239) / 10240;
    Bytes requests;
    for (int r = 0; r < rounds; ++r) {
        for (size_t n = 1; n <= blocks; ++n) {
            requests.insert(requests.end(),
                            {0x00, 0x04, 0x00, 0x08, 0x11, 0x03, 0x00, static_cast<uint8_t>(n)});
        }
    }
    const size_t total = static_cast<size_t>(rounds) * (blocks * 8 + size);
    const auto from = Clock::now();
    client.Send(requests);
    const Bytes answers = client.Read(total, 60s);
    const double seconds = std::chrono::duration<double>(Clock::now() - from).count();
    EXPECT_EQ(answers.size(), total);
    return static_cast<double>(answers.size()) / seconds;
}

TEST_F(SimFaults, ShapingHoldsTheThroughputToTheRate) {
    for (const uint32_t rate : {100'000u, 250'000u}) {
        SCOPED_TRACE(testing::Message() << rate << " bytes per second");
        cam.SetShaping({.on = true, .bytesPerSecond = rate, .latencyMs = 10});
        const double measured = MeasuredRate(cam, *client, static_cast<int>(rate / 50'000));
        std::printf("shaped at %u B/s: measured %.0f B/s\n", rate, measured);
        // Never faster than the rate (the margin covers the shaper's few
        // milliseconds of catch-up); slower only as much as a loaded machine
        // under a sanitizer can make it, far from a broken shaper's pace.
        EXPECT_LE(measured, rate * 1.05);
        EXPECT_GE(measured, rate * 0.2);
    }
    // Unshaped, the same transfer goes well past the faster rate.
    cam.SetShaping({});
    EXPECT_GT(MeasuredRate(cam, *client, 5), 250'000 * 1.05);
}

TEST_F(SimFaults, ShapingAddsTheLatencyEachWay) {
    // Long enough that the unshaped exchange below stays clear of it on a
    // loaded machine.
    cam.SetShaping({.on = true, .bytesPerSecond = 1'000'000, .latencyMs = 400});
    const auto start = Clock::now();
    EXPECT_EQ(client->Exchange(kGetMode), kModeAnswer);
    const auto took = Clock::now() - start;
    EXPECT_GE(took, 800ms);
    EXPECT_LT(took, 800ms + kPatience);
    cam.SetShaping({});
    const auto quick = Clock::now();
    EXPECT_EQ(client->Exchange(kGetMode), kModeAnswer);
    EXPECT_LT(Clock::now() - quick, 800ms) << "shaping off, no latency";
}

}  // namespace
