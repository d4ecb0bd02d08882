// A value that only its lock reaches: the one way to touch it is a call made
// with the lock held. The lock is a platform Mutex, made by Create so that the
// owner can report a failed creation as it always has.
#pragma once

#include <memory>
#include <utility>

#include "platform/kernel/Kernel.h"

namespace platform {

template <typename T>
class Protected {
public:
    Protected() = default;
    explicit Protected(T initial) : value_(std::move(initial)) {}
    Protected(const Protected&) = delete;
    Protected& operator=(const Protected&) = delete;

    // Makes the lock unless it exists; false when it cannot be made.
    bool Create() {
        if (mutex_ == nullptr) {
            mutex_ = Mutex::Create();
        }
        return mutex_ != nullptr;
    }
    bool Created() const { return mutex_ != nullptr; }

    // Calls `f(value)` with the lock held and returns what it returns. The
    // lock must have been created.
    template <typename F>
    decltype(auto) With(F&& f) {
        MutexLock hold(*mutex_);
        return std::forward<F>(f)(value_);
    }

    // A copy of the value, taken under the lock.
    T Get() {
        return With([](const T& v) { return v; });
    }

private:
    std::unique_ptr<Mutex> mutex_;
    T value_{};
};

}  // namespace platform
