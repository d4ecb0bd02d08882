#include "tests/support/PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <stdlib.h>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <stdexcept>

#include "platform/sys/Syscall.h"

namespace testsupport {

PtyPair::PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        throw std::runtime_error("posix_openpt failed");
    }
    slavePath_ = ::ptsname(master_);
    keepSlave_ = OpenSlave();
    termios tio{};
    ::tcgetattr(keepSlave_, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(keepSlave_, TCSANOW, &tio);
}

PtyPair::~PtyPair() {
    if (keepSlave_ >= 0) {
        ::close(keepSlave_);
    }
    HangUp();
}

int PtyPair::OpenSlave() const {
    const int fd = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("open slave failed");
    }
    return fd;
}

void PtyPair::LinkAs(const std::string& deviceRoot, const std::string& name) const {
    const std::filesystem::path link = std::filesystem::path(deviceRoot) / "dev" / name;
    std::filesystem::create_directories(link.parent_path());
    std::filesystem::remove(link);
    std::filesystem::create_symlink(slavePath_, link);
}

void PtyPair::PeerWrite(const std::vector<uint8_t>& bytes) const {
    const platform::sys::Outcome o = platform::sys::WriteAll(master_, bytes.data(), bytes.size());
    if (o.Failed()) {
        throw std::runtime_error("peer write failed: " + o.Describe());
    }
}

std::vector<uint8_t> PtyPair::PeerRead(size_t atLeast, int timeoutMs) const {
    std::vector<uint8_t> out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < atLeast) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            break;
        }
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) {
            continue;
        }
        uint8_t buf[4096];
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) {
            break;
        }
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

void PtyPair::HangUp() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

}  // namespace testsupport
