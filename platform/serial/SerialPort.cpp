#include "platform/serial/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <sys/stat.h>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>

#include "platform/fs/DeviceRoot.h"
#include "platform/serial/PortBindings.h"
#include "platform/sys/Syscall.h"
#include "platform/text/Text.h"

namespace platform {
namespace {

// Host device for a handset port name: the device root's link when present,
// else the RFCOMM device of the same port number.
std::string HostDeviceFor(std::u16string_view handsetName) {
    std::string name = Utf16ToUtf8(handsetName);
    if (!name.empty() && name.back() == ':') {
        name.pop_back();
    }
    std::string link = DeviceRootPath("dev/" + name);
    struct stat st {};
    if (::stat(link.c_str(), &st) == 0) {
        return link;
    }
    auto number = [&](size_t prefix) { return std::stoi(name.substr(prefix)); };
    try {
        if (name.rfind("COM", 0) == 0 && name.size() > 3) {
            return "/dev/rfcomm" + std::to_string(number(3));
        }
        if (name.rfind("BTC", 0) == 0 && name.size() > 3) {
            return "/dev/rfcomm" + std::to_string(10 + number(3));
        }
    } catch (const std::exception&) {
    }
    return link;
}

// A link whose maker leaves "<link>.peer" beside it (the camcorder simulator
// does) is good only while the maker still holds that file locked: once it
// has gone, the terminal the link names may belong to another program, and
// opening it would write the handshake into a stranger's terminal. Links
// without the file (made by hand, or the RFCOMM devices) are taken as they are.
bool PeerGone(const std::string& link) {
    const std::string peer = link + ".peer";
    const sys::Outcome opened =
        sys::Call("open", [&] { return ::open(peer.c_str(), O_RDONLY | O_CLOEXEC); });
    if (opened.Failed()) {
        return false;
    }
    const int fd = static_cast<int>(opened.result);
    const sys::Outcome locked = sys::Call("flock", [&] { return ::flock(fd, LOCK_SH | LOCK_NB); });
    sys::Close(fd, "closing a link's .peer file");  // also lets go of a lock taken here
    return !locked.Failed();
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// poll() until `events` or the deadline (-1: none); a retry after EINTR
// waits only for what is left.
int PollUntil(int fd, short events, int64_t deadline, short* revents) {
    pollfd p{fd, events, 0};
    const sys::Outcome o = sys::Call("poll", [&] {
        int timeout = -1;
        if (deadline >= 0) {
            timeout = static_cast<int>(std::max<int64_t>(0, deadline - NowMs()));
        }
        return ::poll(&p, 1, timeout);
    });
    *revents = p.revents;
    return static_cast<int>(o.result);
}

}  // namespace

SerialPort::SerialPort(int fd, bool socket) : fd_(fd), socket_(socket) {}

SerialPort::~SerialPort() {
    Close();
}

std::shared_ptr<SerialPort> SerialPort::Open(std::u16string_view handsetName) {
    // A port the Bluetooth stack bound to a connection: its link is a socket.
    if (const PortConnector connect = BoundPort(handsetName)) {
        const int fd = connect();
        return fd >= 0 ? Adopt(fd) : nullptr;
    }
    const std::string path = HostDeviceFor(handsetName);
    if (PeerGone(path)) {
        return nullptr;
    }
    const sys::Outcome opened = sys::Call(
        "open", [&] { return ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC); });
    if (opened.Failed()) {
        return nullptr;
    }
    const int fd = static_cast<int>(opened.result);
    if (::isatty(fd) != 0) {
        // A terminal left in cooked mode would alter the frames' bytes: say so.
        termios tio{};
        sys::Outcome o = sys::Call("tcgetattr", [&] { return ::tcgetattr(fd, &tio); });
        if (!o.Failed()) {
            ::cfmakeraw(&tio);
            o = sys::Call("tcsetattr", [&] { return ::tcsetattr(fd, TCSANOW, &tio); });
        }
        if (o.Failed()) {
            sys::Report(path.c_str(), o);
        }
    }
    return Adopt(fd);
}

std::shared_ptr<SerialPort> SerialPort::Adopt(int fd) {
    const sys::Outcome flags = sys::Call("fcntl", [&] { return ::fcntl(fd, F_GETFL); });
    if (!flags.Failed()) {
        const sys::Outcome set = sys::Call("fcntl", [&] {
            return ::fcntl(fd, F_SETFL, static_cast<int>(flags.result) | O_NONBLOCK);
        });
        if (set.Failed()) {
            sys::Report("making the port non-blocking", set);
        }
    }
    struct stat st {};
    const bool socket =
        !sys::Call("fstat", [&] { return ::fstat(fd, &st); }).Failed() && S_ISSOCK(st.st_mode);
    return std::shared_ptr<SerialPort>(new SerialPort(fd, socket));
}

SerialTimeouts SerialPort::GetTimeouts() const {
    std::lock_guard lock(timeoutsLock_);
    return timeouts_;
}

void SerialPort::SetTimeouts(const SerialTimeouts& timeouts) {
    std::lock_guard lock(timeoutsLock_);
    timeouts_ = timeouts;
}

bool SerialPort::Read(void* buffer, uint32_t count, uint32_t* got) {
    *got = 0;
    const SerialTimeouts t = GetTimeouts();
    std::shared_lock lock(lock_);
    if (fd_ < 0) {
        return false;
    }
    if (count == 0) {
        return true;
    }
    // Bytes that are there already need no poll: one call rather than two.
    // Nothing yet (or a 0 that a terminal without minimum may give) falls
    // through to the wait.
    const sys::Outcome first = sys::Call("read", [&] { return ::read(fd_, buffer, count); });
    if (first.result > 0) {
        *got = static_cast<uint32_t>(first.result);
        return true;
    }
    if (first.Failed() && first.error != EAGAIN && first.error != EWOULDBLOCK) {
        return false;  // EIO after a hang-up
    }
    const uint64_t total = uint64_t{t.readTotalMultiplierMs} * count + t.readTotalConstantMs;
    const int64_t deadline = total == 0 ? -1 : NowMs() + static_cast<int64_t>(total);
    short revents = 0;
    const int r = PollUntil(fd_, POLLIN, deadline, &revents);
    if (r < 0) {
        return false;
    }
    if (r == 0) {
        return true;  // time-out with nothing
    }
    if ((revents & POLLIN) == 0) {
        return false;  // POLLHUP / POLLERR with no data: the other side is gone
    }
    const sys::Outcome o = sys::Call("read", [&] { return ::read(fd_, buffer, count); });
    if (o.result > 0) {
        *got = static_cast<uint32_t>(o.result);
        return true;
    }
    // 0 is end of file after a hang-up; EIO likewise.
    return o.Failed() && (o.error == EAGAIN || o.error == EWOULDBLOCK);
}

bool SerialPort::Write(const void* buffer, uint32_t count, uint32_t* written) {
    *written = 0;
    const SerialTimeouts t = GetTimeouts();
    std::shared_lock lock(lock_);
    if (fd_ < 0) {
        return false;
    }
    const uint64_t total = uint64_t{t.writeTotalMultiplierMs} * count + t.writeTotalConstantMs;
    const int64_t deadline = total == 0 ? -1 : NowMs() + static_cast<int64_t>(total);
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    while (*written < count) {
        // A socket whose peer has gone must fail the write, not raise SIGPIPE.
        const sys::Outcome o = sys::Call("write", [&] {
            return socket_ ? ::send(fd_, bytes + *written, count - *written, MSG_NOSIGNAL)
                           : ::write(fd_, bytes + *written, count - *written);
        });
        if (o.result > 0) {
            *written += static_cast<uint32_t>(o.result);
            continue;
        }
        if (o.Failed() && (o.error == EAGAIN || o.error == EWOULDBLOCK)) {
            if (deadline >= 0 && NowMs() >= deadline) {
                return false;
            }
            short revents = 0;
            const int r = PollUntil(fd_, POLLOUT, deadline, &revents);
            if (r < 0 || (r > 0 && (revents & (POLLERR | POLLHUP)) != 0)) {
                return false;
            }
            if (r == 0) {
                return false;  // the reader did not take the bytes in time
            }
            continue;
        }
        return false;
    }
    return true;
}

void SerialPort::Close() {
    std::unique_lock lock(lock_);
    if (fd_ >= 0) {
        sys::Close(fd_, "closing the serial port");
        fd_ = -1;
    }
}

bool SerialPort::IsOpen() const {
    std::shared_lock lock(lock_);
    return fd_ >= 0;
}

}  // namespace platform
