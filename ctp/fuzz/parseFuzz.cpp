// Parses one arbitrary frame as every packet class, writes each result back
// into a buffer of exactly its announced size, and checks that what a packet
// writes parses back to the same bytes.
#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "ctp/ByteOrder.h"
#include "ctp/CtpDataFactory.h"

namespace {

std::vector<uint8_t> Serialized(const CCtpData& packet) {
    std::vector<uint8_t> bytes(packet.GetSize());
    if (!bytes.empty()) {
        packet.Serialize(bytes.data());
    }
    return bytes;
}

void Check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// The bare base class (opcode 0) and the class of every opcode of the table.
std::unique_ptr<CCtpData> Make(uint16_t opcode) {
    return std::unique_ptr<CCtpData>(opcode == 0 ? new CCtpData()
                                                 : CCtpDataFactory::Create(opcode));
}

void ParseAsEveryClass(const std::vector<uint8_t>& frame) {
    std::vector<uint16_t> opcodes = {0};
    opcodes.insert(opcodes.end(), std::begin(kCtpOpcodes), std::end(kCtpOpcodes));
    for (uint16_t opcode : opcodes) {
        const std::unique_ptr<CCtpData> packet = Make(opcode);
        Check(packet != nullptr);
        packet->Parse(frame.data() + kCtpEnvelopeSize);
        Check(packet->GetOpcode() == ctp::GetBe16(frame.data() + kCtpEnvelopeSize));
        Check(packet->GetSize() <= kCtpMaxPacketSize);
        const std::vector<uint8_t> once = Serialized(*packet);

        std::vector<uint8_t> again(packet->GetSize() + kCtpEnvelopeSize);
        Check(CtpWriteFrame(*packet, 1, again.data(), again.size()) == again.size());
        const std::unique_ptr<CCtpData> back = Make(opcode);
        back->Parse(again.data() + kCtpEnvelopeSize);
        Check(Serialized(*back) == once);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kCtpHeaderSize || size > 0xFFFF) {
        return 0;
    }
    // A buffer of exactly the frame's size; a length field that claims more
    // than the buffer holds is cut to the truth, as the engine guarantees.
    std::vector<uint8_t> frame(data, data + size);
    if (ctp::GetBe16(frame.data() + 2) > size) {
        ctp::PutBe16(frame.data() + 2, static_cast<uint16_t>(size));
    }
    ParseAsEveryClass(frame);

    // The GPS text from arbitrary characters.
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    CCtpDataGps gps;
    gps.SetText(text.data());
    Check(std::strlen(gps.GetText()) <= kCtpGpsTextMax);
    Check(gps.GetSize() == 2 + std::strlen(gps.GetText()));
    return 0;
}
