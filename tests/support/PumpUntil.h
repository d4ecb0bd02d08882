// The one way tests, the demo tool and the benchmarks wait for a condition:
// check it, and between checks run the calling thread's window messages (the
// controllers' workers send theirs synchronously and wait for an answer), so
// that nothing depends on a fixed sleep. Without windows a pump is a short wait.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "platform/ui/WindowMessages.h"

namespace testsupport {

// Generous enough for a loaded two-core machine under ThreadSanitizer.
inline constexpr std::chrono::milliseconds kPatience{10000};

// True as soon as `done()` holds; false when `limit` passed first.
template <typename F>
bool PumpUntil(F&& done, std::chrono::steady_clock::duration limit = kPatience) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (done()) {
            return true;
        }
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero()) {
            return false;
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(left).count();
        platform::PumpWindowMessages(static_cast<uint32_t>(std::clamp<int64_t>(ms, 1, 10)));
    }
}

// Keeps the thread's windows answering for `span`. Not a way to show that
// something does not happen: wait for something deterministic for that.
inline void PumpFor(std::chrono::steady_clock::duration span) {
    PumpUntil([] { return false; }, span);
}

}  // namespace testsupport
