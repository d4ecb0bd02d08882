// The one way tests, benchmarks and tools run another process: start it (a
// program, or a copy of this process running a function), wait for it with a
// deadline, signal or kill it, and read what it writes. A child that still
// runs when its object goes is killed and reaped, so no test leaves one behind.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// Where one of the child's standard streams goes.
class Stream {
public:
    enum class Kind { Inherit, Null, Read, Truncate, Append, Terminal, Pipe, Descriptor, AsOutput };

    static Stream Inherit() { return Stream(Kind::Inherit); }
    static Stream Null() { return Stream(Kind::Null); }
    // Standard input from a file.
    static Stream Read(std::string path) { return Stream(Kind::Read, std::move(path)); }
    // A file made empty first, or written on at its end.
    static Stream Truncate(std::string path) { return Stream(Kind::Truncate, std::move(path)); }
    static Stream Append(std::string path) { return Stream(Kind::Append, std::move(path)); }
    // A terminal's slave, opened for reading and writing without becoming
    // the child's controlling terminal.
    static Stream Terminal(std::string path) { return Stream(Kind::Terminal, std::move(path)); }
    // A pipe to this process: Input() writes the child's standard input,
    // Output() reads its standard output (standard error joins it with AsOutput).
    static Stream Pipe() { return Stream(Kind::Pipe); }
    // A descriptor of this process, which keeps it.
    static Stream Descriptor(int fd) { return Stream(Kind::Descriptor, {}, fd); }
    // Standard error only: wherever standard output goes.
    static Stream AsOutput() { return Stream(Kind::AsOutput); }

    Kind kind() const { return kind_; }
    const std::string& path() const { return path_; }
    int fd() const { return fd_; }

private:
    explicit Stream(Kind kind, std::string path = {}, int fd = -1)
        : kind_(kind), path_(std::move(path)), fd_(fd) {}
    Kind kind_;
    std::string path_;
    int fd_;
};

struct SpawnOptions {
    Stream in = Stream::Inherit();
    Stream out = Stream::Inherit();
    Stream err = Stream::Inherit();
    // "NAME=value" entries over this process's environment (each replaces the
    // inherited one of its name); a bare "NAME" leaves NAME out.
    std::vector<std::string> env;
    // Look the program up on PATH when its name has no slash.
    bool searchPath = false;

    // For options written in one expression: SpawnOptions().Out(...).Err(...).
    SpawnOptions& In(Stream s) { return in = std::move(s), *this; }
    SpawnOptions& Out(Stream s) { return out = std::move(s), *this; }
    SpawnOptions& Err(Stream s) { return err = std::move(s), *this; }
    SpawnOptions& Env(std::vector<std::string> e) { return env = std::move(e), *this; }
    SpawnOptions& SearchPath() { return searchPath = true, *this; }
};

// How a child ended.
struct ExitStatus {
    int code = -1;   // the exit code when it exited
    int signal = 0;  // the signal that ended it, else 0

    bool Exited() const { return signal == 0; }
    bool KilledBy(int sig) const { return signal == sig; }
};

class ChildProcess {
public:
    // Starts argv[0] with these arguments; Started() says whether it began.
    static ChildProcess Spawn(const std::vector<std::string>& argv, SpawnOptions options = {});
    // A copy of this process that runs `body` and exits with what it answers.
    // Start it while this process has one thread where the body needs locks
    // that another thread might hold at the fork.
    static ChildProcess Fork(const std::function<int()>& body);

    ChildProcess() = default;
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    // Why it did not start ("" when it did).
    const std::string& Error() const { return error_; }

    // How it ended, once it has within `limit` (reaped then); none while it runs.
    std::optional<ExitStatus> Wait(std::chrono::steady_clock::duration limit);
    // True while it has not ended (it is reaped once it has).
    bool Running();
    // How it ended, when it has been reaped.
    const std::optional<ExitStatus>& Ended() const { return ended_; }

    // Sends `sig` while it runs.
    void Signal(int sig) const;
    // SIGKILL, and waits for it to go.
    ExitStatus Kill();
    // SIGTERM; SIGKILL when it has not ended within `grace`.
    ExitStatus Stop(std::chrono::steady_clock::duration grace);

    // This side of the pipes (-1 without one).
    int Input() const { return input_; }
    int Output() const { return output_; }
    void CloseInput();
    // Writes all of `text` to its standard input; false when the pipe is gone.
    bool Write(const std::string& text) const;
    // Its standard output until it closes it or `limit` passes.
    std::string ReadOutput(std::chrono::milliseconds limit);
    // One line of its standard output without the line feed; "" when no
    // whole line came within `limit`.
    std::string ReadOutputLine(std::chrono::milliseconds limit);

private:
    void Reaped(int status);
    void Release();

    pid_t pid_ = -1;
    std::optional<ExitStatus> ended_;
    int input_ = -1;
    int output_ = -1;
    std::string error_;
};

// Runs a program to its end and takes its standard output; a program still
// running after `limit` is killed (status then none).
struct Captured {
    std::optional<ExitStatus> status;
    std::string output;
};
Captured RunCaptured(const std::vector<std::string>& argv, SpawnOptions options,
                     std::chrono::milliseconds limit);

}  // namespace testsupport
