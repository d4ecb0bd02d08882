#include "tests/sim/SimClient.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "testkit/ReadWithin.h"

namespace simtest {
SimClient::SimClient(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        throw std::runtime_error("cannot open " + path);
    }
}

SimClient::~SimClient() {
    ::close(fd_);
}

void SimClient::Send(const Bytes& bytes) const {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else {
            throw std::runtime_error("write to the simulator failed");
        }
    }
}

Bytes SimClient::Read(size_t count, std::chrono::milliseconds timeout) const {
    return testsupport::ReadWithin(fd_, count, timeout, testsupport::ReadAmount::Exactly);
}

Bytes SimClient::ReadFrame(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Bytes frame = Read(4, timeout);
    if (frame.size() < 4) {
        return {};
    }
    const size_t length = (size_t{frame[2]} << 8) | frame[3];
    if (length > 4) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const Bytes rest = Read(length - 4, std::max(left, std::chrono::milliseconds(1)));
        frame.insert(frame.end(), rest.begin(), rest.end());
    }
    return frame;
}

Bytes SimClient::Exchange(const Bytes& request) const {
    Send(request);
    return ReadFrame();
}

bool SimClient::SeesHangUp(std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return false;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        if ((p.revents & (POLLHUP | POLLERR)) != 0) {
            return true;
        }
        uint8_t buffer[4096];
        const ssize_t n = ::read(fd_, buffer, sizeof buffer);
        if (n == 0 || (n < 0 && errno == EIO)) {
            return true;
        }
    }
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

}  // namespace simtest
