// camora-remote's command line: a subcommand with its options, and the
// options every subcommand takes.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace remote {

enum class Subcommand { Devices, Status, Press, LiveView, Capture, Gps, Stats, Serve, Help };

struct RemoteOptions {
    Subcommand command = Subcommand::Help;
    std::string device;       // --device NAME; empty: the only paired one
    bool reconnect = false;   // --reconnect
    bool json = false;        // status --json, devices --json
    bool watch = false;       // status --watch
    std::string key;          // press KEY
    int holdMs = 0;           // press --hold MS (0: released on the camera's first answer)
    double everySeconds = 0;  // press --every SECONDS (0: one press)
    int count = 0;            // press --every --count N (0: until interrupted)
    int frames = 0;           // liveview/stats --frames N (0: liveview until interrupted)
    std::string outDir;       // liveview --out DIR
    bool mjpeg = false;       // liveview --mjpeg -
    std::string outFile;      // capture --out FILE
    bool gpsOn = false;       // gps on|off
    int forSeconds = 0;       // gps on --for SECONDS (0: until interrupted)
    std::string gpxFile;      // gps on --gpx FILE
    std::string listenHost = "127.0.0.1";  // serve --listen ADDR:PORT
    int listenPort = 8780;
    int queries = 20;       // stats --queries N
    int linkRate = 0;       // stats --link-rate BYTES_PER_S (0: no stop-and-wait bound)
    int linkLatencyMs = 0;  // stats --link-latency MS
    bool help = false;      // --help for the subcommand
};

struct ParseResult {
    std::optional<RemoteOptions> options;  // empty on error
    std::string error;                     // what was wrong
};

ParseResult ParseRemoteOptions(const std::vector<std::string>& args);

// The usage text of one subcommand (Help: the whole tool), exit codes included.
std::string UsageText(Subcommand command);

// The panel's key names, in the panel's order.
const std::vector<std::string>& KeyNames();

}  // namespace remote
