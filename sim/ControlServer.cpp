#include "sim/ControlServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/sys/Syscall.h"
#include "sim/Control.h"

namespace sim {

bool SendAll(int fd, const std::string& text) {
    return !platform::sys::SendAll(fd, text.data(), text.size()).Failed();
}

ControlServer::ControlServer(Camcorder& cam, std::function<void()> onQuit)
    : cam_(cam), onQuit_(std::move(onQuit)) {}

ControlServer::~ControlServer() {
    Stop();
}

bool ControlServer::Start(const std::string& path) {
    sockaddr_un addr{};
    if (listener_ >= 0 || path.empty() || path.size() >= sizeof addr.sun_path) {
        return false;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    listener_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0) {
        return false;
    }
    ::unlink(path.c_str());
    if (::bind(listener_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener_, 8) != 0 || ::pipe2(stopPipe_, O_CLOEXEC) != 0) {
        ::close(listener_);
        listener_ = -1;
        return false;
    }
    path_ = path;
    thread_ = std::thread([this] { Serve(); });
    return true;
}

void ControlServer::Stop() {
    if (listener_ < 0) {
        return;
    }
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(stopPipe_[1], &b, 1);
    if (thread_.joinable()) {
        thread_.join();
    }
    ::close(listener_);
    listener_ = -1;
    for (int& fd : stopPipe_) {
        ::close(fd);
        fd = -1;
    }
    ::unlink(path_.c_str());
}

void ControlServer::Serve() {
    struct Client {
        int fd;
        std::string pending;
    };
    std::vector<Client> clients;
    for (;;) {
        std::vector<pollfd> fds = {{stopPipe_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
        for (const Client& c : clients) {
            fds.push_back({c.fd, POLLIN, 0});
        }
        if (platform::sys::Call("poll", [&] {
                return ::poll(fds.data(), fds.size(), -1);
            }).Failed()) {
            break;
        }
        if (fds[0].revents != 0) {
            break;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                clients.push_back({fd, {}});
            }
        }
        // Clients are visited back to front so that closing one keeps the
        // others' indices into `fds` valid.
        for (size_t i = fds.size(); i-- > 2;) {
            if (fds[i].revents == 0) {
                continue;
            }
            Client& c = clients[i - 2];
            char buffer[4096];
            const long n = platform::sys::Call("recv", [&] {
                               return ::recv(c.fd, buffer, sizeof buffer, 0);
                           }).result;
            bool keep = n > 0;
            if (n > 0) {
                c.pending.append(buffer, static_cast<size_t>(n));
                size_t eol = 0;
                while (keep && (eol = c.pending.find('\n')) != std::string::npos) {
                    const std::string line = c.pending.substr(0, eol);
                    c.pending.erase(0, eol + 1);
                    const ControlReply reply = RunControlCommand(cam_, line);
                    keep = SendAll(c.fd, reply.text);
                    if (reply.quit && onQuit_) {
                        onQuit_();
                    }
                }
            }
            if (!keep) {
                ::close(c.fd);
                clients.erase(clients.begin() + static_cast<long>(i - 2));
            }
        }
    }
    for (const Client& c : clients) {
        ::close(c.fd);
    }
}

}  // namespace sim
