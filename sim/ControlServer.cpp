#include "sim/ControlServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

namespace {

// One line of the control language is short; a client that sends more
// without a newline, or lets this many answers pile up unread, is dropped.
constexpr size_t kMaxLine = 4096;
constexpr size_t kMaxUnread = 64 * 1024;
constexpr size_t kMaxClients = 16;

// Only a socket of this user that nobody answers on any more (left by a
// simulator that ended without removing it) may be replaced.
bool CanTakePath(const std::string& path, const sockaddr_un& addr) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return errno == ENOENT;
    }
    if (!S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid()) {
        return false;
    }
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return false;
    }
    const bool live = ::connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
    const int error = errno;
    ::close(probe);
    return !live && error == ECONNREFUSED && ::unlink(path.c_str()) == 0;
}

}  // namespace

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
    if (!CanTakePath(path, addr)) {
        ::close(listener_);
        listener_ = -1;
        return false;
    }
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
        std::string unsent;  // answers the client has not read yet
    };
    std::vector<Client> clients;
    for (;;) {
        std::vector<pollfd> fds = {{stopPipe_[0], POLLIN, 0}, {listener_, POLLIN, 0}};
        for (const Client& c : clients) {
            fds.push_back(
                {c.fd, static_cast<short>(c.unsent.empty() ? POLLIN : POLLIN | POLLOUT), 0});
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
            const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd >= 0 && clients.size() >= kMaxClients) {
                ::close(fd);
            } else if (fd >= 0) {
                clients.push_back({fd, {}, {}});
            }
        }
        // Clients are visited back to front so that closing one keeps the
        // others' indices into `fds` valid.
        for (size_t i = fds.size(); i-- > 2;) {
            if (fds[i].revents == 0) {
                continue;
            }
            Client& c = clients[i - 2];
            bool keep = (fds[i].revents & (POLLERR | POLLNVAL)) == 0;
            if (keep && (fds[i].revents & (POLLIN | POLLHUP)) != 0) {
                char buffer[4096];
                const long n = platform::sys::Call("recv", [&] {
                                   return ::recv(c.fd, buffer, sizeof buffer, 0);
                               }).result;
                keep = n > 0 || (n < 0 && errno == EAGAIN);
                if (n > 0) {
                    c.pending.append(buffer, static_cast<size_t>(n));
                }
                size_t eol = 0;
                while (keep && (eol = c.pending.find('\n')) != std::string::npos) {
                    const std::string line = c.pending.substr(0, eol);
                    c.pending.erase(0, eol + 1);
                    const ControlReply reply = RunControlCommand(cam_, line);
                    c.unsent += reply.text;
                    if (reply.quit && onQuit_) {
                        onQuit_();
                    }
                }
                keep = keep && c.pending.size() <= kMaxLine;
            }
            // Never wait for one client to read: what it leaves unread waits
            // here, up to a bound, while the others are served.
            while (keep && !c.unsent.empty()) {
                const long n =
                    ::send(c.fd, c.unsent.data(), c.unsent.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
                if (n > 0) {
                    c.unsent.erase(0, static_cast<size_t>(n));
                    continue;
                }
                keep = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
                break;
            }
            keep = keep && c.unsent.size() <= kMaxUnread;
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
