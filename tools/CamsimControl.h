// A client of the camcorder simulator's control socket (camora-camsim
// --control PATH): one command line out, its answer lines back.
#pragma once

#include <chrono>
#include <string>
#include <vector>

class CamsimControl {
public:
    CamsimControl() = default;
    ~CamsimControl();
    CamsimControl(const CamsimControl&) = delete;
    CamsimControl& operator=(const CamsimControl&) = delete;

    // Connects to the socket at `path`; false (with the reason in error()) when it cannot.
    bool Connect(const std::string& path);
    bool Connected() const { return fd_ >= 0; }

    // Sends one command and collects the lines of its answer without the final
    // "ok". False when the simulator answered "err ..." (kept in error()), the
    // connection failed, or no whole answer came within `timeout`.
    bool Run(const std::string& command, std::vector<std::string>* lines,
             std::chrono::milliseconds timeout = std::chrono::seconds(5));

    const std::string& Error() const { return error_; }

private:
    int fd_ = -1;
    std::string pending_;  // bytes received after the last whole answer
    std::string error_;
};
