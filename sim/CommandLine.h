// The command line of camora-camsim: what to serve, the camera's initial
// status, the poll pace, shaping and faults.
#pragma once

#include <string>
#include <vector>

#include "sim/Camcorder.h"

namespace sim {

struct CommandLine {
    Options options;
    std::vector<std::string> links;    // --link PATH (repeatable)
    std::vector<std::string> devices;  // --device NAME: <device root>/dev/NAME
    std::vector<Fault> faults;
    int gpsCommandStatus = 0;
    int gpsSentenceStatus = 0;
    std::string controlPath;  // --control PATH
    std::string recordPath;   // --record PATH: the frame record, written at the end
    bool readStdin = true;
    bool help = false;
};

// False with `error` set when an argument is wrong; `args` excludes the program name.
bool ParseCommandLine(const std::vector<std::string>& args, CommandLine* out, std::string* error);
std::string UsageText();

}  // namespace sim
