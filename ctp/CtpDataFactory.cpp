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
    CCtpData* packet = nullptr;
    switch (opcode) {
        case CTP_CAMCMD:
        case CTP_IMAGE_CMD:
        case CTP_GPS_CMD:
            packet = Make<CCtpDataCamCmd>();
            break;
        case CTP_GPS:
            packet = Make<CCtpDataGps>();
            break;
        case CTP_1005:
        case CTP_GET_IMAGE_DATA:
        case CTP_2001:
        case CTP_2002:
        case CTP_ERROR_REPORT:
            packet = Make<CCtpDataPara1>();
            break;
        case CTP_GET_MODE:
        case CTP_MODE_POLL:
        case CTP_GET_DATA_INFO:
            packet = Make<CCtpData>();
            break;
        case CTP_2005:
            packet = Make<CCtpDataPara2>();
            break;
        case CTP_CAM_MODE:
            packet = Make<CCtpDataCamMode>();
            break;
        case CTP_IMAGE_DATA:
            packet = Make<CCtpDataBlock>();
            break;
        case CTP_DATA_INFO:
            packet = Make<CCtpDataInfo>();
            break;
        default:
            return nullptr;
    }
    if (packet != nullptr) {
        packet->SetOpcode(opcode);
    }
    return packet;
}
