// Parses arbitrary bytes of an arbitrary count as every packet class, writes
// each result back into a buffer of exactly its announced size, and checks
// that what a packet writes parses back to the same bytes.
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

void ParseAsEveryClass(const uint8_t* bytes, size_t count) {
    std::vector<uint16_t> opcodes = {0};
    opcodes.insert(opcodes.end(), std::begin(kCtpOpcodes), std::end(kCtpOpcodes));
    for (uint16_t opcode : opcodes) {
        const std::unique_ptr<CCtpData> packet = Make(opcode);
        Check(packet != nullptr);
        packet->Parse(bytes, count);
        Check(packet->GetOpcode() == CtpReader(bytes, count).U16(0));
        Check(packet->GetSize() <= kCtpMaxPacketSize);
        const std::vector<uint8_t> once = Serialized(*packet);

        std::vector<uint8_t> again(packet->GetSize() + kCtpEnvelopeSize);
        Check(CtpWriteFrame(*packet, 1, again.data(), again.size()) == again.size());
        const std::unique_ptr<CCtpData> back = Make(opcode);
        back->Parse(again.data() + kCtpEnvelopeSize, again.size() - kCtpEnvelopeSize);
        Check(Serialized(*back) == once);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;  // no bytes: Parse is given none and does nothing
    }
    // A copy of exactly the input's size, so that a read past it shows.
    const std::vector<uint8_t> bytes(data, data + size);
    ParseAsEveryClass(bytes.data(), bytes.size());

    // The GPS text from arbitrary characters.
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    CCtpDataGps gps;
    gps.SetText(text.data());
    Check(std::strlen(gps.GetText()) <= kCtpGpsTextMax);
    Check(gps.GetSize() == 2 + std::strlen(gps.GetText()));
    return 0;
}
