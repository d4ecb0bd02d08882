#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <typeinfo>
#include <vector>

#include "ctp/ByteOrder.h"
#include "ctp/CtpDataFactory.h"
#include "tests/ctp/CtpTestFrames.h"

using namespace ctptest;

namespace {

// `frame` copied to an odd address inside a buffer that holds `garbage` after
// it, so that parses that read unaligned or past the frame show.
struct ReceivedFrame {
    explicit ReceivedFrame(const Bytes& frame, uint8_t garbage = 0xEE)
        : storage(1 + frame.size() + 64, garbage) {
        std::memcpy(storage.data() + 1, frame.data(), frame.size());
    }
    const uint8_t* Opcode() const { return storage.data() + 1 + kCtpEnvelopeSize; }
    // What the engine passes with it: the frame's length field less the envelope.
    size_t Count() const {
        const size_t length = ctp::GetBe16(storage.data() + 1 + 2);
        return length > kCtpEnvelopeSize ? length - kCtpEnvelopeSize : 0;
    }
    Bytes storage;
};

template <typename T>
std::unique_ptr<T> ParseAs(uint16_t opcode, const Bytes& frame, uint8_t garbage = 0xEE) {
    std::unique_ptr<CCtpData> packet(CCtpDataFactory::Create(opcode));
    const ReceivedFrame received(frame, garbage);
    packet->Parse(received.Opcode(), received.Count());
    auto* typed = dynamic_cast<T*>(packet.get());
    if (typed == nullptr) {
        return nullptr;
    }
    packet.release();
    return std::unique_ptr<T>(typed);
}

struct WireCase {
    const char* name;
    std::function<std::unique_ptr<CCtpData>()> make;
    int channel;
    Bytes wire;
};

const char kEmptySentence[] = "$GPGGA,,,,,,0,,,,,,,\r\n";

}  // namespace

TEST(CtpWireTest, PacketsGoOutAsTheseBytes) {
    const Bytes gpsWire =
        Concat({{0x00, 0x02, 0x00, 0x1C, 0x10, 0x02}, Bytes(kEmptySentence, kEmptySentence + 22)});
    const std::vector<WireCase> cases = {
        {"mode request",
         [] { return Make(CTP_GET_MODE); },
         1,
         {0x00, 0x01, 0x00, 0x06, 0x11, 0x01}},
        {"error report",
         [] { return Para1(CTP_ERROR_REPORT, 1); },
         4,
         {0x00, 0x04, 0x00, 0x08, 0xFF, 0x01, 0x00, 0x01}},
        {"block request",
         [] { return Para1(CTP_GET_IMAGE_DATA, 3); },
         4,
         {0x00, 0x04, 0x00, 0x08, 0x11, 0x03, 0x00, 0x03}},
        {"key command",
         [] { return CamCmd(CTP_CAMCMD, 6, 0, 0); },
         3,
         {0x00, 0x03, 0x00, 0x0A, 0x10, 0x01, 0x00, 0x06, 0x00, 0x00}},
        {"gps switch, low bytes of mode and state",
         [] { return CamCmd(CTP_GPS_CMD, 1, 3, 2); },
         2,
         {0x00, 0x02, 0x00, 0x0A, 0x10, 0x04, 0x00, 0x01, 0x03, 0x02}},
        {"gps sentence", [] { return Gps(kEmptySentence); }, 2, gpsWire},
        {"data info",
         [] {
             auto p = Make(CTP_DATA_INFO);
             dynamic_cast<CCtpDataInfo&>(*p).SetDataInfo(0x01020304, 0xA0B0);
             return p;
         },
         4,
         {0x00, 0x04, 0x00, 0x0C, 0x21, 0x04, 0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0}},
        {"camera mode",
         [] {
             return CamMode({3, 1, 0, 1, 0x1234, 5, -1});
         },
         1,
         {0x00, 0x01, 0x00, 0x0E, 0x21, 0x01, 0x03, 0x01, 0x00, 0x01, 0x12, 0x34, 0x05, 0xFF}},
        {"para2",
         [] {
             auto p = Make(CTP_2005);
             auto& two = dynamic_cast<CCtpDataPara2&>(*p);
             two.SetParam(0x0102);
             two.SetParam2(0x0304);
             return p;
         },
         2,
         {0x00, 0x02, 0x00, 0x0A, 0x20, 0x05, 0x01, 0x02, 0x03, 0x04}},
    };
    for (const WireCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto packet = c.make();
        EXPECT_EQ(packet->GetSize() + 4u, c.wire.size());
        EXPECT_EQ(Frame(packet, c.channel), c.wire);
    }
}

TEST(CtpWireTest, GpsSentenceFrameEndsInCarriageReturnLineFeed) {
    const auto packet = Gps(kEmptySentence);
    EXPECT_EQ(packet->GetSize(), 24);
    const Bytes frame = Frame(packet, 2);
    ASSERT_EQ(frame.size(), 28u);
    EXPECT_EQ(frame[26], '\r');
    EXPECT_EQ(frame[27], '\n');
}

TEST(CtpWireTest, ImageBlockFillsTheLargestFrame) {
    const auto packet = Block(7, 0x10);
    const Bytes frame = Frame(packet, 4);
    ASSERT_EQ(frame.size(), kCtpMaxFrameSize);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 8),
              (Bytes{0x00, 0x04, 0x28, 0x08, 0x21, 0x03, 0x00, 0x07}));
    EXPECT_EQ(frame[8], 0x10);
    EXPECT_EQ(frame.back(), static_cast<uint8_t>(0x10 + kCtpBlockDataSize - 1));
}

TEST(CtpWireTest, FrameThatDoesNotFitTheBufferIsNotWritten) {
    const auto packet = Block(1, 0);
    Bytes buffer(kCtpMaxFrameSize - 1, 0x55);
    EXPECT_EQ(CtpWriteFrame(*packet, 4, buffer.data(), buffer.size()), 0);
    EXPECT_EQ(buffer, Bytes(kCtpMaxFrameSize - 1, 0x55));
}

TEST(CtpFactoryTest, MakesTheClassOfTheTableForEveryOpcode) {
    struct Row {
        uint16_t opcode;
        const std::type_info& type;
        uint16_t size;
    };
    const Row rows[] = {
        {CTP_CAMCMD, typeid(CCtpDataCamCmd), 6},     {CTP_GPS, typeid(CCtpDataGps), 2},
        {CTP_IMAGE_CMD, typeid(CCtpDataCamCmd), 6},  {CTP_GPS_CMD, typeid(CCtpDataCamCmd), 6},
        {CTP_1005, typeid(CCtpDataPara1), 4},        {CTP_GET_MODE, typeid(CCtpData), 2},
        {CTP_MODE_POLL, typeid(CCtpData), 2},        {CTP_GET_IMAGE_DATA, typeid(CCtpDataPara1), 4},
        {CTP_GET_DATA_INFO, typeid(CCtpData), 2},    {CTP_2001, typeid(CCtpDataPara1), 4},
        {CTP_2002, typeid(CCtpDataPara1), 4},        {CTP_2005, typeid(CCtpDataPara2), 6},
        {CTP_CAM_MODE, typeid(CCtpDataCamMode), 10}, {CTP_IMAGE_DATA, typeid(CCtpDataBlock), 10244},
        {CTP_DATA_INFO, typeid(CCtpDataInfo), 8},    {CTP_ERROR_REPORT, typeid(CCtpDataPara1), 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.opcode);
        std::unique_ptr<CCtpData> packet(CCtpDataFactory::GetInstance()->Create(row.opcode));
        ASSERT_NE(packet, nullptr);
        EXPECT_EQ(typeid(*packet), row.type);
        EXPECT_EQ(packet->GetOpcode(), row.opcode);
        EXPECT_EQ(packet->GetSize(), row.size);
        // Every body field starts at zero: the frame is the opcode and zero bytes.
        Bytes expected(row.size + 4u, 0);
        expected[1] = 1;
        expected[2] = static_cast<uint8_t>((row.size + 4) >> 8);
        expected[3] = static_cast<uint8_t>(row.size + 4);
        expected[4] = static_cast<uint8_t>(row.opcode >> 8);
        expected[5] = static_cast<uint8_t>(row.opcode);
        EXPECT_EQ(Frame(packet, 1), expected);
    }
}

TEST(CtpFactoryTest, MakesNothingOutsideTheTable) {
    int made = 0;
    for (uint32_t opcode = 0; opcode <= 0xFFFF; ++opcode) {
        std::unique_ptr<CCtpData> packet(CCtpDataFactory::Create(static_cast<uint16_t>(opcode)));
        EXPECT_EQ(packet != nullptr, IsAcceptedOpcode(static_cast<uint16_t>(opcode))) << opcode;
        made += packet != nullptr;
    }
    EXPECT_EQ(made, 16);
    EXPECT_EQ(CCtpDataFactory::Create(0x1006), nullptr);
    EXPECT_EQ(CCtpDataFactory::Create(0x0000), nullptr);
}

TEST(CtpParseTest, DataInfoReadsTheUnalignedSizeAndTheCount) {
    const auto info = ParseAs<CCtpDataInfo>(
        CTP_DATA_INFO, {0x00, 0x04, 0x00, 0x0C, 0x21, 0x04, 0x00, 0x00, 0x01, 0xF4, 0x00, 0x01});
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->GetOpcode(), CTP_DATA_INFO);
    EXPECT_EQ(info->GetDataSize(), 500u);
    EXPECT_EQ(info->GetDataCount(), 1);
}

TEST(CtpParseTest, CameraModeWidensItsBytesAsSigned) {
    const auto mode = ParseAs<CCtpDataCamMode>(
        CTP_CAM_MODE,
        {0x00, 0x01, 0x00, 0x0E, 0x21, 0x01, 0x02, 0x01, 0x01, 0xFF, 0x80, 0x01, 0x80, 0x7F});
    ASSERT_NE(mode, nullptr);
    const int16_t expected[] = {2, 1, 1, -1, static_cast<int16_t>(0x8001), -128, 127};
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(mode->GetValue(i), expected[i]) << "value " << i;
    }
    EXPECT_EQ(static_cast<uint16_t>(mode->GetValue(3)), 0xFFFF);
    EXPECT_EQ(mode->GetValue(7), 0);
    EXPECT_EQ(mode->GetValue(-1), 0);
}

TEST(CtpParseTest, FieldsPastTheEndOfAShortFrameReadAsZero) {
    // A mode answer cut after its first body byte, followed by other bytes.
    const auto mode =
        ParseAs<CCtpDataCamMode>(CTP_CAM_MODE, {0x00, 0x01, 0x00, 0x07, 0x21, 0x01, 0x03}, 0x7A);
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(mode->GetValue(0), 3);
    for (int i = 1; i < 7; ++i) {
        EXPECT_EQ(mode->GetValue(i), 0) << "value " << i << " was read from past the frame";
    }
    const auto info = ParseAs<CCtpDataInfo>(CTP_DATA_INFO,
                                            {0x00, 0x04, 0x00, 0x08, 0x21, 0x04, 0x12, 0x34}, 0x7A);
    EXPECT_EQ(info->GetDataSize(), 0x12340000u);
    EXPECT_EQ(info->GetDataCount(), 0);
}

TEST(CtpParseTest, ImageBlockHasDataOnlyWhenTheFrameCarriesSome) {
    const auto empty =
        ParseAs<CCtpDataBlock>(CTP_IMAGE_DATA, {0x00, 0x04, 0x00, 0x08, 0x21, 0x03, 0x00, 0x09});
    ASSERT_NE(empty, nullptr);
    EXPECT_FALSE(empty->HasData());
    EXPECT_EQ(empty->GetParam(), 9);

    // A short last block: its bytes, then zeros, never what follows the frame.
    const auto shortBlock = ParseAs<CCtpDataBlock>(
        CTP_IMAGE_DATA, {0x00, 0x04, 0x00, 0x0B, 0x21, 0x03, 0x00, 0x02, 0xA1, 0xA2, 0xA3}, 0x7A);
    ASSERT_TRUE(shortBlock->HasData());
    Bytes data(kCtpBlockDataSize + 16, 0x55);
    EXPECT_EQ(shortBlock->CopyData(data.data(), data.size()), kCtpBlockDataSize);
    EXPECT_EQ(Bytes(data.begin(), data.begin() + 4), (Bytes{0xA1, 0xA2, 0xA3, 0x00}));
    EXPECT_EQ(std::count(data.begin() + 3, data.begin() + kCtpBlockDataSize, 0),
              static_cast<long>(kCtpBlockDataSize - 3));
    EXPECT_EQ(data[kCtpBlockDataSize], 0x55) << "copied past the block";

    const auto full = ParseAs<CCtpDataBlock>(CTP_IMAGE_DATA, Frame(Block(5, 0x33), 4));
    ASSERT_TRUE(full->HasData());
    EXPECT_EQ(full->Data()[0], 0x33);
    EXPECT_EQ(full->Data()[kCtpBlockDataSize - 1], static_cast<uint8_t>(0x33 + 10239));
    uint8_t small[10] = {};
    EXPECT_EQ(full->CopyData(small, sizeof small), sizeof small);
    EXPECT_EQ(small[9], 0x33 + 9);
}

TEST(CtpParseTest, GpsTextStopsAtZeroAtFrameEndAndAt83Characters) {
    struct Row {
        const char* name;
        Bytes body;
        std::string text;
    };
    const std::vector<Row> rows = {
        {"zero byte", {'$', 'G', 0, 'X'}, "$G"},
        {"frame end", {'A', 'B', 'C'}, "ABC"},
        {"empty", {}, ""},
        {"long", Bytes(100, 'N'), std::string(83, 'N')},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes frame = Concat(
            {{0x00, 0x02, 0x00, static_cast<uint8_t>(6 + row.body.size()), 0x10, 0x02}, row.body});
        const auto gps = ParseAs<CCtpDataGps>(CTP_GPS, frame, 'Z');
        ASSERT_NE(gps, nullptr);
        EXPECT_EQ(std::string(gps->GetText()), row.text);
        EXPECT_EQ(gps->GetSize(), 2 + row.text.size());
    }
}

TEST(CtpParseTest, EveryClassIgnoresMissingPointers) {
    for (uint16_t opcode : kCtpOpcodes) {
        SCOPED_TRACE(opcode);
        const auto packet = Make(opcode);
        const Bytes before = Frame(packet, 1);
        packet->Parse(nullptr, 0);
        packet->Serialize(nullptr);
        EXPECT_EQ(Frame(packet, 1), before);
    }
}

TEST(CtpParseTest, WhatASerializedPacketSaysParsesBack) {
    const std::vector<std::unique_ptr<CCtpData>> packets = [] {
        std::vector<std::unique_ptr<CCtpData>> v;
        v.push_back(Para1(CTP_2002, 0xBEEF));
        v.push_back(CamCmd(CTP_IMAGE_CMD, 2, 3, 1));
        v.push_back(CamMode({-1, 2, 1, 0, -2, 5, 0x7F}));
        v.push_back(Gps("$GPGGA,120000,3540.0000,N,13945.0000,E,1,08,1.0,10.0,M,,,,\r\n"));
        v.push_back(Block(0x0102, 0xC8));
        return v;
    }();
    for (const auto& packet : packets) {
        SCOPED_TRACE(packet->GetOpcode());
        const Bytes frame = Frame(packet, 3);
        const ReceivedFrame received(frame);
        const auto back = Make(packet->GetOpcode());
        back->Parse(received.Opcode(), received.Count());
        EXPECT_EQ(Frame(back, 3), frame);
    }
}

TEST(CtpGpsTest, TextIsCutAt83CharactersAndReplacedWhole) {
    auto packet = Gps(std::string(120, 'x').c_str());
    auto& gps = dynamic_cast<CCtpDataGps&>(*packet);
    EXPECT_EQ(std::string(gps.GetText()), std::string(83, 'x'));
    EXPECT_EQ(gps.GetSize(), 85);
    gps.SetText("$GP");
    EXPECT_EQ(std::string(gps.GetText()), "$GP");
    EXPECT_EQ(Frame(packet, 2), (Bytes{0x00, 0x02, 0x00, 0x09, 0x10, 0x02, '$', 'G', 'P'}));
}

TEST(CtpReplyTest, StatusWordIsReadWhereverAReplyCarriesOne) {
    struct Row {
        std::unique_ptr<CCtpData> reply;
        bool hasParam;
        uint16_t param;
    };
    std::vector<Row> rows;
    rows.push_back({Para1(CTP_2001, 3), true, 3});
    rows.push_back({CamCmd(CTP_GPS_CMD, 4, 1, 1), true, 4});
    rows.push_back({Block(6, 0), true, 6});
    rows.push_back({Make(CTP_2005), true, 0});
    rows.push_back({Make(CTP_GET_MODE), false, 0});
    rows.push_back({CamMode({1, 2}), false, 0});
    rows.push_back({Make(CTP_DATA_INFO), false, 0});
    rows.push_back({Gps("$GP"), false, 0});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.reply->GetOpcode());
        uint16_t param = 0xFFFF;
        EXPECT_EQ(GetReplyParam(row.reply.get(), &param), row.hasParam);
        if (row.hasParam) {
            EXPECT_EQ(param, row.param);
        }
    }
    uint16_t param = 0;
    EXPECT_FALSE(GetReplyParam(nullptr, &param));
}

TEST(CtpParseTest, ParseReadsOnlyTheBytesItIsGiven) {
    // Each count in a heap block of exactly that size: a read past it is a
    // sanitizer report; bytes past the count read as zero.
    for (uint16_t opcode : kCtpOpcodes) {
        for (size_t count = 1; count <= 12; ++count) {
            SCOPED_TRACE(testing::Message() << opcode << " with " << count << " bytes");
            const std::unique_ptr<uint8_t[]> bytes(new uint8_t[count]);
            std::fill_n(bytes.get(), count, uint8_t{0x21});
            const auto packet = Make(opcode);
            packet->Parse(bytes.get(), count);
            EXPECT_EQ(packet->GetOpcode(), count >= 2 ? 0x2121 : 0x2100);
        }
    }
    const auto block = ParseAs<CCtpDataBlock>(
        CTP_IMAGE_DATA, {0x00, 0x04, 0x00, 0x09, 0x21, 0x03, 0x00, 0x09, 0x5A});
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(block->HasData());
    EXPECT_EQ(block->Data()[0], 0x5A);
    EXPECT_EQ(block->Data()[1], 0);  // the garbage after the frame is not read
}

TEST(CtpFactoryTest, CreateAsGivesThePacketOnlyAsItsOwnClass) {
    EXPECT_NE(CCtpDataFactory::CreateAs<CCtpDataCamCmd>(CTP_CAMCMD), nullptr);
    EXPECT_NE(CCtpDataFactory::CreateAs<CCtpDataPara1>(CTP_ERROR_REPORT), nullptr);
    EXPECT_NE(CCtpDataFactory::CreateAs<CCtpData>(CTP_GET_MODE), nullptr);
    EXPECT_NE(CCtpDataFactory::CreateAs<CCtpData>(CTP_IMAGE_DATA),
              nullptr);  // any class is a CCtpData
    // The wrong class: none, and the packet made is freed (LeakSanitizer watches).
    EXPECT_EQ(CCtpDataFactory::CreateAs<CCtpDataPara1>(CTP_CAMCMD), nullptr);
    EXPECT_EQ(CCtpDataFactory::CreateAs<CCtpDataGps>(CTP_CAM_MODE), nullptr);
    EXPECT_EQ(CCtpDataFactory::CreateAs<CCtpDataCamCmd>(0x7777), nullptr);
    const auto command = CCtpDataFactory::CreateAs<CCtpDataCamCmd>(CTP_IMAGE_CMD);
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command->GetOpcode(), CTP_IMAGE_CMD);
}
