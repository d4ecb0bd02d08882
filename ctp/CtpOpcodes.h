// The CTP opcodes the camera link carries, the frame sizes, and the test of
// whether an opcode is one the receiver accepts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr uint16_t CTP_CAMCMD = 0x1001;
inline constexpr uint16_t CTP_GPS = 0x1002;
inline constexpr uint16_t CTP_IMAGE_CMD = 0x1003;
inline constexpr uint16_t CTP_GPS_CMD = 0x1004;
inline constexpr uint16_t CTP_1005 = 0x1005;
inline constexpr uint16_t CTP_GET_MODE = 0x1101;
inline constexpr uint16_t CTP_MODE_POLL = 0x1102;
inline constexpr uint16_t CTP_GET_IMAGE_DATA = 0x1103;
inline constexpr uint16_t CTP_GET_DATA_INFO = 0x1104;
inline constexpr uint16_t CTP_2001 = 0x2001;
inline constexpr uint16_t CTP_2002 = 0x2002;
inline constexpr uint16_t CTP_2005 = 0x2005;
inline constexpr uint16_t CTP_CAM_MODE = 0x2101;
inline constexpr uint16_t CTP_IMAGE_DATA = 0x2103;
inline constexpr uint16_t CTP_DATA_INFO = 0x2104;
inline constexpr uint16_t CTP_ERROR_REPORT = 0xFF01;

// The shape of an opcode's packet: which packet class carries it and so how
// long its frame is.
enum class CtpShape : uint8_t {
    Bare,     // opcode alone (CCtpData)
    Para1,    // one parameter word (CCtpDataPara1)
    Para2,    // two parameter words (CCtpDataPara2)
    CamCmd,   // key, state and a word (CCtpDataCamCmd)
    Gps,      // a line of text (CCtpDataGps)
    CamMode,  // the camera's mode and status (CCtpDataCamMode)
    Info,     // the size of the still (CCtpDataInfo)
    Block,    // one block of the still (CCtpDataBlock)
};

struct CtpOpcodeEntry {
    uint16_t opcode;
    CtpShape shape;
};

// The one table of the opcodes: the packet factory, the frame-length rule and
// the accepted-opcode test all read it.
inline constexpr CtpOpcodeEntry kCtpOpcodeTable[] = {
    {CTP_CAMCMD, CtpShape::CamCmd},      {CTP_GPS, CtpShape::Gps},
    {CTP_IMAGE_CMD, CtpShape::CamCmd},   {CTP_GPS_CMD, CtpShape::CamCmd},
    {CTP_1005, CtpShape::Para1},         {CTP_GET_MODE, CtpShape::Bare},
    {CTP_MODE_POLL, CtpShape::Bare},     {CTP_GET_IMAGE_DATA, CtpShape::Para1},
    {CTP_GET_DATA_INFO, CtpShape::Bare}, {CTP_2001, CtpShape::Para1},
    {CTP_2002, CtpShape::Para1},         {CTP_2005, CtpShape::Para2},
    {CTP_CAM_MODE, CtpShape::CamMode},   {CTP_IMAGE_DATA, CtpShape::Block},
    {CTP_DATA_INFO, CtpShape::Info},     {CTP_ERROR_REPORT, CtpShape::Para1},
};

// Every opcode of the table, in table order.
inline constexpr auto kCtpOpcodes = [] {
    std::array<uint16_t, std::size(kCtpOpcodeTable)> opcodes{};
    for (size_t i = 0; i < opcodes.size(); ++i) {
        opcodes[i] = kCtpOpcodeTable[i].opcode;
    }
    return opcodes;
}();

// The table's entry for `opcode`, or null for one it does not hold.
constexpr const CtpOpcodeEntry* FindCtpOpcode(uint16_t opcode) {
    for (const CtpOpcodeEntry& entry : kCtpOpcodeTable) {
        if (entry.opcode == opcode) {
            return &entry;
        }
    }
    return nullptr;
}

// Channel and length ahead of every packet.
inline constexpr size_t kCtpEnvelopeSize = 4;
// Channel, length and opcode: what every received frame starts with.
inline constexpr size_t kCtpHeaderSize = 6;
// Data bytes of one image block.
inline constexpr size_t kCtpBlockDataSize = 10240;
// The largest packet (the image block) and the largest frame.
inline constexpr size_t kCtpMaxPacketSize = 4 + kCtpBlockDataSize;
inline constexpr size_t kCtpMaxFrameSize = kCtpEnvelopeSize + kCtpMaxPacketSize;
// Characters a GPS packet's text holds, without its terminating zero.
inline constexpr size_t kCtpGpsTextMax = 83;

inline constexpr bool IsCtpChannel(int channel) {
    return channel >= 1 && channel <= 4;
}

// True for exactly the opcodes of the table; the gaps between them are refused.
constexpr bool IsAcceptedOpcode(uint16_t opcode) {
    return FindCtpOpcode(opcode) != nullptr;
}
