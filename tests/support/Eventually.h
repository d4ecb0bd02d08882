// Waits for a condition in tests: polls it until it holds or a generous limit
// passes, so that no test depends on a fixed sleep.
#pragma once

#include <chrono>
#include <thread>

namespace testsupport {

template <typename F>
bool Eventually(F done, std::chrono::milliseconds limit = std::chrono::milliseconds(10000)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
}

}  // namespace testsupport
