// camora-remote as a child process against the simulated camcorder of this
// process, which serves it over a pseudo-terminal linked into the device root.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs/DeviceRoot.h"
#include "platform/fs/InstanceLock.h"
#include "sim/Camcorder.h"
#include "sim/TestPicture.h"
#include "testkit/ChildProcess.h"
#include "testkit/PumpUntil.h"
#include "testkit/TempDeviceRoot.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using testsupport::ChildProcess;
using testsupport::ExitStatus;
using testsupport::PumpUntil;
using testsupport::SpawnOptions;
using testsupport::Stream;

const std::string kBt = "registry/HKLM/Software/Microsoft/Bluetooth/";
const std::string kSpp = "00001101-0000-1000-8000-00805f9b34fb";

// The number written right after the first `marker` at or after `from`
// (NaN when the marker is not there); *end, when given, is where it ends.
double NumberAfter(const std::string& text, const std::string& marker, size_t from = 0,
                   size_t* end = nullptr) {
    const size_t at = text.find(marker, from);
    if (at == std::string::npos) {
        return std::nan("");
    }
    const char* start = text.c_str() + at + marker.size();
    char* stop = nullptr;
    const double value = std::strtod(start, &stop);
    if (stop == start) {
        return std::nan("");
    }
    if (end != nullptr) {
        *end = static_cast<size_t>(stop - text.c_str());
    }
    return value;
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// One run of the tool: standard output and error go to files (standard
// error to a pseudo-terminal when asked, as on a user's terminal).
class Tool {
public:
    // `outTo`, when given, is opened as standard output instead of a file.
    Tool(const testsupport::TempDeviceRoot& root, std::vector<std::string> args,
         bool errOnTerminal = false, const std::vector<std::string>& extraEnv = {},
         const std::string& outTo = "")
        : out_(root.Host("tool-" + std::to_string(++runs_) + ".out")),
          err_(root.Host("tool-" + std::to_string(runs_) + ".err")) {
        args.insert(args.begin(), REMOTE_TOOL_PATH);
        std::vector<std::string> env = extraEnv;
        env.push_back("CAMORA_DEVICE_ROOT=" + root.path());
        testsupport::SpawnOptions options =
            testsupport::SpawnOptions()
                .In(testsupport::Stream::Null())
                .Out(testsupport::Stream::Truncate(outTo.empty() ? out_ : outTo))
                .Err(testsupport::Stream::Truncate(err_))
                .Env(std::move(env));
        if (errOnTerminal) {
            std::string terminal;
            master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
            char name[128] = {};
            if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0 &&
                ::ptsname_r(master_, name, sizeof name) == 0) {
                terminal = name;
            }
            options.Err(testsupport::Stream::Terminal(terminal));
        }
        child_ = testsupport::ChildProcess::Spawn(args, std::move(options));
    }
    ~Tool() {
        child_ = {};  // killed first when it still runs
        if (master_ >= 0) {
            ::close(master_);
        }
    }

    // The exit code, or -1 when it had to be killed after the limit.
    int Wait(std::chrono::milliseconds limit = 30s) {
        if (!child_.Started()) {
            return -2;
        }
        const auto end = std::chrono::steady_clock::now() + limit;
        while (exit_ == kRunning) {
            DrainTerminal();
            if (const auto status = child_.Wait(5ms)) {
                exit_ = status->Exited() ? status->code : -1;
                break;
            }
            if (std::chrono::steady_clock::now() >= end) {
                child_.Kill();
                exit_ = -1;
                break;
            }
        }
        DrainTerminal();
        return exit_;
    }
    void Interrupt() const { child_.Signal(SIGINT); }
    pid_t Pid() const { return child_.Pid(); }
    void Kill() const { child_.Signal(SIGKILL); }

    std::string Out() const { return ReadText(out_); }
    std::string Err() {
        DrainTerminal();
        return master_ >= 0 ? terminalText_ : ReadText(err_);
    }
    std::string Diagnose() { return "stdout:\n" + Out() + "\nstderr:\n" + Err(); }

private:
    static constexpr int kRunning = -100;
    void DrainTerminal() {
        if (master_ < 0) {
            return;
        }
        char buffer[4096];
        const int flags = ::fcntl(master_, F_GETFL);
        ::fcntl(master_, F_SETFL, flags | O_NONBLOCK);
        for (;;) {
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            terminalText_.append(buffer, static_cast<size_t>(n));
        }
    }

    static inline int runs_ = 0;
    std::string out_;
    std::string err_;
    testsupport::ChildProcess child_;
    int exit_ = kRunning;
    int master_ = -1;
    std::string terminalText_;
};

// A device root with "CAMORA HD" paired on COM8, and the camcorder there.
class RemoteTool : public ::testing::Test {
public:
    void SetUp() override {
        root_.WriteFile("Program Files/CamoraController/CamoraControllerConfig.ini",
                        "# CamoraController config file.\r\n#   Do not edit this file.\r\n#\r\n"
                        "GpsInterval=1\r\nTimeOut=2\r\n");
        root_.WriteFile("track.txt",
                        "100 1 35.681236 139.767125 09:30:00.000\n"
                        "300 1 35.681310 139.767210 09:30:01.000\n");
        root_.WriteFile("gps.conf", "backend=track\nfile=track.txt\nloop=1\n");
        Pair("0a1b2c3d4e5f", "CAMORA HD", "COM8");
        cam_.SetModePollInterval(100);
        ASSERT_TRUE(cam_.Start());
        ASSERT_TRUE(cam_.LinkAsDevice("COM8"));
    }

    void Pair(const std::string& key, const std::string& name, const std::string& port) {
        std::filesystem::create_directories(
            root_.Host(kBt + "Device/" + key + "/Services/" + kSpp));
        root_.WriteFile(kBt + "Device/" + key + "/name", name + "\n");
        root_.WriteFile(kBt + "Serial/Ports/0000" + key + "/Port", port + "\n");
    }

    std::vector<Bytes> ReceivedWith(uint16_t opcode) const {
        std::vector<Bytes> out;
        for (const sim::WireFrame& f : cam_.ReceivedFrames()) {
            if (f.Opcode() == opcode) {
                out.push_back(f.bytes);
            }
        }
        return out;
    }

    // The image size the camera announced in its last CTP_DATA_INFO answer.
    size_t AnnouncedSize() const {
        size_t size = 0;
        for (const sim::WireFrame& f : cam_.SentFrames()) {
            if (f.Opcode() == sim::CTP_DATA_INFO && f.bytes.size() >= 10) {
                size = size_t{f.bytes[6]} << 24 | size_t{f.bytes[7]} << 16 |
                       size_t{f.bytes[8]} << 8 | f.bytes[9];
            }
        }
        return size;
    }

    size_t JpegFiles(const std::string& folder) const {
        std::error_code ec;
        size_t n = 0;
        for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
            n += e.path().extension() == ".jpg" ? 1 : 0;
        }
        return n;
    }

    testsupport::TempDeviceRoot root_;
    sim::Camcorder cam_;
};

// ---- usage ------------------------------------------------------------------

TEST_F(RemoteTool, HelpForEveryCommandListsTheExitCodes) {
    for (const char* command :
         {"devices", "status", "press", "liveview", "capture", "gps", "stats", "serve"}) {
        Tool t(root_, {command, "--help"});
        ASSERT_EQ(t.Wait(), 0) << command << t.Diagnose();
        EXPECT_NE(t.Out().find(std::string("usage: camora-remote ") + command), std::string::npos)
            << t.Out();
        EXPECT_NE(t.Out().find("10  the camcorder's link is held"), std::string::npos);
    }
    Tool all(root_, {"--help"});
    ASSERT_EQ(all.Wait(), 0);
    EXPECT_NE(all.Out().find("liveview [--frames N]"), std::string::npos) << all.Out();
}

TEST_F(RemoteTool, ABadCommandLineEndsWithTwoBeforeTouchingTheCamera) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"shoot"},
        {"press"},
        {"press", "shutter"},
        {"press", "record", "--hold", "0"},
        {"liveview", "--out", "x", "--mjpeg", "-"},
        {"liveview", "--mjpeg", "out.mjpeg"},
        {"gps"},
        {"gps", "off", "--for", "3"},
        {"status", "--reconnect"},
        {"capture", "--reconnect"},
        {"stats", "--link-latency", "20"},
        {"devices", "--hold", "3"},
    };
    for (const auto& args : cases) {
        Tool t(root_, args);
        EXPECT_EQ(t.Wait(), 2) << ::testing::PrintToString(args) << t.Diagnose();
        EXPECT_NE(t.Err().find("try camora-remote --help"), std::string::npos) << t.Err();
    }
    EXPECT_TRUE(cam_.ReceivedFrames().empty());
}

// ---- devices and connection errors ------------------------------------------

TEST_F(RemoteTool, DevicesListsThePairedCamcorders) {
    Pair("112233445566", "CAMORA \"B\"", "COM9");
    Tool text(root_, {"devices"});
    ASSERT_EQ(text.Wait(), 0) << text.Diagnose();
    EXPECT_NE(text.Out().find("CAMORA HD\tCOM8\t0A:1B:2C:3D:4E:5F\n"), std::string::npos)
        << text.Out();
    Tool json(root_, {"devices", "--json"});
    ASSERT_EQ(json.Wait(), 0) << json.Diagnose();
    const auto list = nlohmann::json::parse(json.Out());
    ASSERT_EQ(list.size(), 2u);
    std::vector<std::string> names;
    for (const auto& d : list) {
        names.push_back(d.at("name").get<std::string>() + "@" + d.at("port").get<std::string>() +
                        "@" + d.at("address").get<std::string>());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"CAMORA \"B\"@COM9@11:22:33:44:55:66",
                                               "CAMORA HD@COM8@0A:1B:2C:3D:4E:5F"}));
    EXPECT_TRUE(cam_.ReceivedFrames().empty()) << "listing does not connect";
}

TEST_F(RemoteTool, ConnectionErrorsHaveTheirOwnCodes) {
    const struct {
        const char* what;
        std::function<void(RemoteTool&)> setUp;
        std::vector<std::string> args;
        int code;
        const char* message;
    } cases[] = {
        {"two paired, none chosen",
         [](RemoteTool& t) { t.Pair("112233445566", "OTHER CAM", "COM9"); },
         {"status"},
         3,
         "choose one with --device NAME, PORT or ADDRESS:\n"
         "  CAMORA HD (COM8, 0A:1B:2C:3D:4E:5F): --device COM8\n"
         "  OTHER CAM (COM9, 11:22:33:44:55:66): --device COM9"},
        {"no such name",
         [](RemoteTool&) {},
         {"status", "--device", "CAMORA SD"},
         3,
         "no paired camcorder is named \"CAMORA SD\" or has that port or address; paired:\n"
         "  CAMORA HD (COM8, 0A:1B:2C:3D:4E:5F): --device COM8"},
        {"no Bluetooth",
         [](RemoteTool& t) { std::filesystem::remove_all(t.root_.Host("registry")); },
         {"status"},
         4,
         "BLUETOOTH NOT AVAILABLE"},
        {"nothing paired",
         [](RemoteTool& t) {
             std::filesystem::remove_all(t.root_.Host(kBt + "Device"));
             std::filesystem::create_directories(t.root_.Host(kBt + "Device"));
         },
         {"status"},
         3,
         "NO PAIRING DEVICE FOUND"},
        {"only a headset is paired",
         [](RemoteTool& t) {
             std::filesystem::remove_all(t.root_.Host(kBt + "Device"));
             t.root_.WriteFile(kBt + "Device/112233445566/name", "HEADSET\n");
             std::filesystem::create_directories(t.root_.Host(
                 kBt + "Device/112233445566/Services/0000111e-0000-1000-8000-00805f9b34fb"));
         },
         {"status"},
         3,
         "NO PAIRING DEVICE FOUND"},
        {"the port does not open",
         [](RemoteTool& t) { std::filesystem::remove(t.root_.Host("dev/COM8")); },
         {"status"},
         5,
         "CONNECTION FAILED: the port of \"CAMORA HD\" did not open"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.setUp(*this);
        Tool t(root_, c.args);
        EXPECT_EQ(t.Wait(), c.code) << t.Diagnose();
        EXPECT_NE(t.Err().find(c.message), std::string::npos) << t.Err();
        // Put the device root back as it was.
        Pair("0a1b2c3d4e5f", "CAMORA HD", "COM8");
        std::filesystem::remove_all(root_.Host(kBt + "Device/112233445566"));
        ASSERT_TRUE(cam_.LinkAsDevice("COM8"));
    }
}

// A whole session as a script runs it, one call after the other: record,
// live view, the GPS feed, record again; through either device source.
TEST_F(RemoteTool, ASessionOfCallsRunsThroughEitherDeviceSource) {
    const struct {
        const char* source;
        std::function<void(RemoteTool&)> setUp;
    } cases[] = {
        {"the registry", [](RemoteTool&) {}},
        {"the link library",
         [](RemoteTool& t) {
             std::filesystem::remove_all(t.root_.Host("registry"));
             t.root_.WriteFile("Windows/BtSdkCE50.dll", "");
             t.root_.WriteFile("bluetooth/stack.ini",
                               "[stack]\ndiscovery-delay-ms = 20\n"
                               "[device]\naddress = 00:11:22:33:00:01\nname = HEADSET\n"
                               "serial-port = no\n"
                               "[device]\naddress = 00:11:22:33:00:02\nname = CAMORA HD\n"
                               "com-port = 13\nconnect-delay-ms = 20\n");
             ASSERT_TRUE(t.cam_.LinkAsDevice("BTC3"));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        c.setUp(*this);
        cam_.ClearRecords();
        const std::string dir = root_.Host(std::string("frames-") + c.source);
        // The link library lists the paired headset too: the camcorder by name.
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"press", "record"},
              std::vector<std::string>{"liveview", "--frames", "3", "--out", dir},
              std::vector<std::string>{"gps", "on", "--for", "3"},
              std::vector<std::string>{"press", "record"}}) {
            std::vector<std::string> named = args;
            named.insert(named.end(), {"--device", "CAMORA HD"});
            Tool t(root_, named);
            ASSERT_EQ(t.Wait(), 0) << ::testing::PrintToString(named) << t.Diagnose();
            EXPECT_EQ(t.Err().find("Sanitizer"), std::string::npos) << t.Err();
        }
        ASSERT_EQ(JpegFiles(dir), 3u);
        EXPECT_EQ(sim::CheckJpeg(ReadBytes(dir + "/frame-000003.jpg")).width,
                  sim::CameraModel::kLiveViewWidth);
        // Each call opens with the handshake; record exactly twice, first in
        // standby, then while shooting.
        const auto received = cam_.ReceivedFrames();
        ASSERT_FALSE(received.empty());
        EXPECT_EQ(received[0].bytes, (Bytes{0x00, 0x01, 0x00, 0x06, 0x11, 0x01}));
        EXPECT_EQ(
            ReceivedWith(sim::CTP_CAMCMD),
            (std::vector<Bytes>{{0x00, 0x03, 0x00, 0x0A, 0x10, 0x01, 0x00, 0x00, 0x00, 0x00},
                                {0x00, 0x03, 0x00, 0x0A, 0x10, 0x01, 0x00, 0x00, 0x00, 0x01}}));
        EXPECT_EQ(cam_.Status().operationState, 0);
        const auto imageCommands = ReceivedWith(sim::CTP_IMAGE_CMD);
        ASSERT_FALSE(imageCommands.empty());
        EXPECT_EQ(imageCommands.back()[7], 1) << "the last image command ends live view";
        const auto gpsSwitches = ReceivedWith(sim::CTP_GPS_CMD);
        ASSERT_EQ(gpsSwitches.size(), 2u);
        EXPECT_EQ(gpsSwitches[0][7], 0);
        EXPECT_EQ(gpsSwitches[1][7], 1);
        EXPECT_FALSE(cam_.GpsFeedOn());
        const auto sentences = cam_.GpsSentences();
        ASSERT_FALSE(sentences.empty());
        for (const std::string& s : sentences) {
            // One of the two points of the track, in the GGA layout.
            EXPECT_TRUE(s.starts_with("$GPGGA,093000.000,3540.874160,N,13946.027500,E,1,") ||
                        s.starts_with("$GPGGA,093001.000,3540.878600,N,13946.032600,E,1,"))
                << s;
        }
        EXPECT_TRUE(cam_.ErrorReports().empty());
        EXPECT_TRUE(cam_.UnknownRequests().empty());
    }
}

// A step that does not happen ends the call with its code and says why.
TEST_F(RemoteTool, AStepThatDoesNotHappenEndsTheCallWithItsCode) {
    const struct {
        const char* what;
        std::function<void(RemoteTool&)> setUp;
        std::vector<std::string> args;
        int code;
        const char* message;
    } cases[] = {
        {"the link drops during live view",
         [](RemoteTool& t) {
             t.cam_.AddFault(
                 {.kind = sim::FaultKind::DropLink, .opcode = sim::CTP_GET_DATA_INFO, .times = 1});
         },
         {"liveview", "--frames", "3", "--out", "frames"},
         8,
         "link lost: \"CAMORA HD\" went away"},
        {"the handset has no GPS",
         [](RemoteTool& t) { t.root_.WriteFile("gps.conf", "backend=none\n"); },
         {"gps", "on", "--for", "1"},
         1,
         "no GPS position source on this machine"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.setUp(*this);
        Tool t(root_, c.args);
        EXPECT_EQ(t.Wait(), c.code) << t.Diagnose();
        EXPECT_NE(t.Err().find(c.message), std::string::npos) << t.Err();
        cam_.ClearFaults();
        if (!cam_.LinkUp()) {
            ASSERT_TRUE(cam_.RestoreLink());
        }
    }
}

TEST_F(RemoteTool, TwoCamcordersOfOneNameAreReachedByPortOrAddress) {
    Pair("112233445566", "CAMORA HD", "COM9");
    sim::Camcorder second;
    second.SetModePollInterval(100);
    ASSERT_TRUE(second.Start());
    ASSERT_TRUE(second.LinkAsDevice("COM9"));

    const char* const both =
        "  CAMORA HD (COM8, 0A:1B:2C:3D:4E:5F): --device COM8\n"
        "  CAMORA HD (COM9, 11:22:33:44:55:66): --device COM9";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"status"},
          std::vector<std::string>{"status", "--device", "CAMORA HD"}}) {
        Tool t(root_, args);
        EXPECT_EQ(t.Wait(), 3) << t.Diagnose();
        EXPECT_NE(t.Err().find(both), std::string::npos) << t.Err();
    }
    Tool named(root_, {"status", "--device", "CAMORA HD"});
    EXPECT_EQ(named.Wait(), 3);
    EXPECT_NE(named.Err().find("2 paired camcorders are named \"CAMORA HD\"; choose one by its "
                               "port or address:"),
              std::string::npos)
        << named.Err();

    const struct {
        const char* device;
        const char* key;
        sim::Camcorder* reached;
        uint16_t code;
    } cases[] = {
        {"COM9", "pause", &second, 1},
        {"11:22:33:44:55:66", "index", &second, 7},
        {"112233445566", "play", &second, 4},
        {"com8", "rewind", &cam_, 3},
        {"0a:1b:2c:3d:4e:5f", "forward", &cam_, 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        cam_.ClearRecords();
        second.ClearRecords();
        Tool t(root_, {"press", c.key, "--device", c.device});
        ASSERT_EQ(t.Wait(), 0) << t.Diagnose();
        sim::Camcorder* other = c.reached == &cam_ ? &second : &cam_;
        EXPECT_EQ(c.reached->Keys(), (std::vector<uint16_t>{c.code}));
        EXPECT_TRUE(other->Keys().empty());
    }
    Tool list(root_, {"devices"});
    ASSERT_EQ(list.Wait(), 0);
    EXPECT_NE(list.Out().find("CAMORA HD\tCOM9\t11:22:33:44:55:66\n"), std::string::npos)
        << list.Out();
}

TEST_F(RemoteTool, ASilentCameraTimesOut) {
    cam_.AddFault({.kind = sim::FaultKind::Silence});
    Tool t(root_, {"status"});
    EXPECT_EQ(t.Wait(), 6) << t.Diagnose();
    EXPECT_NE(t.Err().find("did not answer the handshake in time"), std::string::npos) << t.Err();
}

TEST_F(RemoteTool, DoesNotRunWhileTheProgramHoldsTheLink) {
    platform::OverrideDeviceRoot(root_.path());
    platform::InstanceLock program;
    ASSERT_EQ(program.TryTake("camora-controller"), platform::InstanceLock::Result::Taken);
    Tool t(root_, {"press", "record"});
    EXPECT_EQ(t.Wait(), 10) << t.Diagnose();
    EXPECT_NE(t.Err().find("the camcorder's link is in use by camora-controller (pid " +
                           std::to_string(::getpid()) + ")"),
              std::string::npos)
        << t.Err();
    EXPECT_TRUE(cam_.ReceivedFrames().empty()) << "the port was never opened";
    program.Release();
    Tool after(root_, {"press", "record"});
    EXPECT_EQ(after.Wait(), 0) << after.Diagnose();
}

TEST_F(RemoteTool, DoesNotRunWhileTheRealProgramHoldsTheLink) {
    // camora-controller itself, on Qt's offscreen platform in this device
    // root: it takes the link lock at start-up and then waits on its
    // instruction screen.
    const testsupport::ChildProcess program = testsupport::ChildProcess::Spawn(
        {PROGRAM_PATH},
        testsupport::SpawnOptions()
            .Out(testsupport::Stream::Null())
            .Err(testsupport::Stream::Null())
            .Env({"CAMORA_DEVICE_ROOT=" + root_.path(), "QT_QPA_PLATFORM=offscreen"}));
    ASSERT_TRUE(program.Started()) << program.Error();

    // Held by the program once it has written its name into the lock file. The
    // wait only reads the file: a try of our own while the program starts
    // would hold the lock at that moment and send the program away.
    platform::OverrideDeviceRoot(root_.path());
    const std::string expected = "camora-controller (pid " + std::to_string(program.Pid()) + ")";
    ASSERT_TRUE(PumpUntil(
        [&] {
            std::ifstream in(platform::InstanceLock::LinkLockPath());
            std::string text;
            std::getline(in, text);
            return text.find(expected) != std::string::npos;
        },
        60s))
        << "the program never took the link's lock";
    platform::InstanceLock probe;
    ASSERT_EQ(probe.TryTake("probe"), platform::InstanceLock::Result::Held);
    EXPECT_EQ(probe.Holder(), expected);

    Tool t(root_, {"press", "record"});
    EXPECT_EQ(t.Wait(), 10) << t.Diagnose();
    EXPECT_NE(t.Err().find("the camcorder's link is in use by " + expected), std::string::npos)
        << t.Err();
    EXPECT_TRUE(cam_.ReceivedFrames().empty()) << "the port was never opened";
}

// ---- status -------------------------------------------------------------------

TEST_F(RemoteTool, StatusReportsTheCameraAsJsonAndText) {
    cam_.SetMode(2);
    cam_.SetBatteryLevel(4);
    cam_.SetAcPower(0);
    Tool json(root_, {"status", "--json"});
    ASSERT_EQ(json.Wait(), 0) << json.Diagnose();
    const auto s = nlohmann::json::parse(json.Out());
    EXPECT_EQ(s.at("device"), "CAMORA HD");
    EXPECT_EQ(s.at("mode"), "still recording");
    EXPECT_EQ(s.at("mode_code"), 2);
    EXPECT_EQ(s.at("state"), "standby");
    EXPECT_EQ(s.at("recording"), false);
    EXPECT_EQ(s.at("mains_power"), false);
    EXPECT_EQ(s.at("battery_level"), 4);
    EXPECT_EQ(s.at("gps"), "off");
    EXPECT_EQ(s.at("gps_device"), true);

    cam_.SetOperationState(1);
    Tool text(root_, {"status"});
    ASSERT_EQ(text.Wait(), 0) << text.Diagnose();
    EXPECT_NE(text.Out().find("mode:    still recording\nstate:   shooting\npower:   battery\n"
                              "battery: attached, level 4 of 5\n"),
              std::string::npos)
        << text.Out();
}

TEST_F(RemoteTool, StatusWatchPrintsEachChangeUntilInterrupted) {
    Tool t(root_, {"status", "--watch", "--json"});
    ASSERT_TRUE(PumpUntil([&] { return t.Out().find('\n') != std::string::npos; }));
    cam_.SetBatteryLevel(2);
    ASSERT_TRUE(PumpUntil([&] { return t.Out().find("\"battery_level\":2") != std::string::npos; }))
        << t.Diagnose();
    cam_.SetMode(1);
    ASSERT_TRUE(PumpUntil([&] { return t.Out().find("\"mode_code\":1") != std::string::npos; }))
        << t.Diagnose();
    t.Interrupt();
    EXPECT_EQ(t.Wait(), 0) << t.Diagnose();
    std::istringstream lines(t.Out());
    std::vector<int> levels;
    for (std::string line; std::getline(lines, line);) {
        levels.push_back(nlohmann::json::parse(line).at("battery_level").get<int>());
    }
    // One line per change, none repeated for the answers that changed nothing.
    EXPECT_EQ(levels, (std::vector<int>{5, 2, 2})) << t.Out();
}

TEST_F(RemoteTool, ALostLinkEndsAWatchWithoutReconnect) {
    Tool t(root_, {"status", "--watch"});
    ASSERT_TRUE(PumpUntil([&] { return cam_.CountReceived(sim::CTP_MODE_POLL) >= 1; }));
    cam_.DropLink();
    EXPECT_EQ(t.Wait(), 8) << t.Diagnose();
    EXPECT_NE(t.Err().find("link lost: \"CAMORA HD\" went away"), std::string::npos) << t.Err();
}

TEST_F(RemoteTool, StatusWatchReconnectsAcrossADroppedLink) {
    Tool t(root_, {"status", "--watch", "--json", "--reconnect"});
    ASSERT_TRUE(PumpUntil([&] { return cam_.CountReceived(sim::CTP_MODE_POLL) >= 1; }));
    cam_.DropLink();
    ASSERT_TRUE(PumpUntil([&] { return t.Err().find("reconnecting") != std::string::npos; }))
        << t.Diagnose();
    ASSERT_TRUE(cam_.RestoreLink());
    ASSERT_TRUE(PumpUntil([&] { return t.Err().find("link back") != std::string::npos; }))
        << t.Diagnose();
    // The polling goes on over the new line: a change is seen.
    cam_.SetBatteryLevel(1);
    ASSERT_TRUE(PumpUntil([&] { return t.Out().find("\"battery_level\":1") != std::string::npos; }))
        << t.Diagnose();
    t.Interrupt();
    EXPECT_EQ(t.Wait(), 0) << t.Diagnose();
}

// ---- press --------------------------------------------------------------------

TEST_F(RemoteTool, PressSendsTheKeyOnceAndHoldKeepsItDownForTheTime) {
    Tool once(root_, {"press", "record"});
    ASSERT_EQ(once.Wait(), 0) << once.Diagnose();
    EXPECT_EQ(cam_.Keys(), (std::vector<uint16_t>{0}));
    EXPECT_EQ(cam_.Status().operationState, 1) << "the camera is shooting";
    cam_.ClearRecords();

    Tool held(root_, {"press", "zoom-w", "--hold", "600"});
    ASSERT_EQ(held.Wait(), 0) << held.Diagnose();
    const auto keys = ReceivedWith(sim::CTP_CAMCMD);
    ASSERT_GT(keys.size(), 3u) << "sent again and again while held";
    for (const uint16_t k : cam_.Keys()) {
        EXPECT_EQ(k, 6);
    }
    // Held for the time asked, then let go: the sends span about 600 ms.
    std::vector<uint64_t> at;
    for (const sim::WireFrame& f : cam_.ReceivedFrames()) {
        if (f.Opcode() == sim::CTP_CAMCMD) {
            at.push_back(f.atMs);
        }
    }
    EXPECT_GE(at.back() - at.front(), 500u);
    EXPECT_LE(at.back() - at.front(), 1500u);
    EXPECT_TRUE(cam_.ErrorReports().empty());
    // Every key sent was answered, and the tool says how many.
    EXPECT_NE(held.Out().find("zoom-w: sent " + std::to_string(keys.size()) + " times in "),
              std::string::npos)
        << held.Out();
    EXPECT_NE(held.Out().find(", " + std::to_string(keys.size()) + " answered"), std::string::npos)
        << held.Out();
}

// The intervalometer's lines, "press K at TIME (+SECONDS s): ...", by K.
struct PressLine {
    int k = 0;
    double offset = 0;
    std::string text;
};
std::vector<PressLine> PressLines(const std::string& out) {
    std::vector<PressLine> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("press ")) {
            lines.push_back(
                {static_cast<int>(NumberAfter(line, "press ")), NumberAfter(line, "(+"), line});
        }
    }
    return lines;
}

// Press k goes at start + k x interval: a slow answer (the shaped link) and a
// missed one (reported) do not move the presses after them.
TEST_F(RemoteTool, PressEveryKeepsItsScheduleThroughSlowAndMissedAnswers) {
    root_.WriteFile("Program Files/CamoraController/CamoraControllerConfig.ini",
                    "GpsInterval=1\r\nTimeOut=1\r\n");
    cam_.SetShaping({.on = true, .bytesPerSecond = 100000, .latencyMs = 150});
    Tool t(root_, {"press", "zoom-t", "--every", "1.5", "--count", "4"});
    ASSERT_TRUE(PumpUntil([&] { return t.Out().find("press 1 at ") != std::string::npos; }))
        << t.Diagnose();
    // The controller sends a held key again after TimeOut: both sends of the
    // second press go unanswered.
    cam_.AddFault({.kind = sim::FaultKind::Silence, .opcode = sim::CTP_CAMCMD, .times = 2});
    EXPECT_EQ(t.Wait(), 1) << "one press went unanswered" << t.Diagnose();
    const std::vector<PressLine> lines = PressLines(t.Out());
    ASSERT_EQ(lines.size(), 4u) << t.Out();
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i].text);
        EXPECT_EQ(lines[i].k, static_cast<int>(i + 1));
        EXPECT_NEAR(lines[i].offset, 1.5 * static_cast<double>(i), 0.3);
        const bool missed = i == 1;
        EXPECT_EQ(lines[i].text.find("no answer within") != std::string::npos, missed);
        EXPECT_EQ(lines[i].text.find("zoom-t answered in") != std::string::npos, !missed);
        // A time of day in UTC.
        EXPECT_NE(lines[i].text.find("Z (+"), std::string::npos);
    }
    EXPECT_NE(t.Out().find("zoom-t: 4 presses, 3 answered"), std::string::npos) << t.Out();
    const std::vector<uint16_t> keys = cam_.Keys();
    EXPECT_GE(keys.size(), 5u);
    EXPECT_EQ(std::count(keys.begin(), keys.end(), 2), static_cast<long>(keys.size()));
}

TEST_F(RemoteTool, PressEveryGoesOnAcrossADroppedLink) {
    Tool t(root_, {"press", "zoom-w", "--every", "1", "--count", "7", "--reconnect"});
    ASSERT_TRUE(PumpUntil([&] { return t.Out().find("press 2 at ") != std::string::npos; }))
        << t.Diagnose();
    cam_.DropLink();
    ASSERT_TRUE(PumpUntil([&] { return t.Err().find("reconnecting") != std::string::npos; }))
        << t.Diagnose();
    ASSERT_TRUE(cam_.RestoreLink());
    const int code = t.Wait();
    EXPECT_TRUE(code == 0 || code == 1) << t.Diagnose();
    EXPECT_NE(t.Err().find("link back"), std::string::npos) << t.Err();
    const std::vector<PressLine> lines = PressLines(t.Out());
    ASSERT_EQ(lines.size(), 7u) << t.Out();
    size_t answered = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        SCOPED_TRACE(lines[i].text);
        EXPECT_EQ(lines[i].k, static_cast<int>(i + 1));
        if (lines[i].text.find("answered in") != std::string::npos) {
            ++answered;
            EXPECT_NEAR(lines[i].offset, static_cast<double>(i), 0.3) << "on its schedule";
        }
    }
    EXPECT_NE(lines.back().text.find("answered in"), std::string::npos) << t.Out();
    EXPECT_GE(answered, 4u) << t.Out();
    EXPECT_GE(cam_.Keys().size(), answered) << t.Out();
}

TEST_F(RemoteTool, PressIsRefusedInQuickStartStandby) {
    cam_.SetOperationState(2);
    Tool t(root_, {"press", "record"});
    EXPECT_EQ(t.Wait(), 7) << t.Diagnose();
    EXPECT_NE(t.Err().find("camera busy: it is in quick-start standby"), std::string::npos)
        << t.Err();
    EXPECT_TRUE(ReceivedWith(sim::CTP_CAMCMD).empty());
}

TEST_F(RemoteTool, SnapshotIsRefusedInVideoRecordingModeAsOnThePanel) {
    const struct {
        uint8_t mode;
        int code;
        size_t sent;
    } cases[] = {{0, 7, 0}, {2, 0, 1}, {1, 0, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << int{c.mode});
        cam_.SetMode(c.mode);
        cam_.ClearRecords();
        Tool t(root_, {"press", "snapshot"});
        EXPECT_EQ(t.Wait(), c.code) << t.Diagnose();
        EXPECT_EQ(ReceivedWith(sim::CTP_CAMCMD).size(), c.sent);
        if (c.code == 7) {
            EXPECT_NE(t.Err().find("camera in the wrong mode: video recording"), std::string::npos)
                << t.Err();
        }
    }
}

// ---- standard output ------------------------------------------------------------

TEST_F(RemoteTool, AStandardOutputThatCannotBeWrittenIsReportedWithNine) {
    const std::vector<std::vector<std::string>> cases = {
        {"--help"},
        {"devices"},
        {"devices", "--json"},
        {"status"},
        {"status", "--json"},
        {"status", "--watch"},
        {"press", "record"},
        {"liveview", "--frames", "3", "--mjpeg", "-"},
        {"gps", "on", "--for", "20"},
        {"gps", "off"},
        {"stats", "--frames", "2", "--queries", "2"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        Tool t(root_, args, false, {}, "/dev/full");
        EXPECT_EQ(t.Wait(), 9) << t.Diagnose();
        EXPECT_NE(t.Err().find("camora-remote: cannot write to standard output: No space left on "
                               "device"),
                  std::string::npos)
            << t.Err();
    }
}

// ---- liveview -----------------------------------------------------------------

TEST_F(RemoteTool, LiveViewWritesJpegFilesAndEndsTheLiveView) {
    const std::string dir = root_.Host("frames");
    Tool t(root_, {"liveview", "--frames", "3", "--out", dir});
    ASSERT_EQ(t.Wait(), 0) << t.Diagnose();
    ASSERT_EQ(JpegFiles(dir), 3u);
    for (int i = 1; i <= 3; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/frame-%06d.jpg", i);
        const sim::JpegSize size = sim::CheckJpeg(ReadBytes(dir + name));
        EXPECT_EQ(size.width, sim::CameraModel::kLiveViewWidth) << name;
    }
    const auto commands = ReceivedWith(sim::CTP_IMAGE_CMD);
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back()[7], 1) << "the camera was told that live view ended";
}

TEST_F(RemoteTool, LiveViewStreamsMjpegThatReadsBackFrameByFrame) {
    Tool t(root_, {"liveview", "--frames", "4", "--mjpeg", "-"});
    ASSERT_EQ(t.Wait(), 0) << t.Diagnose();
    const std::string stream = t.Out();
    // Read it as a player's multipart demuxer does: boundary, headers, length, body.
    std::vector<Bytes> frames;
    size_t at = 0;
    const std::string boundary = "--camoraframe\r\n";
    while (at < stream.size()) {
        ASSERT_EQ(stream.compare(at, boundary.size(), boundary), 0) << "at " << at;
        const size_t headersEnd = stream.find("\r\n\r\n", at);
        ASSERT_NE(headersEnd, std::string::npos);
        const std::string headers = stream.substr(at, headersEnd - at);
        EXPECT_NE(headers.find("Content-Type: image/jpeg"), std::string::npos) << headers;
        const double declared = NumberAfter(headers, "Content-Length: ");
        ASSERT_FALSE(std::isnan(declared)) << headers;
        const auto length = static_cast<size_t>(declared);
        const size_t body = headersEnd + 4;
        ASSERT_LE(body + length + 2, stream.size());
        frames.emplace_back(stream.begin() + static_cast<std::ptrdiff_t>(body),
                            stream.begin() + static_cast<std::ptrdiff_t>(body + length));
        EXPECT_EQ(stream.compare(body + length, 2, "\r\n"), 0);
        at = body + length + 2;
    }
    ASSERT_EQ(frames.size(), 4u);
    for (const Bytes& f : frames) {
        EXPECT_EQ(sim::CheckJpeg(f).height, sim::CameraModel::kLiveViewHeight);
    }
    EXPECT_NE(frames[0], frames[3]) << "the pictures move on";
}

TEST_F(RemoteTool, LiveViewIsRefusedInPlaybackAndForAFolderItCannotWrite) {
    cam_.SetMode(1);
    Tool playback(root_, {"liveview", "--frames", "1", "--out", root_.Host("frames")});
    EXPECT_EQ(playback.Wait(), 7) << playback.Diagnose();
    EXPECT_NE(playback.Err().find("camera in the wrong mode: video playback"), std::string::npos)
        << playback.Err();
    EXPECT_TRUE(ReceivedWith(sim::CTP_IMAGE_CMD).empty());

    // In quick-start standby the camera is busy, whatever its mode.
    for (const uint8_t mode : {0, 2}) {
        cam_.SetMode(mode);
        cam_.SetOperationState(2);
        Tool standby(root_, {"liveview", "--frames", "1", "--out", root_.Host("frames")});
        EXPECT_EQ(standby.Wait(), 7) << standby.Diagnose();
        EXPECT_NE(standby.Err().find("camera busy: it is in quick-start standby"),
                  std::string::npos)
            << standby.Err();
        EXPECT_EQ(standby.Err().find("needs video recording mode"), std::string::npos)
            << standby.Err();
        EXPECT_TRUE(ReceivedWith(sim::CTP_IMAGE_CMD).empty());
    }
    cam_.SetOperationState(0);

    cam_.SetMode(0);
    root_.WriteFile("plain", "x");
    Tool unwritable(root_, {"liveview", "--frames", "1", "--out", root_.Host("plain/frames")});
    EXPECT_EQ(unwritable.Wait(), 9) << unwritable.Diagnose();
    EXPECT_TRUE(ReceivedWith(sim::CTP_IMAGE_CMD).empty());
}

TEST_F(RemoteTool, LiveViewReconnectsAcrossADroppedLinkAndGoesOn) {
    const std::string dir = root_.Host("frames");
    Tool t(root_, {"liveview", "--reconnect", "--out", dir});
    ASSERT_TRUE(PumpUntil([&] { return JpegFiles(dir) >= 2; })) << t.Diagnose();
    cam_.DropLink();
    ASSERT_TRUE(PumpUntil([&] { return t.Err().find("reconnecting") != std::string::npos; }))
        << t.Diagnose();
    const size_t before = JpegFiles(dir);
    ASSERT_TRUE(cam_.RestoreLink());
    ASSERT_TRUE(PumpUntil([&] { return t.Err().find("link back") != std::string::npos; }))
        << t.Diagnose();
    ASSERT_TRUE(PumpUntil([&] { return JpegFiles(dir) >= before + 3; })) << t.Diagnose();
    t.Interrupt();
    EXPECT_EQ(t.Wait(), 0) << t.Diagnose();
    // Interrupted, it still ends the camera's live view.
    const auto commands = ReceivedWith(sim::CTP_IMAGE_CMD);
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back()[7], 1);
}

// ---- capture --------------------------------------------------------------------

TEST_F(RemoteTool, CaptureSavesTheStillWithAProgressBarOnATerminal) {
    cam_.SetMode(3);
    const std::string file = root_.Host("still.jpg");
    Tool t(root_, {"capture", "--out", file}, /*errOnTerminal=*/true);
    ASSERT_EQ(t.Wait(), 0) << t.Diagnose();
    const Bytes saved = ReadBytes(file);
    EXPECT_EQ(saved.size(), AnnouncedSize()) << "exactly the image, not its last block whole";
    EXPECT_EQ(sim::CheckJpeg(saved).width, sim::CameraModel::kStillWidth);
    const size_t blocks = (saved.size() + 10239) / 10240;
    const std::string last =
        "] " + std::to_string(blocks) + "/" + std::to_string(blocks) + " blocks";
    EXPECT_NE(t.Err().find(last), std::string::npos) << t.Err();
    // Start, size, the blocks, end.
    const auto commands = ReceivedWith(sim::CTP_IMAGE_CMD);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0][7], 2);
    EXPECT_EQ(commands[1][7], 3);
    EXPECT_EQ(ReceivedWith(sim::CTP_GET_IMAGE_DATA).size(), blocks);
}

TEST_F(RemoteTool, CaptureNamesTheFileAsTheProgramDoes) {
    cam_.SetMode(1);
    // The user's pictures folder, where the program proposes the first still.
    const std::vector<std::string> env = {"HOME=" + root_.Host("home"),
                                          "XDG_CONFIG_HOME=" + root_.Host("config")};
    Tool first(root_, {"capture"}, false, env);
    ASSERT_EQ(first.Wait(), 0) << first.Diagnose();
    Tool second(root_, {"capture"}, false, env);
    ASSERT_EQ(second.Wait(), 0) << second.Diagnose();
    const std::string pictures = root_.Host("home/Pictures/");
    const std::string a = first.Out();
    // J, yyMMdd, 001.
    ASSERT_EQ(a.size(), pictures.size() + 15) << a;
    ASSERT_EQ(a.substr(0, pictures.size() + 1), pictures + "J") << a;
    const std::string date = a.substr(pictures.size() + 1, 6);
    EXPECT_EQ(date.find_first_not_of("0123456789"), std::string::npos) << a;
    EXPECT_EQ(a.substr(pictures.size() + 7), "001.jpg\n");
    // The program's setting now names that folder, so the next one counts on.
    EXPECT_EQ(second.Out(), pictures + "J" + date + "002.jpg\n");
    const Bytes saved = ReadBytes(second.Out().substr(0, second.Out().size() - 1));
    EXPECT_EQ(saved.size(), AnnouncedSize());
    EXPECT_EQ(sim::CheckJpeg(saved).height, sim::CameraModel::kStillHeight);
}

// A capture killed during the transfer: the file named leaves the old
// picture whole (it is written only once the new one is complete); one that
// runs to its end replaces it whole.
TEST_F(RemoteTool, ACaptureKilledMidwayLeavesTheOldPictureAndAWholeOneReplacesIt) {
    cam_.SetMode(3);
    sim::Shaping slow;
    slow.on = true;
    slow.bytesPerSecond = 20000;  // a few blocks take seconds
    cam_.SetShaping(slow);
    const std::string file = root_.Host("still.jpg");
    const std::string old = "the old picture";
    root_.WriteFile("still.jpg", old);
    {
        Tool t(root_, {"capture", "--out", file});
        ASSERT_TRUE(PumpUntil([&] { return !ReceivedWith(sim::CTP_GET_IMAGE_DATA).empty(); }))
            << t.Diagnose();
        const std::string during = ReadText(file);
        EXPECT_EQ(during, old) << "during the transfer the file held " << during.size() << " bytes";
        t.Kill();
        EXPECT_EQ(t.Wait(), -1);
    }
    EXPECT_EQ(ReadText(file), old);
    EXPECT_FALSE(root_.Exists("still.jpg.part"));
    cam_.SetShaping({});
    Tool whole(root_, {"capture", "--out", file});
    ASSERT_EQ(whole.Wait(), 0) << whole.Diagnose();
    EXPECT_EQ(ReadBytes(file).size(), AnnouncedSize());
    EXPECT_FALSE(root_.Exists("still.jpg.part"));
}

TEST_F(RemoteTool, CaptureIsRefusedInRecordingAndForAFileItCannotWrite) {
    Tool recording(root_, {"capture", "--out", root_.Host("still.jpg")});
    EXPECT_EQ(recording.Wait(), 7) << recording.Diagnose();
    EXPECT_NE(recording.Err().find("camera in the wrong mode: video recording"), std::string::npos)
        << recording.Err();
    EXPECT_FALSE(root_.Exists("still.jpg"));

    cam_.SetMode(3);
    Tool unwritable(root_, {"capture", "--out", root_.Host("no/such/folder/still.jpg")});
    EXPECT_EQ(unwritable.Wait(), 9) << unwritable.Diagnose();
    EXPECT_TRUE(ReceivedWith(sim::CTP_IMAGE_CMD).empty()) << "nothing fetched for nothing";
}

// ---- gps ----------------------------------------------------------------------------

TEST_F(RemoteTool, GpsFeedsSentencesForTheTimeAndSwitchesOff) {
    Tool t(root_, {"gps", "on", "--for", "5"});
    ASSERT_EQ(t.Wait(), 0) << t.Diagnose();
    const auto switches = ReceivedWith(sim::CTP_GPS_CMD);
    ASSERT_EQ(switches.size(), 2u);
    EXPECT_EQ(switches[0][7], 0);
    EXPECT_EQ(switches[1][7], 1);
    EXPECT_FALSE(cam_.GpsFeedOn());
    ASSERT_FALSE(cam_.GpsSentences().empty());
    EXPECT_TRUE(cam_.GpsSentences()[0].starts_with("$GPGGA,0930")) << cam_.GpsSentences()[0];
    EXPECT_NE(t.Out().find("gps: off after"), std::string::npos) << t.Out();
}

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// Killed while it feeds, the track keeps every point but the one being
// written, as a GPX document a reader takes; status then shows the last fix.
TEST_F(RemoteTool, GpsTrackSurvivesAKillAndStatusShowsTheLastFix) {
    Tool before(root_, {"status", "--json"});
    ASSERT_EQ(before.Wait(), 0) << before.Diagnose();
    EXPECT_TRUE(nlohmann::json::parse(before.Out()).at("last_fix").is_null()) << before.Out();

    const std::string gpx = root_.Host("walk.gpx");
    {
        Tool t(root_, {"gps", "on", "--gpx", gpx});
        ASSERT_TRUE(PumpUntil([&] { return Occurrences(ReadText(gpx), "<trkpt ") >= 3; }))
            << t.Diagnose();
        t.Kill();
        EXPECT_EQ(t.Wait(), -1);
    }
    const std::string text = ReadText(gpx);
    EXPECT_EQ(std::system(("xmllint --noout " + gpx).c_str()), 0) << text;
    const size_t points = Occurrences(text, "<trkpt ");
    const size_t fed = cam_.GpsSentences().size();
    EXPECT_LE(points, fed);
    EXPECT_GE(points + 1, fed) << "all but the last position fed";
    std::istringstream lines(text);
    size_t checked = 0;
    for (std::string line; std::getline(lines, line);) {
        if (!line.starts_with("<trkpt ")) {
            continue;
        }
        ++checked;
        // The two points of the track, each with its time of day.
        const bool first =
            line.starts_with("<trkpt lat=\"35.6812360\" lon=\"139.7671250\"><time>") &&
            line.find("T09:30:00.000Z</time>") != std::string::npos;
        const bool second =
            line.starts_with("<trkpt lat=\"35.6813100\" lon=\"139.7672100\"><time>") &&
            line.find("T09:30:01.000Z</time>") != std::string::npos;
        EXPECT_TRUE(first || second) << line;
        EXPECT_NE(line.find("<camora:quality>1</camora:quality>"), std::string::npos) << line;
    }
    EXPECT_EQ(checked, points);

    Tool after(root_, {"status", "--json"});
    ASSERT_EQ(after.Wait(), 0) << after.Diagnose();
    const auto fix = nlohmann::json::parse(after.Out()).at("last_fix");
    ASSERT_TRUE(fix.is_object()) << after.Out();
    EXPECT_EQ(fix.at("source"), "a track (track.txt)");
    EXPECT_GE(fix.at("age_s").get<double>(), 0.0);
    EXPECT_LT(fix.at("age_s").get<double>(), 60.0);
    EXPECT_EQ(fix.at("quality"), 1);
    EXPECT_NEAR(fix.at("latitude").get<double>(), 35.6812, 0.001);
    Tool textStatus(root_, {"status"});
    ASSERT_EQ(textStatus.Wait(), 0) << textStatus.Diagnose();
    EXPECT_NE(textStatus.Out().find("\nfix:     35.681"), std::string::npos) << textStatus.Out();
    EXPECT_NE(textStatus.Out().find(" s ago, from a track (track.txt)\nsource:  a track "
                                    "(track.txt)\n"),
              std::string::npos)
        << textStatus.Out();

    // A track is never written over, and nothing goes to the camera for it.
    cam_.ClearRecords();
    Tool again(root_, {"gps", "on", "--for", "1", "--gpx", gpx});
    EXPECT_EQ(again.Wait(), 9) << again.Diagnose();
    EXPECT_NE(again.Err().find("cannot write the track " + gpx + ": File exists"),
              std::string::npos)
        << again.Err();
    EXPECT_TRUE(ReceivedWith(sim::CTP_GPS_CMD).empty());
    EXPECT_EQ(ReadText(gpx), text);
}

TEST_F(RemoteTool, GpsOffAndARefusedFeed) {
    Tool off(root_, {"gps", "off"});
    ASSERT_EQ(off.Wait(), 0) << off.Diagnose();
    ASSERT_EQ(ReceivedWith(sim::CTP_GPS_CMD).size(), 1u);
    EXPECT_EQ(ReceivedWith(sim::CTP_GPS_CMD)[0][7], 1);

    cam_.SetGpsCommandStatus(3);
    Tool refused(root_, {"gps", "on", "--for", "1"});
    EXPECT_EQ(refused.Wait(), 7) << refused.Diagnose();
    EXPECT_NE(refused.Err().find("the camera refused the GPS feed (status 3)"), std::string::npos);

    cam_.SetGpsCommandStatus(0);
    cam_.SetMode(3);
    Tool playback(root_, {"gps", "on", "--for", "1"});
    EXPECT_EQ(playback.Wait(), 7) << playback.Diagnose();
}

TEST_F(RemoteTool, GpsFeedGoesOnAfterTheLinkComesBack) {
    Tool t(root_, {"gps", "on", "--reconnect"});
    ASSERT_TRUE(PumpUntil([&] { return !cam_.GpsSentences().empty(); })) << t.Diagnose();
    cam_.DropLink();
    ASSERT_TRUE(PumpUntil([&] { return t.Err().find("reconnecting") != std::string::npos; }))
        << t.Diagnose();
    const size_t before = cam_.GpsSentences().size();
    ASSERT_TRUE(cam_.RestoreLink());
    ASSERT_TRUE(PumpUntil([&] { return cam_.GpsSentences().size() >= before + 2; }))
        << t.Diagnose();
    t.Interrupt();
    EXPECT_EQ(t.Wait(), 0) << t.Diagnose();
    // Interrupted, it still switches the camera's feed off.
    const auto switches = ReceivedWith(sim::CTP_GPS_CMD);
    ASSERT_FALSE(switches.empty());
    EXPECT_EQ(switches.back()[7], 1);
    EXPECT_FALSE(cam_.GpsFeedOn());
}

// ---- serve ----------------------------------------------------------------------------

// A browser's side of it, over plain sockets to 127.0.0.1.
int ConnectTo(int port, int receiveBuffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) {
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Reads what comes within `limit`; false when the peer closed.
bool ReadSome(int fd, std::string* into, std::chrono::milliseconds limit) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) {
        return true;
    }
    char buffer[65536];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
        return false;
    }
    into->append(buffer, static_cast<size_t>(n));
    return true;
}

struct HttpReply {
    int status = 0;
    std::string head;
    std::string body;
};

// One request, read to the server's close.
HttpReply Http(int port, const std::string& method, const std::string& target,
               const std::string& extraHeaders = "") {
    HttpReply reply;
    const int fd = ConnectTo(port);
    if (fd < 0) {
        return reply;
    }
    const std::string request =
        method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n" +
        extraHeaders + (method == "POST" ? "Content-Length: 0\r\n" : "") + "\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string all;
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < end && ReadSome(fd, &all, 100ms)) {
    }
    ::close(fd);
    const size_t split = all.find("\r\n\r\n");
    reply.head = all.substr(0, split);
    reply.body = split == std::string::npos ? "" : all.substr(split + 4);
    if (all.starts_with("HTTP/1.1 ")) {
        reply.status = std::atoi(all.c_str() + 9);
    }
    return reply;
}

// A viewer of /live.mjpeg: the parts as they come, split as a player splits them.
class MjpegViewer {
public:
    MjpegViewer(int port, const std::string& query = "", int receiveBuffer = 0)
        : fd_(ConnectTo(port, receiveBuffer)) {
        const std::string request = "GET /live.mjpeg" + query +
                                    " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                    "\r\n\r\n";
        ::send(fd_, request.data(), request.size(), MSG_NOSIGNAL);
    }
    ~MjpegViewer() { Leave(); }
    void Leave() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    // Reads until `n` whole parts have come in all, or `limit` passed.
    bool ReadParts(size_t n, std::chrono::milliseconds limit = 30s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (parts.size() < n && std::chrono::steady_clock::now() < end) {
            if (!ReadSome(fd_, &buffer_, 50ms)) {
                break;
            }
            Split();
        }
        return parts.size() >= n;
    }
    std::string head;
    std::vector<Bytes> parts;
    std::vector<std::chrono::steady_clock::time_point> arrived;
    bool malformed = false;

private:
    void Split() {
        if (head.empty()) {
            const size_t end = buffer_.find("\r\n\r\n");
            if (end == std::string::npos) {
                return;
            }
            head = buffer_.substr(0, end);
            buffer_.erase(0, end + 4);
        }
        for (;;) {
            const std::string boundary = "--camoraframe\r\n";
            if (buffer_.size() < boundary.size()) {
                return;
            }
            if (buffer_.compare(0, boundary.size(), boundary) != 0) {
                malformed = true;
                return;
            }
            const size_t headersEnd = buffer_.find("\r\n\r\n");
            if (headersEnd == std::string::npos) {
                return;
            }
            const double declared = NumberAfter(buffer_.substr(0, headersEnd), "Content-Length: ");
            if (std::isnan(declared)) {
                malformed = true;
                return;
            }
            const auto length = static_cast<size_t>(declared);
            if (buffer_.size() < headersEnd + 4 + length + 2) {
                return;
            }
            parts.emplace_back(
                buffer_.begin() + static_cast<std::ptrdiff_t>(headersEnd + 4),
                buffer_.begin() + static_cast<std::ptrdiff_t>(headersEnd + 4 + length));
            arrived.push_back(std::chrono::steady_clock::now());
            buffer_.erase(0, headersEnd + 4 + length + 2);
        }
    }
    int fd_;
    std::string buffer_;
};

// The serve command with the address it printed.
struct Served {
    int port = 0;
    std::string token;
};
Served WaitForUrl(Tool& t) {
    Served s;
    if (!PumpUntil([&] { return t.Out().find("serving http://") != std::string::npos; }, 30s)) {
        return s;
    }
    const std::string out = t.Out();
    const size_t colon = out.find(':', out.find("serving http://") + 15);
    s.port = std::atoi(out.c_str() + colon + 1);
    const size_t token = out.find("?token=");
    if (token != std::string::npos) {
        s.token = out.substr(token + 7, out.find('\n', token) - token - 7);
    }
    return s;
}

TEST_F(RemoteTool, ServeAnswersItsRoutesOnlyAndKeysReachTheCamera) {
    Tool t(root_, {"serve", "--listen", "127.0.0.1:0"});
    const Served served = WaitForUrl(t);
    ASSERT_GT(served.port, 0) << t.Diagnose();
    EXPECT_TRUE(served.token.empty()) << "no token on loopback";

    const HttpReply page = Http(served.port, "GET", "/");
    EXPECT_EQ(page.status, 200) << page.head;
    EXPECT_NE(page.head.find("Content-Type: text/html"), std::string::npos) << page.head;
    EXPECT_NE(page.body.find("/live.mjpeg"), std::string::npos);
    EXPECT_NE(page.body.find("\"zoom-t\""), std::string::npos);

    const HttpReply status = Http(served.port, "GET", "/status.json");
    ASSERT_EQ(status.status, 200) << status.head;
    const auto j = nlohmann::json::parse(status.body);
    EXPECT_EQ(j.at("mode"), "video recording");
    EXPECT_EQ(j.at("live_view"), false);
    EXPECT_TRUE(j.at("viewers").empty());
    EXPECT_TRUE(ReceivedWith(sim::CTP_IMAGE_CMD).empty()) << "no live view without a viewer";

    const HttpReply pressed = Http(served.port, "POST", "/press/zoom-t");
    ASSERT_EQ(pressed.status, 200) << pressed.head << pressed.body;
    const auto answer = nlohmann::json::parse(pressed.body);
    EXPECT_EQ(answer.at("key"), "zoom-t");
    EXPECT_EQ(answer.at("answered"), true);
    EXPECT_EQ(answer.at("status"), 0);
    EXPECT_EQ(cam_.Keys(), (std::vector<uint16_t>{2}));

    const std::string here = "Origin: http://127.0.0.1:" + std::to_string(served.port) + "\r\n";
    EXPECT_EQ(Http(served.port, "POST", "/press/pause", here).status, 200);
    EXPECT_EQ(cam_.Keys(), (std::vector<uint16_t>{2, 1}));

    const struct {
        const char* method;
        const char* target;
        std::string headers;
        int status;
    } refused[] = {
        {"POST", "/press/banana", "", 404},
        {"GET", "/press/record", "", 405},
        {"POST", "/status.json", "", 405},
        {"GET", "/etc/passwd", "", 404},
        {"GET", "/../../etc/passwd", "", 404},
        {"GET", "/index.html", "", 404},
        // Another site's page, posting to us or reaching us by a name of its own.
        {"POST", "/press/record", "Origin: http://evil.example\r\n", 403},
        {"GET", "/status.json", "Host: evil.example:80\r\n", 403},
    };
    for (const auto& r : refused) {
        SCOPED_TRACE(std::string(r.method) + " " + r.target + " " + r.headers);
        HttpReply reply;
        if (r.headers.starts_with("Host:")) {
            // Our own Host header instead of the client's.
            const int fd = ConnectTo(served.port);
            const std::string request =
                std::string(r.method) + " " + r.target + " HTTP/1.1\r\n" + r.headers + "\r\n";
            ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
            std::string all;
            while (ReadSome(fd, &all, 2000ms) && all.find("\r\n\r\n") == std::string::npos) {
            }
            ::close(fd);
            reply.status = all.starts_with("HTTP/1.1 ") ? std::atoi(all.c_str() + 9) : 0;
        } else {
            reply = Http(served.port, r.method, r.target, r.headers);
        }
        EXPECT_EQ(reply.status, r.status) << reply.head;
    }
    EXPECT_EQ(cam_.Keys(), (std::vector<uint16_t>{2, 1})) << "nothing refused reached the camera";
    t.Interrupt();
    EXPECT_EQ(t.Wait(), 0) << t.Diagnose();
}

TEST_F(RemoteTool, ServeRunsTheLiveViewWhileWatchedAndDecodesFrameByFrame) {
    Tool t(root_, {"serve", "--listen", "127.0.0.1:0"});
    const Served served = WaitForUrl(t);
    ASSERT_GT(served.port, 0) << t.Diagnose();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "the first viewer" : "a viewer after the last left");
        {
            MjpegViewer viewer(served.port);
            ASSERT_TRUE(viewer.ReadParts(5)) << t.Diagnose();
            EXPECT_NE(
                viewer.head.find("Content-Type: multipart/x-mixed-replace; boundary=camoraframe"),
                std::string::npos)
                << viewer.head;
            EXPECT_FALSE(viewer.malformed);
            for (const Bytes& f : viewer.parts) {
                EXPECT_EQ(sim::CheckJpeg(f).width, sim::CameraModel::kLiveViewWidth);
            }
            EXPECT_NE(viewer.parts.front(), viewer.parts.back()) << "the pictures move on";
        }
        // After the last viewer the camera is told that live view ended.
        ASSERT_TRUE(PumpUntil([&] {
            const auto commands = ReceivedWith(sim::CTP_IMAGE_CMD);
            return !commands.empty() && commands.back()[7] == 1 &&
                   nlohmann::json::parse(Http(served.port, "GET", "/status.json").body)
                           .at("live_view") == false;
        })) << t.Diagnose();
    }
    // Two runs, each ended once.
    size_t ends = 0;
    for (const Bytes& c : ReceivedWith(sim::CTP_IMAGE_CMD)) {
        ends += c[7] == 1 ? 1 : 0;
    }
    EXPECT_EQ(ends, 2u);
    t.Interrupt();
    EXPECT_EQ(t.Wait(), 0) << t.Diagnose();
    EXPECT_NE(t.Err().find("left after "), std::string::npos) << t.Err();
}

TEST_F(RemoteTool, ServeBeyondLoopbackRefusesRequestsWithoutItsToken) {
    Tool t(root_, {"serve", "--listen", "0.0.0.0:0"});
    const Served served = WaitForUrl(t);
    ASSERT_GT(served.port, 0) << t.Diagnose();
    ASSERT_EQ(served.token.size(), 32u) << t.Out();
    EXPECT_EQ(served.token.find_first_not_of("0123456789abcdef"), std::string::npos);
    std::string wrong = served.token;
    wrong[31] = wrong[31] == '0' ? '1' : '0';
    const struct {
        const char* method;
        std::string target;
        int status;
    } cases[] = {
        {"GET", "/", 403},
        {"GET", "/status.json", 403},
        {"GET", "/live.mjpeg", 403},
        {"POST", "/press/record", 403},
        {"GET", "/status.json?token=", 403},
        {"GET", "/status.json?token=" + wrong, 403},
        {"GET", "/status.json?token=" + served.token.substr(0, 31), 403},
        {"POST", "/press/record?token=" + wrong, 403},
        {"GET", "/?token=" + served.token, 200},
        {"GET", "/status.json?token=" + served.token, 200},
        {"POST", "/press/record?token=" + served.token, 200},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.method) + " " + c.target);
        const HttpReply r = Http(served.port, c.method, c.target);
        EXPECT_EQ(r.status, c.status) << r.head;
    }
    EXPECT_EQ(cam_.Keys(), (std::vector<uint16_t>{0})) << "only the press with the token";
    EXPECT_TRUE(ReceivedWith(sim::CTP_IMAGE_CMD).empty()) << "no stream without the token";
    t.Interrupt();
    EXPECT_EQ(t.Wait(), 0) << t.Diagnose();
}

long ResidentKb(pid_t pid) {
    return static_cast<long>(
        NumberAfter(ReadText("/proc/" + std::to_string(pid) + "/status"), "VmRSS:"));
}

// A viewer that takes nothing keeps at most two images waiting and loses the
// rest; the viewer beside it gets every image as it comes.
TEST_F(RemoteTool, AViewerThatStopsReadingStallsNobodyAndHoldsTwoImagesAtMost) {
    Tool t(root_, {"serve", "--listen", "127.0.0.1:0"});
    const Served served = WaitForUrl(t);
    ASSERT_GT(served.port, 0) << t.Diagnose();
    MjpegViewer stalled(served.port, "", 4096);
    MjpegViewer reader(served.port);
    ASSERT_TRUE(reader.ReadParts(3)) << t.Diagnose();
    const long rssBefore = ResidentKb(t.Pid());
    // The stalled viewer connected first: it is the one of the lower id.
    auto viewers = [&] {
        auto v = nlohmann::json::parse(Http(served.port, "GET", "/status.json").body).at("viewers");
        if (v.size() == 2 && v[0].at("id") > v[1].at("id")) {
            std::swap(v[0], v[1]);
        }
        return v;
    };
    // Until the stalled one takes nothing more (the buffers between us are full).
    nlohmann::json v;
    uint64_t slowParts = ~uint64_t{0};
    ASSERT_TRUE(PumpUntil(
        [&] {
            reader.ReadParts(reader.parts.size() + 5, 2s);
            v = viewers();
            if (v.size() != 2) {
                return false;
            }
            const uint64_t now = v[0].at("parts");
            const bool still = now == slowParts && v[0].at("dropped") > 0;
            slowParts = now;
            return still;
        },
        90s))
        << t.Diagnose() << v.dump();
    const uint64_t slowDropped = v[0].at("dropped");
    const uint64_t fastParts = v[1].at("parts");
    // Twenty images more: the reader gets them all, the stalled one loses them.
    ASSERT_TRUE(PumpUntil(
        [&] {
            reader.ReadParts(reader.parts.size() + 1, 200ms);
            v = viewers();
            return v.size() == 2 && v[1].at("parts") >= fastParts + 20;
        },
        60s))
        << t.Diagnose() << v.dump();
    EXPECT_FALSE(reader.malformed);
    v = viewers();
    ASSERT_EQ(v.size(), 2u);
    size_t largest = 0;
    for (const Bytes& f : reader.parts) {
        largest = std::max(largest, f.size());
    }
    EXPECT_LE(v[0].at("queued_bytes").get<size_t>(), 2 * (largest + 200)) << v.dump();
    EXPECT_LE(v[0].at("parts").get<uint64_t>(), slowParts + 1) << v.dump();
    EXPECT_GE(v[0].at("dropped").get<uint64_t>(), slowDropped + 18) << v.dump();
    // Loose: the sanitizers' own memory grows too; the queued bytes above are the bound.
    EXPECT_LT(ResidentKb(t.Pid()) - rssBefore, 16384) << "resident memory grew";
    stalled.Leave();
    reader.Leave();
    t.Interrupt();
    EXPECT_EQ(t.Wait(), 0) << t.Diagnose();
}

// Runs `argv` to its end (killed after `limit`); its exit code, -1 when killed.
int RunToEnd(const std::vector<std::string>& argv, const std::string& log,
             std::chrono::seconds limit) {
    ChildProcess child = ChildProcess::Spawn(argv, SpawnOptions()
                                                       .In(Stream::Null())
                                                       .Out(Stream::Truncate(log))
                                                       .Err(Stream::AsOutput())
                                                       .SearchPath());
    if (!child.Started()) {
        return -2;
    }
    const std::optional<ExitStatus> status = child.Wait(limit);
    if (!status) {
        child.Kill();
        return -1;
    }
    return status->Exited() ? status->code : -1;
}

// The spread of the grey levels in a region of a picture (0: one flat colour).
double Spread(const std::string& png, const std::string& region) {
    const std::string out = png + ".spread";
    const std::string command = "convert '" + png + "' -crop " + region +
                                " +repage -colorspace Gray -format '%[fx:standard_deviation]' "
                                "info: > '" +
                                out + "'";
    if (std::system(command.c_str()) != 0) {
        return -1;
    }
    return std::atof(ReadText(out).c_str());
}

// The page in a real browser: it loads, asks for the stream and shows the
// camera's pictures where the live view goes.
TEST_F(RemoteTool, ThePageShowsTheLiveViewInHeadlessChromium) {
    Tool t(root_, {"serve", "--listen", "127.0.0.1:0"});
    const Served served = WaitForUrl(t);
    ASSERT_GT(served.port, 0) << t.Diagnose();
    const std::string shot = root_.Host("serve.png");
    const std::string url = "http://127.0.0.1:" + std::to_string(served.port) + "/";
    const int code =
        RunToEnd({"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                  "--user-data-dir=" + root_.Host("chromium"), "--window-size=360,560",
                  "--timeout=15000", "--screenshot=" + shot, url},
                 root_.Host("chromium.log"), 120s);
    ASSERT_EQ(code, 0) << ReadText(root_.Host("chromium.log"));
    ASSERT_TRUE(root_.Exists("serve.png")) << ReadText(root_.Host("chromium.log"));
    // The browser watched and left again.
    ASSERT_TRUE(PumpUntil([&] { return t.Err().find("left after ") != std::string::npos; }))
        << t.Diagnose();
    EXPECT_GE(NumberAfter(t.Err(), "left after "), 1.0) << t.Err();
    // The live view's box (black until a picture comes) shows the test picture.
    EXPECT_GT(Spread(shot, "300x220+22+52"), 0.05) << shot;
    t.Interrupt();
    EXPECT_EQ(t.Wait(), 0) << t.Diagnose();
    if (const char* keep = std::getenv("CAMORA_KEEP_SCREENSHOT")) {
        std::filesystem::copy_file(shot, keep, std::filesystem::copy_options::overwrite_existing);
    }
}

// The live view's rate on the shaped link, through serve's stream beside the
// liveview command, one after the other in one run. The stream adds no
// exchange with the camera, so it must come close.
TEST_F(RemoteTool, ServeStreamsAtTheRateOfLiveviewOnTheShapedLink) {
    cam_.SetShaping({.on = true, .bytesPerSecond = 100000, .latencyMs = 20});
    constexpr size_t kImages = 21;
    const std::string dir = root_.Host("rate");
    double liveview = 0;
    {
        Tool t(root_, {"liveview", "--frames", std::to_string(kImages), "--out", dir});
        std::vector<std::chrono::steady_clock::time_point> seen;
        ASSERT_TRUE(PumpUntil(
            [&] {
                while (seen.size() < JpegFiles(dir)) {
                    seen.push_back(std::chrono::steady_clock::now());
                }
                return seen.size() >= kImages;
            },
            120s))
            << t.Diagnose();
        ASSERT_EQ(t.Wait(), 0) << t.Diagnose();
        liveview =
            (kImages - 1) / std::chrono::duration<double>(seen.back() - seen.front()).count();
    }
    double served = 0;
    {
        Tool t(root_, {"serve", "--listen", "127.0.0.1:0"});
        const Served url = WaitForUrl(t);
        ASSERT_GT(url.port, 0) << t.Diagnose();
        MjpegViewer viewer(url.port);
        ASSERT_TRUE(viewer.ReadParts(kImages, 120s)) << t.Diagnose();
        served =
            (kImages - 1) /
            std::chrono::duration<double>(viewer.arrived.back() - viewer.arrived.front()).count();
        viewer.Leave();
        t.Interrupt();
        EXPECT_EQ(t.Wait(), 0) << t.Diagnose();
    }
    std::printf(
        "live view at 100000 B/s, 20 ms: liveview %.2f images/s, serve /live.mjpeg %.2f "
        "images/s\n",
        liveview, served);
    RecordProperty("liveview_images_per_s", std::to_string(liveview));
    RecordProperty("serve_images_per_s", std::to_string(served));
    EXPECT_GT(liveview, 0);
    EXPECT_GE(served, 0.8 * liveview);
}

// ---- stats ----------------------------------------------------------------------------

TEST_F(RemoteTool, StatsMeasuresTheShapedLink) {
    cam_.SetShaping({.on = true, .bytesPerSecond = 100000, .latencyMs = 20});
    Tool t(root_, {"stats", "--frames", "5", "--queries", "5", "--link-rate", "100000",
                   "--link-latency", "20"});
    ASSERT_EQ(t.Wait(), 0) << t.Diagnose();
    const std::string out = t.Out();
    // The handshake and five queries; every exchange waits the latency both ways.
    size_t at = 0;
    EXPECT_EQ(NumberAfter(out, "channel 1: ", 0, &at), 6) << out;
    EXPECT_GE(NumberAfter(out, "median ", at), 40.0) << out;
    const double exchanges4 = NumberAfter(out, "channel 4: ", 0, &at);
    EXPECT_GE(exchanges4, 5 * 3) << out;
    const double median4 = NumberAfter(out, "median ", at, &at);
    EXPECT_GE(median4, 40.0) << out;
    EXPECT_GE(NumberAfter(out, "p99 ", at), median4) << out;
    const size_t images = out.find("live view: 5 images in ");
    ASSERT_NE(images, std::string::npos) << out;
    const double measured = NumberAfter(out, " s: ", images);
    const size_t bound = out.find("stop-and-wait bound");
    ASSERT_NE(bound, std::string::npos) << out;
    const double limit = NumberAfter(out, "): ", bound);
    // Stop and wait cannot beat its own bound (a little slack for rounding).
    EXPECT_GT(measured, 0) << out;
    EXPECT_LE(measured, limit * 1.05) << out;
    EXPECT_NE(out.find("channel 3: no exchanges"), std::string::npos) << out;
}

}  // namespace
