// The receive path over scripted reads: each chunk is what one read call finds
// waiting (a read asked for fewer bytes leaves the rest for the next).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ctp/CtpDataFactory.h"
#include "ctp/CtpEngine.h"
#include "platform/kernel/Kernel.h"
#include "tests/ctp/CtpTestFrames.h"

using namespace ctptest;

namespace {

struct Chunk {
    Bytes bytes;
    bool fail = false;    // the read that takes the chunk's last byte reports failure
    bool giveUp = false;  // an error report goes out on channel 4 just before this read
};

struct EndOfScript {};

class ScriptedEngine : public CCtpEngine {
public:
    explicit ScriptedEngine(std::vector<Chunk> script) : script_(std::move(script)) {
        EXPECT_TRUE(CreateSyncObjects());
    }

    // Receive steps until the script is used up (true) or a step says stop (false).
    bool Run() {
        try {
            while (ReceiveOneFrame()) {
            }
            return false;
        } catch (const EndOfScript&) {
            return true;
        }
    }

    const std::vector<uint32_t>& Asked() const { return asked_; }

protected:
    bool ReadPort(uint8_t* dest, uint32_t count, uint32_t* got) override {
        *got = 0;
        if (next_ == script_.size()) {
            throw EndOfScript{};
        }
        asked_.push_back(count);
        const Chunk& chunk = script_[next_];
        if (chunk.giveUp && offset_ == 0) {
            auto report = std::unique_ptr<CCtpData>(CCtpDataFactory::Create(CTP_ERROR_REPORT));
            EXPECT_EQ(Send(report.release(), 4), 1);
        }
        const size_t n = std::min<size_t>(count, chunk.bytes.size() - offset_);
        if (n > 0) {
            std::memcpy(dest, chunk.bytes.data() + offset_, n);
        }
        offset_ += n;
        *got = static_cast<uint32_t>(n);
        if (offset_ < chunk.bytes.size()) {
            return true;
        }
        ++next_;
        offset_ = 0;
        return !chunk.fail;
    }

private:
    std::vector<Chunk> script_;
    size_t next_ = 0;
    size_t offset_ = 0;
    std::vector<uint32_t> asked_;
};

using Deliveries = std::array<std::optional<Bytes>, 4>;

// What each channel's slot holds, as the frame that would carry it.
Deliveries Collect(CCtpEngine& engine) {
    Deliveries out;
    for (int channel = 1; channel <= 4; ++channel) {
        CCtpData* reply = nullptr;
        if (engine.Receive(channel, &reply, 1) == 1) {
            EXPECT_NE(reply, nullptr);
            out[channel - 1] = Frame(*reply, channel);
            delete reply;
        }
    }
    return out;
}

std::string Describe(const std::optional<Bytes>& frame) {
    if (!frame) {
        return "nothing";
    }
    std::string s;
    for (size_t i = 0; i < std::min<size_t>(frame->size(), 16); ++i) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02X ", (*frame)[i]);
        s += hex;
    }
    return s + "(" + std::to_string(frame->size()) + " bytes)";
}

class CtpFrameTest : public ::testing::Test {
protected:
    // Receive time-outs and read retries on a fast clock; a second is a millisecond.
    void SetUp() override { platform::SetTimeScale(1000); }
    void TearDown() override { platform::SetTimeScale(1); }
};

struct ScriptCase {
    const char* name;
    std::vector<Chunk> script;
    Deliveries expected;
};

Bytes Payload(const Bytes& frame, size_t from, size_t to) {
    return Bytes(frame.begin() + from, frame.begin() + to);
}

}  // namespace

TEST_F(CtpFrameTest, ScriptedStreamsDeliverTheseReplies) {
    const Bytes modePoll = {0x00, 0x01, 0x00, 0x06, 0x11, 0x02};
    const Bytes status2 = Frame(CamCmd(CTP_GPS_CMD, 0, 1, 0), 2);        // 10 bytes
    const Bytes report3 = Frame(Para1(CTP_ERROR_REPORT, 7), 3);          // 8 bytes
    const Bytes mode1 = Frame(CamMode({2, 1, 1, 1, 0x0102, 4, -3}), 1);  // 14 bytes
    const Bytes image = Frame(Block(3, 0x41), 4);
    const Bytes gps2 = Frame(Gps("$GPGGA,1"), 2);       // 14 bytes
    const Bytes gps2Long = Frame(Gps("$GPGGA,12"), 2);  // 15 bytes: past the largest window
    const Bytes gps2Odd = Frame(Gps("X"), 2);           // 7 bytes: odd, never a window

    const std::vector<ScriptCase> cases = {
        {"an opcode-only frame returned by one read, then the next frame",
         {{modePoll}, {report3}},
         {modePoll, std::nullopt, report3, std::nullopt}},
        {"the same six bytes over two reads are a length error",
         {{Payload(modePoll, 0, 4)}, {Payload(modePoll, 4, 6)}, {report3}},
         {std::nullopt, std::nullopt, report3, std::nullopt}},
        {"bad channel: six bytes dropped, the next six are a header",
         {{Concat({{0x00, 0x05, 0x00, 0x0A, 0x10, 0x01}, report3})}},
         {std::nullopt, std::nullopt, report3, std::nullopt}},
        {"channel 0 is refused too",
         {{Concat({{0x00, 0x00, 0x00, 0x08, 0xFF, 0x01}, report3})}},
         {std::nullopt, std::nullopt, report3, std::nullopt}},
        {"opcode in a gap of the table",
         {{Concat({{0x00, 0x01, 0x00, 0x06, 0x10, 0x06}, report3})}},
         {std::nullopt, std::nullopt, report3, std::nullopt}},
        {"a length that does not fit the opcode's layout: the next frame is found",
         {{Concat({{0x00, 0x01, 0x00, 0x07, 0x11, 0x01, 0x99}, report3})}},
         {std::nullopt, std::nullopt, report3, std::nullopt}},
        {"three stray bytes ahead of frames",
         {{Concat({{0xEE, 0xEE, 0xEE}, mode1, report3})}},
         {mode1, std::nullopt, report3, std::nullopt}},
        {"stray bytes that look like the start of a frame",
         {{Concat({{0x00, 0x03, 0x00}, mode1})}, {report3}},
         {mode1, std::nullopt, report3, std::nullopt}},
        {"stray bytes in a read of their own, the frames after them",
         {{{0x00, 0x02, 0x10}}, {Concat({status2, report3})}},
         {std::nullopt, status2, report3, std::nullopt}},
        {"a mode answer whose length lies",
         {{Concat({{0x00, 0x01, 0x01, 0x0E}, Payload(mode1, 4, 14), report3})}},
         {std::nullopt, std::nullopt, report3, std::nullopt}},
        {"a frame cut after its header: the frames that follow are found in its payload",
         {{Concat({Payload(image, 0, 106), mode1, report3})}, {{}, false, true}, {status2}},
         {mode1, status2, report3, std::nullopt}},
        {"frames a cut frame swallowed whole are found again",
         {{Concat({Payload(image, 0, 106), mode1, gps2Long})}, {{}, false, true}},
         {mode1, gps2Long, std::nullopt, std::nullopt}},
        {"a frame cut in its header",
         {{Payload(mode1, 0, 3)}, {{}, false, true}, {report3}},
         {std::nullopt, std::nullopt, report3, std::nullopt}},
        {"a quiet line mid-frame with no caller giving up: the frame still completes",
         {{Payload(image, 0, 3000)}, {}, {}, {Payload(image, 3000, 10248)}},
         {std::nullopt, std::nullopt, std::nullopt, image}},
        {"length over 10248: what follows the header is the next header",
         {{Concat({{0x00, 0x04, 0x28, 0x09, 0x21, 0x03}, report3})}},
         {std::nullopt, std::nullopt, report3, std::nullopt}},
        {"length 0xFFFF",
         {{Concat({{0x00, 0x04, 0xFF, 0xFF, 0x21, 0x03}, report3})}},
         {std::nullopt, std::nullopt, report3, std::nullopt}},
        {"length below the header",
         {{Concat({{0x00, 0x02, 0x00, 0x02, 0x10, 0x02}, report3})}},
         {std::nullopt, std::nullopt, report3, std::nullopt}},
        {"a whole image block in pieces",
         {{Payload(image, 0, 6)}, {Payload(image, 6, 4000)}, {Payload(image, 4000, 10248)}},
         {std::nullopt, std::nullopt, std::nullopt, image}},
        {"a short frame ending a payload read goes to its own channel",
         {{Payload(image, 0, 6)},
          {Concat({Payload(image, 6, 1006), status2})},
          {Payload(image, 1006, 10248)}},
         {std::nullopt, status2, std::nullopt, image}},
        {"two short frames ending one read are both taken",
         {{Payload(image, 0, 6)},
          {Concat({Payload(image, 6, 500), report3, mode1})},
          {Payload(image, 500, 10248)}},
         {mode1, std::nullopt, report3, image}},
        {"a 14-byte frame is the largest window",
         {{Payload(image, 0, 6)},
          {Concat({Payload(image, 6, 10), gps2})},
          {Payload(image, 10, 10248)}},
         {std::nullopt, gps2, std::nullopt, image}},
        {"frames longer than the largest window stay in the payload",
         {{Payload(image, 0, 6)}, {Concat({Payload(image, 6, 10248 - gps2Long.size()), gps2Long})}},
         {std::nullopt, std::nullopt, std::nullopt,
          Concat({Payload(image, 0, 10248 - gps2Long.size()), gps2Long})}},
        {"frames of odd size within the windows are not taken either",
         {{Payload(image, 0, 6)}, {Concat({Payload(image, 6, 10248 - gps2Odd.size()), gps2Odd})}},
         {std::nullopt, std::nullopt, std::nullopt,
          Concat({Payload(image, 0, 10248 - gps2Odd.size()), gps2Odd})}},
        {"a failed empty read while connecting is retried",
         {{{}, true}, {Payload(report3, 0, 3)}, {{}, true}, {Payload(report3, 3, 8)}},
         {std::nullopt, std::nullopt, report3, std::nullopt}},
        {"back-to-back frames in one arrival",
         {{Concat({modePoll, report3, status2, image})}},
         {modePoll, status2, report3, image}},
    };

    for (const ScriptCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedEngine engine(c.script);
        EXPECT_TRUE(engine.Run()) << "the receiver stopped";
        const Deliveries got = Collect(engine);
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_EQ(got[i], c.expected[i]) << "channel " << i + 1 << ": got " << Describe(got[i])
                                             << ", expected " << Describe(c.expected[i]);
        }
    }
}

TEST_F(CtpFrameTest, ReadsAskForTheHeaderThenExactlyTheRestOfTheFrame) {
    const Bytes report3 = Frame(Para1(CTP_ERROR_REPORT, 7), 3);
    const Bytes image = Frame(Block(3, 0x41), 4);
    ScriptedEngine engine({{Concat({report3, Payload(image, 0, 6)})},
                           {Payload(image, 6, 3000)},
                           {Payload(image, 3000, 10248)}});
    EXPECT_TRUE(engine.Run());
    const std::vector<uint32_t> expected = {6, 2, 6, 10242, 10242 - 2994};
    EXPECT_EQ(engine.Asked(), expected);
}

TEST_F(CtpFrameTest, AFailedReadThatCompletesTheFrameStopsTheReceiver) {
    const Bytes report3 = Frame(Para1(CTP_ERROR_REPORT, 7), 3);
    ScriptedEngine header({{Payload(report3, 0, 6), true}, {report3}});
    EXPECT_FALSE(header.Run());
    EXPECT_EQ(header.Asked().size(), 1u) << "the receiver went on reading";

    ScriptedEngine payload({{Payload(report3, 0, 6)}, {Payload(report3, 6, 8), true}});
    EXPECT_FALSE(payload.Run());
    EXPECT_EQ(Collect(payload)[2], std::nullopt) << "a frame of a failed read was delivered";
}

TEST_F(CtpFrameTest, AFailedReadWithPartOfTheBytesKeepsReading) {
    const Bytes report3 = Frame(Para1(CTP_ERROR_REPORT, 7), 3);
    ScriptedEngine engine({{Payload(report3, 0, 4), true}, {Payload(report3, 4, 8)}});
    EXPECT_TRUE(engine.Run());
    EXPECT_EQ(Collect(engine)[2], report3);
}
