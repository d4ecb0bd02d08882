#include "testkit/PtyPair.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <stdlib.h>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <stdexcept>

#include "platform/sys/Syscall.h"
#include "testkit/ReadWithin.h"

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
    return ReadWithin(master_, atLeast, std::chrono::milliseconds(timeoutMs), ReadAmount::AtLeast);
}

void PtyPair::HangUp() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

}  // namespace testsupport
