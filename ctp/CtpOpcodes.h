// The CTP opcodes the camera link carries, the frame sizes, and the test of
// whether an opcode is one the receiver accepts.
#pragma once

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

// Every opcode of the table, in table order.
inline constexpr uint16_t kCtpOpcodes[] = {
    CTP_CAMCMD,        CTP_GPS,        CTP_IMAGE_CMD, CTP_GPS_CMD,
    CTP_1005,          CTP_GET_MODE,   CTP_MODE_POLL, CTP_GET_IMAGE_DATA,
    CTP_GET_DATA_INFO, CTP_2001,       CTP_2002,      CTP_2005,
    CTP_CAM_MODE,      CTP_IMAGE_DATA, CTP_DATA_INFO, CTP_ERROR_REPORT,
};

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
    for (uint16_t known : kCtpOpcodes) {
        if (known == opcode) {
            return true;
        }
    }
    return false;
}
