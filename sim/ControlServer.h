// The control language served on a local (Unix-domain) socket, for scripts
// and tests that drive a running simulator: one command per line, several
// clients at a time, each answered in turn.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "sim/Camcorder.h"

namespace sim {

// Sends all of `text` on a stream socket, retrying interrupted and partial
// sends; false when the peer is gone.
bool SendAll(int fd, const std::string& text);

class ControlServer {
public:
    // `onQuit` runs on the server's thread when a client sends "quit".
    ControlServer(Camcorder& cam, std::function<void()> onQuit);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Listens at `path` (an old socket there is replaced). False on failure.
    bool Start(const std::string& path);
    // Closes every connection and removes the socket.
    void Stop();

private:
    void Serve();

    Camcorder& cam_;
    std::function<void()> onQuit_;
    std::string path_;
    int listener_ = -1;
    int stopPipe_[2] = {-1, -1};
    std::thread thread_;
};

}  // namespace sim
