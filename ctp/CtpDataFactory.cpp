#include "ctp/CtpDataFactory.h"

#include <new>

namespace {

template <typename Packet>
CCtpData* Make() {
    return new (std::nothrow) Packet();
}

}  // namespace

CCtpDataFactory* CCtpDataFactory::GetInstance() {
    static auto* instance = new CCtpDataFactory();
    return instance;
}

CCtpData* CCtpDataFactory::Create(uint16_t opcode) {
    const CtpOpcodeEntry* entry = FindCtpOpcode(opcode);
    if (entry == nullptr) {
        return nullptr;
    }
    CCtpData* packet = nullptr;
    switch (entry->shape) {
        case CtpShape::CamCmd:
            packet = Make<CCtpDataCamCmd>();
            break;
        case CtpShape::Gps:
            packet = Make<CCtpDataGps>();
            break;
        case CtpShape::Para1:
            packet = Make<CCtpDataPara1>();
            break;
        case CtpShape::Bare:
            packet = Make<CCtpData>();
            break;
        case CtpShape::Para2:
            packet = Make<CCtpDataPara2>();
            break;
        case CtpShape::CamMode:
            packet = Make<CCtpDataCamMode>();
            break;
        case CtpShape::Block:
            packet = Make<CCtpDataBlock>();
            break;
        case CtpShape::Info:
            packet = Make<CCtpDataInfo>();
            break;
    }
    if (packet != nullptr) {
        packet->SetOpcode(opcode);
    }
    return packet;
}
