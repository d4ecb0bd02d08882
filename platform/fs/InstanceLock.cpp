#include "platform/fs/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/fs/DeviceRoot.h"
#include "platform/sys/Syscall.h"

namespace platform {

std::string InstanceLock::LinkLockPath() {
    return DeviceRootPath("camora-link.lock");
}

InstanceLock::InstanceLock(std::string path) : path_(std::move(path)) {}

InstanceLock::~InstanceLock() {
    Release();
}

InstanceLock::Result InstanceLock::TryTake(std::string_view holder) {
    if (fd_ >= 0) {
        return Result::Taken;
    }
    holder_.clear();
    error_.clear();
    std::error_code ec;
    const std::filesystem::path file(path_);
    if (path_ == LinkLockPath()) {
        EnsureDeviceRoot();
    } else if (file.has_parent_path()) {
        std::filesystem::create_directories(file.parent_path(), ec);
    }
    // flock needs no write access: a lock another user can open is one they can hold.
    const sys::Outcome opened = sys::Call(
        "open", [&] { return ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600); });
    if (opened.Failed()) {
        error_ = path_ + ": " + opened.Describe();
        return Result::Failed;
    }
    const int fd = static_cast<int>(opened.result);
    // A lock made wider by an older start is narrowed.
    struct stat st {};
    if (!sys::Call("fstat", [&] { return ::fstat(fd, &st); }).Failed() && (st.st_mode & 077) != 0 &&
        st.st_uid == ::geteuid()) {
        const sys::Outcome narrowed = sys::Call("fchmod", [&] { return ::fchmod(fd, 0600); });
        if (narrowed.Failed()) {
            sys::Report("narrowing the link lock", narrowed);
        }
    }
    const sys::Outcome locked = sys::Call("flock", [&] { return ::flock(fd, LOCK_EX | LOCK_NB); });
    if (locked.Failed()) {
        if (locked.error == EWOULDBLOCK) {
            // The holder writes its name once it has the lock; read what is there.
            char text[256] = {};
            const sys::Outcome got =
                sys::Call("pread", [&] { return ::pread(fd, text, sizeof text - 1, 0); });
            sys::Close(fd, "closing a link lock another holds");
            if (!got.Failed()) {
                holder_.assign(text, static_cast<size_t>(got.result));
                while (!holder_.empty() && (holder_.back() == '\n' || holder_.back() == '\0')) {
                    holder_.pop_back();
                }
            }
            return Result::Held;
        }
        error_ = path_ + ": " + locked.Describe();
        sys::Close(fd, "closing the link lock");
        return Result::Failed;
    }
    fd_ = fd;
    const std::string line =
        std::string(holder) + " (pid " + std::to_string(static_cast<long>(::getpid())) + ")\n";
    sys::Outcome named = sys::Call("ftruncate", [&] { return ::ftruncate(fd_, 0); });
    if (!named.Failed()) {
        named = sys::Call("pwrite", [&] { return ::pwrite(fd_, line.data(), line.size(), 0); });
    }
    if (named.Failed()) {
        // The lock holds all the same; only the name for others is missing.
        sys::Report("naming the link lock's holder", named);
    }
    return Result::Taken;
}

void InstanceLock::Release() {
    if (fd_ < 0) {
        return;
    }
    // Empty the file first, so that no stale name is read by the next one to look.
    [[maybe_unused]] const sys::Outcome cut =
        sys::Call("ftruncate", [&] { return ::ftruncate(fd_, 0); });
    sys::Close(fd_, "releasing the link lock");  // closing the descriptor releases the flock
    fd_ = -1;
}

}  // namespace platform
