#include "sim/CommandLine.h"

#include <optional>

#include "sim/Control.h"

namespace sim {

std::string UsageText() {
    return "usage: camora-camsim [options]\n"
           "Simulates a camcorder on a pseudo-terminal until it is stopped (SIGINT, SIGTERM or\n"
           "\"quit\"). Control commands come on standard input and on the --control socket;\n"
           "\"help\" lists them.\n"
           "\n"
           "  --link PATH          make PATH a link to the line, creating folders (repeatable)\n"
           "  --device NAME        the same at <device root>/dev/NAME, e.g. COM4\n"
           "  --mode N             initial camera mode 0..3 (default 0, video recording)\n"
           "  --state N            initial operating state 0..2 (default 0, standby)\n"
           "  --power 0|1          AC adapter connected (default 1)\n"
           "  --battery 0|1        battery attached (default 1)\n"
           "  --level N            battery level 0..5 (default 5)\n"
           "  --word N             16-bit response word (default 0)\n"
           "  --poll-ms MS         pace of the answers to mode polls (default 500)\n"
           "  --shape              shape the link like a Bluetooth serial link\n"
           "  --rate BYTES_PER_S   shaping rate (default 100000; implies --shape)\n"
           "  --latency MS         one-way latency when shaping (default 20; implies --shape)\n"
           "  --fault SPEC         start with a fault, as the control command \"fault SPEC\",\n"
           "                       e.g. \"late 2000 op=0x1101 times=1\" (repeatable):\n"
           "                       silence | late MS | garbage [HEX] | channel [CH] |\n"
           "                       cut [BYTES] | drop, each with [op=OPCODE] [times=N]\n"
           "  --gps-cmd STATUS     answer to GPS switch-on requests (default 0, accepted)\n"
           "  --gps-sentence STATUS  answer to GPS sentences (default 0; 2 stops the feed)\n"
           "  --jpeg-quality Q     JPEG quality of the pictures (default 75)\n"
           "  --control PATH       serve the control commands on a local socket at PATH\n"
           "  --no-stdin           do not read control commands from standard input\n"
           "  --record PATH        write the record of received frames to PATH at the end\n"
           "  --help               this text\n";
}

bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* out, std::string* error) {
    CommandLine cl;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= args.size()) {
                *error = a + " needs a value";
                return std::nullopt;
            }
            return args[++i];
        };
        auto number = [&](uint32_t max) -> std::optional<uint32_t> {
            const auto v = value();
            if (!v) {
                return std::nullopt;
            }
            const auto n = ParseNumber(*v, max);
            if (!n) {
                *error = "bad value for " + a + ": " + *v;
            }
            return n;
        };
        // Status bytes take any byte, so that a camera reporting nonsense can be run.
        uint8_t* byteField = a == "--mode"      ? &cl.options.status.mode
                             : a == "--state"   ? &cl.options.status.operationState
                             : a == "--power"   ? &cl.options.status.acPower
                             : a == "--battery" ? &cl.options.status.batteryAttached
                             : a == "--level"   ? &cl.options.status.batteryLevel
                                                : nullptr;
        if (byteField != nullptr) {
            const auto n = number(0xFF);
            if (!n) {
                return false;
            }
            *byteField = static_cast<uint8_t>(*n);
        } else if (a == "--word") {
            const auto n = number(0xFFFF);
            if (!n) {
                return false;
            }
            cl.options.status.responseWord = static_cast<uint16_t>(*n);
        } else if (a == "--poll-ms") {
            const auto n = number(600'000);
            if (!n) {
                return false;
            }
            cl.options.modePollIntervalMs = *n;
        } else if (a == "--shape") {
            cl.options.shaping.on = true;
        } else if (a == "--rate") {
            const auto n = number(100'000'000);
            if (!n || *n == 0) {
                *error = "bad value for --rate";
                return false;
            }
            cl.options.shaping.on = true;
            cl.options.shaping.bytesPerSecond = *n;
        } else if (a == "--latency") {
            const auto n = number(600'000);
            if (!n) {
                return false;
            }
            cl.options.shaping.on = true;
            cl.options.shaping.latencyMs = *n;
        } else if (a == "--fault") {
            const auto v = value();
            Fault f;
            if (!v || !ParseFault(*v, &f, error)) {
                return false;
            }
            cl.faults.push_back(f);
        } else if (a == "--gps-cmd" || a == "--gps-sentence") {
            const auto n = number(0xFFFF);
            if (!n) {
                return false;
            }
            (a == "--gps-cmd" ? cl.gpsCommandStatus : cl.gpsSentenceStatus) = static_cast<int>(*n);
        } else if (a == "--jpeg-quality") {
            const auto n = number(100);
            if (!n || *n == 0) {
                *error = "bad value for --jpeg-quality";
                return false;
            }
            cl.options.jpegQuality = static_cast<int>(*n);
        } else if (a == "--link" || a == "--device" || a == "--control" || a == "--record") {
            const auto v = value();
            if (!v || v->empty()) {
                *error = a + " needs a value";
                return false;
            }
            if (a == "--link") {
                cl.links.push_back(*v);
            } else if (a == "--device") {
                cl.devices.push_back(*v);
            } else if (a == "--control") {
                cl.controlPath = *v;
            } else {
                cl.recordPath = *v;
            }
        } else if (a == "--no-stdin") {
            cl.readStdin = false;
        } else if (a == "--help" || a == "-h") {
            cl.help = true;
        } else {
            *error = "unknown option " + a;
            return false;
        }
    }
    *out = std::move(cl);
    return true;
}

}  // namespace sim
