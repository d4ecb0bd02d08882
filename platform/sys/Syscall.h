// The one wrapper of system calls: a call that fails with EINTR is made again,
// and a failure says which call failed and with what errno.
#pragma once

#include <sys/types.h>
#include <cerrno>
#include <cstddef>
#include <string>
#include <vector>

namespace platform::sys {

// The outcome of one system call, or of a whole transfer.
struct Outcome {
    const char* call = "";
    long result = 0;  // the call's result (bytes moved for a transfer); negative on failure
    int error = 0;    // errno when failed

    bool Failed() const { return result < 0; }
    // "tcsetattr: Invalid argument"; "" when it did not fail.
    std::string Describe() const;
};

// Makes `fn` (a system call that answers -1 and sets errno on failure), again
// for as long as it fails with EINTR.
template <typename Fn>
Outcome Call(const char* name, Fn fn) {
    for (;;) {
        const long r = static_cast<long>(fn());
        if (r < 0 && errno == EINTR) {
            continue;
        }
        return Outcome{name, r, r < 0 ? errno : 0};
    }
}

// Moves `count` bytes through `step(done)`, a read or write of the bytes from
// offset `done` on, until all have passed. result = `count`; on a failed step
// its outcome; when a step moves nothing (end of file, a closed peer) result is
// the bytes moved so far, and Whole reports it as failed with error 0 unless
// they were all.
template <typename Step>
Outcome Whole(const char* name, size_t count, Step step) {
    size_t done = 0;
    while (done < count) {
        const Outcome o = Call(name, [&] { return step(done); });
        if (o.Failed()) {
            return o;
        }
        if (o.result == 0) {
            return Outcome{name, -1, 0};
        }
        done += static_cast<size_t>(o.result);
    }
    return Outcome{name, static_cast<long>(count), 0};
}

// Whole reads and writes of a descriptor; `send` uses MSG_NOSIGNAL, so that a
// closed peer fails the call rather than raising SIGPIPE.
Outcome ReadAll(int fd, void* bytes, size_t count);
Outcome WriteAll(int fd, const void* bytes, size_t count);
Outcome SendAll(int fd, const void* bytes, size_t count);

// The names in `folder` ("." and ".." left out, in no order); none when it
// cannot be read.
std::vector<std::string> FolderEntries(const std::string& folder);

// The value of the environment variable `name`; "" when unset.
std::string Environment(const char* name);

// Writes "camora: <what>: <call>: <error text>" to standard error, for
// failures that change no result but must not pass unseen.
void Report(const char* what, const Outcome& outcome);

// Closes `fd`, reporting a failure as Report does. Never made again: Linux
// frees the descriptor even when close fails with EINTR.
void Close(int fd, const char* what);

}  // namespace platform::sys
