#include "platform/sys/Syscall.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace platform::sys {

std::string Outcome::Describe() const {
    if (!Failed()) {
        return {};
    }
    std::string text = call;
    text += ": ";
    text += error != 0 ? std::generic_category().message(error) : "nothing moved";
    return text;
}

Outcome ReadAll(int fd, void* bytes, size_t count) {
    auto* p = static_cast<char*>(bytes);
    return Whole("read", count, [&](size_t done) { return ::read(fd, p + done, count - done); });
}

Outcome WriteAll(int fd, const void* bytes, size_t count) {
    const auto* p = static_cast<const char*>(bytes);
    return Whole("write", count, [&](size_t done) { return ::write(fd, p + done, count - done); });
}

Outcome SendAll(int fd, const void* bytes, size_t count) {
    const auto* p = static_cast<const char*>(bytes);
    return Whole("send", count,
                 [&](size_t done) { return ::send(fd, p + done, count - done, MSG_NOSIGNAL); });
}

void Report(const char* what, const Outcome& outcome) {
    std::fprintf(stderr, "camora: %s: %s\n", what, outcome.Describe().c_str());
}

void Close(int fd, const char* what) {
    if (::close(fd) < 0 && errno != EINTR) {
        Report(what, Outcome{"close", -1, errno});
    }
}

std::vector<std::string> FolderEntries(const std::string& folder) {
    // The iterator keeps its own stream of the folder, unlike readdir's
    // shared state, and leaves out "." and "..".
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        names.push_back(it->path().filename().string());
    }
    return names;
}

std::string Environment(const char* name) {
    // getenv races only with a change of the environment, and the program
    // changes its environment nowhere.
    const char* value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe)
    return value != nullptr ? value : "";
}

}  // namespace platform::sys
