// The CTP packet family: one class per body layout, each able to write itself
// in wire order and to fill itself from a received frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "ctp/CtpOpcodes.h"

// The bytes of one received packet, opcode first, and how many of them there
// are: every read is bounded by that count, and bytes past it read as zero.
class CtpReader {
public:
    CtpReader(const uint8_t* bytes, size_t count) : bytes_(bytes), count_(count) {}

    size_t Count() const { return count_; }
    const uint8_t* Bytes() const { return bytes_; }
    uint8_t U8(size_t offset) const { return offset < count_ ? bytes_[offset] : 0; }
    uint16_t U16(size_t offset) const;
    uint32_t U32(size_t offset) const;

private:
    const uint8_t* bytes_;
    size_t count_;
};

// The opcode-only packet and the base of every other. `Parse` is given the
// bytes of a received frame from its opcode on (frame offset 4) and their
// count, the frame's length less its 4-byte channel and length fields; it reads
// nothing beyond them, and fields past the end of a short frame read as zero.
class CCtpData {
public:
    CCtpData() = default;
    virtual ~CCtpData();
    CCtpData(const CCtpData&) = delete;
    CCtpData& operator=(const CCtpData&) = delete;

    // Bytes that Serialize writes, the two opcode bytes included.
    virtual uint16_t GetSize() const;
    // Fills the packet from the `count` bytes at `data`; does nothing without data.
    void Parse(const uint8_t* data, size_t count);
    // Writes opcode and body at the start of `buffer` (GetSize bytes); does
    // nothing without a buffer.
    void Serialize(uint8_t* buffer) const;

    uint16_t GetOpcode() const { return static_cast<uint16_t>(opcode); }
    void SetOpcode(uint16_t value) { opcode = value; }

    // The status word of a reply: `param` of a class that carries one right
    // after the opcode; none for the others (an opcode-only packet, a mode
    // answer...), which callers treat as a failed request.
    virtual std::optional<uint16_t> StatusWord() const { return std::nullopt; }

protected:
    explicit CCtpData(uint16_t bytes) : size(bytes) {}

    // The body after the opcode, each class its own layout.
    virtual void ParseBody(const CtpReader& /*packet*/) {}
    virtual void SerializeBody(uint8_t* /*buffer*/) const {}

    uint16_t opcode = 0xFFFF;  // 0xFFFF until the factory stores one
    uint16_t size = 2;
};

// One 16-bit parameter: block requests, error reports, the camera's 0x1005,
// 0x2001 and 0x2002.
class CCtpDataPara1 : public CCtpData {
public:
    CCtpDataPara1() : CCtpData(4) {}
    std::optional<uint16_t> StatusWord() const override { return param; }

    uint16_t GetParam() const { return param; }
    void SetParam(uint16_t value) { param = value; }

protected:
    void ParseBody(const CtpReader& packet) override;
    void SerializeBody(uint8_t* buffer) const override;

private:
    uint16_t param = 0;
};

// Two 16-bit parameters (the camera's 0x2005).
class CCtpDataPara2 : public CCtpData {
public:
    CCtpDataPara2() : CCtpData(6) {}
    std::optional<uint16_t> StatusWord() const override { return param; }

    uint16_t GetParam() const { return param; }
    uint16_t GetParam2() const { return param2; }
    void SetParam(uint16_t value) { param = value; }
    void SetParam2(uint16_t value) { param2 = value; }

protected:
    void ParseBody(const CtpReader& packet) override;
    void SerializeBody(uint8_t* buffer) const override;

private:
    uint16_t param = 0;
    uint16_t param2 = 0;
};

// The size of the image the camera holds and its block count.
class CCtpDataInfo : public CCtpData {
public:
    CCtpDataInfo() : CCtpData(8) {}

    uint32_t GetDataSize() const { return dataSize; }
    uint16_t GetDataCount() const { return dataCount; }
    void SetDataInfo(uint32_t bytes, uint16_t count) {
        dataSize = bytes;
        dataCount = count;
    }

protected:
    void ParseBody(const CtpReader& packet) override;
    void SerializeBody(uint8_t* buffer) const override;

private:
    uint32_t dataSize = 0;
    uint16_t dataCount = 0;
};

// One NMEA sentence as text, sent without its terminating zero; the only
// packet whose size follows its contents.
class CCtpDataGps : public CCtpData {
public:
    CCtpDataGps() : CCtpData(2) {}
    uint16_t GetSize() const override;

    // Keeps at most the first 83 characters of the zero-terminated `value`.
    void SetText(const char* value);
    const char* GetText() const { return text; }

protected:
    void ParseBody(const CtpReader& packet) override;
    void SerializeBody(uint8_t* buffer) const override;

private:
    char text[kCtpGpsTextMax + 1] = {};
};

// One 10240-byte block of an image. `hasData` is set only by a frame that
// carried at least one data byte.
class CCtpDataBlock : public CCtpData {
public:
    CCtpDataBlock() : CCtpData(static_cast<uint16_t>(kCtpMaxPacketSize)) {}
    std::optional<uint16_t> StatusWord() const override { return param; }

    uint16_t GetParam() const { return param; }
    void SetParam(uint16_t value) { param = value; }
    bool HasData() const { return hasData; }
    // Copies the block's data into `dest`, at most `capacity` bytes; returns
    // the number copied (10240 when the buffer is large enough).
    size_t CopyData(uint8_t* dest, size_t capacity) const;
    const uint8_t* Data() const { return data; }
    // Stores up to 10240 bytes as the block's data (the rest zero) and marks
    // the block as holding data.
    void SetData(const uint8_t* bytes, size_t count);

protected:
    void ParseBody(const CtpReader& packet) override;
    void SerializeBody(uint8_t* buffer) const override;

private:
    uint16_t param = 0;
    uint8_t data[kCtpBlockDataSize] = {};
    bool hasData = false;
};

// A key or switch command: the key code (or sub-command) and the low bytes of
// the camera's mode and operating state.
class CCtpDataCamCmd : public CCtpData {
public:
    CCtpDataCamCmd() : CCtpData(6) {}
    std::optional<uint16_t> StatusWord() const override { return param; }

    void SetCommand(uint16_t code, uint8_t mode, uint8_t state) {
        param = code;
        modeByte = mode;
        stateByte = state;
    }
    uint16_t GetParam() const { return param; }
    uint8_t GetModeByte() const { return modeByte; }
    uint8_t GetStateByte() const { return stateByte; }

protected:
    void ParseBody(const CtpReader& packet) override;
    void SerializeBody(uint8_t* buffer) const override;

private:
    uint16_t param = 0;
    uint8_t modeByte = 0;
    uint8_t stateByte = 0;
};

// The camera's mode answer: mode, operating state, mains, battery attached,
// an uninterpreted word, battery level and one unused value. The single-byte
// values are widened as signed bytes, so 0x80 to 0xFF arrive negative.
class CCtpDataCamMode : public CCtpData {
public:
    static constexpr int kValueCount = 7;

    CCtpDataCamMode() : CCtpData(10) {}

    // Value i (0 to 6); 0 for any other index.
    int16_t GetValue(int i) const;
    void SetValue(int i, int16_t value);

protected:
    void ParseBody(const CtpReader& packet) override;
    void SerializeBody(uint8_t* buffer) const override;

private:
    int16_t values[kValueCount] = {};
};

// Wraps `packet` in its frame for `channel` at the start of `buffer` and
// returns the frame's length, or 0 when the frame would not fit `capacity`.
uint16_t CtpWriteFrame(const CCtpData& packet, int channel, uint8_t* buffer, size_t capacity);

// The reply's status word (CCtpData::StatusWord) in *param; false without a
// reply or without such a word.
bool GetReplyParam(const CCtpData* reply, uint16_t* param);

// True when a frame of `length` bytes (header included) can carry the packet
// class of `opcode` as it is laid out: the exact size of a fixed layout, an
// image block with its block number, a GPS text of at most 83 characters.
bool CtpFrameLengthFits(uint16_t opcode, uint32_t length);

// True when the `n` bytes at `data` (as many as there are, up to a header)
// can be the start of a frame: a channel 1 to 4, an accepted opcode and a
// length that fits it, each checked as far as the bytes go.
bool CtpFrameCanStart(const uint8_t* data, size_t n);
