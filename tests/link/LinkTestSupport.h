// Shared by the link tests: a private device root with a simulated stack
// described in it, reset between tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/btsdk/SimulatedStack.h"
#include "platform/kernel/Kernel.h"
#include "platform/library/Library.h"
#include "testkit/TempDeviceRoot.h"

namespace linktest {

inline platform::btsdk::SimulatedStack& Stack() {
    return platform::btsdk::SimulatedStack::Instance();
}

// "00:00:00:00:00:NN" style addresses for test devices.
inline std::string Address(int n) {
    char text[18];
    std::snprintf(text, sizeof text, "00:11:22:33:%02X:%02X", (n >> 8) & 0xFF, n & 0xFF);
    return text;
}

// One [device] section of a stack file; `extra` adds or overrides keys.
inline std::string Device(int n, const std::string& name, const std::string& extra = "") {
    return "[device]\naddress = " + Address(n) + "\nname = " + name + "\n" + extra;
}

class StackTest : public ::testing::Test {
protected:
    void SetUp() override { Stack().Reset(); }
    void TearDown() override {
        EXPECT_TRUE(Stack().WaitIdle(10000));
        Stack().Reset();
        platform::SetTimeScale(1.0);
        platform::OverrideLibraryFolder("");
    }

    void WriteStack(const std::string& text) { root_.WriteFile("bluetooth/stack.ini", text); }

    // The log lines that start with `prefix`.
    static std::vector<std::string> LogOf(const std::string& prefix) {
        std::vector<std::string> lines;
        for (const auto& line : Stack().Log()) {
            if (line.rfind(prefix, 0) == 0) {
                lines.push_back(line);
            }
        }
        return lines;
    }

    testsupport::TempDeviceRoot root_;
};

}  // namespace linktest
