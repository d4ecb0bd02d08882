#include "tests/ctp/CtpTestFrames.h"

#include <stdexcept>

#include "ctp/CtpDataFactory.h"

namespace ctptest {

std::unique_ptr<CCtpData> Make(uint16_t opcode) {
    std::unique_ptr<CCtpData> packet(CCtpDataFactory::Create(opcode));
    if (packet == nullptr) {
        throw std::logic_error("no packet class for this opcode");
    }
    return packet;
}

template <typename T>
static T& As(const std::unique_ptr<CCtpData>& packet) {
    auto* typed = dynamic_cast<T*>(packet.get());
    if (typed == nullptr) {
        throw std::logic_error("opcode of another packet class");
    }
    return *typed;
}

std::unique_ptr<CCtpData> Para1(uint16_t opcode, uint16_t param) {
    auto packet = Make(opcode);
    As<CCtpDataPara1>(packet).SetParam(param);
    return packet;
}

std::unique_ptr<CCtpData> CamCmd(uint16_t opcode, uint16_t param, uint8_t mode, uint8_t state) {
    auto packet = Make(opcode);
    As<CCtpDataCamCmd>(packet).SetCommand(param, mode, state);
    return packet;
}

std::unique_ptr<CCtpData> CamMode(std::initializer_list<int16_t> values) {
    auto packet = Make(CTP_CAM_MODE);
    int i = 0;
    for (int16_t v : values) {
        As<CCtpDataCamMode>(packet).SetValue(i++, v);
    }
    return packet;
}

std::unique_ptr<CCtpData> Gps(const char* text) {
    auto packet = Make(CTP_GPS);
    As<CCtpDataGps>(packet).SetText(text);
    return packet;
}

std::unique_ptr<CCtpData> Block(uint16_t param, uint8_t fill) {
    auto packet = Make(CTP_IMAGE_DATA);
    Bytes data(kCtpBlockDataSize);
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(fill + i);
    }
    As<CCtpDataBlock>(packet).SetParam(param);
    As<CCtpDataBlock>(packet).SetData(data.data(), data.size());
    return packet;
}

Bytes Frame(const CCtpData& packet, int channel) {
    Bytes frame(kCtpMaxFrameSize);
    const uint16_t length = CtpWriteFrame(packet, channel, frame.data(), frame.size());
    if (length == 0) {
        throw std::logic_error("packet does not fit a frame");
    }
    frame.resize(length);
    return frame;
}

Bytes Frame(const std::unique_ptr<CCtpData>& packet, int channel) {
    return Frame(*packet, channel);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

}  // namespace ctptest
