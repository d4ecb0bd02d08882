#include "tools/remote/RemoteOptions.h"

#include <algorithm>
#include <cstdlib>

namespace remote {
namespace {

const char* const kExitCodes =
    "Exit codes:\n"
    "   0  done\n"
    "   1  the camera refused, or a step of the command failed\n"
    "   2  bad command line\n"
    "   3  no paired camcorder, no such name, or several and no --device\n"
    "   4  Bluetooth not available\n"
    "   5  connection refused: the port did not open or the handshake failed\n"
    "   6  connection timed out: the camcorder did not answer\n"
    "   7  camera busy or in the wrong mode for the command\n"
    "   8  link lost (without --reconnect)\n"
    "   9  file, folder or standard output not writable\n"
    "  10  the camcorder's link is held by another program (CamoraController)\n";

const char* const kCommon =
    "Options of every command:\n"
    "  --device NAME   the paired camcorder to use, by name, port (COM9) or Bluetooth\n"
    "                  address (default: the only one)\n"
    "  --help          this text\n";

struct Command {
    const char* name;
    Subcommand command;
    const char* usage;
};

const Command kCommands[] = {
    {"devices", Subcommand::Devices,
     "usage: camora-remote devices [--json]\n"
     "Lists the paired camcorders the program would offer, with their ports.\n"},
    {"status", Subcommand::Status,
     "usage: camora-remote status [--watch] [--json] [--reconnect]\n"
     "Shows the camera's mode, recording state, power and battery, and the GPS.\n"
     "  --watch       keep polling and print each change until interrupted\n"
     "  --json        one JSON object per report\n"
     "  --reconnect   with --watch: carry on across a lost link\n"},
    {"press", Subcommand::Press,
     "usage: camora-remote press KEY [--hold MS] [--every SECONDS [--count N] [--reconnect]]\n"
     "Presses one of the panel's keys: record, pause, zoom-t, zoom-w, rewind,\n"
     "play, forward, index, snapshot. Without --hold the key is let go once the\n"
     "camera has answered it; with --hold it is held (sent again and again) for MS\n"
     "milliseconds. As on the panel, snapshot is refused in video recording mode.\n"
     "  --every SECONDS  press again every SECONDS (0.1 or more; fractions allowed),\n"
     "                   N times or until interrupted: press k goes at start + k x\n"
     "                   SECONDS, whatever the answers before it took. Each press is\n"
     "                   printed with its time and answer; one without an answer is\n"
     "                   reported and the command then ends with 1.\n"
     "  --reconnect      with --every: carry on across a lost link\n"
     "for example:  camora-remote press snapshot --every 10 --count 360\n"},
    {"liveview", Subcommand::LiveView,
     "usage: camora-remote liveview [--frames N] [--out DIR | --mjpeg -] [--reconnect]\n"
     "Runs the live view (video recording mode) until N images have come, or until\n"
     "interrupted. The images are written to DIR as frame-000001.jpg and on (default:\n"
     "the current folder), or with --mjpeg - as a multipart MJPEG stream on standard\n"
     "output, for example:  camora-remote liveview --mjpeg - | mpv --demuxer=mpjpeg -\n"},
    {"capture", Subcommand::Capture,
     "usage: camora-remote capture [--out FILE]\n"
     "Fetches the still the camera shows in playback (video or still playback) and\n"
     "writes it to FILE; without --out, where the program would propose to save it:\n"
     "JyyMMddNNN.jpg, the number one above the highest of that day, in the folder\n"
     "last saved to (at first the Pictures folder), which is then remembered as the\n"
     "program remembers it. A progress bar is shown when standard error is a\n"
     "terminal.\n"},
    {"gps", Subcommand::Gps,
     "usage: camora-remote gps on [--for SECONDS] [--gpx FILE] [--reconnect] | camora-remote gps "
     "off\n"
     "on: feeds the camera with this machine's GPS position (see gps.conf in the\n"
     "device root) for SECONDS, or until interrupted, then switches the feed off.\n"
     "With --gpx every position fed to the camera is written to FILE as a GPX 1.1\n"
     "track (time, latitude, longitude, fix quality); the file is a whole GPX\n"
     "document after each point, so one killed keeps every point but the last.\n"
     "off: tells the camera to stop taking a GPS feed.\n"
     "for example:  camora-remote gps on --for 3600 --gpx walk.gpx\n"},
    {"stats", Subcommand::Stats,
     "usage: camora-remote stats [--frames N] [--queries N]\n"
     "                           [--link-rate BYTES_PER_S --link-latency MS]\n"
     "Measures the live link: live view for N images (default 20) for images/s and\n"
     "payload kB/s, and N mode queries (default 20); prints the round trip of the\n"
     "exchanges, median and 99th percentile, per channel. With the link's rate and\n"
     "latency (both needed) it also prints the stop-and-wait bound for the same\n"
     "images.\n"},
    {"serve", Subcommand::Serve,
     "usage: camora-remote serve [--listen ADDR:PORT] [--reconnect]\n"
     "A remote in the browser: a page with the panel's keys, the camera's mode,\n"
     "state, battery and GPS and its live view, at the URL it prints (default\n"
     "http://127.0.0.1:8780/, this machine only). Also /live.mjpeg (a multipart\n"
     "MJPEG stream for players and streaming software), /status.json and\n"
     "POST /press/KEY. The live view runs while someone watches. On an address\n"
     "other than loopback every request needs the token in the printed URL.\n"
     "PORT 0 takes a free port.\n"
     "for example:  camora-remote serve --listen 0.0.0.0:8780\n"},
};

bool ParseSeconds(const std::string& text, double low, double high, double* out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const double n = std::strtod(text.c_str(), &end);
    // Also refuses "nan", "inf" and hexadecimal forms.
    if (*end != '\0' || !(n >= low && n <= high) ||
        text.find_first_not_of("0123456789.") != std::string::npos) {
        return false;
    }
    *out = n;
    return true;
}

bool ParseInt(const std::string& text, int low, int high, int* out);

// "ADDR:PORT" with ADDR four dotted decimals, each 0 to 255.
bool ParseListen(const std::string& text, std::string* host, int* port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || !ParseInt(text.substr(colon + 1), 0, 65535, port)) {
        return false;
    }
    const std::string address = text.substr(0, colon);
    int parts = 0;
    size_t at = 0;
    while (at <= address.size()) {
        size_t dot = address.find('.', at);
        if (dot == std::string::npos) {
            dot = address.size();
        }
        const std::string part = address.substr(at, dot - at);
        int value = 0;
        if (part.empty() || part.size() > 3 ||
            part.find_first_not_of("0123456789") != std::string::npos ||
            !ParseInt(part, 0, 255, &value)) {
            return false;
        }
        ++parts;
        at = dot + 1;
    }
    if (parts != 4) {
        return false;
    }
    *host = address;
    return true;
}

bool ParseInt(const std::string& text, int low, int high, int* out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const long n = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || n < low || n > high) {
        return false;
    }
    *out = static_cast<int>(n);
    return true;
}

}  // namespace

const std::vector<std::string>& KeyNames() {
    static const std::vector<std::string> kNames = {
        "record", "pause", "zoom-t", "zoom-w", "rewind", "play", "forward", "index", "snapshot"};
    return kNames;
}

std::string UsageText(Subcommand command) {
    for (const Command& c : kCommands) {
        if (c.command == command) {
            return std::string(c.usage) + kCommon + "\n" + kExitCodes;
        }
    }
    std::string text =
        "usage: camora-remote COMMAND [OPTIONS]\n"
        "The camcorder from the command line, through the paired camcorders of\n"
        "CamoraController's device root ($CAMORA_DEVICE_ROOT, else\n"
        "$XDG_DATA_HOME/camora-controller). It does not run while CamoraController\n"
        "holds the camcorder's link.\n\nCommands:\n";
    for (const Command& c : kCommands) {
        text += "  " +
                std::string(c.usage).substr(
                    std::string("usage: camora-remote ").size(),
                    std::string(c.usage).find('\n') - std::string("usage: camora-remote ").size()) +
                "\n";
    }
    text += "\n'camora-remote COMMAND --help' tells more.\n";
    return text + kCommon + "\n" + kExitCodes;
}

ParseResult ParseRemoteOptions(const std::vector<std::string>& args) {
    ParseResult result;
    RemoteOptions o;
    if (args.empty()) {
        result.error = "a command is needed";
        return result;
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        o.help = true;
        result.options = o;
        return result;
    }
    const auto found = std::find_if(std::begin(kCommands), std::end(kCommands),
                                    [&](const Command& c) { return args[0] == c.name; });
    if (found == std::end(kCommands)) {
        result.error = "unknown command '" + args[0] + "'";
        return result;
    }
    o.command = found->command;
    std::vector<std::string> positional;
    bool outGiven = false;
    bool rateGiven = false;
    bool latencyGiven = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        // Options with a value take the next word.
        auto value = [&](std::string* out) {
            if (i + 1 >= args.size()) {
                result.error = a + " needs a value";
                return false;
            }
            *out = args[++i];
            return true;
        };
        auto number = [&](int low, int high, int* out) {
            std::string v;
            if (!value(&v)) {
                return false;
            }
            if (!ParseInt(v, low, high, out)) {
                result.error = a + " takes a number from " + std::to_string(low) + " to " +
                               std::to_string(high);
                return false;
            }
            return true;
        };
        const Subcommand c = o.command;
        bool ok = true;
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--device") {
            ok = value(&o.device) && !o.device.empty();
        } else if (a == "--reconnect" &&
                   (c == Subcommand::Status || c == Subcommand::LiveView || c == Subcommand::Gps ||
                    c == Subcommand::Press || c == Subcommand::Serve)) {
            o.reconnect = true;
        } else if (a == "--json" && (c == Subcommand::Status || c == Subcommand::Devices)) {
            o.json = true;
        } else if (a == "--watch" && c == Subcommand::Status) {
            o.watch = true;
        } else if (a == "--hold" && c == Subcommand::Press) {
            ok = number(1, 600000, &o.holdMs);
        } else if (a == "--every" && c == Subcommand::Press) {
            std::string v;
            ok = value(&v);
            if (ok && !ParseSeconds(v, 0.1, 86400, &o.everySeconds)) {
                result.error = "--every takes seconds from 0.1 to 86400";
                ok = false;
            }
        } else if (a == "--count" && c == Subcommand::Press) {
            ok = number(1, 10000000, &o.count);
        } else if (a == "--frames" && (c == Subcommand::LiveView || c == Subcommand::Stats)) {
            ok = number(1, 1000000, &o.frames);
        } else if (a == "--out" && c == Subcommand::LiveView) {
            ok = value(&o.outDir) && !o.outDir.empty();
            outGiven = true;
        } else if (a == "--mjpeg" && c == Subcommand::LiveView) {
            std::string v;
            ok = value(&v);
            if (ok && v != "-") {
                result.error = "--mjpeg writes to standard output only: --mjpeg -";
                ok = false;
            }
            o.mjpeg = true;
        } else if (a == "--out" && c == Subcommand::Capture) {
            ok = value(&o.outFile) && !o.outFile.empty();
        } else if (a == "--gpx" && c == Subcommand::Gps) {
            ok = value(&o.gpxFile) && !o.gpxFile.empty();
        } else if (a == "--listen" && c == Subcommand::Serve) {
            std::string v;
            ok = value(&v);
            if (ok && !ParseListen(v, &o.listenHost, &o.listenPort)) {
                result.error = "--listen takes an IPv4 address and a port, as 127.0.0.1:8780";
                ok = false;
            }
        } else if (a == "--for" && c == Subcommand::Gps) {
            ok = number(1, 86400 * 366, &o.forSeconds);
        } else if (a == "--queries" && c == Subcommand::Stats) {
            ok = number(1, 100000, &o.queries);
        } else if (a == "--link-rate" && c == Subcommand::Stats) {
            ok = number(1, 100000000, &o.linkRate);
            rateGiven = true;
        } else if (a == "--link-latency" && c == Subcommand::Stats) {
            ok = number(0, 60000, &o.linkLatencyMs);
            latencyGiven = true;
        } else if (a.starts_with("-")) {
            result.error = "unknown option " + a + " for " + found->name;
            ok = false;
        } else {
            positional.push_back(a);
        }
        if (!ok) {
            if (result.error.empty()) {
                result.error = a + " needs a value";
            }
            return result;
        }
    }
    if (o.help) {
        result.options = o;
        return result;
    }
    const Subcommand c = o.command;
    if (c == Subcommand::Press) {
        if (positional.size() != 1) {
            result.error = "press takes one key";
            return result;
        }
        const auto& keys = KeyNames();
        if (std::find(keys.begin(), keys.end(), positional[0]) == keys.end()) {
            result.error = "no key named '" + positional[0] + "'; the keys:";
            for (size_t k = 0; k < keys.size(); ++k) {
                result.error += (k == 0 ? " " : ", ") + keys[k];
            }
            return result;
        }
        o.key = positional[0];
        if (o.everySeconds == 0 && (o.count != 0 || o.reconnect)) {
            result.error = "--count and --reconnect go with --every";
            return result;
        }
        // A held key must be let go before the next press is due.
        if (o.everySeconds > 0 && o.holdMs >= o.everySeconds * 1000) {
            result.error = "--hold must be shorter than --every";
            return result;
        }
    } else if (c == Subcommand::Gps) {
        if (positional.size() != 1 || (positional[0] != "on" && positional[0] != "off")) {
            result.error = "gps takes on or off";
            return result;
        }
        o.gpsOn = positional[0] == "on";
        if (!o.gpsOn && (o.forSeconds != 0 || o.reconnect || !o.gpxFile.empty())) {
            result.error = "--for, --gpx and --reconnect go with gps on";
            return result;
        }
    } else if (!positional.empty()) {
        result.error = "unexpected '" + positional[0] + "'";
        return result;
    }
    if (c == Subcommand::LiveView && o.mjpeg && outGiven) {
        result.error = "--out and --mjpeg exclude each other";
        return result;
    }
    if (c == Subcommand::Status && o.reconnect && !o.watch) {
        result.error = "--reconnect goes with --watch";
        return result;
    }
    // A bound with a latency silently taken as 0 ms would look right and be wrong.
    if (c == Subcommand::Stats && rateGiven != latencyGiven) {
        result.error = "--link-rate and --link-latency go together";
        return result;
    }
    if (c == Subcommand::Stats && o.frames == 0) {
        o.frames = 20;
    }
    if (c == Subcommand::LiveView && !o.mjpeg && o.outDir.empty()) {
        o.outDir = ".";
    }
    result.options = o;
    return result;
}

}  // namespace remote
