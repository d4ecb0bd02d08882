#include "ctp/CtpData.h"

#include <algorithm>
#include <cstring>

#include "ctp/ByteOrder.h"

using ctp::GetBe16;
using ctp::GetBe32;
using ctp::PutBe16;
using ctp::PutBe32;

namespace {

// The received packet as far as its frame reaches: the frame's length field
// (the two bytes before the opcode) bounds every read, and bytes past it read
// as zero, which is what the engine's cleared receive buffer holds there.
class FrameView {
public:
    explicit FrameView(const uint8_t* opcodeAt)
        : bytes_(opcodeAt), frameLength_(GetBe16(opcodeAt - 2)) {
        available_ = frameLength_ > kCtpEnvelopeSize ? frameLength_ - kCtpEnvelopeSize : 0;
    }

    uint16_t FrameLength() const { return frameLength_; }
    // Packet bytes that the frame holds, opcode included.
    size_t Available() const { return available_; }
    const uint8_t* Bytes() const { return bytes_; }

    uint8_t U8(size_t offset) const { return offset < available_ ? bytes_[offset] : 0; }
    uint16_t U16(size_t offset) const {
        return static_cast<uint16_t>((U8(offset) << 8) | U8(offset + 1));
    }
    uint32_t U32(size_t offset) const {
        // Gathered byte by byte: the field is not aligned on the wire.
        const uint8_t word[4] = {U8(offset), U8(offset + 1), U8(offset + 2), U8(offset + 3)};
        return GetBe32(word);
    }

private:
    const uint8_t* bytes_;
    uint16_t frameLength_;
    size_t available_;
};

// Every packet's opcode; read whatever the frame's length says, as the six
// header bytes are always there.
uint32_t OpcodeOf(const uint8_t* data) {
    return GetBe16(data);
}

}  // namespace

CCtpData::~CCtpData() = default;

uint16_t CCtpData::GetSize() const {
    return size;
}

void CCtpData::Parse(const uint8_t* data) {
    if (data == nullptr) {
        return;
    }
    opcode = OpcodeOf(data);
}

void CCtpData::Serialize(uint8_t* buffer) const {
    if (buffer == nullptr) {
        return;
    }
    PutBe16(buffer, static_cast<uint16_t>(opcode));
}

void CCtpDataPara1::Parse(const uint8_t* data) {
    if (data == nullptr) {
        return;
    }
    const FrameView frame(data);
    opcode = OpcodeOf(data);
    param = frame.U16(2);
}

void CCtpDataPara1::Serialize(uint8_t* buffer) const {
    if (buffer == nullptr) {
        return;
    }
    CCtpData::Serialize(buffer);
    PutBe16(buffer + 2, param);
}

void CCtpDataPara2::Parse(const uint8_t* data) {
    if (data == nullptr) {
        return;
    }
    const FrameView frame(data);
    opcode = OpcodeOf(data);
    param = frame.U16(2);
    param2 = frame.U16(4);
}

void CCtpDataPara2::Serialize(uint8_t* buffer) const {
    if (buffer == nullptr) {
        return;
    }
    CCtpData::Serialize(buffer);
    PutBe16(buffer + 2, param);
    PutBe16(buffer + 4, param2);
}

void CCtpDataInfo::Parse(const uint8_t* data) {
    if (data == nullptr) {
        return;
    }
    const FrameView frame(data);
    opcode = OpcodeOf(data);
    dataSize = frame.U32(2);
    dataCount = frame.U16(6);
}

void CCtpDataInfo::Serialize(uint8_t* buffer) const {
    if (buffer == nullptr) {
        return;
    }
    CCtpData::Serialize(buffer);
    PutBe32(buffer + 2, dataSize);
    PutBe16(buffer + 6, dataCount);
}

uint16_t CCtpDataGps::GetSize() const {
    return static_cast<uint16_t>(2 + std::strlen(text));
}

void CCtpDataGps::SetText(const char* value) {
    std::memset(text, 0, kCtpGpsTextMax);
    if (value == nullptr) {
        return;
    }
    for (size_t i = 0; i < kCtpGpsTextMax && value[i] != '\0'; ++i) {
        text[i] = value[i];
    }
}

void CCtpDataGps::Parse(const uint8_t* data) {
    if (data == nullptr) {
        return;
    }
    const FrameView frame(data);
    opcode = OpcodeOf(data);
    std::memset(text, 0, sizeof text);
    const size_t body = frame.Available() > 2 ? frame.Available() - 2 : 0;
    const size_t limit = std::min(body, kCtpGpsTextMax);
    for (size_t i = 0; i < limit && data[2 + i] != 0; ++i) {
        text[i] = static_cast<char>(data[2 + i]);
    }
}

void CCtpDataGps::Serialize(uint8_t* buffer) const {
    if (buffer == nullptr) {
        return;
    }
    CCtpData::Serialize(buffer);
    std::memcpy(buffer + 2, text, std::strlen(text));
}

void CCtpDataBlock::Parse(const uint8_t* received) {
    if (received == nullptr) {
        return;
    }
    const FrameView frame(received);
    opcode = OpcodeOf(received);
    param = frame.U16(2);
    // Only a frame longer than header and param carries data bytes.
    if (frame.FrameLength() > 8) {
        const size_t count = std::min<size_t>(frame.FrameLength() - 8u, kCtpBlockDataSize);
        std::memcpy(data, received + 4, count);
        std::memset(data + count, 0, kCtpBlockDataSize - count);
        hasData = 1;
    } else {
        hasData = 0;
    }
}

void CCtpDataBlock::Serialize(uint8_t* buffer) const {
    if (buffer == nullptr) {
        return;
    }
    CCtpData::Serialize(buffer);
    PutBe16(buffer + 2, param);
    std::memcpy(buffer + 4, data, kCtpBlockDataSize);
}

size_t CCtpDataBlock::CopyData(uint8_t* dest, size_t capacity) const {
    if (dest == nullptr) {
        return 0;
    }
    const size_t count = std::min(capacity, kCtpBlockDataSize);
    std::memcpy(dest, data, count);
    return count;
}

void CCtpDataBlock::SetData(const uint8_t* bytes, size_t count) {
    count = bytes == nullptr ? 0 : std::min(count, kCtpBlockDataSize);
    if (count > 0) {
        std::memcpy(data, bytes, count);
    }
    std::memset(data + count, 0, kCtpBlockDataSize - count);
    hasData = 1;
}

void CCtpDataCamCmd::Parse(const uint8_t* data) {
    if (data == nullptr) {
        return;
    }
    const FrameView frame(data);
    opcode = OpcodeOf(data);
    param = frame.U16(2);
    modeByte = frame.U8(4);
    stateByte = frame.U8(5);
}

void CCtpDataCamCmd::Serialize(uint8_t* buffer) const {
    if (buffer == nullptr) {
        return;
    }
    CCtpData::Serialize(buffer);
    PutBe16(buffer + 2, param);
    buffer[4] = modeByte;
    buffer[5] = stateByte;
}

namespace {

// Packet offsets of the single-byte values; value 4 is the word at offset 6.
constexpr size_t kCamModeByteOffsets[CCtpDataCamMode::kValueCount] = {2, 3, 4, 5, 0, 8, 9};
constexpr int kCamModeWordValue = 4;
constexpr size_t kCamModeWordOffset = 6;

}  // namespace

void CCtpDataCamMode::Parse(const uint8_t* data) {
    if (data == nullptr) {
        return;
    }
    const FrameView frame(data);
    opcode = OpcodeOf(data);
    for (int i = 0; i < kValueCount; ++i) {
        if (i == kCamModeWordValue) {
            values[i] = static_cast<int16_t>(frame.U16(kCamModeWordOffset));
        } else {
            // Signed on purpose: 0x80 to 0xFF become the negative values that the
            // camera state refuses as out of range.
            // NOLINTNEXTLINE(bugprone-signed-char-misuse)
            values[i] = static_cast<int8_t>(frame.U8(kCamModeByteOffsets[i]));
        }
    }
}

void CCtpDataCamMode::Serialize(uint8_t* buffer) const {
    if (buffer == nullptr) {
        return;
    }
    CCtpData::Serialize(buffer);
    for (int i = 0; i < kValueCount; ++i) {
        if (i == kCamModeWordValue) {
            PutBe16(buffer + kCamModeWordOffset, static_cast<uint16_t>(values[i]));
        } else {
            buffer[kCamModeByteOffsets[i]] = static_cast<uint8_t>(values[i]);
        }
    }
}

int16_t CCtpDataCamMode::GetValue(int i) const {
    return i >= 0 && i < kValueCount ? values[i] : 0;
}

void CCtpDataCamMode::SetValue(int i, int16_t value) {
    if (i >= 0 && i < kValueCount) {
        values[i] = value;
    }
}

uint16_t CtpWriteFrame(const CCtpData& packet, int channel, uint8_t* buffer, size_t capacity) {
    const size_t length = size_t{packet.GetSize()} + kCtpEnvelopeSize;
    if (buffer == nullptr || length > capacity || length > 0xFFFF) {
        return 0;
    }
    PutBe16(buffer, static_cast<uint16_t>(channel));
    PutBe16(buffer + 2, static_cast<uint16_t>(length));
    packet.Serialize(buffer + kCtpEnvelopeSize);
    return static_cast<uint16_t>(length);
}

bool GetReplyParam(const CCtpData* reply, uint16_t* param) {
    if (reply == nullptr || param == nullptr) {
        return false;
    }
    if (const auto* p = dynamic_cast<const CCtpDataPara1*>(reply)) {
        *param = p->GetParam();
    } else if (const auto* p2 = dynamic_cast<const CCtpDataPara2*>(reply)) {
        *param = p2->GetParam();
    } else if (const auto* cmd = dynamic_cast<const CCtpDataCamCmd*>(reply)) {
        *param = cmd->GetParam();
    } else if (const auto* block = dynamic_cast<const CCtpDataBlock*>(reply)) {
        *param = block->GetParam();
    } else {
        return false;
    }
    return true;
}
