// Makes an empty packet of the right class for an opcode of the table.
#pragma once

#include <cstdint>
#include <memory>

#include "ctp/CtpData.h"

class CCtpDataFactory {
public:
    // The process-wide factory (it holds no state).
    static CCtpDataFactory* GetInstance();

    // A new packet for `opcode` with the opcode stored and every body field
    // zero; null for an opcode outside the table or when memory runs out.
    // The caller owns the packet.
    static CCtpData* Create(uint16_t opcode);

    // The packet for `opcode` already as class T; null when the opcode's
    // class is not T (the packet made is freed) or it cannot be made.
    template <typename T>
    static std::unique_ptr<T> CreateAs(uint16_t opcode) {
        std::unique_ptr<CCtpData> packet(Create(opcode));
        if (dynamic_cast<T*>(packet.get()) == nullptr) {
            return nullptr;
        }
        return std::unique_ptr<T>(static_cast<T*>(packet.release()));
    }
};
