// The simulator's control language, shared by standard input, the control
// socket and the command line: one command per line, answered by zero or more
// lines and then a last line "ok" or "err <reason>".
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/Camcorder.h"

namespace sim {

struct ControlReply {
    std::string text;   // every line ends in "\n"; the last is "ok" or "err ..."
    bool quit = false;  // the command asked the simulator to end
};

ControlReply RunControlCommand(Camcorder& cam, std::string_view line);
std::string ControlHelp();

// "KIND [VALUE] [op=OPCODE] [times=N]", e.g. "late 2000 op=0x1101 times=1".
bool ParseFault(std::string_view text, Fault* fault, std::string* error);
std::string FormatFault(const Fault& fault);

// Numbers as the control language writes them: decimal or 0x-prefixed hex.
std::optional<uint32_t> ParseNumber(std::string_view text, uint32_t max);
// Hex bytes, spaces allowed between them ("00 01 00 06 11 01" or "000100061101").
std::optional<std::vector<uint8_t>> ParseHex(std::string_view text);
std::string Hex(std::span<const uint8_t> bytes);

}  // namespace sim
