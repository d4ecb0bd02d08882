// Golden sessions: a demo-like session of the program's own engine and
// controllers with the simulated camcorder over a pseudo-terminal, its frame
// record (both directions, byte for byte, one frame a line in hex) compared
// with a file kept here. A change to any byte on the wire shows as a diff of
// that file. CAMORA_UPDATE_GOLDEN=1 writes the files anew instead (review the
// diff before committing it).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "controllers/CamCmdController.h"
#include "controllers/CamModeController.h"
#include "controllers/GpsController.h"
#include "controllers/MonitorController.h"
#include "core/CameraState.h"
#include "core/ConfigStore.h"
#include "platform/gps/Gps.h"
#include "platform/kernel/Kernel.h"
#include "platform/serial/SerialPort.h"
#include "platform/ui/WindowMessages.h"
#include "resources/ResourceIds.h"
#include "sim/Camcorder.h"
#include "testkit/PumpUntil.h"
#include "testkit/SourceDir.h"
#include "testkit/TempDeviceRoot.h"
#include "tools/TappedEngine.h"

namespace {

using testsupport::PumpUntil;
using Lines = std::vector<std::string>;

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string out;
    char two[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(two, sizeof two, i == 0 ? "%02X" : " %02X", bytes[i]);
        out += two;
    }
    return out;
}

// "> " for what the camera received, "< " for what it sent. Each channel is
// one strict request-and-answer conversation, listed whole in the order of
// its first request; the session takes one step at a time on one channel, so
// that is the order of the session too (times to the millisecond cannot
// order a request and an answer that cross within one).
Lines Record(const sim::Camcorder& cam) {
    const std::vector<sim::WireFrame> received = cam.ReceivedFrames();
    const std::vector<sim::WireFrame> sent = cam.SentFrames();
    std::vector<uint16_t> channels;
    for (const sim::WireFrame& f : received) {
        if (std::find(channels.begin(), channels.end(), f.Channel()) == channels.end()) {
            channels.push_back(f.Channel());
        }
    }
    Lines lines;
    for (uint16_t channel : channels) {
        Lines in;
        Lines out;
        for (const sim::WireFrame& f : received) {
            if (f.Channel() == channel) {
                in.push_back("> " + Hex(f.bytes));
            }
        }
        for (const sim::WireFrame& f : sent) {
            if (f.Channel() == channel) {
                out.push_back("< " + Hex(f.bytes));
            }
        }
        for (size_t i = 0; i < std::max(in.size(), out.size()); ++i) {
            if (i < in.size()) {
                lines.push_back(in[i]);
            }
            if (i < out.size()) {
                lines.push_back(out[i]);
            }
        }
    }
    return lines;
}

Lines ReadGolden(const std::string& path) {
    Lines lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != '#') {
            lines.push_back(line);
        }
    }
    return lines;
}

// The first differing lines, cut to a readable width.
std::string Diff(const Lines& want, const Lines& got) {
    auto cut = [](const std::string& s) { return s.size() > 100 ? s.substr(0, 100) + "..." : s; };
    std::ostringstream out;
    size_t shown = 0;
    for (size_t i = 0; i < std::max(want.size(), got.size()) && shown < 6; ++i) {
        const std::string w = i < want.size() ? want[i] : "(none)";
        const std::string g = i < got.size() ? got[i] : "(none)";
        if (w != g) {
            out << "frame " << i + 1 << ":\n  - " << cut(w) << "\n  + " << cut(g) << "\n";
            ++shown;
        }
    }
    return out.str();
}

void CompareWithGolden(const std::string& name, const Lines& got, const std::string& header) {
    const std::string path = testsupport::SourceDir() + "/tests/golden/" + name + ".txt";
    if (const char* update = std::getenv("CAMORA_UPDATE_GOLDEN"); update && *update == '1') {
        std::ofstream out(path, std::ios::trunc);
        out << header;
        for (const std::string& line : got) {
            out << line << "\n";
        }
        ASSERT_TRUE(out.good()) << "cannot write " << path;
        return;
    }
    const Lines want = ReadGolden(path);
    ASSERT_FALSE(want.empty()) << path << " is missing; CAMORA_UPDATE_GOLDEN=1 makes it";
    EXPECT_TRUE(want == got) << name << ": the wire differs from " << path << " (- kept, + now)\n"
                             << Diff(want, got);
}

// Keeps `object` reachable for good: the threads of the engine and the
// controllers run until the process ends, so they are never freed.
template <typename T>
T* Keep(T* object) {
    static auto* kept = new std::vector<const void*>;
    kept->push_back(object);
    return object;
}

// What the engine's listener works with. Kept for good, like the engine whose
// receiver thread calls it, so that it outlives each test's fixture.
struct Taps {
    std::atomic<bool> releaseKey{false};
    std::atomic<size_t> switchGpsOffAfter{0};
    std::atomic<size_t> answers[4] = {};
    CCamCmdController* command = nullptr;
    CGpsController* gps = nullptr;
    sim::Camcorder* cam = nullptr;
    platform::WindowHandle window;

    // On the engine's receiver thread, before the reply is delivered: lets a
    // step end at an exact answer rather than after some repeats.
    void OnAnswer(std::span<const uint8_t> frame) {
        const uint16_t channel = static_cast<uint16_t>(frame[0] << 8 | frame[1]);
        if (channel == 3 && releaseKey.exchange(false)) {
            command->Request(nullptr);  // the key goes up once the camera answered it
        }
        if (channel == 2 && switchGpsOffAfter.load() > 0 &&
            cam->GpsSentences().size() >= switchGpsOffAfter.load()) {
            switchGpsOffAfter = 0;
            gps->Request(window);
        }
        ++answers[channel - 1];
    }
};

// The engine and the controllers of the program, wired as start-up wires
// them, on the simulated camcorder's line; the test thread is the main
// window's. Never freed: their threads run until the process ends.
class GoldenSession : public ::testing::Test {
protected:
    void SetUp() override {
        platform::UseGpsTrack({}, false);
        sim::Options options;
        options.jpegQuality = 100;  // a live-view picture of two blocks
        options.clockText = "09:30:00.000";
        cam_ = Keep(new sim::Camcorder(options));
        ASSERT_TRUE(cam_->Start());
        ASSERT_TRUE(cam_->LinkAsDevice("COM4"));
        taps_ = Keep(new Taps);
        taps_->cam = cam_;
        engine_ = Keep(
            new CTappedEngine([taps = taps_](std::span<const uint8_t> f) { taps->OnAnswer(f); }));
        ASSERT_EQ(engine_->Start(platform::SerialPort::Open(u"COM4:")), 1);
        state_ = Keep(new CCameraState);
        config_ = Keep(new CConfigStore);
        config_->SetString("TimeOut", "10");
        config_->SetString("GpsInterval", "1");
        const ControllerServices services{engine_, state_, config_};
        mode_ = Keep(new CCamModeController(services));
        command_ = Keep(new CCamCmdController(services));
        monitor_ = Keep(new CMonitorController(services));
        gps_ = Keep(new CGpsController(services));
        taps_->command = command_;
        taps_->gps = gps_;
        ASSERT_EQ(command_->Start(), 1);
        ASSERT_EQ(monitor_->Start(), 1);
        ASSERT_EQ(gps_->CheckDevice(), 1);
        ASSERT_EQ(gps_->Start(), 1);
        window_ = platform::CreateMessageWindow(
            [this](platform::WindowHandle, uint32_t message, uintptr_t, intptr_t) -> intptr_t {
                stopped_ += message == WM_MONITOR_STOPPED ? 1 : 0;
                if (message == WM_MONITOR_FRAME) {
                    ++images_;
                    // Off while the worker waits for this message: exactly one image.
                    monitor_->Request(window_);
                }
                return 0;
            });
        taps_->window = window_;
    }

    void TearDown() override {
        platform::DestroyMessageWindow(window_);
        cam_->Stop();
    }

    size_t Received(uint16_t opcode) const {
        size_t n = 0;
        for (const auto& f : cam_->ReceivedFrames()) {
            n += f.Opcode() == opcode ? 1 : 0;
        }
        return n;
    }

    void Handshake() {
        ASSERT_EQ(mode_->QueryMode(), 1);
        engine_->SetConnecting(0);
    }
    void PressRecord() {
        const CamCmdRecord record = CCamCmdController::MakeCommand(ui::res::kBmpRecord);
        taps_->releaseKey = true;
        command_->Request(&record);
        ASSERT_TRUE(PumpUntil([&] { return taps_->answers[2].load() == 1; }));
    }
    void LiveViewOneImage() {
        monitor_->Request(window_);
        // The end command and its answer close the run.
        // The run ends with its own message, then the end command and its answer.
        ASSERT_TRUE(PumpUntil([&] {
            const auto received = cam_->ReceivedFrames();
            return images_ == 1 && stopped_ == 2 && !received.empty() &&
                   received.back().Opcode() == sim::CTP_IMAGE_CMD &&
                   cam_->SentFrames().size() == received.size();
        }));
    }
    void GpsOneSentence() {
        taps_->switchGpsOffAfter = 1;
        gps_->Request(window_);
        ASSERT_TRUE(PumpUntil([] { return platform::OpenGpsDeviceCount() == 1; }));
        platform::PushGpsTrackPosition(
            platform::GpsPosition{platform::kGpsFix, 35.681236, 139.767125, {9, 30, 0, 0}});
        ASSERT_TRUE(PumpUntil([&] {
            return Received(sim::CTP_GPS_CMD) == 2 &&
                   cam_->SentFrames().size() == cam_->ReceivedFrames().size();
        }));
    }

    testsupport::TempDeviceRoot root_;
    sim::Camcorder* cam_ = nullptr;
    CTappedEngine* engine_ = nullptr;
    CCameraState* state_ = nullptr;
    CConfigStore* config_ = nullptr;
    CCamModeController* mode_ = nullptr;
    CCamCmdController* command_ = nullptr;
    CMonitorController* monitor_ = nullptr;
    CGpsController* gps_ = nullptr;
    platform::WindowHandle window_;
    int images_ = 0;
    int stopped_ = 0;
    Taps* taps_ = nullptr;
};

TEST_F(GoldenSession, HandshakeKeyLiveViewAndGps) {
    Handshake();
    PressRecord();
    LiveViewOneImage();
    GpsOneSentence();
    CompareWithGolden("demo-session", Record(*cam_),
                      "# Handshake, record key, live view of one two-block image, GPS on, one\n"
                      "# sentence, GPS off. '>' the camera received, '<' it sent; hex bytes.\n");
}

TEST_F(GoldenSession, HandshakeAndKeyInPlayback) {
    cam_->SetMode(1);
    Handshake();
    PressRecord();
    CompareWithGolden("playback-key", Record(*cam_),
                      "# Handshake with the camera in video playback, then the record key\n"
                      "# (play/pause there). '>' the camera received, '<' it sent; hex bytes.\n");
}

}  // namespace
