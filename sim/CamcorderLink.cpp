// The camcorder's link: the line it serves (a pseudo-terminal or a given
// descriptor, with the name it is linked as), the faults and shaping on it,
// and the reader and writer threads that serve the model's answers.
#include "sim/Camcorder.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/fs/DeviceRoot.h"
#include "platform/sys/Syscall.h"

namespace sim {
namespace {

int PollRetry(pollfd* fds, nfds_t count, int timeoutMs) {
    return static_cast<int>(
        platform::sys::Call("poll", [&] { return ::poll(fds, count, timeoutMs); }).result);
}

constexpr auto kShapingSlack = std::chrono::milliseconds(5);

std::chrono::nanoseconds TimeOnLink(size_t bytes, uint32_t bytesPerSecond) {
    const uint32_t rate = std::max<uint32_t>(1, bytesPerSecond);
    return std::chrono::nanoseconds(static_cast<int64_t>(bytes) * 1'000'000'000 / rate);
}

}  // namespace

bool Camcorder::Start() {
    std::unique_lock lock(mu_);
    if (started_) {
        return false;
    }
    if (options_.fd >= 0) {
        end_ = options_.fd;
        options_.fd = -1;
        servesGivenFd_ = true;
        const int flags = ::fcntl(end_, F_GETFL);
        ::fcntl(end_, F_SETFL, flags | O_NONBLOCK);
        if (::pipe2(hangUpPipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
            ::close(end_);
            end_ = -1;
            return false;
        }
    } else if (!OpenLineLocked()) {
        return false;
    }
    started_ = true;
    linkUp_ = true;
    startedAt_ = Clock::now();
    reader_ = std::thread([this] { ReaderLoop(); });
    writer_ = std::thread([this] { WriterLoop(); });
    const std::string link = options_.linkPath;
    lock.unlock();
    return link.empty() || LinkAs(link);
}

void Camcorder::Stop() {
    {
        std::unique_lock lock(mu_);
        // A restore under way owns the threads until it has started the new ones.
        eventCv_.wait(lock, [&] { return !restoring_; });
        if (!started_ || stopping_) {
            return;
        }
        stopping_ = true;
        RequestHangUpLocked();
    }
    if (reader_.joinable()) {
        reader_.join();
    }
    if (writer_.joinable()) {
        writer_.join();
    }
    std::lock_guard lock(mu_);
    for (const std::string& link : links_) {
        std::error_code ec;
        if (std::filesystem::is_symlink(link, ec) &&
            std::filesystem::read_symlink(link, ec) == slavePath_) {
            std::filesystem::remove(link, ec);
        }
    }
    links_.clear();
    for (const auto& [path, fd] : peerLocks_) {
        std::error_code ec;
        std::filesystem::remove(path + ".peer", ec);
        ::close(fd);
    }
    peerLocks_.clear();
    for (int& fd : hangUpPipe_) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

std::string Camcorder::SlavePath() const {
    std::lock_guard lock(mu_);
    return slavePath_;
}

bool Camcorder::OpenLineLocked() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        return false;
    }
    // ptsname_r: several simulators may start at once in one test process.
    char name[128];
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        ::close(master);
        return false;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        ::close(master);
        return false;
    }
    // Raw from the start: a program that opens the line before setting it
    // up must not see its own bytes echoed or line endings translated.
    // A line that cannot be made raw still works for a program that sets it up
    // itself, so the failure is reported and the start goes on.
    termios tio{};
    platform::sys::Outcome raw =
        platform::sys::Call("tcgetattr", [&] { return ::tcgetattr(slave, &tio); });
    if (!raw.Failed()) {
        ::cfmakeraw(&tio);
        raw = platform::sys::Call("tcsetattr", [&] { return ::tcsetattr(slave, TCSANOW, &tio); });
    }
    if (raw.Failed()) {
        platform::sys::Report("the simulator's line is not raw", raw);
    }
    const int flags = ::fcntl(master, F_GETFL);
    ::fcntl(master, F_SETFL, flags | O_NONBLOCK);
    int pipe[2] = {-1, -1};
    if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        ::close(slave);
        ::close(master);
        return false;
    }
    for (int& fd : hangUpPipe_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    hangUpPipe_[0] = pipe[0];
    hangUpPipe_[1] = pipe[1];
    slavePath_ = name;
    keepSlave_ = slave;
    end_ = master;
    return true;
}

bool Camcorder::RestoreLink() {
    {
        std::lock_guard lock(mu_);
        if (!started_ || stopping_ || servesGivenFd_ || restoring_) {
            return false;
        }
        if (linkUp_ && !hangUpRequested_) {
            return false;
        }
        restoring_ = true;
        RequestHangUpLocked();  // a line that is still closing finishes now
    }
    // The old line's threads end on the hang-up; the reader closes the line.
    if (reader_.joinable()) {
        reader_.join();
    }
    if (writer_.joinable()) {
        writer_.join();
    }
    std::unique_lock lock(mu_);
    restoring_ = false;
    if (stopping_ || !OpenLineLocked()) {
        NoteEventLocked();
        return false;
    }
    queue_.clear();
    writerBusy_ = false;
    hangUpRequested_ = false;
    linkUp_ = true;
    lastModeAnswer_.reset();
    inboundFree_ = {};
    outboundFree_ = {};
    reader_ = std::thread([this] { ReaderLoop(); });
    writer_ = std::thread([this] { WriterLoop(); });
    bool linked = true;
    for (const std::string& path : links_) {
        std::error_code ec;
        std::filesystem::remove(path, ec);
        std::filesystem::create_symlink(slavePath_, path, ec);
        linked = linked && !ec;
    }
    NoteEventLocked();
    return linked;
}

namespace {

// True when "<link>.peer" exists and no simulator holds it locked any more.
bool PeerGone(const std::string& link) {
    const int fd = ::open((link + ".peer").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    const bool gone = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    return gone;
}

}  // namespace

bool Camcorder::LinkAs(const std::string& path) {
    std::lock_guard lock(mu_);
    if (slavePath_.empty()) {
        return false;
    }
    std::error_code ec;
    const std::filesystem::path link(path);
    if (link.has_parent_path()) {
        std::filesystem::create_directories(link.parent_path(), ec);
    }
    // Only a link this simulator made, or a stale link of this user (its line
    // is gone, or the simulator that made it no longer holds its ".peer"), is
    // replaced; anything else at the path is left alone.
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        const bool ours = std::filesystem::read_symlink(link, ec) == slavePath_ && !ec;
        struct stat target {};
        const bool stale = S_ISLNK(st.st_mode) && st.st_uid == ::geteuid() &&
                           (::stat(path.c_str(), &target) != 0 || PeerGone(path));
        if (!(S_ISLNK(st.st_mode) && (ours || stale))) {
            return false;
        }
        std::filesystem::remove(link, ec);
    }
    std::filesystem::create_symlink(slavePath_, link, ec);
    if (ec) {
        return false;
    }
    // "<link>.peer", locked for as long as this object serves: the port's
    // open refuses the link once the lock is gone (this process killed), as
    // the terminal it names may by then be another program's.
    if (peerLocks_.count(path) == 0) {
        const std::string peer = path + ".peer";
        const int fd = ::open(peer.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (fd >= 0) {
                ::close(fd);
            }
            std::filesystem::remove(link, ec);
            return false;
        }
        const std::string pid = std::to_string(::getpid()) + "\n";
        [[maybe_unused]] const ssize_t written = ::write(fd, pid.data(), pid.size());
        peerLocks_[path] = fd;
    }
    links_.push_back(path);
    return true;
}

bool Camcorder::LinkAsDevice(const std::string& name) {
    return LinkAs(platform::DeviceRootPath("dev/" + name));
}

bool Camcorder::LinkUp() const {
    std::lock_guard lock(mu_);
    return linkUp_;
}

// ---- faults and link -----------------------------------------------------

void Camcorder::SetShaping(const Shaping& shaping) {
    std::lock_guard lock(mu_);
    options_.shaping = shaping;
}

Shaping Camcorder::GetShaping() const {
    std::lock_guard lock(mu_);
    return options_.shaping;
}

void Camcorder::AddFault(const Fault& fault) {
    std::lock_guard lock(mu_);
    faults_.push_back(fault);
}

void Camcorder::ClearFaults() {
    std::lock_guard lock(mu_);
    faults_.clear();
}

std::vector<Fault> Camcorder::Faults() const {
    std::lock_guard lock(mu_);
    return faults_;
}

void Camcorder::DropLink() {
    std::lock_guard lock(mu_);
    RequestHangUpLocked();
}

void Camcorder::RequestHangUpLocked() {
    if (hangUpRequested_) {
        return;
    }
    hangUpRequested_ = true;
    if (hangUpPipe_[1] >= 0) {
        const char b = 1;
        // The pipe is never drained: every poll on it wakes from now on.
        [[maybe_unused]] const ssize_t n = ::write(hangUpPipe_[1], &b, 1);
    }
    WakeWriterLocked();
    NoteEventLocked();
}

void Camcorder::SendRaw(std::span<const uint8_t> bytes) {
    {
        std::lock_guard lock(mu_);
        Outgoing out;
        out.earliest = Clock::now();
        if (options_.shaping.on) {
            out.earliest += std::chrono::milliseconds(options_.shaping.latencyMs);
        }
        out.frame.assign(bytes.begin(), bytes.end());
        QueueLocked(std::move(out));
    }
}

void Camcorder::SendFrame(uint16_t channel, uint16_t opcode, std::span<const uint8_t> body) {
    SendRaw(EncodeFrame(channel, opcode, body));
}

// ---- serving -----------------------------------------------------------------

void Camcorder::ReaderLoop() {
    FrameDecoder decoder;
    uint8_t buffer[16384];
    for (;;) {
        pollfd fds[2] = {{end_, POLLIN, 0}, {hangUpPipe_[0], POLLIN, 0}};
        if (PollRetry(fds, 2, -1) < 0 || fds[1].revents != 0) {
            break;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            const platform::sys::Outcome o =
                platform::sys::Call("read", [&] { return ::read(end_, buffer, sizeof buffer); });
            if (o.Failed() && (o.error == EAGAIN || o.error == EWOULDBLOCK)) {
                continue;
            }
            const long n = o.result;
            if (n <= 0) {
                break;  // the other side closed the line
            }
            const Clock::time_point at = Clock::now();
            decoder.Feed(std::span<const uint8_t>(buffer, static_cast<size_t>(n)));
            while (auto frame = decoder.Next()) {
                HandleFrame(std::move(*frame), at);
            }
            std::lock_guard lock(mu_);
            if (decoder.DiscardedBytes() != discarded_) {
                discarded_ = decoder.DiscardedBytes();
                NoteEventLocked();
            }
        } else if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            break;
        }
    }
    // The reader owns the closing: it waits until no write is under way, so
    // the descriptor is never closed beneath the writer.
    std::unique_lock lock(mu_);
    linkUp_ = false;
    RequestHangUpLocked();
    eventCv_.wait(lock, [&] { return !writerBusy_; });
    ::close(end_);
    end_ = -1;
    if (keepSlave_ >= 0) {
        ::close(keepSlave_);
        keepSlave_ = -1;
    }
    NoteEventLocked();
}

void Camcorder::HandleFrame(std::vector<uint8_t> frame, Clock::time_point readAt) {
    std::unique_lock lock(mu_);
    if (options_.shaping.on) {
        // The request crosses the link first: its bytes at the link's rate,
        // then the latency.
        inboundFree_ = std::max(readAt, inboundFree_) +
                       TimeOnLink(frame.size(), options_.shaping.bytesPerSecond);
        const auto due = inboundFree_ + std::chrono::milliseconds(options_.shaping.latencyMs);
        eventCv_.wait_until(lock, due, [&] { return hangUpRequested_; });
    }
    if (hangUpRequested_) {
        return;
    }
    const Clock::time_point now = Clock::now();
    const uint64_t atMs = SinceStartMs(now);
    received_.push_back({atMs, frame});
    const uint64_t versionBefore = model_.StatusVersion();
    Reaction reaction = model_.Handle(frame, atMs);
    if (model_.StatusVersion() != versionBefore) {
        WakeWriterLocked();  // a waiting mode poll goes out now
    }
    NoteEventLocked();
    if (reaction.kind == Reaction::Kind::None) {
        return;
    }
    const FrameView request{frame};
    Outgoing out;
    out.earliest = now;
    if (options_.shaping.on) {
        out.earliest += std::chrono::milliseconds(options_.shaping.latencyMs);
    }
    out.channel = request.Channel();
    out.modeAnswer = reaction.kind == Reaction::Kind::PacedStatus;
    out.frame = std::move(reaction.frame);

    if (const std::optional<Fault> fault = TakeFaultLocked(request.Opcode())) {
        switch (fault->kind) {
            case FaultKind::Silence:
                return;
            case FaultKind::Late:
                out.earliest += std::chrono::milliseconds(fault->delayMs);
                break;
            case FaultKind::Garbage:
                out.prefix = fault->bytes.empty() ? std::vector<uint8_t>(6, 0xEE) : fault->bytes;
                break;
            case FaultKind::WrongChannel:
                out.channel = fault->channel != 0
                                  ? fault->channel
                                  : static_cast<uint16_t>(request.Channel() % 4 + 1);
                if (out.frame.size() >= 2) {
                    out.frame[0] = static_cast<uint8_t>(out.channel >> 8);
                    out.frame[1] = static_cast<uint8_t>(out.channel);
                }
                break;
            case FaultKind::Cut:
                out.cutAt = fault->cutAt == 0 ? kCutHalf : fault->cutAt;
                break;
            case FaultKind::DropLink:
                RequestHangUpLocked();
                return;
        }
    }
    QueueLocked(std::move(out));
}

std::optional<Fault> Camcorder::TakeFaultLocked(uint16_t opcode) {
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (it->opcode != 0 && it->opcode != opcode) {
            continue;
        }
        Fault fault = *it;
        if (it->times != 0 && --it->times == 0) {
            faults_.erase(it);
        }
        return fault;
    }
    return std::nullopt;
}

void Camcorder::QueueLocked(Outgoing out) {
    queue_.push_back(std::move(out));
    WakeWriterLocked();
}

Camcorder::Clock::time_point Camcorder::DueLocked(const Outgoing& out) const {
    Clock::time_point due = out.earliest;
    if (out.modeAnswer && lastModeAnswer_ && model_.StatusVersion() == answeredStatusVersion_) {
        due = std::max(due,
                       *lastModeAnswer_ + std::chrono::milliseconds(options_.modePollIntervalMs));
    }
    return due;
}

void Camcorder::WriterLoop() {
    std::unique_lock lock(mu_);
    while (!hangUpRequested_) {
        if (queue_.empty()) {
            writerCv_.wait(lock, [&] { return hangUpRequested_ || !queue_.empty(); });
            continue;
        }
        // The earliest due item; among equals, the one queued first.
        size_t pick = 0;
        Clock::time_point due = DueLocked(queue_[0]);
        for (size_t i = 1; i < queue_.size(); ++i) {
            const Clock::time_point d = DueLocked(queue_[i]);
            if (d < due) {
                due = d;
                pick = i;
            }
        }
        if (due > Clock::now()) {
            // Until it is due, or until something may have made another item
            // due sooner (a new item, a status change, a new pace).
            const uint64_t seen = writerWakes_;
            writerCv_.wait_until(lock, due,
                                 [&] { return hangUpRequested_ || writerWakes_ != seen; });
            continue;
        }
        Outgoing out = std::move(queue_[pick]);
        queue_.erase(queue_.begin() + static_cast<long>(pick));
        std::vector<uint8_t> frame =
            out.modeAnswer ? model_.ModeAnswer(out.channel) : std::move(out.frame);
        const Clock::time_point leaving = Clock::now();
        if (FrameView{frame}.Opcode() == CTP_CAM_MODE) {
            lastModeAnswer_ = leaving;
            answeredStatusVersion_ = model_.StatusVersion();
        }
        if (out.cutAt != 0) {
            // Always at least one byte short, so that the frame really is cut.
            const size_t keep = out.cutAt == kCutHalf ? frame.size() / 2 : out.cutAt;
            frame.resize(std::clamp<size_t>(keep, 1, frame.size() - 1));
        }
        const Shaping shaping = options_.shaping;
        writerBusy_ = true;
        for (std::vector<uint8_t>* part : {&out.prefix, &frame}) {
            if (part->empty()) {
                continue;
            }
            // Recorded as it starts to leave, so that the record shows the pace.
            sent_.push_back({SinceStartMs(leaving), *part});
            sentBytes_ += part->size();
            while (sentBytes_ > options_.sentRecordBytes && sent_.size() > 1) {
                sentBytes_ -= sent_.front().bytes.size();
                sent_.pop_front();
            }
            lock.unlock();
            const bool ok = Transmit(*part, shaping);
            lock.lock();
            NoteEventLocked();
            if (!ok) {
                break;
            }
        }
        writerBusy_ = false;
        eventCv_.notify_all();
    }
}

bool Camcorder::Transmit(std::span<const uint8_t> bytes, const Shaping& shaping) {
    if (!shaping.on) {
        return WriteAll(bytes);
    }
    // Each piece leaves once the link would have carried it, so the other
    // side never sees more than the rate.
    const size_t piece = std::max<size_t>(64, shaping.bytesPerSecond / 200);
    for (size_t at = 0; at < bytes.size(); at += piece) {
        const size_t n = std::min(piece, bytes.size() - at);
        {
            std::unique_lock lock(mu_);
            // A link that kept busy keeps its own schedule, so that wake-up
            // delays do not add up; an idle one starts afresh.
            const Clock::time_point now = Clock::now();
            if (outboundFree_ + kShapingSlack < now) {
                outboundFree_ = now;
            }
            outboundFree_ += TimeOnLink(n, shaping.bytesPerSecond);
            if (writerCv_.wait_until(lock, outboundFree_, [&] { return hangUpRequested_; })) {
                return false;
            }
        }
        if (!WriteAll(bytes.subspan(at, n))) {
            return false;
        }
    }
    return true;
}

bool Camcorder::WriteAll(std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const platform::sys::Outcome o = platform::sys::Call(
            "write", [&] { return ::write(end_, bytes.data() + done, bytes.size() - done); });
        if (o.result > 0) {
            done += static_cast<size_t>(o.result);
            continue;
        }
        if (o.Failed() && (o.error == EAGAIN || o.error == EWOULDBLOCK)) {
            // The other side is not reading; wait for room or for the hang-up.
            pollfd fds[2] = {{end_, POLLOUT, 0}, {hangUpPipe_[0], POLLIN, 0}};
            if (PollRetry(fds, 2, -1) < 0 || fds[1].revents != 0) {
                return false;
            }
            continue;
        }
        return false;
    }
    return true;
}

}  // namespace sim
