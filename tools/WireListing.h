// The simulated camcorder's record of the frames on the wire, as its control
// socket answers "frames rx" and "frames tx", turned into a short listing:
// both directions in time order, each distinct frame once with how often it
// crossed, long frames cut to their first bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

struct RecordedFrame {
    bool toCamera = false;  // received by the camera ("rx"), else sent by it ("tx")
    uint64_t atMs = 0;      // since the simulator started
    std::vector<uint8_t> bytes;
};

// Reads lines "rx|tx <ms> <hex bytes>"; a line of any other shape is left
// out and counted in *skipped.
std::vector<RecordedFrame> ParseWireRecord(const std::vector<std::string>& lines, size_t* skipped);

// One line of the listing: the first frame of its kind and how many there were.
struct WireEntry {
    RecordedFrame first;
    size_t count = 0;
};

// Orders the frames by time (at equal times the camera's input first) and
// merges frames of one kind into the entry of the first: frames of up to
// kWholeFrameBytes are alike when every byte is; longer ones when direction,
// channel, opcode and the first body word (the block number) are.
inline constexpr size_t kWholeFrameBytes = 16;
std::vector<WireEntry> CollapseWire(std::vector<RecordedFrame> frames);

// "  1234 ms  x3  ->  CTP_GET_MODE        00 01 00 06 11 01"; frames longer
// than kWholeFrameBytes show that many bytes and their size, GPS sentences
// their text as well.
std::string FormatWireEntry(const WireEntry& entry);

// The CTP name of an opcode, or "0x...." for one that has none.
std::string CtpOpcodeName(uint16_t opcode);

// Hex bytes, at most `shown` of them, then "... (N bytes)" when there were more.
std::string AbbreviatedHex(std::span<const uint8_t> bytes, size_t shown);
