#include "tests/controllers/ControllerFixture.h"

#include <mutex>

#include "platform/kernel/Kernel.h"
#include "platform/serial/SerialPort.h"
#include "platform/ui/WindowMessages.h"
#include "testkit/PumpUntil.h"

namespace controllertest {

void KeepReachable(const void* object) {
    static auto* kept = new std::vector<const void*>;
    static std::mutex lock;
    std::lock_guard hold(lock);
    kept->push_back(object);
}

void ControllerFixture::SetUp() {
    ASSERT_TRUE(cam_.Start());
    ASSERT_TRUE(cam_.LinkAsDevice("COM4"));
    const platform::PortHandle port = platform::SerialPort::Open(u"COM4:");
    ASSERT_NE(port, nullptr);
    engine_ = KeepForever(new CCtpEngine);
    ASSERT_EQ(engine_->Start(port), 1);
    state_ = KeepForever(new CCameraState);
    config_ = KeepForever(new CConfigStore);
    config_->SetString("TimeOut", "1");
    window_ = platform::CreateMessageWindow(
        [this](platform::WindowHandle, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
            messages_.push_back(message);
            if (onMessage_) {
                onMessage_(message);
            }
            return 0;
        });
}

void ControllerFixture::TearDown() {
    // Later sends from this test's workers return at once.
    platform::DestroyMessageWindow(window_);
    platform::SetTimeScale(1.0);
}

bool ControllerFixture::PumpUntil(const std::function<bool()>& done,
                                  std::chrono::milliseconds timeout) {
    return testsupport::PumpUntil(done, timeout);
}

void ControllerFixture::PumpFor(std::chrono::milliseconds duration) {
    testsupport::PumpFor(duration);
}

std::vector<Bytes> ControllerFixture::ReceivedOn(uint16_t channel) const {
    std::vector<Bytes> out;
    for (const sim::WireFrame& f : cam_.ReceivedFrames()) {
        if (f.Channel() == channel) {
            out.push_back(f.bytes);
        }
    }
    return out;
}

std::vector<Bytes> ControllerFixture::ReceivedWith(uint16_t opcode) const {
    std::vector<Bytes> out;
    for (const sim::WireFrame& f : cam_.ReceivedFrames()) {
        if (f.Opcode() == opcode) {
            out.push_back(f.bytes);
        }
    }
    return out;
}

std::vector<sim::WireFrame> ControllerFixture::SentOn(uint16_t channel) const {
    std::vector<sim::WireFrame> out;
    for (const sim::WireFrame& f : cam_.SentFrames()) {
        if (f.Channel() == channel) {
            out.push_back(f);
        }
    }
    return out;
}

size_t ControllerFixture::CountMessages(uint32_t message) const {
    size_t n = 0;
    for (uint32_t m : messages_) {
        n += m == message ? 1 : 0;
    }
    return n;
}

std::vector<uint16_t> Values(const CameraStateSnapshot& s) {
    return {s.mode,         s.operationState, s.acPower,       s.batteryAttached, s.responseWord,
            s.batteryLevel, s.gpsStatus,      s.monitorActive, s.captureActive};
}

}  // namespace controllertest
