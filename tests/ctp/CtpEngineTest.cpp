// The engine over real pseudo-terminals, with the test playing the camera.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/LinkLost.h"
#include "core/AppRegistry.h"
#include "ctp/CtpDataFactory.h"
#include "ctp/CtpEngine.h"
#include "platform/kernel/Kernel.h"
#include "platform/text/Text.h"
#include "platform/ui/MessageBox.h"
#include "testkit/PtyPair.h"
#include "testkit/PumpUntil.h"
#include "tests/ctp/CtpTestFrames.h"

using namespace ctptest;
using namespace std::chrono_literals;
using testsupport::PtyPair;
using testsupport::PumpUntil;

namespace {

// Engines run threads until the process ends, so they and their terminals are
// never freed; a global list keeps them reachable for the leak checker.
std::vector<void*>& Kept() {
    static auto* kept = new std::vector<void*>;
    return *kept;
}

// An engine whose reads the test can watch and hold: with the gate closed the
// receiver waits before its next read, so that bytes the peer writes meanwhile
// are all there when the read is made.
class ObservedEngine : public CCtpEngine {
public:
    void CloseGate() {
        std::lock_guard lock(lock_);
        open_ = false;
    }
    void OpenGate() {
        {
            std::lock_guard lock(lock_);
            open_ = true;
        }
        changed_.notify_all();
    }
    // True once the receiver waits at the closed gate.
    bool WaitParked() {
        std::unique_lock lock(lock_);
        return changed_.wait_for(lock, 10s, [&] { return parked_ && !open_; });
    }
    int Failures() {
        std::lock_guard lock(lock_);
        return static_cast<int>(failureTimes_.size());
    }
    std::chrono::steady_clock::duration FailureSpan(size_t from, size_t to) {
        std::lock_guard lock(lock_);
        return failureTimes_.at(to) - failureTimes_.at(from);
    }

protected:
    bool ReadPort(uint8_t* dest, uint32_t count, uint32_t* got) override {
        {
            std::unique_lock lock(lock_);
            parked_ = true;
            changed_.notify_all();
            changed_.wait(lock, [&] { return open_; });
            parked_ = false;
        }
        const bool ok = CCtpEngine::ReadPort(dest, count, got);
        if (!ok) {
            std::lock_guard lock(lock_);
            failureTimes_.push_back(std::chrono::steady_clock::now());
        }
        return ok;
    }

private:
    std::mutex lock_;
    std::condition_variable changed_;
    bool open_ = true;
    bool parked_ = false;
    std::vector<std::chrono::steady_clock::time_point> failureTimes_;
};

platform::SerialTimeouts EngineTimeouts() {
    platform::SerialTimeouts t;
    t.readIntervalMs = platform::SerialTimeouts::kNoIntervalLimit;
    t.readTotalConstantMs = 200;
    t.writeTotalConstantMs = 1000;
    return t;
}

bool operator==(const platform::SerialTimeouts& a, const platform::SerialTimeouts& b) {
    return a.readIntervalMs == b.readIntervalMs &&
           a.readTotalMultiplierMs == b.readTotalMultiplierMs &&
           a.readTotalConstantMs == b.readTotalConstantMs &&
           a.writeTotalMultiplierMs == b.writeTotalMultiplierMs &&
           a.writeTotalConstantMs == b.writeTotalConstantMs;
}

// One camera link: a terminal, the program's port on it and a descriptor the
// test uses to see how many bytes wait to be read.
struct Link {
    Link() : pty(new PtyPair), port(platform::SerialPort::Adopt(pty->OpenSlave())) {
        probe = pty->OpenSlave();
        Kept().push_back(pty);
        Kept().push_back(new platform::PortHandle(port));
    }
    size_t Queued() const {
        int n = 0;
        ::ioctl(probe, FIONREAD, &n);
        return static_cast<size_t>(n);
    }
    PtyPair* pty;
    platform::PortHandle port;
    int probe = -1;
};

ObservedEngine& NewEngine() {
    auto* engine = new ObservedEngine;
    Kept().push_back(engine);
    return *engine;
}

// Seconds of the (possibly scaled) clock that last about ten real seconds.
uint16_t Generous() {
    return static_cast<uint16_t>(std::min(65535.0, 10 * platform::TimeScale() + 1));
}

std::unique_ptr<CCtpData> Await(CCtpEngine& engine, int channel) {
    CCtpData* reply = nullptr;
    if (engine.Receive(channel, &reply, Generous()) != 1) {
        return nullptr;
    }
    return std::unique_ptr<CCtpData>(reply);
}

std::optional<Bytes> AwaitFrame(CCtpEngine& engine, int channel) {
    const auto reply = Await(engine, channel);
    if (reply == nullptr) {
        return std::nullopt;
    }
    return Frame(reply, channel);
}

// True when nothing arrives on `channel` within one (scaled) second.
bool NothingOn(CCtpEngine& engine, int channel) {
    CCtpData* reply = nullptr;
    const int result = engine.Receive(channel, &reply, 1);
    delete reply;
    return result == 0;
}

// The bytes as exactly what one read of the receiver returns.
void DeliverAsOneRead(ObservedEngine& engine, Link& link, const Bytes& bytes) {
    engine.CloseGate();
    ASSERT_TRUE(engine.WaitParked());
    link.pty->PeerWrite(bytes);
    ASSERT_TRUE(PumpUntil([&] { return link.Queued() == bytes.size(); }));
    engine.OpenGate();
    ASSERT_TRUE(PumpUntil([&] { return link.Queued() == 0; }));
    engine.CloseGate();
    ASSERT_TRUE(engine.WaitParked());
}

CCtpData* Release(std::unique_ptr<CCtpData> packet) {
    return packet.release();
}

class CtpEngineTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
    void TearDown() override {
        platform::SetTimeScale(1);
        platform::FailNextCreations(0);
    }

    ObservedEngine& StartedEngine(Link& link) {
        ObservedEngine& engine = NewEngine();
        EXPECT_EQ(engine.Start(link.port), 1);
        return engine;
    }

    const Bytes report3_ = Frame(Para1(CTP_ERROR_REPORT, 7), 3);
    const Bytes mode1_ = Frame(CamMode({2, 1, 1, 1, 0x0102, 4, 0}), 1);
};

}  // namespace

TEST_F(CtpEngineTest, GetInstanceIsOneEngineRecordedInTheRegistry) {
    CCtpEngine* engine = CCtpEngine::GetInstance();
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(CCtpEngine::GetInstance(), engine);
    EXPECT_EQ(AppRegistry.ctpEngine, engine);
}

TEST_F(CtpEngineTest, StartSetsThePortTimeoutsAndPausesBeforeReturning) {
    Link link;
    ObservedEngine& engine = NewEngine();
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(engine.Start(link.port), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - before, 95ms);
    EXPECT_TRUE(link.port->GetTimeouts() == EngineTimeouts());
}

TEST_F(CtpEngineTest, RequestsLeaveAsTheseBytesAndANullPacketSendsNothing) {
    Link link;
    CCtpEngine& engine = StartedEngine(link);
    EXPECT_EQ(engine.Send(nullptr, 2), -1);
    EXPECT_EQ(engine.Send(Release(Make(CTP_GET_MODE)), 0), -1);
    EXPECT_EQ(engine.Send(Release(Make(CTP_GET_MODE)), 5), -1);
    const char sentence[] = "$GPGGA,,,,,,0,,,,,,,\r\n";
    ASSERT_EQ(engine.Send(Release(Make(CTP_GET_MODE)), 1), 1);
    ASSERT_EQ(engine.Send(Release(Para1(CTP_ERROR_REPORT, 1)), 4), 1);
    ASSERT_EQ(engine.Send(Release(Para1(CTP_GET_IMAGE_DATA, 3)), 4), 1);
    ASSERT_EQ(engine.Send(Release(CamCmd(CTP_CAMCMD, 6, 0, 0)), 3), 1);
    ASSERT_EQ(engine.Send(Release(Gps(sentence)), 2), 1);
    const Bytes expected = Concat({
        {0x00, 0x01, 0x00, 0x06, 0x11, 0x01},
        {0x00, 0x04, 0x00, 0x08, 0xFF, 0x01, 0x00, 0x01},
        {0x00, 0x04, 0x00, 0x08, 0x11, 0x03, 0x00, 0x03},
        {0x00, 0x03, 0x00, 0x0A, 0x10, 0x01, 0x00, 0x06, 0x00, 0x00},
        {0x00, 0x02, 0x00, 0x1C, 0x10, 0x02},
        Bytes(sentence, sentence + 22),
    });
    EXPECT_EQ(link.pty->PeerRead(expected.size(), 10000), expected);
    EXPECT_TRUE(link.pty->PeerRead(1, 300).empty()) << "more than the frames went out";
}

TEST_F(CtpEngineTest, ReceiveWithoutLimitWaitsUntilTheReplyComes) {
    platform::SetTimeScale(100);  // a limited wait would end long before the reply
    Link link;
    CCtpEngine& engine = StartedEngine(link);
    std::atomic<int> result{-9};
    CCtpData* reply = nullptr;
    std::thread waiter([&] { result = engine.Receive(1, &reply, 0); });
    platform::Sleep(30'000);  // on the scaled clock: 300 ms
    EXPECT_EQ(result.load(), -9) << "Receive(0) gave up";
    link.pty->PeerWrite(mode1_);
    waiter.join();
    ASSERT_EQ(result.load(), 1);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(Frame(*reply, 1), mode1_);
    delete reply;
}

TEST_F(CtpEngineTest, ReceiveGivesUpAfterItsSecondsAndLeavesTheReplyAlone) {
    platform::SetTimeScale(20);
    Link link;
    CCtpEngine& engine = StartedEngine(link);
    CCtpData sentinel;
    CCtpData* reply = &sentinel;
    const uint64_t start = platform::TickCountMs();
    EXPECT_EQ(engine.Receive(4, &reply, 5), 0);
    const uint64_t took = platform::TickCountMs() - start;
    EXPECT_GE(took, 5000u);
    EXPECT_LT(took, 5000u + 20000u);
    EXPECT_EQ(reply, &sentinel);
    EXPECT_EQ(engine.Receive(0, &reply, 1), -1);
    EXPECT_EQ(engine.Receive(5, &reply, 1), -1);
}

TEST_F(CtpEngineTest, ALateReplyIsDroppedByTheNextSendOnItsChannel) {
    platform::SetTimeScale(50);
    Link link;
    CCtpEngine& engine = StartedEngine(link);
    ASSERT_EQ(engine.Send(Release(CamCmd(CTP_CAMCMD, 6, 0, 0)), 3), 1);
    ASSERT_EQ(link.pty->PeerRead(10, 10000).size(), 10u);
    EXPECT_TRUE(NothingOn(engine, 3));

    // The late answer, then a frame on channel 1 that shows it has been stored.
    link.pty->PeerWrite(Concat({Frame(CamCmd(CTP_CAMCMD, 0xA, 0, 0), 3), mode1_}));
    ASSERT_EQ(AwaitFrame(engine, 1), mode1_);

    ASSERT_EQ(engine.Send(Release(CamCmd(CTP_CAMCMD, 7, 0, 0)), 3), 1);
    ASSERT_EQ(link.pty->PeerRead(10, 10000).size(), 10u);
    EXPECT_TRUE(NothingOn(engine, 3)) << "the late reply answered the new request";
    const Bytes answer = Frame(CamCmd(CTP_CAMCMD, 0xB, 0, 0), 3);
    link.pty->PeerWrite(answer);
    EXPECT_EQ(AwaitFrame(engine, 3), answer);
}

TEST_F(CtpEngineTest, OfTwoUnclaimedRepliesTheSecondIsKept) {
    platform::SetTimeScale(50);
    Link link;
    CCtpEngine& engine = StartedEngine(link);
    const Bytes second = Frame(Para1(CTP_2001, 2), 4);
    link.pty->PeerWrite(Concat({Frame(Para1(CTP_2001, 1), 4), second, mode1_}));
    ASSERT_EQ(AwaitFrame(engine, 1), mode1_);
    EXPECT_EQ(AwaitFrame(engine, 4), second);
    EXPECT_TRUE(NothingOn(engine, 4)) << "the first reply was kept as well";
}

TEST_F(CtpEngineTest, BadHeadersAreDroppedAndReadingGoesOn) {
    platform::SetTimeScale(50);
    Link link;
    CCtpEngine& engine = StartedEngine(link);
    struct Row {
        const char* name;
        Bytes junk;
    };
    const Row rows[] = {
        {"channel 5", {0x00, 0x05, 0x00, 0x0A, 0x10, 0x01}},
        {"opcode 0x1006", {0x00, 0x02, 0x00, 0x08, 0x10, 0x06}},
        {"length 10249", {0x00, 0x04, 0x28, 0x09, 0x21, 0x03}},
        {"length 6 in a header read", {0x00, 0x01, 0x00, 0x05, 0x11, 0x01}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        link.pty->PeerWrite(Concat({row.junk, report3_}));
        EXPECT_EQ(AwaitFrame(engine, 3), report3_);
    }
    EXPECT_TRUE(NothingOn(engine, 1));
    EXPECT_TRUE(NothingOn(engine, 2));
    EXPECT_TRUE(NothingOn(engine, 4));

    // A length the opcode's layout cannot have, then stray bytes: the frame
    // after them is found.
    link.pty->PeerWrite(Concat({{0x00, 0x01, 0x00, 0x07, 0x11, 0x01, 0x55, 0xEE, 0x00}, report3_}));
    EXPECT_EQ(AwaitFrame(engine, 3), report3_);
    EXPECT_TRUE(NothingOn(engine, 1));
}

TEST_F(CtpEngineTest, ReadBoundariesDecideWhatShortFramesBecome) {
    platform::SetTimeScale(50);
    Link link;
    ObservedEngine& engine = StartedEngine(link);
    const Bytes modePoll = {0x00, 0x01, 0x00, 0x06, 0x11, 0x02};

    // One read returns the whole six-byte frame: it is delivered.
    DeliverAsOneRead(engine, link, modePoll);
    EXPECT_EQ(AwaitFrame(engine, 1), modePoll);

    // Four bytes, then two: a header of length 6, refused.
    DeliverAsOneRead(engine, link, Bytes(modePoll.begin(), modePoll.begin() + 4));
    DeliverAsOneRead(engine, link, Bytes(modePoll.begin() + 4, modePoll.end()));
    DeliverAsOneRead(engine, link, report3_);
    EXPECT_EQ(AwaitFrame(engine, 3), report3_);
    EXPECT_TRUE(NothingOn(engine, 1));

    // A ten-byte channel-2 frame ending a read made for an image payload.
    const Bytes image = Frame(Block(1, 0x20), 4);
    const Bytes status2 = Frame(CamCmd(CTP_GPS_CMD, 0, 1, 0), 2);
    DeliverAsOneRead(engine, link, Bytes(image.begin(), image.begin() + 6));
    DeliverAsOneRead(engine, link,
                     Concat({Bytes(image.begin() + 6, image.begin() + 1006), status2}));
    EXPECT_EQ(AwaitFrame(engine, 2), status2);
    engine.OpenGate();
    link.pty->PeerWrite(Bytes(image.begin() + 1006, image.end()));
    EXPECT_EQ(AwaitFrame(engine, 4), image);
}

// The last block of an image is short: what its frame does not carry reads
// as zero, even right after a full block and a stray header filled the buffer.
TEST_F(CtpEngineTest, AShortBlockEndsInZeroBytesAfterAFullOne) {
    platform::SetTimeScale(50);
    Link link;
    CCtpEngine& engine = StartedEngine(link);
    const Bytes full = Frame(Block(1, 0x20), 4);
    Bytes last = {0x00, 0x04, 0x00, 0x0C, 0x21, 0x03, 0x00, 0x02, 0xA1, 0xA2, 0xA3, 0xA4};
    link.pty->PeerWrite(full);
    EXPECT_EQ(AwaitFrame(engine, 4), full);
    link.pty->PeerWrite(Concat({{0x00, 0x05, 0x00, 0x0A, 0x10, 0x01}, last}));
    const auto reply = Await(engine, 4);
    ASSERT_NE(reply, nullptr);
    const auto& block = static_cast<const CCtpDataBlock&>(*reply);
    ASSERT_TRUE(block.HasData());
    EXPECT_EQ(block.GetParam(), 2);
    Bytes expected(kCtpBlockDataSize);
    std::copy(last.begin() + 8, last.end(), expected.begin());
    EXPECT_EQ(Bytes(block.Data(), block.Data() + kCtpBlockDataSize), expected);
}

// A trailing frame shorter than its opcode's body is no reply: a header-only
// mode answer would show every field 0 until the next poll. Those of the
// right length still are.
TEST_F(CtpEngineTest, TrailingFramesShorterThanTheirBodyAreNoReply) {
    platform::SetTimeScale(50);
    Link link;
    ObservedEngine& engine = StartedEngine(link);
    struct Row {
        const char* name;
        Bytes frame;
        int channel;
        bool reply;
    };
    const Row rows[] = {
        {"header-only mode answer", {0x00, 0x01, 0x00, 0x06, 0x21, 0x01}, 1, false},
        {"header-only data info", {0x00, 0x02, 0x00, 0x06, 0x21, 0x04}, 2, false},
        {"header-only camera command status", {0x00, 0x02, 0x00, 0x06, 0x10, 0x01}, 2, false},
        {"header-only error report", {0x00, 0x04, 0x00, 0x06, 0xFF, 0x01}, 4, false},
        {"mode poll, six bytes by design", {0x00, 0x01, 0x00, 0x06, 0x11, 0x02}, 1, true},
        {"whole mode answer", mode1_, 1, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DeliverAsOneRead(engine, link, row.frame);
        DeliverAsOneRead(engine, link, report3_);
        EXPECT_EQ(AwaitFrame(engine, 3), report3_);
        if (row.reply) {
            EXPECT_EQ(AwaitFrame(engine, row.channel), row.frame);
        } else {
            EXPECT_TRUE(NothingOn(engine, row.channel));
        }
    }

    // Eight bytes that look like a cut status frame end a read made for an
    // image payload: they are image bytes, and the image arrives whole.
    Bytes image = Frame(Block(1, 0x20), 4);
    const Bytes cut = {0x00, 0x02, 0x00, 0x08, 0x10, 0x01, 0x00, 0x00};
    std::copy(cut.begin(), cut.end(), image.begin() + 998);
    DeliverAsOneRead(engine, link, Bytes(image.begin(), image.begin() + 6));
    DeliverAsOneRead(engine, link, Bytes(image.begin() + 6, image.begin() + 1006));
    engine.OpenGate();
    link.pty->PeerWrite(Bytes(image.begin() + 1006, image.end()));
    EXPECT_EQ(AwaitFrame(engine, 4), image);
    EXPECT_TRUE(NothingOn(engine, 2));
}

TEST_F(CtpEngineTest, FramesLeaveInTheOrderOfTheSendCallsAcrossThreads) {
    Link link;
    CCtpEngine& engine = StartedEngine(link);
    constexpr int kPerThread = 100;
    std::mutex orderLock;
    Bytes sent;  // the frames in the order Send accepted them
    std::vector<std::thread> senders;
    std::atomic<bool> allQueued{true};
    for (int channel = 1; channel <= 4; ++channel) {
        senders.emplace_back([&, channel] {
            for (int i = 0; i < kPerThread; ++i) {
                auto packet = Para1(CTP_ERROR_REPORT, static_cast<uint16_t>(channel * 1000 + i));
                const Bytes frame = Frame(packet, channel);
                std::lock_guard lock(orderLock);
                if (engine.Send(packet.release(), channel) != 1) {
                    allQueued = false;
                }
                sent.insert(sent.end(), frame.begin(), frame.end());
            }
        });
    }
    const Bytes received = link.pty->PeerRead(4 * kPerThread * 8, 20000);
    for (std::thread& t : senders) {
        t.join();
    }
    EXPECT_TRUE(allQueued.load());
    EXPECT_EQ(received, sent);
}

TEST_F(CtpEngineTest, SendsRacingEachOtherAllLeaveAndEachChannelKeepsItsOrder) {
    // Two threads send at the same moment, round after round: often one finds
    // the queue empty and writes its frame itself while the other queues
    // behind that write. Every round's two frames must leave at once, none
    // waiting for a later Send, and each thread's frames in its own order.
    Link link;
    CCtpEngine& engine = StartedEngine(link);
    constexpr int kRounds = 300;
    constexpr size_t kFrameSize = 8;
    std::barrier start(3);
    std::atomic<int> refused{0};
    std::vector<std::thread> senders;
    for (int channel = 1; channel <= 2; ++channel) {
        senders.emplace_back([&, channel] {
            for (int i = 0; i < kRounds; ++i) {
                start.arrive_and_wait();
                if (engine.Send(Release(Para1(CTP_ERROR_REPORT, static_cast<uint16_t>(i))),
                                channel) != 1) {
                    ++refused;
                }
            }
        });
    }
    std::vector<int> next(3, 0);
    bool allCame = true;
    for (int i = 0; i < kRounds; ++i) {
        start.arrive_and_wait();
        const Bytes received = link.pty->PeerRead(2 * kFrameSize, 10000);
        if (received.size() != 2 * kFrameSize) {
            ADD_FAILURE() << "round " << i << ": " << received.size() << " bytes came";
            allCame = false;
            break;
        }
        for (size_t at = 0; allCame && at < received.size(); at += kFrameSize) {
            const Bytes frame(received.begin() + static_cast<long>(at),
                              received.begin() + static_cast<long>(at + kFrameSize));
            const int channel = frame[1];
            if (channel != 1 && channel != 2) {
                ADD_FAILURE() << "a frame was torn in round " << i;
                allCame = false;
                break;
            }
            EXPECT_EQ(frame, Frame(Para1(CTP_ERROR_REPORT, static_cast<uint16_t>(next[channel])),
                                   channel));
            ++next[channel];
        }
        if (!allCame) {
            break;
        }
    }
    if (!allCame) {
        // Let the senders finish their rounds without us.
        start.arrive_and_drop();
    }
    for (std::thread& t : senders) {
        t.join();
    }
    EXPECT_EQ(refused.load(), 0);
}

TEST_F(CtpEngineTest, FailedReadsWhileConnectingAreRetriedUntilANewPortComes) {
    // Stays installed: a presenter that is replaced is never freed.
    static std::atomic<int> boxes{0};
    platform::SetMessageBoxPresenter([](platform::WindowHandle, std::u16string_view,
                                        std::u16string_view, platform::MessageBoxButtons) {
        ++boxes;
        return platform::MessageBoxResult::Ok;
    });
    boxes = 0;
    Link first;
    ObservedEngine& engine = StartedEngine(first);
    first.pty->HangUp();
    ASSERT_TRUE(PumpUntil([&] { return engine.Failures() >= 6; }));
    EXPECT_GE(engine.FailureSpan(0, 5), 45ms) << "failed reads were not paced by 10 ms";
    EXPECT_EQ(boxes.load(), 0);

    // A second Start only swaps the port: it creates nothing (a creation would fail).
    Link second;
    platform::FailNextCreations(1);
    EXPECT_EQ(engine.Start(second.port), 1);
    EXPECT_EQ(platform::Event::Create(platform::ResetMode::Auto, false), nullptr)
        << "the pending creation failure was used up by the second Start";
    EXPECT_TRUE(second.port->GetTimeouts() == EngineTimeouts());

    second.pty->PeerWrite(report3_);
    EXPECT_EQ(AwaitFrame(engine, 3), report3_);
    ASSERT_EQ(engine.Send(Release(Make(CTP_GET_MODE)), 1), 1);
    EXPECT_EQ(second.pty->PeerRead(6, 10000), (Bytes{0x00, 0x01, 0x00, 0x06, 0x11, 0x01}));
    EXPECT_EQ(boxes.load(), 0);
}

TEST_F(CtpEngineTest, AFrameCutByALostPortIsDroppedWhenTheNextPortComes) {
    Link first;
    ObservedEngine& engine = StartedEngine(first);
    // Half an image block, then the line goes.
    const Bytes image = Frame(Block(1, 0x20), 4);
    DeliverAsOneRead(engine, first, Bytes(image.begin(), image.begin() + 500));
    first.pty->HangUp();
    engine.OpenGate();
    ASSERT_TRUE(PumpUntil([&] { return engine.Failures() >= 2; }));

    // On the new port the camera starts afresh: a whole block, not the rest
    // of the old one, and then a short frame, both delivered as they are.
    Link second;
    ASSERT_EQ(engine.Start(second.port), 1);
    const Bytes fresh = Frame(Block(2, 0x30), 4);
    second.pty->PeerWrite(fresh);
    EXPECT_EQ(AwaitFrame(engine, 4), fresh);
    second.pty->PeerWrite(report3_);
    EXPECT_EQ(AwaitFrame(engine, 3), report3_);
}

TEST_F(CtpEngineTest, ASecondStartIsNotHeldUpByASilentFirstPort) {
    // The first camera never says anything; its port came without time-outs.
    Link first;
    ObservedEngine& engine = StartedEngine(first);
    Link second;
    // Shared with a thread that may outlive the test if Start hangs.
    auto result = std::make_shared<std::atomic<int>>(-9);
    std::thread([&engine, port = second.port, result] { *result = engine.Start(port); }).detach();
    ASSERT_TRUE(PumpUntil([&] { return result->load() != -9; }, 5000ms))
        << "the second Start waited for a read on the first port without limit";
    EXPECT_EQ(result->load(), 1);
    second.pty->PeerWrite(report3_);
    EXPECT_EQ(AwaitFrame(engine, 3), report3_);
}

// Pins the calling thread to processor `cpu`; false when it may not.
bool RunOnlyOn(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    return ::sched_setaffinity(0, sizeof set, &set) == 0;
}

// The processors this process may run on.
std::vector<int> AllowedProcessors() {
    std::vector<int> cpus;
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) {
        for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
            if (CPU_ISSET(cpu, &set)) {
                cpus.push_back(cpu);
            }
        }
    }
    return cpus;
}

// True while thread `tid` of this process sleeps in the kernel.
bool Sleeping(pid_t tid) {
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t name = line.rfind(')');
    return name != std::string::npos && name + 2 < line.size() && line[name + 2] == 'S';
}

// An engine whose reads of an idle line the test lets end one at a time: a
// read waits, the port's lock held, until the test lets it go, and the
// receiver takes the lock again the moment a read ends. Reads run on `cpu`.
class HeldReadEngine : public CCtpEngine {
public:
    explicit HeldReadEngine(int cpu) : cpu_(cpu) {}
    // True once a read waits for the test.
    bool WaitHeld() {
        std::unique_lock lock(lock_);
        return changed_.wait_for(lock, 10s, [&] { return held_; });
    }
    // Lets the read that waits end; the next one waits again.
    void LetOneEnd() {
        {
            std::lock_guard lock(lock_);
            ++permits_;
        }
        changed_.notify_all();
    }
    // Lets every read end from now on, after a wait as on an idle line.
    void LetAllEnd() {
        {
            std::lock_guard lock(lock_);
            free_ = true;
        }
        changed_.notify_all();
    }

protected:
    bool ReadPort(uint8_t* /*dest*/, uint32_t /*count*/, uint32_t* got) override {
        if (!pinned_) {
            pinned_ = RunOnlyOn(cpu_);
        }
        std::unique_lock lock(lock_);
        held_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return permits_ > 0 || free_; });
        held_ = false;
        if (free_) {
            // As on an idle line, so that the receiver does not spin for the
            // rest of the process.
            lock.unlock();
            std::this_thread::sleep_for(50ms);
        } else {
            --permits_;
        }
        *got = 0;
        return true;
    }

private:
    const int cpu_;
    bool pinned_ = false;  // the receiver's own
    std::mutex lock_;
    std::condition_variable changed_;
    bool held_ = false;
    int permits_ = 0;
    bool free_ = false;
};

TEST_F(CtpEngineTest, ASecondStartTakesThePortAtTheEndOfTheReadUnderWay) {
    // The receiver takes the port's lock again the moment a read ends, and
    // the lock does not queue its waiters: a Start woken on another
    // processor comes too late. Only the receiver standing back hands the
    // port over; then no read of the old port begins while a Start waits.
    const std::vector<int> cpus = AllowedProcessors();
    ASSERT_FALSE(cpus.empty());
    auto* engine = new HeldReadEngine(cpus.front());
    Kept().push_back(engine);
    Link first;
    ASSERT_EQ(engine->Start(first.port), 1);
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(engine->WaitHeld());
        // A fresh port each time: its time-outs show when Start has begun.
        auto* next = new Link;
        Kept().push_back(next);
        struct Starter {
            std::atomic<pid_t> tid{0};
            std::atomic<bool> done{false};
            std::atomic<int> result{0};
        };
        // Shared with the thread, which outlives the test if its Start hangs.
        auto starter = std::make_shared<Starter>();
        std::thread([engine, starter, port = next->port, cpu = cpus.back()] {
            RunOnlyOn(cpu);  // away from the receiver, when there is room
            starter->tid = static_cast<pid_t>(::syscall(SYS_gettid));
            starter->result = engine->Start(port);
            starter->done = true;
        }).detach();
        // Start has set the port's time-outs and sleeps: it waits for the lock.
        ASSERT_TRUE(PumpUntil([&] {
            return starter->tid.load() != 0 && next->port->GetTimeouts() == EngineTimeouts() &&
                   Sleeping(starter->tid.load());
        }));
        // The read under way ends; the next read, if one begins, is held.
        engine->LetOneEnd();
        const bool handedOver = PumpUntil([&] { return starter->done.load(); });
        if (!handedOver) {
            engine->LetAllEnd();  // so that the Start and the test can end
        }
        ASSERT_TRUE(handedOver) << "the receiver began another read while a Start waited";
        EXPECT_EQ(starter->result.load(), 1);
    }
    engine->LetAllEnd();
}

TEST_F(CtpEngineTest, AStartThatCannotCreateItsObjectsFailsAndCanBeRepeated) {
    Link link;
    ObservedEngine& engine = NewEngine();
    platform::FailNextCreations(1);
    EXPECT_EQ(engine.Start(link.port), -1);
    EXPECT_TRUE(link.port->GetTimeouts() == EngineTimeouts());
    EXPECT_EQ(engine.Send(Release(Make(CTP_GET_MODE)), 1), -1);
    CCtpData* reply = nullptr;
    EXPECT_EQ(engine.Receive(1, &reply, 1), -1);

    platform::FailNextCreations(0);
    ASSERT_EQ(engine.Start(link.port), 1);
    ASSERT_EQ(engine.Send(Release(Make(CTP_GET_MODE)), 1), 1);
    EXPECT_EQ(link.pty->PeerRead(6, 10000), (Bytes{0x00, 0x01, 0x00, 0x06, 0x11, 0x01}));
    link.pty->PeerWrite(mode1_);
    EXPECT_EQ(AwaitFrame(engine, 1), mode1_);
}

namespace {

// Runs in the child of a death test: a connected engine whose link drops.
void DropTheLinkAfterConnecting() {
    Link link;
    CCtpEngine& engine = NewEngine();
    app::InstallLinkLostHandler(engine);
    if (engine.Start(link.port) != 1) {
        std::fprintf(stderr, "start failed\n");
        return;
    }
    engine.SetConnecting(0);
    link.pty->HangUp();
    // The process should end from the receiver thread; returning fails the test.
    PumpUntil([] { return false; }, 10000ms);
}

}  // namespace

TEST_F(CtpEngineTest, ALostLinkAfterConnectingShowsTheMessageAndEndsTheProgram) {
    EXPECT_EXIT(
        {
            AppRegistry.mainWindow = platform::WindowHandle{77};
            platform::SetMessageBoxPresenter(
                [](platform::WindowHandle owner, std::u16string_view text,
                   std::u16string_view caption, platform::MessageBoxButtons buttons) {
                    std::string shown = platform::Utf16ToUtf8(text);
                    for (auto [from, to] : {std::pair{"\r", "<CR>"}, std::pair{"\n", "<LF>"}}) {
                        for (size_t at = shown.find(from); at != std::string::npos;
                             at = shown.find(from)) {
                            shown.replace(at, 1, to);
                        }
                    }
                    std::fprintf(stderr, "box owner=%llu caption=%s buttons=%s text=%s\n",
                                 static_cast<unsigned long long>(owner.id),
                                 platform::Utf16ToUtf8(caption).c_str(),
                                 buttons == platform::MessageBoxButtons::Ok ? "Ok" : "YesNo",
                                 shown.c_str());
                    return platform::MessageBoxResult::Ok;
                });
            DropTheLinkAfterConnecting();
        },
        ::testing::ExitedWithCode(0),
        "box owner=77 caption=ERROR buttons=Ok text=BLUETOOTH DISCONNECTED <CR><LF>WILL CLOSE "
        "APPLICATION NOW");
}

TEST_F(CtpEngineTest, ALostLinkShowsTheMessageOnStandardErrorWithoutAScreen) {
    EXPECT_EXIT(DropTheLinkAfterConnecting(), ::testing::ExitedWithCode(0),
                "\\[ERROR\\] BLUETOOTH DISCONNECTED");
}
