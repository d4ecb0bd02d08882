// The CTP packet family: one class per body layout, each able to write itself
// in wire order and to fill itself from a received frame.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ctp/CtpOpcodes.h"

// The opcode-only packet and the base of every other. `Parse` is given the
// bytes of a received frame from its opcode on (frame offset 4); the frame's
// length field sits in the two bytes before and must tell the truth about how
// many frame bytes are readable. Parse never reads past that length: fields
// beyond the end of a short frame read as zero.
class CCtpData {
public:
    CCtpData() = default;
    virtual ~CCtpData();
    CCtpData(const CCtpData&) = delete;
    CCtpData& operator=(const CCtpData&) = delete;

    // Bytes that Serialize writes, the two opcode bytes included.
    virtual uint16_t GetSize() const;
    // Fills the packet from a received frame; does nothing without data.
    virtual void Parse(const uint8_t* data);
    // Writes opcode and body at the start of `buffer` (GetSize bytes); does
    // nothing without a buffer.
    virtual void Serialize(uint8_t* buffer) const;

    uint16_t GetOpcode() const { return static_cast<uint16_t>(opcode); }
    void SetOpcode(uint16_t value) { opcode = value; }

protected:
    explicit CCtpData(uint16_t bytes) : size(bytes) {}

    uint32_t opcode = 0xFFFF;  // 0xFFFF until the factory stores one
    uint16_t size = 2;
};

// One 16-bit parameter: block requests, error reports, the camera's 0x1005,
// 0x2001 and 0x2002.
class CCtpDataPara1 : public CCtpData {
public:
    CCtpDataPara1() : CCtpData(4) {}
    void Parse(const uint8_t* data) override;
    void Serialize(uint8_t* buffer) const override;

    uint16_t GetParam() const { return param; }
    void SetParam(uint16_t value) { param = value; }

private:
    uint16_t param = 0;
};

// Two 16-bit parameters (the camera's 0x2005).
class CCtpDataPara2 : public CCtpData {
public:
    CCtpDataPara2() : CCtpData(6) {}
    void Parse(const uint8_t* data) override;
    void Serialize(uint8_t* buffer) const override;

    uint16_t GetParam() const { return param; }
    uint16_t GetParam2() const { return param2; }
    void SetParam(uint16_t value) { param = value; }
    void SetParam2(uint16_t value) { param2 = value; }

private:
    uint16_t param = 0;
    uint16_t param2 = 0;
};

// The size of the image the camera holds and its block count.
class CCtpDataInfo : public CCtpData {
public:
    CCtpDataInfo() : CCtpData(8) {}
    void Parse(const uint8_t* data) override;
    void Serialize(uint8_t* buffer) const override;

    uint32_t GetDataSize() const { return dataSize; }
    uint16_t GetDataCount() const { return dataCount; }
    void SetDataInfo(uint32_t bytes, uint16_t count) {
        dataSize = bytes;
        dataCount = count;
    }

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
    void Parse(const uint8_t* data) override;
    void Serialize(uint8_t* buffer) const override;

    // Keeps at most the first 83 characters of the zero-terminated `value`.
    void SetText(const char* value);
    const char* GetText() const { return text; }

private:
    char text[kCtpGpsTextMax + 1] = {};
};

// One 10240-byte block of an image. `hasData` is set only by a frame that
// carried at least one data byte.
class CCtpDataBlock : public CCtpData {
public:
    CCtpDataBlock() : CCtpData(static_cast<uint16_t>(kCtpMaxPacketSize)) {}
    void Parse(const uint8_t* data) override;
    void Serialize(uint8_t* buffer) const override;

    uint16_t GetParam() const { return param; }
    void SetParam(uint16_t value) { param = value; }
    bool HasData() const { return hasData != 0; }
    // Copies the block's data into `dest`, at most `capacity` bytes; returns
    // the number copied (10240 when the buffer is large enough).
    size_t CopyData(uint8_t* dest, size_t capacity) const;
    const uint8_t* Data() const { return data; }
    // Stores up to 10240 bytes as the block's data (the rest zero) and marks
    // the block as holding data.
    void SetData(const uint8_t* bytes, size_t count);

private:
    uint16_t param = 0;
    uint8_t data[kCtpBlockDataSize] = {};
    uint32_t hasData = 0;
};

// A key or switch command: the key code (or sub-command) and the low bytes of
// the camera's mode and operating state.
class CCtpDataCamCmd : public CCtpData {
public:
    CCtpDataCamCmd() : CCtpData(6) {}
    void Parse(const uint8_t* data) override;
    void Serialize(uint8_t* buffer) const override;

    void SetCommand(uint16_t code, uint8_t mode, uint8_t state) {
        param = code;
        modeByte = mode;
        stateByte = state;
    }
    uint16_t GetParam() const { return param; }
    uint8_t GetModeByte() const { return modeByte; }
    uint8_t GetStateByte() const { return stateByte; }

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
    void Parse(const uint8_t* data) override;
    void Serialize(uint8_t* buffer) const override;

    // Value i (0 to 6); 0 for any other index.
    int16_t GetValue(int i) const;
    void SetValue(int i, int16_t value);

private:
    int16_t values[kValueCount] = {};
};

// Wraps `packet` in its frame for `channel` at the start of `buffer` and
// returns the frame's length, or 0 when the frame would not fit `capacity`.
uint16_t CtpWriteFrame(const CCtpData& packet, int channel, uint8_t* buffer, size_t capacity);

// The status word of a reply: `param` of any class that carries one at its
// place after the opcode. False for a reply without such a field (an
// opcode-only packet, a mode answer...), which callers treat as a failed request.
bool GetReplyParam(const CCtpData* reply, uint16_t* param);
