// CTP frames as the camera sees them: a 4-byte envelope (channel, length of
// the whole frame) before the opcode and body, every integer big-endian. The
// framer takes bytes and gives frames, apart from any I/O, so that it can be
// driven by byte strings alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace sim {

// The camera's own copy of the opcode table: the simulator stands for the
// other end of the link and is built from what the camera does, not from the
// program's headers, so that a slip in ctp/CtpOpcodes.h shows as a
// disagreement on the wire instead of being shared by both ends.
// tests/sim/OpcodeTableTest.cpp checks that the two tables agree.
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

inline constexpr size_t kEnvelopeBytes = 4;  // channel and length
inline constexpr size_t kMinFrameBytes = 6;  // envelope and opcode
inline constexpr size_t kMaxFrameBytes = 10248;
inline constexpr size_t kBlockBytes = 10240;  // image bytes in one data block

void PutU16(std::vector<uint8_t>& out, uint16_t value);
void PutU32(std::vector<uint8_t>& out, uint32_t value);
uint16_t GetU16(const uint8_t* at);
uint32_t GetU32(const uint8_t* at);

// Field views of one whole frame; every accessor checks the frame's size first.
struct FrameView {
    std::span<const uint8_t> bytes;

    uint16_t Channel() const { return bytes.size() >= 2 ? GetU16(bytes.data()) : 0; }
    uint16_t Length() const { return bytes.size() >= 4 ? GetU16(bytes.data() + 2) : 0; }
    uint16_t Opcode() const { return bytes.size() >= 6 ? GetU16(bytes.data() + 4) : 0; }
    // The bytes after the opcode.
    std::span<const uint8_t> Body() const {
        return bytes.size() > kMinFrameBytes ? bytes.subspan(kMinFrameBytes)
                                             : std::span<const uint8_t>{};
    }
    // The 16-bit body field at `offset` from the body's start, or nothing
    // when the frame is too short to hold it.
    std::optional<uint16_t> BodyU16(size_t offset) const;
};

// One frame: envelope, opcode, body. The length field is computed.
std::vector<uint8_t> EncodeFrame(uint16_t channel, uint16_t opcode,
                                 std::span<const uint8_t> body = {});

// Reassembles frames from a byte stream. A frame starts with a channel of 1
// to 4 and a length of 6 to 10248; where the bytes cannot start one, the
// first byte is dropped and counted, and the search goes on from the next.
class FrameDecoder {
public:
    void Feed(std::span<const uint8_t> bytes);
    // The next complete frame, or nothing until more bytes come.
    std::optional<std::vector<uint8_t>> Next();
    uint64_t DiscardedBytes() const { return discarded_; }
    size_t PendingBytes() const { return pending_.size(); }

private:
    std::deque<uint8_t> pending_;
    uint64_t discarded_ = 0;
};

}  // namespace sim
