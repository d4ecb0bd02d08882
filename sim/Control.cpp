#include "sim/Control.h"

#include <charconv>
#include <cstdio>
#include <functional>
#include <sstream>

namespace sim {
namespace {

std::vector<std::string_view> Split(std::string_view line) {
    std::vector<std::string_view> words;
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r')) {
            ++at;
        }
        size_t end = at;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r') {
            ++end;
        }
        if (end > at) {
            words.push_back(line.substr(at, end - at));
        }
        at = end;
    }
    return words;
}

// The text after the first `skip` words.
std::string_view Rest(std::string_view line, const std::vector<std::string_view>& words,
                      size_t skip) {
    if (words.size() <= skip) {
        return {};
    }
    return line.substr(static_cast<size_t>(words[skip].data() - line.data()));
}

std::string Ok(const std::string& lines = {}) {
    return lines + "ok\n";
}
std::string Err(const std::string& why) {
    return "err " + why + "\n";
}

const char* FaultName(FaultKind kind) {
    switch (kind) {
        case FaultKind::Silence:
            return "silence";
        case FaultKind::Late:
            return "late";
        case FaultKind::Garbage:
            return "garbage";
        case FaultKind::WrongChannel:
            return "channel";
        case FaultKind::Cut:
            return "cut";
        case FaultKind::DropLink:
            return "drop";
    }
    return "?";
}

// One line per item, as `format` writes it.
template <typename Items, typename Format>
std::string Lines(const Items& items, Format format) {
    std::string out;
    for (const auto& item : items) {
        out += format(item) + "\n";
    }
    return out;
}

std::string FormatFrames(const std::vector<WireFrame>& frames, const std::string& tag) {
    return Lines(frames, [&](const WireFrame& f) {
        return tag + " " + std::to_string(f.atMs) + " " + Hex(f.bytes);
    });
}

std::string FormatStatus(const Camcorder& cam) {
    const CameraStatus s = cam.Status();
    const Shaping sh = cam.GetShaping();
    char word[8];
    std::snprintf(word, sizeof word, "0x%04X", s.responseWord);
    std::ostringstream out;
    out << "mode " << int{s.mode} << "\nstate " << int{s.operationState} << "\npower "
        << int{s.acPower} << "\nbattery " << int{s.batteryAttached} << "\nlevel "
        << int{s.batteryLevel} << "\nword " << word << "\nlink " << (cam.LinkUp() ? "up " : "down ")
        << cam.SlavePath() << "\nshape "
        << (sh.on ? "on " + std::to_string(sh.bytesPerSecond) + " " + std::to_string(sh.latencyMs)
                  : std::string("off"))
        << "\ngps-feed " << (cam.GpsFeedOn() ? "on" : "off") << "\nreceived "
        << cam.ReceivedFrames().size() << "\nsent " << cam.SentFrames().size()
        << "\nliveview-frames " << cam.LiveViewFrames() << "\nerror-reports "
        << cam.ErrorReports().size() << "\nunknown " << cam.UnknownRequests().size() << "\nfaults "
        << cam.Faults().size() << "\n";
    return out.str();
}

std::optional<std::vector<uint16_t>> ParseStatuses(const std::vector<std::string_view>& words,
                                                   size_t from) {
    std::vector<uint16_t> statuses;
    for (size_t i = from; i < words.size(); ++i) {
        const auto v = ParseNumber(words[i], 0xFFFF);
        if (!v) {
            return std::nullopt;
        }
        statuses.push_back(static_cast<uint16_t>(*v));
    }
    if (statuses.empty()) {
        return std::nullopt;
    }
    return statuses;
}

ControlReply Gps(Camcorder& cam, const std::vector<std::string_view>& w) {
    const auto statuses = ParseStatuses(w, 2);
    if (w.size() < 3 || !statuses) {
        return {Err("usage: gps cmd|cmd-next|sentence|sentence-next STATUS...")};
    }
    if (w[1] == "cmd" && statuses->size() == 1) {
        cam.SetGpsCommandStatus(statuses->front());
    } else if (w[1] == "sentence" && statuses->size() == 1) {
        cam.SetGpsSentenceStatus(statuses->front());
    } else if (w[1] == "cmd-next") {
        cam.QueueGpsCommandStatuses(*statuses);
    } else if (w[1] == "sentence-next") {
        cam.QueueGpsSentenceStatuses(*statuses);
    } else {
        return {Err("usage: gps cmd|cmd-next|sentence|sentence-next STATUS...")};
    }
    return {Ok()};
}

ControlReply Shape(Camcorder& cam, const std::vector<std::string_view>& w) {
    Shaping s = cam.GetShaping();
    if (w.size() == 2 && w[1] == "off") {
        s.on = false;
        cam.SetShaping(s);
        return {Ok()};
    }
    if (w.size() >= 2 && w.size() <= 4 && w[1] == "on") {
        s.on = true;
        if (w.size() >= 3) {
            const auto rate = ParseNumber(w[2], 100'000'000);
            if (!rate || *rate == 0) {
                return {Err("bad rate")};
            }
            s.bytesPerSecond = *rate;
        }
        if (w.size() == 4) {
            const auto latency = ParseNumber(w[3], 600'000);
            if (!latency) {
                return {Err("bad latency")};
            }
            s.latencyMs = *latency;
        }
        cam.SetShaping(s);
        return {Ok()};
    }
    return {Err("usage: shape on [RATE [LATENCY_MS]] | shape off")};
}

ControlReply FaultCommand(Camcorder& cam, std::string_view line,
                          const std::vector<std::string_view>& w) {
    if (w.size() == 2 && w[1] == "clear") {
        cam.ClearFaults();
        return {Ok()};
    }
    Fault fault;
    std::string error;
    if (!ParseFault(Rest(line, w, 1), &fault, &error)) {
        return {Err(error)};
    }
    cam.AddFault(fault);
    return {Ok()};
}

// The status setters, by the word that names them.
struct StatusField {
    const char* name;
    uint32_t max;
    void (Camcorder::*set8)(uint8_t);
};

constexpr StatusField kStatusFields[] = {
    {"mode", 0xFF, &Camcorder::SetMode},          {"state", 0xFF, &Camcorder::SetOperationState},
    {"power", 0xFF, &Camcorder::SetAcPower},      {"battery", 0xFF, &Camcorder::SetBatteryAttached},
    {"level", 0xFF, &Camcorder::SetBatteryLevel},
};

}  // namespace

std::optional<uint32_t> ParseNumber(std::string_view text, uint32_t max) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (ec != std::errc{} || end != text.data() + text.size() || text.empty() || value > max) {
        return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

std::optional<std::vector<uint8_t>> ParseHex(std::string_view text) {
    std::vector<uint8_t> bytes;
    int high = -1;
    for (const char c : text) {
        if (c == ' ' || c == '\t') {
            continue;
        }
        int v = -1;
        if (c >= '0' && c <= '9') {
            v = c - '0';
        } else if (c >= 'a' && c <= 'f') {
            v = c - 'a' + 10;
        } else if (c >= 'A' && c <= 'F') {
            v = c - 'A' + 10;
        } else {
            return std::nullopt;
        }
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    if (high >= 0) {
        return std::nullopt;
    }
    return bytes;
}

std::string Hex(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const uint8_t b : bytes) {
        if (!out.empty()) {
            out += ' ';
        }
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

bool ParseFault(std::string_view text, Fault* fault, std::string* error) {
    const std::vector<std::string_view> w = Split(text);
    if (w.empty()) {
        *error =
            "usage: fault silence|late MS|garbage [HEX]|channel [CH]|cut [BYTES]|drop "
            "[op=OPCODE] [times=N] | fault clear";
        return false;
    }
    Fault f;
    size_t next = 1;
    // The optional value right after the kind, unless it is already an option.
    auto value = [&]() -> std::optional<std::string_view> {
        if (next < w.size() && w[next].find('=') == std::string_view::npos) {
            return w[next++];
        }
        return std::nullopt;
    };
    if (w[0] == "silence") {
        f.kind = FaultKind::Silence;
    } else if (w[0] == "late") {
        f.kind = FaultKind::Late;
        const auto v = value();
        const auto ms = v ? ParseNumber(*v, 600'000) : std::nullopt;
        if (!ms) {
            *error = "late needs a delay in milliseconds";
            return false;
        }
        f.delayMs = *ms;
    } else if (w[0] == "garbage") {
        f.kind = FaultKind::Garbage;
        if (const auto v = value()) {
            const auto bytes = ParseHex(*v);
            if (!bytes || bytes->empty()) {
                *error = "garbage takes hex bytes";
                return false;
            }
            f.bytes = *bytes;
        }
    } else if (w[0] == "channel") {
        f.kind = FaultKind::WrongChannel;
        if (const auto v = value()) {
            const auto ch = ParseNumber(*v, 0xFFFF);
            if (!ch) {
                *error = "bad channel";
                return false;
            }
            f.channel = static_cast<uint16_t>(*ch);
        }
    } else if (w[0] == "cut") {
        f.kind = FaultKind::Cut;
        if (const auto v = value()) {
            const auto at = ParseNumber(*v, 0xFFFF);
            if (!at || *at == 0) {
                *error = "bad cut length";
                return false;
            }
            f.cutAt = *at;
        }
    } else if (w[0] == "drop") {
        f.kind = FaultKind::DropLink;
    } else {
        *error = "unknown fault " + std::string(w[0]);
        return false;
    }
    for (; next < w.size(); ++next) {
        const std::string_view opt = w[next];
        std::optional<uint32_t> v;
        if (opt.starts_with("op=") && (v = ParseNumber(opt.substr(3), 0xFFFF))) {
            f.opcode = static_cast<uint16_t>(*v);
        } else if (opt.starts_with("times=") && (v = ParseNumber(opt.substr(6), 1'000'000))) {
            f.times = *v;
        } else {
            *error = "bad fault option " + std::string(opt);
            return false;
        }
    }
    *fault = f;
    return true;
}

std::string FormatFault(const Fault& fault) {
    std::string out = FaultName(fault.kind);
    switch (fault.kind) {
        case FaultKind::Late:
            out += " " + std::to_string(fault.delayMs);
            break;
        case FaultKind::Garbage:
            if (!fault.bytes.empty()) {
                std::string hex = Hex(fault.bytes);
                std::erase(hex, ' ');
                out += " " + hex;
            }
            break;
        case FaultKind::WrongChannel:
            if (fault.channel != 0) {
                out += " " + std::to_string(fault.channel);
            }
            break;
        case FaultKind::Cut:
            if (fault.cutAt != 0) {
                out += " " + std::to_string(fault.cutAt);
            }
            break;
        case FaultKind::Silence:
        case FaultKind::DropLink:
            break;
    }
    if (fault.opcode != 0) {
        char op[8];
        std::snprintf(op, sizeof op, "0x%04X", fault.opcode);
        out += std::string(" op=") + op;
    }
    if (fault.times != 0) {
        out += " times=" + std::to_string(fault.times);
    }
    return out;
}

std::string ControlHelp() {
    return "status                       camera status, link, counters\n"
           "mode|state|power|battery|level N   set one camera status byte (any 0..255)\n"
           "word N                       the 16-bit response word\n"
           "poll MS                      pace of the answers to mode polls\n"
           "quality Q                    JPEG quality of the pictures (1..100)\n"
           "gps cmd STATUS               answer to every GPS switch-on (0 accepts)\n"
           "gps cmd-next STATUS...       answers to the next switch-ons, then the above\n"
           "gps sentence STATUS          answer to every GPS sentence (2 stops the feed)\n"
           "gps sentence-next STATUS...  answers to the next sentences, then the above\n"
           "fault KIND [VALUE] [op=OPCODE] [times=N]\n"
           "    silence | late MS | garbage [HEX] | channel [CH] | cut [BYTES] | drop\n"
           "fault clear                  no more faults\n"
           "faults                       the faults in force\n"
           "shape on [RATE [LATENCY_MS]] shape the link (default 100000 B/s, 20 ms)\n"
           "shape off\n"
           "drop                         close the line now\n"
           "restore                      a new line after a drop, the links moved to it\n"
           "send HEX                     write raw bytes to the line\n"
           "frame CH OPCODE [HEX]        write one frame to the line\n"
           "frames [rx|tx]               the record of frames received (or sent)\n"
           "keys | sentences | errors | unknown   what the camera was told\n"
           "presses                      the key presses it acted on (a held key once)\n"
           "clear                        empty the records\n"
           "quit                         end the simulator\n";
}

ControlReply RunControlCommand(Camcorder& cam, std::string_view line) {
    const std::vector<std::string_view> w = Split(line);
    if (w.empty() || w[0].starts_with("#")) {
        return {""};  // blank lines and comments get no answer
    }
    const std::string_view cmd = w[0];
    for (const StatusField& field : kStatusFields) {
        if (cmd == field.name) {
            const auto v = w.size() == 2 ? ParseNumber(w[1], field.max) : std::nullopt;
            if (!v) {
                return {Err(std::string("usage: ") + field.name + " N")};
            }
            (cam.*field.set8)(static_cast<uint8_t>(*v));
            return {Ok()};
        }
    }
    if (cmd == "word" || cmd == "poll" || cmd == "quality") {
        const uint32_t max = cmd == "word" ? 0xFFFF : (cmd == "poll" ? 600'000 : 100);
        const auto v = w.size() == 2 ? ParseNumber(w[1], max) : std::nullopt;
        if (!v) {
            return {Err("usage: " + std::string(cmd) + " N")};
        }
        if (cmd == "word") {
            cam.SetResponseWord(static_cast<uint16_t>(*v));
        } else if (cmd == "poll") {
            cam.SetModePollInterval(*v);
        } else {
            cam.SetJpegQuality(static_cast<int>(*v));
        }
        return {Ok()};
    }
    if (cmd == "status") {
        return {Ok(FormatStatus(cam))};
    }
    if (cmd == "gps") {
        return Gps(cam, w);
    }
    if (cmd == "fault") {
        return FaultCommand(cam, line, w);
    }
    if (cmd == "faults") {
        return {Ok(Lines(cam.Faults(), FormatFault))};
    }
    if (cmd == "shape") {
        return Shape(cam, w);
    }
    if (cmd == "drop") {
        cam.DropLink();
        return {Ok()};
    }
    if (cmd == "restore") {
        if (!cam.RestoreLink()) {
            return {Err("the line is up or cannot be opened again")};
        }
        return {Ok()};
    }
    if (cmd == "send") {
        const auto bytes = ParseHex(Rest(line, w, 1));
        if (!bytes || bytes->empty()) {
            return {Err("usage: send HEX")};
        }
        cam.SendRaw(*bytes);
        return {Ok()};
    }
    if (cmd == "frame") {
        const auto ch = w.size() >= 3 ? ParseNumber(w[1], 0xFFFF) : std::nullopt;
        const auto op = w.size() >= 3 ? ParseNumber(w[2], 0xFFFF) : std::nullopt;
        const auto body = ParseHex(Rest(line, w, 3));
        if (!ch || !op || !body || body->size() + kMinFrameBytes > kMaxFrameBytes) {
            return {Err("usage: frame CH OPCODE [HEX]")};
        }
        cam.SendFrame(static_cast<uint16_t>(*ch), static_cast<uint16_t>(*op), *body);
        return {Ok()};
    }
    if (cmd == "frames") {
        if (w.size() == 1 || (w.size() == 2 && w[1] == "rx")) {
            return {Ok(FormatFrames(cam.ReceivedFrames(), "rx"))};
        }
        if (w.size() == 2 && w[1] == "tx") {
            return {Ok(FormatFrames(cam.SentFrames(), "tx"))};
        }
        return {Err("usage: frames [rx|tx]")};
    }
    if (cmd == "keys") {
        return {Ok(Lines(cam.Keys(), [](uint16_t k) { return std::to_string(k); }))};
    }
    if (cmd == "presses") {
        return {Ok(Lines(cam.Presses(), [](uint16_t k) { return std::to_string(k); }))};
    }
    if (cmd == "sentences") {
        // One line each: the sentence's own CR LF would split it.
        return {Ok(Lines(cam.GpsSentences(), [](std::string s) {
            while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) {
                s.pop_back();
            }
            return s;
        }))};
    }
    if (cmd == "errors") {
        return {Ok(Lines(cam.ErrorReports(), [](const ErrorReport& e) {
            return "channel " + std::to_string(e.channel) + " param " + std::to_string(e.param);
        }))};
    }
    if (cmd == "unknown") {
        return {Ok(Lines(cam.UnknownRequests(), [](const auto& frame) { return Hex(frame); }))};
    }
    if (cmd == "clear") {
        cam.ClearRecords();
        return {Ok()};
    }
    if (cmd == "help") {
        return {Ok(ControlHelp())};
    }
    if (cmd == "quit") {
        return {Ok(), true};
    }
    return {Err("unknown command " + std::string(cmd) + " (try help)")};
}

}  // namespace sim
