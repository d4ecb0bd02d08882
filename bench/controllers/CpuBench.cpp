// CPU of the handset's threads: connected and idle, streaming, and with live
// view on against a camera that fails every cycle at once.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>

#include "bench/controllers/ControllersBenchSupport.h"
#include "controllers/CamCmdController.h"
#include "controllers/CamModeController.h"
#include "controllers/MonitorController.h"
#include "platform/serial/SerialPort.h"
#include "platform/sys/Syscall.h"
#include "platform/ui/WindowMessages.h"
#include "resources/ResourceIds.h"
#include "testkit/ChildProcess.h"

namespace controllersbench {

CpuFigures MeasureCpu(const Settings& s) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("camora-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    bench::CameraProcess cam = bench::SpawnCamera(folder, s.rate, s.latencyMs);

    Handset* handset = Connect(cam.line);
    auto* mode = new CCamModeController(handset->Services());
    auto* command = new CCamCmdController(handset->Services());
    auto* monitor = new CMonitorController(handset->Services());
    if (mode->Start() != 1 || command->Start() != 1 || monitor->Start() != 1) {
        Die("a controller did not start");
    }
    uint64_t frames = 0;
    const platform::WindowHandle window = platform::CreateMessageWindow(
        [&](platform::WindowHandle, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
            if (message == WM_MONITOR_FRAME) {
                uint8_t* image = nullptr;
                uint32_t size = 0;
                monitor->TakeImage(&image, &size);
                std::free(image);
                ++frames;
            } else if (message == WM_CAMERA_STATUS) {
                CameraStateSnapshot snapshot{};
                handset->state->GetSnapshot(&snapshot);
            }
            return 0;
        });
    if (mode->QueryMode() != 1) {
        Die("the handshake was not answered");
    }
    mode->SetWindow(window);

    auto measure = [&] {
        PumpFor(2s);  // settle
        const uint64_t framesBefore = frames;
        const bench::Usage before = bench::ProcessUsage();
        const auto from = Clock::now();
        PumpFor(ToDuration(s.seconds));
        const double wall = SecondsOf(Clock::now() - from);
        const bench::Usage used = bench::ProcessUsage() - before;
        return CpuFigure{100.0 * used.cpuSeconds / wall,
                         static_cast<double>(frames - framesBefore) / wall, used.switches / wall};
    };
    const std::string shapeOn =
        "shape on " + std::to_string(s.rate) + " " + std::to_string(s.latencyMs);
    CpuFigures out;
    for (int run = 0; run < s.runs; ++run) {
        cam.Tell(shapeOn);
        out.idle.push_back(measure());
        monitor->Request(window);
        out.streamingShaped.push_back(measure());
        cam.Tell("shape off");
        out.streamingUnshaped.push_back(measure());
        monitor->Request(window);
    }
    PumpFor(1s);
    platform::DestroyMessageWindow(window);
    cam.End();
    std::filesystem::remove_all(folder);
    return out;
}

// ---- a camera that fails every live-view cycle at once ------------------------

namespace {

namespace sys = platform::sys;

// Answers every request on the line at once: each command with status 0, each
// size question with a size and count of 0, so every live-view cycle fails.
// Runs in a child process; counts what it answered in `answered`; ends when
// the line fails or closes.
[[noreturn]] void AnswerWithNothing(int fd, std::atomic<uint64_t>* answered) {
    uint8_t frame[sim::kMaxFrameBytes];
    for (;;) {
        if (sys::ReadAll(fd, frame, 6).Failed()) {
            ::_exit(0);
        }
        const uint16_t length = sim::GetU16(frame + 2);
        if (length < 6 || length > sizeof frame ||
            sys::ReadAll(fd, frame + 6, length - 6u).Failed()) {
            ::_exit(0);
        }
        const uint16_t channel = sim::GetU16(frame);
        const uint16_t opcode = sim::GetU16(frame + 4);
        if (opcode == sim::CTP_ERROR_REPORT) {
            continue;
        }
        const uint8_t noPicture[] = {0, 0, 0, 0, 0, 0};
        const uint8_t accepted[] = {0, 0};
        const Bytes answer = opcode == sim::CTP_GET_DATA_INFO
                                 ? sim::EncodeFrame(channel, sim::CTP_DATA_INFO, noPicture)
                                 : sim::EncodeFrame(channel, sim::CTP_2001, accepted);
        if (sys::WriteAll(fd, answer.data(), answer.size()).Failed()) {
            ::_exit(0);
        }
        answered->fetch_add(1);
    }
}

}  // namespace

FailingCameraFigure MeasureFailingCamera(double seconds) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        Die("cannot open a pseudo-terminal");
    }
    const std::string slave = ::ptsname(master);
    const int line = OpenRaw(slave);  // raw before the camera writes
    void* shared = ::mmap(nullptr, sizeof(std::atomic<uint64_t>), PROT_READ | PROT_WRITE,
                          MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared == MAP_FAILED) {
        Die("mmap failed");
    }
    auto* answered = new (shared) std::atomic<uint64_t>(0);
    testsupport::ChildProcess camera =
        testsupport::ChildProcess::Fork([&]() -> int { AnswerWithNothing(master, answered); });
    if (!camera.Started()) {
        Die(camera.Error());
    }
    auto* handset = new Handset;
    handset->config->SetString("TimeOut", "5");
    if (handset->engine->Start(platform::SerialPort::Adopt(line)) != 1) {
        Die("the engine did not start");
    }
    handset->state->SetMode(0);  // video recording: live view allowed
    handset->state->SetOperationState(0);
    auto* monitor = new CMonitorController(handset->Services());
    if (monitor->Start() != 1) {
        Die("the monitor did not start");
    }
    const platform::WindowHandle window = platform::CreateMessageWindow(
        [](platform::WindowHandle, uint32_t, uintptr_t, intptr_t) -> intptr_t { return 0; });
    monitor->Request(window);
    PumpFor(1s);  // past the first, short pauses
    const uint64_t answeredBefore = answered->load();
    const bench::Usage before = bench::ProcessUsage();
    const auto from = Clock::now();
    PumpFor(ToDuration(seconds));
    const double wall = SecondsOf(Clock::now() - from);
    const bench::Usage used = bench::ProcessUsage() - before;
    const FailingCameraFigure figure{100.0 * used.cpuSeconds / wall,
                                     static_cast<double>(answered->load() - answeredBefore) / wall};
    monitor->Request(window);
    PumpFor(500ms);
    platform::DestroyMessageWindow(window);
    camera.Kill();
    return figure;
}

}  // namespace controllersbench
