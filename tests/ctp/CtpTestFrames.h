// Frames and packets for the CTP tests, built through the packet classes.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ctp/CtpData.h"

namespace ctptest {

using Bytes = std::vector<uint8_t>;

// A fresh packet of the factory's class for `opcode` (never null in tests).
std::unique_ptr<CCtpData> Make(uint16_t opcode);

std::unique_ptr<CCtpData> Para1(uint16_t opcode, uint16_t param);
std::unique_ptr<CCtpData> CamCmd(uint16_t opcode, uint16_t param, uint8_t mode, uint8_t state);
std::unique_ptr<CCtpData> CamMode(std::initializer_list<int16_t> values);
std::unique_ptr<CCtpData> Gps(const char* text);
// An image block whose data bytes are `fill` + i (mod 256).
std::unique_ptr<CCtpData> Block(uint16_t param, uint8_t fill);

// The frame for `packet` on `channel`.
Bytes Frame(const CCtpData& packet, int channel);
Bytes Frame(const std::unique_ptr<CCtpData>& packet, int channel);

Bytes Concat(std::initializer_list<Bytes> parts);

}  // namespace ctptest
