// The one way tests, the demo tool and the benchmarks wait for a condition:
// check it, and between checks run the calling thread's window messages (the
// controllers' workers send theirs synchronously and wait for an answer), so
// that nothing depends on a fixed sleep. Without windows a pump is a short wait.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "platform/ui/Application.h"
#include "platform/ui/WindowMessages.h"

namespace testsupport {

// Generous enough for a loaded two-core machine under ThreadSanitizer.
inline constexpr std::chrono::milliseconds kPatience{10000};

namespace detail {

// Checks `done` until it holds or `limit` passes, calling `pump(ms)` between
// checks with the time left, at most 10 ms and at least 1.
template <typename F, typename P>
bool Until(F&& done, std::chrono::steady_clock::duration limit, P pump) {
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
        pump(static_cast<uint32_t>(std::clamp<int64_t>(ms, 1, 10)));
    }
}

}  // namespace detail

// True as soon as `done()` holds; false when `limit` passed first.
template <typename F>
bool PumpUntil(F&& done, std::chrono::steady_clock::duration limit = kPatience) {
    return detail::Until(done, limit, [](uint32_t ms) { platform::PumpWindowMessages(ms); });
}

// PumpUntil for the GUI thread while Qt runs: between checks it runs Qt's
// events (paints, timers, input to modal loops), and with them the window
// messages, which reach this thread as Qt events.
template <typename F>
bool PumpGuiUntil(F&& done, std::chrono::steady_clock::duration limit = kPatience) {
    return detail::Until(done, limit, [](uint32_t) { platform::ProcessGuiEvents(); });
}

// Keeps the thread's windows answering for `span`. Not a way to show that
// something does not happen: wait for something deterministic for that.
inline void PumpFor(std::chrono::steady_clock::duration span) {
    PumpUntil([] { return false; }, span);
}

}  // namespace testsupport
