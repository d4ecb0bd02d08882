#include "testkit/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <thread>
#include <utility>

#include "platform/sys/Syscall.h"
#include "testkit/ReadWithin.h"

extern char** environ;

namespace testsupport {

namespace sys = platform::sys;
using Clock = std::chrono::steady_clock;

namespace {

// The spawn's file actions for one standard stream `target`; a pipe's two
// ends are made here, the child's end closed in this process after the spawn.
class Plumbing {
public:
    Plumbing() { posix_spawn_file_actions_init(&actions_); }
    ~Plumbing() {
        posix_spawn_file_actions_destroy(&actions_);
        for (int fd : childEnds_) {
            sys::Close(fd, "a child's end of its pipe");
        }
    }
    Plumbing(const Plumbing&) = delete;
    Plumbing& operator=(const Plumbing&) = delete;

    // False when a pipe cannot be made; `ours` takes this side of a pipe.
    bool Add(const Stream& stream, int target, int* ours) {
        const int writeFlags = O_WRONLY | O_CREAT;
        switch (stream.kind()) {
            case Stream::Kind::Inherit:
                return true;
            case Stream::Kind::Null:
                return Open(target, "/dev/null", target == 0 ? O_RDONLY : O_WRONLY);
            case Stream::Kind::Read:
                return Open(target, stream.path(), O_RDONLY);
            case Stream::Kind::Truncate:
                return Open(target, stream.path(), writeFlags | O_TRUNC);
            case Stream::Kind::Append:
                return Open(target, stream.path(), writeFlags | O_APPEND);
            case Stream::Kind::Terminal:
                return Open(target, stream.path(), O_RDWR | O_NOCTTY);
            case Stream::Kind::Descriptor:
                return posix_spawn_file_actions_adddup2(&actions_, stream.fd(), target) == 0;
            case Stream::Kind::AsOutput:
                return posix_spawn_file_actions_adddup2(&actions_, 1, target) == 0;
            case Stream::Kind::Pipe: {
                int ends[2];
                if (sys::Call("pipe2", [&] { return ::pipe2(ends, O_CLOEXEC); }).Failed()) {
                    return false;
                }
                // ends[0] reads, ends[1] writes: the child reads its input.
                const int child = target == 0 ? ends[0] : ends[1];
                *ours = target == 0 ? ends[1] : ends[0];
                childEnds_.push_back(child);
                return posix_spawn_file_actions_adddup2(&actions_, child, target) == 0;
            }
        }
        return false;
    }
    const posix_spawn_file_actions_t* actions() const { return &actions_; }

private:
    bool Open(int target, const std::string& path, int flags) {
        paths_.push_back(path);  // the actions keep the pointer until the spawn
        return posix_spawn_file_actions_addopen(&actions_, target, paths_.back().c_str(), flags,
                                                0644) == 0;
    }

    posix_spawn_file_actions_t actions_;
    std::vector<int> childEnds_;
    std::vector<std::string> paths_;
};

// "NAME=" of "NAME=value", and of a bare "NAME" (which removes it).
std::string NameOf(const std::string& entry) {
    const size_t equals = entry.find('=');
    return equals == std::string::npos ? entry + "=" : entry.substr(0, equals + 1);
}

// This process's environment with `own` over it.
std::vector<std::string> Environment(const std::vector<std::string>& own) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const bool replaced = std::any_of(own.begin(), own.end(), [&](const std::string& o) {
            return NameOf(o) == NameOf(entry);
        });
        if (!replaced) {
            env.push_back(entry);
        }
    }
    std::copy_if(own.begin(), own.end(), std::back_inserter(env),
                 [](const std::string& o) { return o.find('=') != std::string::npos; });
    return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (std::string& s : strings) {
        out.push_back(s.data());
    }
    out.push_back(nullptr);
    return out;
}

}  // namespace

ChildProcess ChildProcess::Spawn(const std::vector<std::string>& argv, SpawnOptions options) {
    ChildProcess child;
    if (argv.empty() || options.err.kind() == Stream::Kind::Pipe) {
        // Standard error shares a piped output through AsOutput.
        child.error_ = argv.empty() ? "nothing to run" : "standard error takes no pipe of its own";
        return child;
    }
    // Its paths stay alive while the actions refer to them; the pipes' child
    // ends close when it goes, after the spawn.
    std::optional<Plumbing> plumbing(std::in_place);
    if (!plumbing->Add(options.in, 0, &child.input_) ||
        !plumbing->Add(options.out, 1, &child.output_) ||
        !plumbing->Add(options.err, 2, &child.output_)) {
        child.error_ = "cannot set up the standard streams";
        child.Release();
        return child;
    }
    std::vector<std::string> args = argv;
    std::vector<std::string> env = Environment(options.env);
    const std::vector<char*> argp = Pointers(args);
    const std::vector<char*> envp = Pointers(env);
    // posix_spawn answers its error rather than setting errno.
    const int failed = options.searchPath
                           ? ::posix_spawnp(&child.pid_, argp[0], plumbing->actions(), nullptr,
                                            argp.data(), envp.data())
                           : ::posix_spawn(&child.pid_, argp[0], plumbing->actions(), nullptr,
                                           argp.data(), envp.data());
    plumbing.reset();
    if (failed != 0) {
        child.pid_ = -1;
        child.error_ =
            "cannot start " + argv[0] + ": " + sys::Outcome{"posix_spawn", -1, failed}.Describe();
        child.Release();
    }
    return child;
}

ChildProcess ChildProcess::Fork(const std::function<int()>& body) {
    ChildProcess child;
    child.pid_ = ::fork();
    if (child.pid_ == 0) {
        // No exit work: the parent's objects are not this copy's to tear down.
        ::_exit(body());
    }
    if (child.pid_ < 0) {
        child.error_ = "fork: " + sys::Outcome{"fork", -1, errno}.Describe();
    }
    return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      ended_(std::exchange(other.ended_, std::nullopt)),
      input_(std::exchange(other.input_, -1)),
      output_(std::exchange(other.output_, -1)),
      error_(std::move(other.error_)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        if (Started() && !ended_) {
            Kill();
        }
        Release();
        pid_ = std::exchange(other.pid_, -1);
        ended_ = std::exchange(other.ended_, std::nullopt);
        input_ = std::exchange(other.input_, -1);
        output_ = std::exchange(other.output_, -1);
        error_ = std::move(other.error_);
    }
    return *this;
}

ChildProcess::~ChildProcess() {
    if (Started() && !ended_) {
        Kill();
    }
    Release();
}

void ChildProcess::Release() {
    CloseInput();
    if (output_ >= 0) {
        sys::Close(output_, "a child's output pipe");
        output_ = -1;
    }
}

void ChildProcess::Reaped(int status) {
    ExitStatus s;
    if (WIFEXITED(status)) {
        s.code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        s.signal = WTERMSIG(status);
    }
    ended_ = s;
}

std::optional<ExitStatus> ChildProcess::Wait(Clock::duration limit) {
    if (!Started() || ended_) {
        return ended_;
    }
    const auto deadline = Clock::now() + limit;
    // A descriptor that becomes readable when the child ends; without one
    // (an old kernel) the wait looks again every millisecond.
    // (glibc 2.36 declares pidfd_open without C linkage, so the call is made directly.)
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
    for (;;) {
        int status = 0;
        const sys::Outcome o =
            sys::Call("waitpid", [&] { return ::waitpid(pid_, &status, WNOHANG); });
        if (o.result == pid_) {
            Reaped(status);
            break;
        }
        if (o.Failed()) {  // not ours to wait for any more: nothing is known of its end
            ended_ = ExitStatus{};
            break;
        }
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            break;
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count() + 1;
        if (pidfd >= 0) {
            pollfd p{pidfd, POLLIN, 0};
            sys::Call("poll",
                      [&] { return ::poll(&p, 1, static_cast<int>(std::min<int64_t>(ms, 1000))); });
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    if (pidfd >= 0) {
        sys::Close(pidfd, "a child's process descriptor");
    }
    return ended_;
}

bool ChildProcess::Running() {
    return Started() && !Wait(Clock::duration::zero()).has_value();
}

void ChildProcess::Signal(int sig) const {
    if (Started() && !ended_) {
        ::kill(pid_, sig);
    }
}

ExitStatus ChildProcess::Kill() {
    Signal(SIGKILL);
    return Wait(Clock::duration::max() / 2).value_or(ExitStatus{});
}

ExitStatus ChildProcess::Stop(Clock::duration grace) {
    Signal(SIGTERM);
    if (const std::optional<ExitStatus> s = Wait(grace)) {
        return *s;
    }
    return Kill();
}

void ChildProcess::CloseInput() {
    if (input_ >= 0) {
        sys::Close(input_, "a child's input pipe");
        input_ = -1;
    }
}

bool ChildProcess::Write(const std::string& text) const {
    return input_ >= 0 && !sys::WriteAll(input_, text.data(), text.size()).Failed();
}

std::string ChildProcess::ReadOutput(std::chrono::milliseconds limit) {
    if (output_ < 0) {
        return {};
    }
    const std::vector<uint8_t> bytes =
        ReadWithin(output_, std::numeric_limits<size_t>::max(), limit, ReadAmount::AtLeast);
    return std::string(bytes.begin(), bytes.end());
}

std::string ChildProcess::ReadOutputLine(std::chrono::milliseconds limit) {
    std::string line;
    const auto deadline = Clock::now() + limit;
    while (output_ >= 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        // One byte at a time: what follows the line stays in the pipe.
        const std::vector<uint8_t> c = ReadWithin(output_, 1, left, ReadAmount::Exactly);
        if (c.empty()) {
            break;
        }
        if (c[0] == '\n') {
            return line;
        }
        line += static_cast<char>(c[0]);
    }
    return {};
}

Captured RunCaptured(const std::vector<std::string>& argv, SpawnOptions options,
                     std::chrono::milliseconds limit) {
    options.out = Stream::Pipe();
    const auto deadline = Clock::now() + limit;
    ChildProcess child = ChildProcess::Spawn(argv, std::move(options));
    Captured result;
    if (!child.Started()) {
        return result;
    }
    result.output = child.ReadOutput(limit);
    result.status = child.Wait(std::max(Clock::duration::zero(), deadline - Clock::now()));
    return result;
}

}  // namespace testsupport
