#include "tools/WireListing.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <map>
#include <tuple>

#include "ctp/CtpOpcodes.h"
#include "sim/Control.h"

std::vector<RecordedFrame> ParseWireRecord(const std::vector<std::string>& lines, size_t* skipped) {
    std::vector<RecordedFrame> frames;
    *skipped = 0;
    for (const std::string& line : lines) {
        const std::string_view text(line);
        const size_t msEnd = text.find(' ', 3);
        RecordedFrame frame;
        const bool direction = text.starts_with("rx ") || text.starts_with("tx ");
        const char* const msFirst = text.data() + std::min<size_t>(3, text.size());
        const char* const msLast = text.data() + (msEnd == std::string_view::npos ? 0 : msEnd);
        const auto [end, ec] = std::from_chars(msFirst, msLast, frame.atMs);
        const auto bytes = direction && msEnd != std::string_view::npos
                               ? sim::ParseHex(text.substr(msEnd + 1))
                               : std::nullopt;
        if (!direction || ec != std::errc() || end != msLast || !bytes || bytes->empty()) {
            ++*skipped;
            continue;
        }
        frame.toCamera = text[0] == 'r';
        frame.bytes = *bytes;
        frames.push_back(std::move(frame));
    }
    return frames;
}

namespace {

// What makes two frames alike (see CollapseWire), as a string of bytes.
std::string KindOf(const RecordedFrame& f) {
    std::string kind(1, f.toCamera ? '>' : '<');
    auto add = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            kind += static_cast<char>(f.bytes[i]);
        }
    };
    if (f.bytes.size() <= kWholeFrameBytes) {
        add(0, f.bytes.size());
    } else {
        // Channel, then opcode and the first body word; the length is left out.
        add(0, 2);
        add(4, 8);
    }
    return kind;
}

uint16_t Word(const std::vector<uint8_t>& bytes, size_t at) {
    return at + 1 < bytes.size() ? static_cast<uint16_t>(bytes[at] << 8 | bytes[at + 1]) : 0;
}

}  // namespace

std::vector<WireEntry> CollapseWire(std::vector<RecordedFrame> frames) {
    std::stable_sort(frames.begin(), frames.end(),
                     [](const RecordedFrame& a, const RecordedFrame& b) {
                         return std::tuple(a.atMs, !a.toCamera) < std::tuple(b.atMs, !b.toCamera);
                     });
    std::vector<WireEntry> entries;
    std::map<std::string, size_t> entryOfKind;
    for (RecordedFrame& f : frames) {
        const auto [at, added] = entryOfKind.try_emplace(KindOf(f), entries.size());
        if (added) {
            entries.push_back(WireEntry{std::move(f), 1});
        } else {
            ++entries[at->second].count;
        }
    }
    return entries;
}

std::string CtpOpcodeName(uint16_t opcode) {
    static constexpr struct {
        uint16_t opcode;
        const char* name;
    } kNames[] = {
        {CTP_CAMCMD, "CTP_CAMCMD"},
        {CTP_GPS, "CTP_GPS"},
        {CTP_IMAGE_CMD, "CTP_IMAGE_CMD"},
        {CTP_GPS_CMD, "CTP_GPS_CMD"},
        {CTP_1005, "CTP_1005"},
        {CTP_GET_MODE, "CTP_GET_MODE"},
        {CTP_MODE_POLL, "CTP_MODE_POLL"},
        {CTP_GET_IMAGE_DATA, "CTP_GET_IMAGE_DATA"},
        {CTP_GET_DATA_INFO, "CTP_GET_DATA_INFO"},
        {CTP_2001, "CTP_2001"},
        {CTP_2002, "CTP_2002"},
        {CTP_2005, "CTP_2005"},
        {CTP_CAM_MODE, "CTP_CAM_MODE"},
        {CTP_IMAGE_DATA, "CTP_IMAGE_DATA"},
        {CTP_DATA_INFO, "CTP_DATA_INFO"},
        {CTP_ERROR_REPORT, "CTP_ERROR_REPORT"},
    };
    for (const auto& n : kNames) {
        if (n.opcode == opcode) {
            return n.name;
        }
    }
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", opcode);
    return text;
}

std::string AbbreviatedHex(std::span<const uint8_t> bytes, size_t shown) {
    if (bytes.size() <= shown) {
        return sim::Hex(bytes);
    }
    std::string text = sim::Hex(bytes.first(shown));
    text += " ... (";
    text += std::to_string(bytes.size());
    text += " bytes)";
    return text;
}

std::string FormatWireEntry(const WireEntry& entry) {
    const RecordedFrame& f = entry.first;
    const uint16_t opcode = Word(f.bytes, 4);
    char count[24] = "";
    if (entry.count > 1) {
        std::snprintf(count, sizeof count, "x%zu", entry.count);
    }
    char head[80];
    std::snprintf(head, sizeof head, "%7llu ms %4s  %s  ch%u %-19s",
                  static_cast<unsigned long long>(f.atMs), count, f.toCamera ? "->" : "<-",
                  Word(f.bytes, 0), CtpOpcodeName(opcode).c_str());
    std::string line = head;
    line += AbbreviatedHex(f.bytes, kWholeFrameBytes);
    if (opcode == CTP_GPS && f.bytes.size() > kCtpHeaderSize) {
        // The sentence without its line end or padding.
        line += "  \"";
        for (size_t i = kCtpHeaderSize; i < f.bytes.size(); ++i) {
            const char c = static_cast<char>(f.bytes[i]);
            if (c == '\r' || c == '\n' || c == '\0') {
                break;
            }
            line += c;
        }
        line += '"';
    }
    return line;
}
