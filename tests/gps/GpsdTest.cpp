#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "platform/gps/Gps.h"
#include "platform/gps/GpsdSource.h"
#include "platform/kernel/Kernel.h"
#include "testkit/ChildProcess.h"
#include "testkit/PtyPair.h"
#include "testkit/TempDeviceRoot.h"
#include "tests/gps/GpsFixture.h"
#include "tests/gps/NmeaText.h"

using namespace platform;
using namespace std::chrono_literals;
using testsupport::PtyPair;
using testsupport::TempDeviceRoot;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

gps_fix_t GpsdFix(int mode, double lat, double lon, time_t sec, long nsec) {
    gps_fix_t fix{};
    fix.mode = mode;
    fix.status = STATUS_FIX;
    fix.latitude = lat;
    fix.longitude = lon;
    fix.altHAE = kNaN;
    fix.altMSL = kNaN;
    fix.time.tv_sec = sec;
    fix.time.tv_nsec = nsec;
    return fix;
}

// 2025-01-01 01:02:03 UTC.
constexpr time_t kMorning = 1735693323;

}  // namespace

TEST(GpsdReportTest, OnlyValidCoordinatesWithATimeMakeAFix) {
    const gps_mask_t all = MODE_SET | TIME_SET | LATLON_SET;
    struct Case {
        const char* name;
        gps_fix_t fix;
        gps_mask_t set;
        int quality;
    };
    const Case cases[] = {
        {"NaN coordinates at first", GpsdFix(MODE_NO_FIX, kNaN, kNaN, 0, 0), MODE_SET, kGpsNoFix},
        {"mode 2 but still NaN", GpsdFix(MODE_2D, kNaN, 139.0, kMorning, 0), all, kGpsNoFix},
        {"mode not seen", GpsdFix(MODE_NOT_SEEN, 35.5, -139.25, kMorning, 0), all, kGpsNoFix},
        {"infinite", GpsdFix(MODE_3D, 35.5, INFINITY, kMorning, 0), all, kGpsNoFix},
        {"out of range", GpsdFix(MODE_3D, 95.0, 10.0, kMorning, 0), all, kGpsNoFix},
        {"no time yet", GpsdFix(MODE_2D, 35.5, -139.25, 0, 0), MODE_SET | LATLON_SET, kGpsNoFix},
        {"garbage time", GpsdFix(MODE_2D, 35.5, -139.25, std::numeric_limits<time_t>::max(), 0),
         all, kGpsNoFix},
        {"2D fix", GpsdFix(MODE_2D, 35.5, -139.25, kMorning, 4'000'000), all, kGpsFix},
        {"3D fix with NaN altitude", GpsdFix(MODE_3D, -5.5, 0.5, kMorning, 0), all, kGpsFix},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const GpsPosition p = PositionFromGpsdFix(c.fix, c.set);
        EXPECT_EQ(p.fixQuality, c.quality);
        if (c.quality == kGpsNoFix) {
            EXPECT_EQ(p.latitude, 0.0);
            EXPECT_EQ(p.longitude, 0.0);
        } else {
            EXPECT_EQ(p.latitude, c.fix.latitude);
            EXPECT_EQ(p.longitude, c.fix.longitude);
        }
    }
    gps_fix_t dgps = GpsdFix(MODE_3D, 1.0, 2.0, kMorning, 0);
    dgps.status = STATUS_DGPS_FIX;
    EXPECT_EQ(PositionFromGpsdFix(dgps, all).fixQuality, kGpsDifferentialFix);
}

TEST(GpsdReportTest, TimeOfDayIsNeverNegativeAndRoundsToTheMillisecond) {
    const gps_mask_t all = MODE_SET | TIME_SET | LATLON_SET;
    struct Case {
        const char* name;
        time_t sec;
        long nsec;
        GpsUtcTime expected;
    };
    const Case cases[] = {
        {"plain", kMorning, 4'000'000, {1, 2, 3, 4}},
        // gpsd's decimal time may arrive a hair below the millisecond it stands for.
        {"just below a millisecond", kMorning, 3'999'999, {1, 2, 3, 4}},
        {"rounding carries over midnight",
         kMorning + 22 * 3600 + 57 * 60 + 56,
         999'600'000,
         {0, 0, 0, 0}},
        {"unnormalised negative nanoseconds", kMorning, -250'000'000, {1, 2, 2, 750}},
        {"before 1970", -1, 500'000'000, {23, 59, 59, 500}},
        {"an earlier time after a later one", kMorning - 3600, 0, {0, 2, 3, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const GpsPosition p = PositionFromGpsdFix(GpsdFix(MODE_2D, 1, 1, c.sec, c.nsec), all);
        EXPECT_EQ(p.utcTime, c.expected);
        EXPECT_EQ(p.fixQuality, kGpsFix);
    }
}

namespace {

// A free TCP port on the loopback interface, as the kernel hands one out.
int FreeLoopbackPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (s < 0 || ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        if (s >= 0) {
            ::close(s);
        }
        return -1;
    }
    ::close(s);
    return ntohs(a.sin_port);
}

bool Accepts(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

std::string FindGpsd() {
    for (const char* dir :
         {"/usr/sbin", "/usr/local/sbin", "/sbin", "/usr/bin", "/usr/local/bin"}) {
        const std::string path = std::string(dir) + "/gpsd";
        if (::access(path.c_str(), X_OK) == 0) {
            return path;
        }
    }
    return {};
}

// A gpsd of this test's own, in the foreground, on a private port and control
// socket, reading NMEA from `devicePath`; stopped by its process id.
class GpsdProcess {
public:
    explicit GpsdProcess(const std::string& devicePath) {
        binary_ = FindGpsd();
        if (binary_.empty()) {
            return;
        }
        std::string tmpl = (std::filesystem::temp_directory_path() / "camora-gpsd-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) {
            return;
        }
        dir_ = tmpl;
        // The port is free when chosen but may be taken before gpsd binds it: try again.
        for (int attempt = 0; attempt < 3 && !gpsd_.Started(); ++attempt) {
            Launch(devicePath);
        }
    }

    ~GpsdProcess() {
        Stop();
        if (!dir_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(dir_, ec);
        }
    }

    bool found() const { return !binary_.empty(); }
    bool running() const { return gpsd_.Started(); }
    int port() const { return port_; }
    std::string socketPath() const { return dir_ + "/control.sock"; }

    std::string Log() const {
        std::ifstream in(dir_ + "/gpsd.log");
        std::ostringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    void Stop() {
        if (!gpsd_.Started()) {
            return;
        }
        gpsd_.Stop(5s);
        gpsd_ = {};
        std::error_code ec;
        std::filesystem::remove(socketPath(), ec);
    }

private:
    void Launch(const std::string& devicePath) {
        port_ = FreeLoopbackPort();
        const std::string log = dir_ + "/gpsd.log";
        gpsd_ = testsupport::ChildProcess::Spawn(
            {binary_, "-N", "-n", "-b", "-S", std::to_string(port_), "-F", socketPath(),
             devicePath},
            testsupport::SpawnOptions()
                .In(testsupport::Stream::Null())
                .Out(testsupport::Stream::Append(log))
                .Err(testsupport::Stream::AsOutput()));
        if (!gpsd_.Started()) {
            return;
        }
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (Accepts(port_)) {
                return;
            }
            if (!gpsd_.Running()) {  // gpsd gave up, most likely on the port
                gpsd_ = {};
                return;
            }
            std::this_thread::sleep_for(20ms);
        }
        Stop();
    }

    std::string binary_;
    std::string dir_;
    int port_ = -1;
    testsupport::ChildProcess gpsd_;
};

// GGA and RMC of one epoch. gpsd needs the date of the RMC to report a time;
// today's keeps it clear of its week-rollover guesses.
std::string Epoch(const std::string& time, const std::string& lat, const std::string& lon,
                  int quality) {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char date[8];
    std::strftime(date, sizeof date, "%d%m%y", &utc);
    const bool fix = quality != 0;
    return gpstest::WithChecksum("GPGGA," + time + "," + (fix ? lat : ",") + "," +
                                 (fix ? lon : ",") + "," + std::to_string(quality) +
                                 ",08,0.9,,M,,M,,") +
           gpstest::WithChecksum("GPRMC," + time + "," + (fix ? "A," + lat : "V,,") + "," +
                                 (fix ? lon : ",") + ",0.0,0.0," + date + ",,");
}

class GpsdBackendTest : public GpsFixture {
protected:
    // Feeds the epoch to gpsd again and again (gpsd swallows the first lines
    // while it learns what the device speaks) until a signalled record
    // satisfies `wanted`.
    bool FeedUntil(const std::string& epoch, const std::function<bool(const GpsPosition&)>& wanted,
                   GpsPosition* record) {
        return WaitForRecord(wanted, record, nullptr, [&] { Feed(epoch); });
    }
    void ConfigureGpsd(int port) {
        root_.WriteFile("gps.conf",
                        "backend=gpsd\nhost=127.0.0.1\nport=" + std::to_string(port) + "\n");
    }
    void Feed(const std::string& text) {
        pty_.PeerWrite(std::vector<uint8_t>(text.begin(), text.end()));
    }

    TempDeviceRoot root_;
    PtyPair pty_;
};

}  // namespace

TEST_F(GpsdBackendTest, NobodyAnsweringMeansNoDevice) {
    const int port = FreeLoopbackPort();
    ASSERT_GT(port, 0);
    ConfigureGpsd(port);
    EXPECT_FALSE(OpenGpsDevice(nullptr, nullptr));
    EXPECT_FALSE(OpenGpsDevice(newLocation_.get(), deviceState_.get()));
    EXPECT_FALSE(deviceState_->Wait(0));
}

TEST_F(GpsdBackendTest, ReportsThePositionsThatGpsdReads) {
    GpsdProcess gpsd(pty_.slavePath());
    ASSERT_TRUE(gpsd.found()) << "gpsd is not installed; scripts/setup installs it";
    ASSERT_TRUE(gpsd.running()) << "gpsd did not start:\n" << gpsd.Log();
    ConfigureGpsd(gpsd.port());

    // The start-up probe: gpsd answers, so there is a device.
    const GpsDevice probe = OpenGpsDevice(nullptr, nullptr);
    ASSERT_TRUE(probe);
    ASSERT_TRUE(CloseGpsDevice(probe));

    ASSERT_TRUE(Open());
    EXPECT_TRUE(deviceState_->Wait(10'000));

    GpsPosition r;
    // No fix yet: gpsd's coordinates are NaN.
    ASSERT_TRUE(FeedUntil(
        Epoch("010202.000", "", "", 0),
        [](const GpsPosition& p) { return p.fixQuality == kGpsNoFix; }, &r))
        << gpsd.Log();
    EXPECT_EQ(r.latitude, 0.0);

    const auto at = [](GpsUtcTime t) {
        return [t](const GpsPosition& p) { return p.fixQuality != kGpsNoFix && p.utcTime == t; };
    };
    ASSERT_TRUE(
        FeedUntil(Epoch("010203.004", "3530.000000,N", "13915.000000,W", 1), at({1, 2, 3, 4}), &r))
        << gpsd.Log();
    EXPECT_EQ(r.fixQuality, kGpsFix);
    EXPECT_NEAR(r.latitude, 35.5, 1e-7);
    EXPECT_NEAR(r.longitude, -139.25, 1e-7);

    ASSERT_TRUE(
        FeedUntil(Epoch("010205.500", "0530.0000,S", "00030.0000,E", 2), at({1, 2, 5, 500}), &r));
    EXPECT_EQ(r.fixQuality, kGpsDifferentialFix);
    EXPECT_NEAR(r.latitude, -5.5, 1e-7);
    EXPECT_NEAR(r.longitude, 0.5, 1e-7);

    // A time earlier than the last one is still reported as it comes.
    ASSERT_TRUE(
        FeedUntil(Epoch("010201.250", "0000.0000,N", "00945.0000,E", 1), at({1, 2, 1, 250}), &r));
    EXPECT_NEAR(r.latitude, 0.0, 1e-7);
    EXPECT_NEAR(r.longitude, 9.75, 1e-7);

    ASSERT_TRUE(FeedUntil(
        Epoch("010206.000", "", "", 0),
        [](const GpsPosition& p) { return p.fixQuality == kGpsNoFix; }, &r))
        << "losing the fix was not reported";

    // gpsd going away is a change of the device's state, and no fix from then on.
    deviceState_->Reset();
    gpsd.Stop();
    EXPECT_TRUE(deviceState_->Wait(10'000));
    ASSERT_TRUE(GetGpsPosition(device_, &r, kGpsAnyAge, 0));
    EXPECT_EQ(r.fixQuality, kGpsNoFix);
    EXPECT_FALSE(std::filesystem::exists(gpsd.socketPath()));
}

TEST_F(GpsdBackendTest, ClosingWhileGpsdStreamsStopsTheSignals) {
    GpsdProcess gpsd(pty_.slavePath());
    ASSERT_TRUE(gpsd.found()) << "gpsd is not installed; scripts/setup installs it";
    ASSERT_TRUE(gpsd.running()) << "gpsd did not start:\n" << gpsd.Log();
    ConfigureGpsd(gpsd.port());
    ASSERT_TRUE(Open());
    GpsPosition r;
    const std::string epoch = Epoch("120000.000", "4807.038,N", "01131.000,E", 1);
    ASSERT_TRUE(FeedUntil(
        epoch, [](const GpsPosition& p) { return p.fixQuality == kGpsFix; }, &r))
        << gpsd.Log();

    const auto closing = std::chrono::steady_clock::now();
    ASSERT_TRUE(CloseGpsDevice(device_));
    EXPECT_LT(std::chrono::steady_clock::now() - closing, 2s);
    device_ = {};
    newLocation_->Reset();
    deviceState_->Reset();
    for (int i = 0; i < 3; ++i) {
        Feed(epoch);
        EXPECT_FALSE(newLocation_->Wait(150));
    }
    gpsd.Stop();
    EXPECT_FALSE(deviceState_->Wait(200)) << "a closed device told of gpsd going away";
}
