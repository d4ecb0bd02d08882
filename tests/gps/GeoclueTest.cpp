// The GeoClue source: what a location becomes, and the source against the
// real GeoClue daemon on a private bus, fed by an NMEA socket.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <string>

#include "platform/gps/GeoclueSource.h"
#include "platform/gps/Gps.h"
#include "testkit/TempDeviceRoot.h"
#include "tests/gps/GeoclueDaemon.h"
#include "tests/gps/GpsFixture.h"

namespace {

using geocluetest::Feed;
using geocluetest::GeoclueDaemon;
using platform::GeoclueLocation;
using platform::GpsPosition;
using platform::GpsUtcTime;
using platform::kGpsFix;
using platform::kGpsNoFix;
using testsupport::TempDeviceRoot;

// 2026-12-09 01:02:03.004005 UTC.
constexpr uint64_t kStampSeconds = 1796778123;
constexpr int64_t kStampUs = int64_t{kStampSeconds} * 1'000'000 + 4005;

TEST(GeoclueLocationTest, OnlyAFreshFineLocationIsAFix) {
    static constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* what;
        GeoclueLocation location;
        int64_t nowUs;
        bool fix;
    };
    const GeoclueLocation good{35.5, -139.25, 3.0, kStampSeconds, 4005};
    auto with = [&](auto change) {
        GeoclueLocation l = good;
        change(l);
        return l;
    };
    const Case cases[] = {
        {"fresh and exact", good, kStampUs + 1'000'000, true},
        {"five seconds old", good, kStampUs + 5'000'000, true},
        {"older than five seconds", good, kStampUs + 5'000'001, false},
        {"an hour old", good, kStampUs + 3'600'000'000, false},
        {"five seconds ahead of the clock", good, kStampUs - 5'000'000, true},
        {"further ahead of the clock", good, kStampUs - 5'000'001, false},
        {"street level", with([](auto& l) { l.accuracy = 100.0; }), kStampUs, true},
        {"coarser than street level", with([](auto& l) { l.accuracy = 100.5; }), kStampUs, false},
        {"a city-level guess", with([](auto& l) { l.accuracy = 15000.0; }), kStampUs, false},
        {"unknown accuracy", with([](auto& l) { l.accuracy = -1.0; }), kStampUs, false},
        {"accuracy not a number", with([](auto& l) { l.accuracy = nan; }), kStampUs, false},
        {"latitude not a number", with([](auto& l) { l.latitude = nan; }), kStampUs, false},
        {"latitude beyond a pole", with([](auto& l) { l.latitude = 90.5; }), kStampUs, false},
        {"longitude beyond the date line", with([](auto& l) { l.longitude = -180.5; }), kStampUs,
         false},
        {"no time stamp", with([](auto& l) { l.seconds = 0; }), kStampUs, false},
        {"microseconds past a second", with([](auto& l) { l.microseconds = 1'000'000; }), kStampUs,
         false},
        {"a time stamp far off", with([](auto& l) { l.seconds = ~uint64_t{0}; }), kStampUs, false},
    };
    for (const Case& c : cases) {
        const GpsPosition p = platform::PositionFromGeoclue(c.location, c.nowUs);
        EXPECT_EQ(p.fixQuality, c.fix ? kGpsFix : kGpsNoFix) << c.what;
        if (c.fix) {
            EXPECT_EQ(p.latitude, c.location.latitude) << c.what;
            EXPECT_EQ(p.longitude, c.location.longitude) << c.what;
            EXPECT_EQ(p.utcTime, (GpsUtcTime{1, 2, 3, 4})) << c.what;
        } else {
            EXPECT_EQ(p.latitude, 0.0) << c.what << ": no position without a fix";
            EXPECT_EQ(p.longitude, 0.0) << c.what;
        }
    }
}

TEST(GeoclueLocationTest, TimeOfDayIsUtcFromTheTimeStamp) {
    struct Case {
        uint64_t seconds;
        uint64_t microseconds;
        GpsUtcTime time;
    };
    const Case cases[] = {
        {kStampSeconds, 4005, {1, 2, 3, 4}},
        {kStampSeconds, 999'999, {1, 2, 3, 999}},
        {kStampSeconds - 3723, 0, {0, 0, 0, 0}},             // midnight
        {kStampSeconds - 3724, 500'000, {23, 59, 59, 500}},  // the day before
    };
    for (const Case& c : cases) {
        const GeoclueLocation l{1.0, 1.0, 1.0, c.seconds, c.microseconds};
        const int64_t now = static_cast<int64_t>(c.seconds) * 1'000'000;
        EXPECT_EQ(platform::PositionFromGeoclue(l, now).utcTime, c.time) << c.seconds;
    }
}

class GeoclueBackendTest : public GpsFixture {
protected:
    void Configure(const std::string& text) { root_.WriteFile("gps.conf", text); }

    static std::string TimeText(const GpsUtcTime& t) {
        char text[24];
        std::snprintf(text, sizeof text, "%02u%02u%02u", unsigned{t.hour}, unsigned{t.minute},
                      unsigned{t.second});
        return text;
    }
    static bool IsFix(const GpsPosition& p) { return p.fixQuality != kGpsNoFix; }
    static bool IsNoFix(const GpsPosition& p) { return p.fixQuality == kGpsNoFix; }

    TempDeviceRoot root_;
};

#define REQUIRE_DAEMON(daemon)                  \
    if (!(daemon).Unavailable().empty()) {      \
        GTEST_SKIP() << (daemon).Unavailable(); \
    }

TEST_F(GeoclueBackendTest, AutoTakesTheDaemonsFixes) {
    GeoclueDaemon daemon;
    REQUIRE_DAEMON(daemon);
    // No gps.conf: auto, the default.
    ASSERT_TRUE(Open()) << daemon.Log();
    GpsPosition record;
    ASSERT_TRUE(WaitForRecord(IsFix, &record)) << daemon.Log();
    EXPECT_DOUBLE_EQ(record.latitude, 35.5);
    EXPECT_DOUBLE_EQ(record.longitude, -139.25);
    EXPECT_EQ(daemon.SentTimes().count(TimeText(record.utcTime)), 1u)
        << "the time of day is the receiver's: " << TimeText(record.utcTime);

    // A new position comes through as such.
    Feed moved;
    moved.latitude = -5.5;
    moved.longitude = 0.5;
    daemon.SetFeed(moved);
    ASSERT_TRUE(WaitForRecord([](const GpsPosition& p) { return p.latitude == -5.5; }, &record));
    EXPECT_EQ(record.fixQuality, kGpsFix);
    EXPECT_DOUBLE_EQ(record.longitude, 0.5);
}

TEST_F(GeoclueBackendTest, AFixThatGoesStaleBecomesNoFix) {
    GeoclueDaemon daemon;
    REQUIRE_DAEMON(daemon);
    Configure("backend=geoclue\n");
    ASSERT_TRUE(Open());
    GpsPosition record;
    ASSERT_TRUE(WaitForRecord(IsFix, &record)) << daemon.Log();
    // The receiver falls silent: the daemon sends nothing more, and the last
    // position must not go on counting as where the handset is.
    Feed silent;
    silent.silent = true;
    daemon.SetFeed(silent);
    ASSERT_TRUE(WaitForRecord(IsNoFix, &record)) << "the last fix never went stale";
    EXPECT_EQ(record.latitude, 0.0);
}

TEST_F(GeoclueBackendTest, OldOrCoarseLocationsAreNoFix) {
    struct Case {
        const char* what;
        Feed feed;
    };
    Feed old;
    old.ageSeconds = 60;
    Feed coarse;
    coarse.hdop = 25.0;  // GeoClue makes that a radius of some hundreds of metres
    for (const Case& c : {Case{"a minute old", old}, Case{"coarser than street level", coarse}}) {
        GeoclueDaemon daemon;
        REQUIRE_DAEMON(daemon);
        daemon.SetFeed(c.feed);
        Configure("backend=geoclue\n");
        ASSERT_TRUE(Open()) << c.what;
        std::vector<GpsPosition> seen;
        GpsPosition record;
        // Three locations from the daemon, none of them a fix.
        int count = 0;
        EXPECT_TRUE(WaitForRecord([&](const GpsPosition&) { return ++count == 3; }, &record, &seen))
            << c.what << ": the daemon's locations never came\n"
            << daemon.Log();
        for (const GpsPosition& p : seen) {
            EXPECT_EQ(p.fixQuality, kGpsNoFix) << c.what;
        }
        platform::CloseGpsDevice(device_);
        device_ = {};
    }
}

TEST_F(GeoclueBackendTest, TheDaemonGoingAwayIsAStateChangeWithoutFix) {
    GeoclueDaemon daemon;
    REQUIRE_DAEMON(daemon);
    Configure("backend=geoclue\n");
    ASSERT_TRUE(Open());
    ASSERT_TRUE(deviceState_->Wait(0)) << "opening signals the device state";
    GpsPosition record;
    ASSERT_TRUE(WaitForRecord(IsFix, &record)) << daemon.Log();
    daemon.Kill();
    ASSERT_TRUE(deviceState_->Wait(kGenerousMs)) << "the lost daemon was not signalled";
    ASSERT_TRUE(platform::GetGpsPosition(device_, &record, platform::kGpsAnyAge, 0));
    EXPECT_EQ(record.fixQuality, kGpsNoFix);
    EXPECT_TRUE(platform::CloseGpsDevice(device_));
    device_ = {};
}

// Listens on a loopback port, as gpsd would: enough for its client to connect.
class Listener {
public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            ::listen(fd_, 4) == 0 &&
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
            port_ = ntohs(a.sin_port);
        }
    }
    ~Listener() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    int port() const { return port_; }
    // Closes the port: nothing answers there any more.
    void Close() {
        ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

TEST_F(GeoclueBackendTest, WithoutTheDaemonAutoFallsThroughToGpsdThenNone) {
    GeoclueDaemon bus(/*start=*/false);
    REQUIRE_DAEMON(bus);
    Listener gpsd;
    ASSERT_GT(gpsd.port(), 0);
    const std::string gpsdAt = "host=127.0.0.1\nport=" + std::to_string(gpsd.port()) + "\n";

    Configure("backend=geoclue\n");
    EXPECT_FALSE(platform::OpenGpsDevice(nullptr, nullptr)) << "GeoClue alone: no device";

    Configure(gpsdAt);  // auto
    const platform::GpsDevice viaGpsd = platform::OpenGpsDevice(nullptr, nullptr);
    EXPECT_TRUE(viaGpsd) << "auto did not fall through to gpsd";
    platform::CloseGpsDevice(viaGpsd);

    gpsd.Close();
    EXPECT_FALSE(platform::OpenGpsDevice(nullptr, nullptr)) << "neither answers: no device";
    EXPECT_EQ(platform::OpenGpsDeviceCount(), 0u);
}

}  // namespace
