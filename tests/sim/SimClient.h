// The handset's side of the line, for the simulator's tests: opens the
// simulator's slave, writes literal bytes and reads what comes back.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "sim/Camcorder.h"

namespace simtest {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

// Generous upper bound for anything the simulator should do "at once".
inline constexpr auto kPatience = 5000ms;

class SimClient {
public:
    explicit SimClient(const std::string& path);
    ~SimClient();
    SimClient(const SimClient&) = delete;
    SimClient& operator=(const SimClient&) = delete;

    void Send(const Bytes& bytes) const;
    // Exactly `count` bytes, or fewer when the time-out passes or the line ends.
    Bytes Read(size_t count, std::chrono::milliseconds timeout = kPatience) const;
    // One frame by its length field (empty on time-out).
    Bytes ReadFrame(std::chrono::milliseconds timeout = kPatience) const;
    // Sends a request and reads one answering frame.
    Bytes Exchange(const Bytes& request) const;
    // True when the line reports a hang-up (or an error) within the time-out.
    bool SeesHangUp(std::chrono::milliseconds timeout = kPatience) const;

private:
    int fd_ = -1;
};

Bytes Concat(std::initializer_list<Bytes> parts);
Bytes Text(const std::string& text);

// A started simulator with a client on its line.
class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(cam.Start());
        client = std::make_unique<SimClient>(cam.SlavePath());
    }

    sim::Camcorder cam;
    std::unique_ptr<SimClient> client;
};

}  // namespace simtest
