#include "tools/CamsimControl.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/sys/Syscall.h"
#include "sim/ControlServer.h"

CamsimControl::~CamsimControl() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool CamsimControl::Connect(const std::string& path) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) {
        error_ = "socket path too long: " + path;
        return false;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error_ = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        error_ = "connect " + path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

bool CamsimControl::Run(const std::string& command, std::vector<std::string>* lines,
                        std::chrono::milliseconds timeout) {
    lines->clear();
    if (fd_ < 0) {
        error_ = "not connected";
        return false;
    }
    if (!sim::SendAll(fd_, command + "\n")) {
        error_ = std::string("send: ") + std::strerror(errno);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        // Whole lines first: the answer ends with its "ok" or "err" line.
        size_t eol = 0;
        while ((eol = pending_.find('\n')) != std::string::npos) {
            std::string line = pending_.substr(0, eol);
            pending_.erase(0, eol + 1);
            if (line == "ok") {
                return true;
            }
            if (line == "err" || line.starts_with("err ")) {
                error_ = command + ": " + line;
                return false;
            }
            lines->push_back(std::move(line));
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            error_ = command + ": no answer in time";
            return false;
        }
        pollfd p{fd_, POLLIN, 0};
        const long ready = platform::sys::Call("poll", [&] {
                               return ::poll(&p, 1, static_cast<int>(left.count()));
                           }).result;
        if (ready <= 0) {
            continue;  // the deadline test above ends the wait
        }
        char buffer[65536];
        const long n = platform::sys::Call("recv", [&] {
                           return ::recv(fd_, buffer, sizeof buffer, 0);
                       }).result;
        if (n <= 0) {
            error_ = command + ": the simulator closed the connection";
            return false;
        }
        pending_.append(buffer, static_cast<size_t>(n));
    }
}
