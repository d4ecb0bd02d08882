#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/gps/Gps.h"
#include "platform/kernel/Kernel.h"
#include "testkit/PumpUntil.h"
#include "testkit/TempDeviceRoot.h"
#include "tests/gps/GpsFixture.h"

using namespace platform;
using namespace std::chrono_literals;
using testsupport::TempDeviceRoot;

namespace {

GpsPosition Fix(double lat, double lon, GpsUtcTime t, int quality = kGpsFix) {
    return GpsPosition{quality, lat, lon, t};
}

auto Is(const GpsPosition& wanted) {
    return [wanted](const GpsPosition& p) { return p == wanted; };
}

class GpsDeviceTest : public GpsFixture {
protected:
    void Configure(const std::string& conf) { root_.WriteFile("gps.conf", conf); }

    TempDeviceRoot root_;
};

}  // namespace

TEST_F(GpsDeviceTest, OpeningWithoutADeviceFails) {
    const char* const configurations[] = {
        "backend=none\n",
        "backend=track\n",                      // no file named
        "backend=track\nfile=missing.track\n",  // file not there
        "backend=nmea\nfile=/nonexistent/x.nmea\n",
        "backend=bluetooth\n",  // unknown backend
    };
    for (const char* conf : configurations) {
        Configure(conf);
        EXPECT_FALSE(OpenGpsDevice(nullptr, nullptr)) << conf;
        EXPECT_FALSE(Open()) << conf;
    }
    root_.WriteFile("bad.track", "0 1 35.5 -139.25 99:00:00\n");
    Configure("backend=track\nfile=bad.track\n");
    EXPECT_FALSE(Open());
    EXPECT_FALSE(newLocation_->Wait(0));
    EXPECT_FALSE(deviceState_->Wait(0));
}

TEST_F(GpsDeviceTest, PushedPositionsAreSignalledAndReadOneByOne) {
    UseGpsTrack({}, false);
    ASSERT_TRUE(Open());
    EXPECT_TRUE(deviceState_->Wait(kGenerousMs)) << "opening tells that the device came up";

    GpsPosition record;
    ASSERT_TRUE(GetGpsPosition(device_, &record, kGpsAnyAge, 0));
    EXPECT_EQ(record.fixQuality, kGpsNoFix) << "no fix before the first position";
    EXPECT_FALSE(newLocation_->Wait(0));

    const GpsPosition positions[] = {
        Fix(35.5, -139.25, {1, 2, 3, 4}), GpsPosition{kGpsNoFix, 0, 0, {1, 2, 4, 0}},
        Fix(-5.5, 0.5, {23, 59, 59, 999}, kGpsDifferentialFix),
        Fix(-33.8688, -70.6693, {1, 2, 1, 500}),  // time going backwards is reported as it comes
    };
    for (const GpsPosition& p : positions) {
        PushGpsTrackPosition(p);
        ASSERT_TRUE(newLocation_->Wait(kGenerousMs));
        ASSERT_TRUE(GetGpsPosition(device_, &record, kGpsAnyAge, 0));
        EXPECT_EQ(record, p);
    }
    EXPECT_FALSE(deviceState_->Wait(0)) << "positions are not state changes";
}

TEST_F(GpsDeviceTest, ARecordOlderThanTheMaximumAgeHasNoFix) {
    UseGpsTrack({}, false);
    ASSERT_TRUE(Open());
    const GpsPosition p = Fix(48.1173, 11.5167, {12, 35, 19, 250});
    PushGpsTrackPosition(p);
    ASSERT_TRUE(newLocation_->Wait(kGenerousMs));

    // The record ages past 20 ms and from then on has no fix.
    GpsPosition record;
    ASSERT_TRUE(testsupport::PumpUntil([&] {
        return GetGpsPosition(device_, &record, 20, 0) && record.fixQuality == kGpsNoFix;
    })) << "the record never went stale";
    EXPECT_EQ(record.utcTime, p.utcTime) << "the time of the stale record is still told";
    ASSERT_TRUE(GetGpsPosition(device_, &record, 60'000, 0));
    EXPECT_EQ(record, p);
    ASSERT_TRUE(GetGpsPosition(device_, &record, kGpsAnyAge, 0));
    EXPECT_EQ(record, p);
}

TEST_F(GpsDeviceTest, BadArgumentsAndClosedHandlesFailWithoutTouchingTheRecord) {
    UseGpsTrack({}, false);
    ASSERT_TRUE(Open());
    const GpsPosition untouched{7, 1.0, 2.0, {3, 4, 5, 6}};
    GpsPosition record = untouched;
    EXPECT_FALSE(GetGpsPosition(device_, &record, kGpsAnyAge, 1));
    EXPECT_FALSE(GetGpsPosition(device_, nullptr, kGpsAnyAge, 0));
    EXPECT_FALSE(GetGpsPosition(GpsDevice{}, &record, kGpsAnyAge, 0));
    EXPECT_FALSE(GetGpsPosition(GpsDevice{device_.id + 1000}, &record, kGpsAnyAge, 0));
    EXPECT_EQ(record, untouched);

    const GpsDevice closed = device_;
    EXPECT_TRUE(CloseGpsDevice(closed));
    device_ = {};
    EXPECT_FALSE(CloseGpsDevice(closed)) << "a second close";
    EXPECT_FALSE(GetGpsPosition(closed, &record, kGpsAnyAge, 0));
    EXPECT_EQ(record, untouched);
    EXPECT_FALSE(CloseGpsDevice(GpsDevice{}));
}

TEST_F(GpsDeviceTest, EveryOpenDeviceGetsThePositionsAndClosingOneLeavesTheOther) {
    UseGpsTrack({}, false);
    ASSERT_TRUE(Open());
    auto otherLocation = Event::Create(ResetMode::Auto, false);
    const GpsDevice other = OpenGpsDevice(otherLocation.get(), nullptr);
    ASSERT_TRUE(other);
    EXPECT_NE(other, device_);

    PushGpsTrackPosition(Fix(1, 2, {3, 4, 5, 6}));
    EXPECT_TRUE(newLocation_->Wait(kGenerousMs));
    EXPECT_TRUE(otherLocation->Wait(kGenerousMs));

    ASSERT_TRUE(CloseGpsDevice(device_));
    const GpsDevice closed = device_;
    device_ = {};
    PushGpsTrackPosition(Fix(7, 8, {9, 10, 11, 12}));
    EXPECT_TRUE(otherLocation->Wait(kGenerousMs));
    EXPECT_FALSE(newLocation_->Wait(0)) << "a closed device signalled";
    GpsPosition record;
    EXPECT_FALSE(GetGpsPosition(closed, &record, kGpsAnyAge, 0));
    ASSERT_TRUE(GetGpsPosition(other, &record, kGpsAnyAge, 0));
    EXPECT_EQ(record, Fix(7, 8, {9, 10, 11, 12}));
    EXPECT_TRUE(CloseGpsDevice(other));
}

TEST_F(GpsDeviceTest, TrackFileIsReplayedInOrderAtItsPace) {
    root_.WriteFile("tracks/walk.track",
                    "# after fix lat lon utc\n"
                    "0   1  35.5    -139.25  01:02:03.004\n"
                    "80  0  0       0        01:02:04.000\n"
                    "80  1  -5.5    0.5      01:02:05.500\n"
                    "80  2  0       9.75     01:02:06.999\n");
    Configure("backend=track\nfile=tracks/walk.track\n");
    const std::vector<GpsPosition> track = {
        Fix(35.5, -139.25, {1, 2, 3, 4}), GpsPosition{kGpsNoFix, 0, 0, {1, 2, 4, 0}},
        Fix(-5.5, 0.5, {1, 2, 5, 500}), Fix(0, 9.75, {1, 2, 6, 999}, kGpsDifferentialFix)};

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(Open());
    std::vector<GpsPosition> seen;
    GpsPosition record;
    ASSERT_TRUE(WaitForRecord(Is(track.back()), &record, &seen));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 240ms) << "the pauses were skipped";

    // Under load some records may be overtaken before they are read, but
    // those that are read come in the track's order.
    size_t next = 0;
    for (const GpsPosition& read : seen) {
        while (next < track.size() && !(track[next] == read)) {
            ++next;
        }
        ASSERT_LT(next, track.size()) << "a record out of order or not in the track";
    }
}

TEST_F(GpsDeviceTest, NmeaLogIsReplayedWithHemispheresFixAndMilliseconds) {
    struct Case {
        const char* log;
        GpsPosition last;
    };
    const Case cases[] = {
        {"$GPGGA,010203.004,3530.000000,N,13915.000000,W,1,,,,,,,\r\n",
         Fix(35.5, -139.25, {1, 2, 3, 4})},
        {"$GPRMC,101010.250,A,3352.128,S,07040.158,W,0.0,0.0,010125,,*0E\r\n",
         Fix(-(33 + 52.128 / 60), -(70 + 40.158 / 60), {10, 10, 10, 250})},
        {"$GPGGA,235959.999,0530.0,S,00030.0,E,2,08,0.9,,M,,M,,\r\n",
         Fix(-5.5, 0.5, {23, 59, 59, 999}, kGpsDifferentialFix)},
        {"$GPGGA,000001.000,3530.0,N,13915.0,W,1,,,,,,,\r\n"
         "$GPGGA,000002.000,,,,,0,,,,,,,\r\n",
         GpsPosition{kGpsNoFix, 0, 0, {0, 0, 2, 0}}},
        {"$GPRMC,120000.500,V,,,,,,,010125,,\r\n", GpsPosition{kGpsNoFix, 0, 0, {12, 0, 0, 500}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.log);
        root_.WriteFile("drive.nmea", c.log);
        Configure("backend=nmea\nfile=" + root_.Host("drive.nmea") + "\ninterval_ms=20\n");
        ASSERT_TRUE(Open());
        std::vector<GpsPosition> seen;
        GpsPosition record;
        EXPECT_TRUE(WaitForRecord(Is(c.last), &record, &seen))
            << "last record seen: fix " << (seen.empty() ? -1 : seen.back().fixQuality);
        ASSERT_TRUE(CloseGpsDevice(device_));
        device_ = {};
    }
}

TEST_F(GpsDeviceTest, ClosingStopsTheSignalsOfARunningReplay) {
    // A looping track that delivers a position every millisecond.
    UseGpsTrack({{1, Fix(1, 1, {1, 1, 1, 1})}, {1, Fix(2, 2, {2, 2, 2, 2})}}, true);
    ASSERT_TRUE(Open());
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(newLocation_->Wait(kGenerousMs));
    }
    const auto closing = std::chrono::steady_clock::now();
    ASSERT_TRUE(CloseGpsDevice(device_));
    EXPECT_LT(std::chrono::steady_clock::now() - closing, 2s) << "closing waited for the replay";
    device_ = {};
    newLocation_->Reset();
    deviceState_->Reset();
    // A second replay of the same track, opened after the close: each of its
    // signals stands for positions the first replay, had it gone on, would
    // have signalled too.
    const auto witnessLocation = Event::Create(ResetMode::Auto, false);
    ASSERT_NE(witnessLocation, nullptr);
    const GpsDevice witness = OpenGpsDevice(witnessLocation.get(), nullptr);
    ASSERT_TRUE(witness);
    const auto witnessSignals = [&](int count) {
        for (int i = 0; i < count; ++i) {
            if (!witnessLocation->Wait(kGenerousMs)) {
                return false;
            }
        }
        return true;
    };
    const bool witnessedOpen = witnessSignals(100);
    const bool newLocationQuiet = !newLocation_->Wait(0);
    const bool deviceStateQuiet = !deviceState_->Wait(0);
    // The events may go away once the device is closed: a replay that went on
    // would touch the freed one while the witness signals again.
    newLocation_.reset();
    const bool witnessedFreed = witnessSignals(20);
    EXPECT_TRUE(CloseGpsDevice(witness));
    ASSERT_TRUE(witnessedOpen && witnessedFreed) << "the second replay stalled";
    EXPECT_TRUE(newLocationQuiet);
    EXPECT_TRUE(deviceStateQuiet);
}

TEST_F(GpsDeviceTest, ThePresenceCheckOpensWithoutEventsWhilePositionsCome) {
    UseGpsTrack({{1, Fix(1, 1, {1, 1, 1, 1})}}, true);
    for (int i = 0; i < 20; ++i) {
        const GpsDevice probe = OpenGpsDevice(nullptr, nullptr);
        ASSERT_TRUE(probe);
        PushGpsTrackPosition(Fix(3, 3, {3, 3, 3, 3}));
        ASSERT_TRUE(CloseGpsDevice(probe));
    }
}
