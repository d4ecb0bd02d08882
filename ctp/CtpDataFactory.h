// Makes an empty packet of the right class for an opcode of the table.
#pragma once

#include <cstdint>

#include "ctp/CtpData.h"

class CCtpDataFactory {
public:
    // The process-wide factory (it holds no state).
    static CCtpDataFactory* GetInstance();

    // A new packet for `opcode` with the opcode stored and every body field
    // zero; null for an opcode outside the table or when memory runs out.
    // The caller owns the packet.
    static CCtpData* Create(uint16_t opcode);
};
