// A camcorder simulator on a real pseudo-terminal, an engine started on it,
// a camera state and settings of the test's own, and a window owned by the
// test thread that records every message sent to it. Controllers, engines,
// states and settings are never freed: their threads run until the process
// ends. Each test's engine talks to its own simulator, so a worker left
// from an earlier test never reaches a later one.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "controllers/BaseController.h"
#include "core/CameraState.h"
#include "core/ConfigStore.h"
#include "ctp/CtpEngine.h"
#include "platform/ui/Window.h"
#include "sim/Camcorder.h"
#include "testkit/TempDeviceRoot.h"

namespace controllertest {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

class ControllerFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    ControllerServices Services() const { return {engine_, state_, config_}; }

    // Runs the window's messages until `done` holds; false when `timeout` passed first.
    bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s);
    // Runs the window's messages for `duration`.
    void PumpFor(std::chrono::milliseconds duration);

    // What the camera received, byte for byte, in order: every frame on
    // `channel`, or every frame with `opcode`.
    std::vector<Bytes> ReceivedOn(uint16_t channel) const;
    std::vector<Bytes> ReceivedWith(uint16_t opcode) const;
    std::vector<sim::WireFrame> SentOn(uint16_t channel) const;
    // How often the window has got `message`.
    size_t CountMessages(uint32_t message) const;

    testsupport::TempDeviceRoot root_;
    sim::Camcorder cam_;
    CCtpEngine* engine_ = nullptr;
    CCameraState* state_ = nullptr;
    CConfigStore* config_ = nullptr;
    platform::WindowHandle window_;
    std::vector<uint32_t> messages_;  // in arrival order; touched on the test thread only
    // Called on the test thread for every message, after it is recorded.
    std::function<void(uint32_t message)> onMessage_;
};

// Records `object` as never to be freed: it stays reachable, so leak checks
// do not count it.
void KeepReachable(const void* object);
template <typename T>
T* KeepForever(T* object) {
    KeepReachable(object);
    return object;
}

// The snapshot as a comparable tuple-like list of its nine values.
std::vector<uint16_t> Values(const CameraStateSnapshot& s);

}  // namespace controllertest
