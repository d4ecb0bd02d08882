#include "ctp/CtpData.h"

#include <algorithm>
#include <cstring>

#include "ctp/ByteOrder.h"

using ctp::GetBe32;
using ctp::PutBe16;
using ctp::PutBe32;

uint16_t CtpReader::U16(size_t offset) const {
    return static_cast<uint16_t>((U8(offset) << 8) | U8(offset + 1));
}

uint32_t CtpReader::U32(size_t offset) const {
    // Gathered byte by byte: the field is not aligned on the wire.
    const uint8_t word[4] = {U8(offset), U8(offset + 1), U8(offset + 2), U8(offset + 3)};
    return GetBe32(word);
}

CCtpData::~CCtpData() = default;

uint16_t CCtpData::GetSize() const {
    return size;
}

void CCtpData::Parse(const uint8_t* data, size_t count) {
    if (data == nullptr) {
        return;
    }
    const CtpReader packet(data, count);
    opcode = packet.U16(0);
    ParseBody(packet);
}

void CCtpData::Serialize(uint8_t* buffer) const {
    if (buffer == nullptr) {
        return;
    }
    PutBe16(buffer, opcode);
    SerializeBody(buffer);
}

void CCtpDataPara1::ParseBody(const CtpReader& frame) {
    param = frame.U16(2);
}

void CCtpDataPara1::SerializeBody(uint8_t* buffer) const {
    PutBe16(buffer + 2, param);
}

void CCtpDataPara2::ParseBody(const CtpReader& frame) {
    param = frame.U16(2);
    param2 = frame.U16(4);
}

void CCtpDataPara2::SerializeBody(uint8_t* buffer) const {
    PutBe16(buffer + 2, param);
    PutBe16(buffer + 4, param2);
}

void CCtpDataInfo::ParseBody(const CtpReader& frame) {
    dataSize = frame.U32(2);
    dataCount = frame.U16(6);
}

void CCtpDataInfo::SerializeBody(uint8_t* buffer) const {
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

void CCtpDataGps::ParseBody(const CtpReader& frame) {
    std::memset(text, 0, sizeof text);
    const size_t body = frame.Count() > 2 ? frame.Count() - 2 : 0;
    const size_t limit = std::min(body, kCtpGpsTextMax);
    for (size_t i = 0; i < limit && frame.U8(2 + i) != 0; ++i) {
        text[i] = static_cast<char>(frame.U8(2 + i));
    }
}

void CCtpDataGps::SerializeBody(uint8_t* buffer) const {
    std::memcpy(buffer + 2, text, std::strlen(text));
}

void CCtpDataBlock::ParseBody(const CtpReader& frame) {
    param = frame.U16(2);
    // Only a frame longer than header and param carries data bytes.
    if (frame.Count() > 4) {
        const size_t count = std::min<size_t>(frame.Count() - 4u, kCtpBlockDataSize);
        std::memcpy(data, frame.Bytes() + 4, count);
        std::memset(data + count, 0, kCtpBlockDataSize - count);
        hasData = true;
    } else {
        hasData = false;
    }
}

void CCtpDataBlock::SerializeBody(uint8_t* buffer) const {
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
    hasData = true;
}

void CCtpDataCamCmd::ParseBody(const CtpReader& frame) {
    param = frame.U16(2);
    modeByte = frame.U8(4);
    stateByte = frame.U8(5);
}

void CCtpDataCamCmd::SerializeBody(uint8_t* buffer) const {
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

void CCtpDataCamMode::ParseBody(const CtpReader& frame) {
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

void CCtpDataCamMode::SerializeBody(uint8_t* buffer) const {
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
    const std::optional<uint16_t> status = reply->StatusWord();
    if (status) {
        *param = *status;
    }
    return status.has_value();
}

bool CtpFrameLengthFits(uint16_t opcode, uint32_t length) {
    const CtpOpcodeEntry* entry = FindCtpOpcode(opcode);
    if (entry == nullptr) {
        return false;
    }
    switch (entry->shape) {
        case CtpShape::Block:
            return length >= kCtpHeaderSize + 2 && length <= kCtpMaxFrameSize;
        case CtpShape::Gps:
            return length > kCtpHeaderSize && length <= kCtpHeaderSize + kCtpGpsTextMax;
        case CtpShape::CamCmd:
        case CtpShape::Para2:
            return length == kCtpEnvelopeSize + 6;
        case CtpShape::Para1:
            return length == kCtpEnvelopeSize + 4;
        case CtpShape::Bare:
            return length == kCtpHeaderSize;
        case CtpShape::Info:
            return length == kCtpEnvelopeSize + 8;
        case CtpShape::CamMode:
            return length == kCtpEnvelopeSize + 10;
    }
    return false;
}

bool CtpFrameCanStart(const uint8_t* data, size_t n) {
    if (n >= 1 && data[0] != 0) {
        return false;
    }
    if (n >= 2 && !IsCtpChannel(data[1])) {
        return false;
    }
    // Frames read through a header carry a body: length 7 at least.
    if (n >= 3 && data[2] > (kCtpMaxFrameSize >> 8)) {
        return false;
    }
    const uint32_t length = n >= 4 ? ctp::GetBe16(data + 2) : 0;
    if (n >= 4 && (length <= kCtpHeaderSize || length > kCtpMaxFrameSize)) {
        return false;
    }
    if (n == 5) {
        bool known = false;
        for (uint16_t opcode : kCtpOpcodes) {
            known = known || (opcode >> 8) == data[4];
        }
        return known;
    }
    if (n >= 6) {
        const uint16_t opcode = ctp::GetBe16(data + 4);
        return IsAcceptedOpcode(opcode) && CtpFrameLengthFits(opcode, length);
    }
    return true;
}
