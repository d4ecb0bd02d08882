// The simulator's framer and encoder, fed with byte strings.
#include <gtest/gtest.h>

#include <vector>

#include "sim/Wire.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

const Bytes kGetMode = {0x00, 0x01, 0x00, 0x06, 0x11, 0x01};
const Bytes kBlock3 = {0x00, 0x04, 0x00, 0x08, 0x11, 0x03, 0x00, 0x03};

struct DecodeCase {
    const char* name;
    std::vector<Bytes> feeds;
    std::vector<Bytes> frames;
    uint64_t discarded;
    size_t pending;
};

TEST(FrameDecoder, ReassemblesFramesAndSkipsWhatCannotStartOne) {
    Bytes largest = {0x00, 0x04, 0x28, 0x08, 0x21, 0x03, 0x00, 0x01};
    largest.resize(10248, 0x5A);
    const DecodeCase cases[] = {
        {"one frame", {kGetMode}, {kGetMode}, 0, 0},
        {"a byte at a time", {{0x00}, {0x01}, {0x00}, {0x06}, {0x11}, {0x01}}, {kGetMode}, 0, 0},
        {"back to back in one read",
         {Concat({kGetMode, kBlock3, kGetMode})},
         {kGetMode, kBlock3, kGetMode},
         0,
         0},
        {"split inside the second frame",
         {Concat({kGetMode, {0x00, 0x04, 0x00}}), {0x08, 0x11, 0x03, 0x00, 0x03}},
         {kGetMode, kBlock3},
         0,
         0},
        {"leading garbage", {Concat({{0xFF, 0xFF, 0xFF, 0xFF}, kGetMode})}, {kGetMode}, 4, 0},
        {"channel 5 is no frame",
         {Concat({{0x00, 0x05, 0x00, 0x06, 0x11, 0x01}, kGetMode})},
         {kGetMode},
         6,
         0},
        {"length below six", {Concat({{0x00, 0x01, 0x00, 0x05}, kGetMode})}, {kGetMode}, 4, 0},
        {"length above 10248", {Concat({{0x00, 0x01, 0x28, 0x09}, kGetMode})}, {kGetMode}, 4, 0},
        {"the largest frame", {largest}, {largest}, 0, 0},
        {"an unfinished frame waits", {{0x00, 0x04, 0x00, 0x08, 0x11}}, {}, 0, 5},
    };
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::FrameDecoder decoder;
        std::vector<Bytes> frames;
        for (const Bytes& feed : c.feeds) {
            decoder.Feed(feed);
            while (auto f = decoder.Next()) {
                frames.push_back(*f);
            }
        }
        EXPECT_EQ(frames, c.frames);
        EXPECT_EQ(decoder.DiscardedBytes(), c.discarded);
        EXPECT_EQ(decoder.PendingBytes(), c.pending);
    }
}

TEST(FrameEncoding, WritesEnvelopeOpcodeAndBodyBigEndian) {
    EXPECT_EQ(sim::EncodeFrame(1, sim::CTP_GET_MODE), kGetMode);
    const Bytes info = {0x00, 0x00, 0x01, 0xF4, 0x00, 0x01};
    EXPECT_EQ(sim::EncodeFrame(4, sim::CTP_DATA_INFO, info),
              (Bytes{0x00, 0x04, 0x00, 0x0C, 0x21, 0x04, 0x00, 0x00, 0x01, 0xF4, 0x00, 0x01}));
    Bytes out;
    sim::PutU32(out, 0x01020304);
    sim::PutU16(out, 0xA0B0);
    EXPECT_EQ(out, (Bytes{1, 2, 3, 4, 0xA0, 0xB0}));
    EXPECT_EQ(sim::GetU32(out.data()), 0x01020304u);
    EXPECT_EQ(sim::GetU16(out.data() + 4), 0xA0B0);
}

TEST(FrameView, ReadsOnlyWhatTheFrameHolds) {
    const sim::FrameView block{kBlock3};
    EXPECT_EQ(block.Channel(), 4);
    EXPECT_EQ(block.Length(), 8);
    EXPECT_EQ(block.Opcode(), sim::CTP_GET_IMAGE_DATA);
    EXPECT_EQ(block.BodyU16(0), 3);
    EXPECT_FALSE(block.BodyU16(1).has_value());
    const sim::FrameView shortFrame{kGetMode};
    EXPECT_TRUE(shortFrame.Body().empty());
    EXPECT_FALSE(shortFrame.BodyU16(0).has_value());
    const Bytes two = {0x00, 0x01};
    EXPECT_EQ(sim::FrameView{two}.Opcode(), 0);
}

}  // namespace
