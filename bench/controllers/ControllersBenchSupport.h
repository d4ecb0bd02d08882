// What the scenarios of camora-bench-controllers share: its settings, the
// handset's side of a camera link, the simulated camera in this process, a
// plain request/response loop beside the controllers, the link-time bound of
// the frames exchanged, and each scenario's figures and measurement.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "controllers/BaseController.h"
#include "core/CameraState.h"
#include "core/ConfigStore.h"
#include "ctp/CtpEngine.h"
#include "sim/Camcorder.h"
#include "testkit/PumpUntil.h"

namespace controllersbench {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;
using bench::Die;
using testsupport::PumpUntil;

struct Settings {
    double seconds = 5;
    int presses = 1000;
    int runs = 3;
    uint32_t rate = 100000;
    uint32_t latencyMs = 15;
    int captures = 5;
    bool captureOnly = false;
    bool busy = false;
};

// The still capture's JPEG quality: a 640 x 480 still of 40 to 60 kB, as the
// simulator's test picture comes out at it.
constexpr int kCaptureQuality = 98;
// Live-view images let through before the figures start.
constexpr uint64_t kWarmUpImages = 3;

double SecondsOf(Clock::duration d);
Clock::duration ToDuration(double seconds);
double MsOf(Clock::duration d);

// Opens a line and makes it raw; ends the benchmark when either fails.
int OpenRaw(const std::string& path);
// Reads exactly `count` bytes, each part within `timeoutMs`; ends the
// benchmark, saying `what`, when they do not come.
void ReadWithin(int fd, uint8_t* dest, size_t count, int timeoutMs, const char* what);

// Runs window messages for `duration`, sleeping while none come (as a GUI
// thread's event loop would, so that idle CPU is not spent on waking).
void PumpFor(Clock::duration duration);

// The handset's side of one camera link. Never freed: the engine's and the
// controllers' threads run until the process ends.
struct Handset {
    CCtpEngine* engine = new CCtpEngine;
    CCameraState* state = new CCameraState;
    CConfigStore* config = new CConfigStore;
    ControllerServices Services() const { return {engine, state, config}; }
};

// A handset whose engine runs on `line`, with a 5-second reply time-out.
Handset* Connect(const std::string& line);

// A simulated camera in this process; never freed, so that the engine on its
// line stays idle rather than retrying a dead one.
sim::Camcorder* StartCamera(const sim::Shaping& shaping, int jpegQuality = 75);

// The link time of the live-view channel's frames, one after the other: each
// frame's bytes at the link's rate plus the one-way latency.
double LinkSeconds(const std::vector<sim::WireFrame>& frames, const sim::Shaping& shaping);
// The same for the frames of `opcode` only (0: all of them).
double LinkSecondsOf(const std::vector<sim::WireFrame>& frames, uint16_t opcode,
                     const sim::Shaping& shaping);
// The time the other channels' frames hold the link: their bytes at its rate
// (their latency passes while live view's own frames travel or wait).
double OtherChannelsSeconds(const std::vector<sim::WireFrame>& frames, const sim::Shaping& shaping);

// One CTP exchange on channel 4 written and read by hand: the frame out, the
// whole answer in.
class RawLink {
public:
    explicit RawLink(int fd) : fd_(fd) {}
    Bytes Exchange(uint16_t opcode, const Bytes& body);

private:
    int fd_;
};

// Median, 99th percentile and maximum of a set of times.
struct Spread {
    double p50 = 0;
    double p99 = 0;
    double max = 0;
    size_t count = 0;
};
Spread SpreadOf(const std::vector<double>& ms);

// ---- live view (LiveViewBench.cpp) ------------------------------------------

struct LiveViewFigures {
    uint64_t images = 0;
    uint64_t bytes = 0;
    double seconds = 0;
    // The link time of the frames those images took, one after the other:
    // each frame's bytes at the link's rate plus the one-way latency.
    double linkSeconds = 0;
    double Fps() const { return seconds > 0 ? static_cast<double>(images) / seconds : 0; }
    double Payload() const { return seconds > 0 ? static_cast<double>(bytes) / seconds : 0; }
    double BoundFps() const {
        return linkSeconds > 0 ? static_cast<double>(images) / linkSeconds : 0;
    }
    double BoundPayload() const {
        return linkSeconds > 0 ? static_cast<double>(bytes) / linkSeconds : 0;
    }
};

LiveViewFigures MeasureLiveView(const sim::Shaping& shaping, int quality, double seconds);
LiveViewFigures MeasureRawLiveView(const sim::Shaping& shaping, int quality, double seconds);

// ---- still capture (CaptureBench.cpp) ---------------------------------------

struct CaptureFigures {
    int captures = 0;
    uint64_t bytes = 0;           // of one still
    int blocks = 0;               // of one still
    bool stepsPerBlock = true;    // the bar stepped once per block every time
    double fetchSeconds = 0;      // size known to image ready, summed
    double fetchLinkSeconds = 0;  // the link time of the block frames, summed
    double jobSeconds = 0;        // screen up to image ready, summed
    double jobLinkSeconds = 0;
};

CaptureFigures MeasureCapture(const sim::Shaping& shaping, int quality, int captures);
CaptureFigures MeasureRawCapture(const sim::Shaping& shaping, int quality, int captures);

// ---- key press and mixed load (KeyBench.cpp) --------------------------------

// Pen-down Request to the key frame at the camera, ms, one a press.
std::vector<double> MeasureKeyByController(int presses);
// A raw write of the same frame to its arrival, likewise.
std::vector<double> MeasureKeyByRawWrite(int presses);

struct MixedFigures {
    std::vector<double> keyMs;  // key exchanges: Send to the answer taken
    std::vector<double> gpsMs;  // GPS sentences likewise
    LiveViewFigures view;       // linkSeconds: with the other channels' bytes
};

MixedFigures MeasureMixed(const sim::Shaping& shaping, double seconds, int keysPerSecond);

// ---- CPU (CpuBench.cpp) -----------------------------------------------------

// Percent of one core, frames per second and context switches per second of
// one stretch of time.
struct CpuFigure {
    double percent = 0;
    double fps = 0;
    double switches = 0;
};

// Each run: connected and idle, then streaming on the shaped link, then
// streaming unshaped, then live view off again.
struct CpuFigures {
    std::vector<CpuFigure> idle;
    std::vector<CpuFigure> streamingShaped;
    std::vector<CpuFigure> streamingUnshaped;
};

CpuFigures MeasureCpu(const Settings& s);

struct FailingCameraFigure {
    double percent = 0;    // of one core, the handset's threads
    double exchanges = 0;  // answered per second
};

// Live view switched on against a camera that fails every cycle at once: what
// the monitor worker's retries cost. Call before any thread is started (the
// camera is a forked copy of this process).
FailingCameraFigure MeasureFailingCamera(double seconds);

}  // namespace controllersbench
