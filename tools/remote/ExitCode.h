// camora-remote's exit codes; the manual page and --help list the same.
#pragma once

namespace remote {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,       // the camera refused or a step failed (e.g. the image transfer)
    kExitUsage = 2,        // a bad command line
    kExitNoDevice = 3,     // no paired camcorder, no such name, or several and none chosen
    kExitNoBluetooth = 4,  // the Bluetooth stack is not available
    kExitRefused = 5,      // the camcorder's port did not open, or the handshake failed
    kExitTimedOut = 6,     // the camcorder did not answer in time
    kExitWrongMode = 7,    // the camera is busy or in the wrong mode for the command
    kExitLinkLost = 8,     // the link was lost (and --reconnect was not given)
    kExitNotWritable = 9,  // an output file or folder cannot be written
    kExitLinkHeld = 10,    // another program holds the camcorder's link
};

}  // namespace remote
