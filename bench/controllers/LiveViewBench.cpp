// Live view through the monitor controller, and the same images fetched by a
// plain request/response loop.
#include <cstdlib>

#include "bench/controllers/ControllersBenchSupport.h"
#include "controllers/MonitorController.h"
#include "platform/ui/WindowMessages.h"
#include "resources/ResourceIds.h"

namespace controllersbench {

// Live view through the monitor controller: images the window was told of,
// counted after a warm-up, beside the link time of the frames they took.
LiveViewFigures MeasureLiveView(const sim::Shaping& shaping, int quality, double seconds) {
    sim::Camcorder* cam = StartCamera(shaping, quality);
    Handset* handset = Connect(cam->SlavePath());
    auto* monitor = new CMonitorController(handset->Services());
    if (monitor->Start() != 1) {
        Die("the monitor controller did not start");
    }
    LiveViewFigures out;
    uint64_t told = 0;
    bool done = false;
    Clock::time_point from;
    const platform::WindowHandle window = platform::CreateMessageWindow(
        [&](platform::WindowHandle, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
            if (message != WM_MONITOR_FRAME || done) {
                return 0;
            }
            uint8_t* image = nullptr;
            uint32_t size = 0;
            monitor->TakeImage(&image, &size);
            std::free(image);
            ++told;
            // The worker waits while this runs, so the records start and end
            // exactly between two images.
            if (told == kWarmUpImages) {
                cam->ClearRecords();
                from = Clock::now();
            } else if (told > kWarmUpImages) {
                ++out.images;
                out.bytes += size;
                const double elapsed = SecondsOf(Clock::now() - from);
                if (elapsed >= seconds) {
                    out.seconds = elapsed;
                    if (shaping.on) {
                        out.linkSeconds = LinkSeconds(cam->ReceivedFrames(), shaping) +
                                          LinkSeconds(cam->SentFrames(), shaping);
                    }
                    done = true;
                }
            }
            return 0;
        });
    monitor->Request(window);
    if (!PumpUntil([&] { return done; }, ToDuration(seconds) + 120s)) {
        Die("live view did not deliver images");
    }
    monitor->Request(window);  // off; the run's own messages now return at once
    platform::DestroyMessageWindow(window);
    return out;
}

namespace {

// One live-view image the plain way: ready it, ask its size, fetch its blocks.
uint32_t RawImage(RawLink& link) {
    link.Exchange(sim::CTP_IMAGE_CMD, {0x00, 0x00, 0x00, 0x00});
    const Bytes info = link.Exchange(sim::CTP_GET_DATA_INFO, {});
    const uint32_t size = info.size() >= 10 ? sim::GetU32(info.data() + 6) : 0;
    const uint32_t blocks = static_cast<uint32_t>((size + sim::kBlockBytes - 1) / sim::kBlockBytes);
    for (uint32_t n = 1; n <= blocks; ++n) {
        link.Exchange(sim::CTP_GET_IMAGE_DATA,
                      {static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
    }
    return size;
}

}  // namespace

LiveViewFigures MeasureRawLiveView(const sim::Shaping& shaping, int quality, double seconds) {
    sim::Camcorder* cam = StartCamera(shaping, quality);
    RawLink link(OpenRaw(cam->SlavePath()));
    for (uint64_t i = 0; i < kWarmUpImages; ++i) {
        RawImage(link);
    }
    cam->ClearRecords();
    LiveViewFigures out;
    const auto from = Clock::now();
    do {
        out.bytes += RawImage(link);
        ++out.images;
    } while (SecondsOf(Clock::now() - from) < seconds);
    out.seconds = SecondsOf(Clock::now() - from);
    if (shaping.on) {
        out.linkSeconds =
            LinkSeconds(cam->ReceivedFrames(), shaping) + LinkSeconds(cam->SentFrames(), shaping);
    }
    return out;
}

}  // namespace controllersbench
