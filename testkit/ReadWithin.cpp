#include "testkit/ReadWithin.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace testsupport {

std::vector<uint8_t> ReadWithin(int fd, size_t count, std::chrono::milliseconds timeout,
                                ReadAmount amount) {
    using Clock = std::chrono::steady_clock;
    std::vector<uint8_t> out;
    const auto deadline = Clock::now() + timeout;
    while (out.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            break;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        if ((p.revents & POLLIN) == 0) {
            break;  // hang-up or error with nothing left to read
        }
        uint8_t buffer[16384];
        const size_t want = amount == ReadAmount::Exactly
                                ? std::min(sizeof buffer, count - out.size())
                                : sizeof buffer;
        const ssize_t n = ::read(fd, buffer, want);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

}  // namespace testsupport
