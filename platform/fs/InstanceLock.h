// The camcorder link's lock: one file under the device root, locked with
// flock(2) by whichever process holds the link (the program or the
// command-line remote), so that two of them never open the same camera's
// port at once. The lock goes with the process: a crash releases it.
#pragma once

#include <string>
#include <string_view>

namespace platform {

class InstanceLock {
public:
    enum class Result {
        Taken,   // this object holds the lock until it is destroyed or Release
        Held,    // another holder has it; Holder() says who
        Failed,  // the lock file could not be made or locked; Error() says why
    };

    // The lock file of the camcorder link, "<device root>/camora-link.lock".
    static std::string LinkLockPath();

    explicit InstanceLock(std::string path = LinkLockPath());
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // Tries once, without waiting. On success `holder` (a short name such as
    // "camora-remote") and the process id are written into the file, for
    // those who find it held.
    Result TryTake(std::string_view holder);
    // Lets go of the lock (also done by the destructor).
    void Release();
    bool IsTaken() const { return fd_ >= 0; }

    // After Held: "camora-remote (pid 1234)", or "" when the holder wrote nothing yet.
    const std::string& Holder() const { return holder_; }
    // After Failed: "open /path: Permission denied".
    const std::string& Error() const { return error_; }

private:
    std::string path_;
    int fd_ = -1;
    std::string holder_;
    std::string error_;
};

}  // namespace platform
