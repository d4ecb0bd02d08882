// A key press through the command controller beside a raw write of its frame,
// and the exchanges of keys and GPS sentences under live view.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "bench/controllers/ControllersBenchSupport.h"
#include "controllers/CamCmdController.h"
#include "controllers/CamModeController.h"
#include "controllers/MonitorController.h"
#include "ctp/CtpDataFactory.h"
#include "platform/sys/Syscall.h"
#include "platform/ui/WindowMessages.h"
#include "resources/ResourceIds.h"

namespace controllersbench {
namespace {

// Waits until the camera has taken in more than `count` key frames; the time
// is when this thread sees it, the same for every way of sending.
void WaitForKeyFrames(const sim::Camcorder& cam, size_t count) {
    auto more = [count](const std::vector<sim::WireFrame>& frames) {
        return static_cast<size_t>(std::count_if(frames.begin(), frames.end(), [](const auto& f) {
                   return f.Opcode() == sim::CTP_CAMCMD;
               })) > count;
    };
    if (!cam.WaitForFrames(more, 5s)) {
        Die("the key frame did not arrive");
    }
}

// Waits until the camera has answered every key frame it took in.
void WaitForKeyAnswers(const sim::Camcorder& cam) {
    cam.WaitFor(
        [&] {
            const std::vector<sim::WireFrame> sent = cam.SentFrames();
            const auto answers = std::count_if(sent.begin(), sent.end(),
                                               [](const auto& f) { return f.Channel() == 3; });
            return static_cast<size_t>(answers) >= cam.CountReceived(sim::CTP_CAMCMD);
        },
        5s);
}

}  // namespace

std::vector<double> MeasureKeyByController(int presses) {
    sim::Camcorder* cam = StartCamera({});
    // The answer comes after the pen is lifted, so that a press normally sends
    // one frame; a press that sends two (a slow lift) is timed by its first.
    cam->AddFault({.kind = sim::FaultKind::Late, .opcode = sim::CTP_CAMCMD, .delayMs = 10});
    Handset* handset = Connect(cam->SlavePath());
    auto* command = new CCamCmdController(handset->Services());
    if (command->Start() != 1) {
        Die("the command controller did not start");
    }
    const CamCmdRecord zoom = CCamCmdController::MakeCommand(ui::res::kBmpZoomTele);
    std::vector<double> ms;
    for (int i = 0; i < presses; ++i) {
        const size_t before = cam->CountReceived(sim::CTP_CAMCMD);
        const auto down = Clock::now();
        command->Request(&zoom);
        WaitForKeyFrames(*cam, before);
        ms.push_back(MsOf(Clock::now() - down));
        command->Request(nullptr);
        // The answer, then a moment for the worker to wait for the next key.
        WaitForKeyAnswers(*cam);
        std::this_thread::sleep_for(2ms);
    }
    return ms;
}

std::vector<double> MeasureKeyByRawWrite(int presses) {
    sim::Camcorder* cam = StartCamera({});
    const int fd = OpenRaw(cam->SlavePath());
    const Bytes body = {0x00, 0x02, 0x00, 0x00};
    const Bytes frame = sim::EncodeFrame(3, sim::CTP_CAMCMD, body);
    std::vector<double> ms;
    for (int i = 0; i < presses; ++i) {
        const auto down = Clock::now();
        const platform::sys::Outcome written =
            platform::sys::WriteAll(fd, frame.data(), frame.size());
        if (written.Failed()) {
            Die("raw write failed: " + written.Describe());
        }
        WaitForKeyFrames(*cam, static_cast<size_t>(i));
        ms.push_back(MsOf(Clock::now() - down));
        uint8_t answer[8];  // the camera's status answer, read whole
        ReadWithin(fd, answer, sizeof answer, 5000, "no answer to the raw key");
        std::this_thread::sleep_for(2ms);
    }
    return ms;
}

namespace {

// One exchange as the controllers make it; its time from Send to the answer.
double TimedExchange(CCtpEngine& engine, CCtpData* request, int channel) {
    const auto from = Clock::now();
    CCtpData* reply = nullptr;
    if (engine.Send(request, channel) != 1 || engine.Receive(channel, &reply, 5) != 1) {
        Die("an exchange of the mixed load was not answered");
    }
    delete reply;
    return MsOf(Clock::now() - from);
}

}  // namespace

// Live view through the monitor controller on the shaped link with the mode
// controller polling, while one thread sends a GPS sentence every second on
// channel 2 and another a key command `keysPerSecond` times a second on
// channel 3, as their controllers would.
MixedFigures MeasureMixed(const sim::Shaping& shaping, double seconds, int keysPerSecond) {
    sim::Camcorder* cam = StartCamera(shaping);
    Handset* handset = Connect(cam->SlavePath());
    auto* mode = new CCamModeController(handset->Services());
    auto* monitor = new CMonitorController(handset->Services());
    if (mode->Start() != 1 || monitor->Start() != 1) {
        Die("a controller did not start");
    }
    MixedFigures out;
    uint64_t told = 0;
    bool measuring = false;
    const platform::WindowHandle window = platform::CreateMessageWindow(
        [&](platform::WindowHandle, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
            if (message == WM_MONITOR_FRAME) {
                uint8_t* image = nullptr;
                uint32_t size = 0;
                monitor->TakeImage(&image, &size);
                std::free(image);
                ++told;
                if (measuring) {
                    ++out.view.images;
                    out.view.bytes += size;
                }
            }
            return 0;
        });
    mode->SetWindow(window);
    monitor->Request(window);
    if (!PumpUntil([&] { return told >= kWarmUpImages; }, 60s)) {
        Die("live view did not deliver images");
    }
    std::atomic<bool> stop{false};
    std::thread gps([&] {
        while (!stop.load()) {
            auto sentence = CCtpDataFactory::CreateAs<CCtpDataGps>(CTP_GPS);
            sentence->SetText("$GPGGA,120000.00,5230.1234,N,01323.5678,E,1,08,1.0,34.0,M,,,,\r\n");
            const double ms = TimedExchange(*handset->engine, sentence.release(), 2);
            if (!stop.load()) {
                out.gpsMs.push_back(ms);
            }
            std::this_thread::sleep_for(1s);
        }
    });
    std::thread keys([&] {
        const auto pause = std::chrono::milliseconds(1000 / keysPerSecond);
        while (!stop.load()) {
            auto key = CCtpDataFactory::CreateAs<CCtpDataCamCmd>(CTP_CAMCMD);
            key->SetCommand(2, 0, 0);
            const double ms = TimedExchange(*handset->engine, key.release(), 3);
            if (!stop.load()) {
                out.keyMs.push_back(ms);
            }
            std::this_thread::sleep_for(pause);
        }
    });
    // Between two images: the worker waits while the window handles one.
    cam->ClearRecords();
    const auto from = Clock::now();
    measuring = true;
    PumpFor(ToDuration(seconds));
    measuring = false;
    out.view.seconds = SecondsOf(Clock::now() - from);
    const std::vector<sim::WireFrame> in = cam->ReceivedFrames();
    const std::vector<sim::WireFrame> sent = cam->SentFrames();
    out.view.linkSeconds = LinkSeconds(in, shaping) + LinkSeconds(sent, shaping) +
                           OtherChannelsSeconds(in, shaping) + OtherChannelsSeconds(sent, shaping);
    stop = true;
    // The exchange threads end within their pause; the window keeps answering.
    PumpUntil([&] { return false; }, 1100ms);
    gps.join();
    keys.join();
    monitor->Request(window);
    platform::DestroyMessageWindow(window);
    return out;
}

}  // namespace controllersbench
