// camora-remote's parts that need no camera: its command line, the round-trip
// bookkeeping, the status report's JSON and the GPX track.
#include <gtest/gtest.h>

#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "testkit/TempDeviceRoot.h"
#include "tools/remote/GpsTrack.h"
#include "tools/remote/HttpServer.h"
#include "tools/remote/LinkStats.h"
#include "tools/remote/Mjpeg.h"
#include "tools/remote/RemoteOptions.h"
#include "tools/remote/StatusReport.h"

namespace {

using namespace std::chrono_literals;
using remote::ParseRemoteOptions;
using remote::Subcommand;

TEST(RemoteOptions, ParsesEachCommandsOptions) {
    struct Case {
        std::vector<std::string> args;
        std::function<void(const remote::RemoteOptions&)> check;
    };
    const std::vector<Case> cases = {
        {{"status", "--watch", "--json", "--reconnect", "--device", "CAM A"},
         [](const auto& o) {
             EXPECT_EQ(o.command, Subcommand::Status);
             EXPECT_TRUE(o.watch && o.json && o.reconnect);
             EXPECT_EQ(o.device, "CAM A");
         }},
        {{"press", "zoom-t", "--hold", "250"},
         [](const auto& o) {
             EXPECT_EQ(o.key, "zoom-t");
             EXPECT_EQ(o.holdMs, 250);
         }},
        {{"liveview"},
         [](const auto& o) {
             EXPECT_EQ(o.outDir, ".") << "files in the current folder by default";
             EXPECT_FALSE(o.mjpeg);
             EXPECT_EQ(o.frames, 0) << "until interrupted";
         }},
        {{"liveview", "--mjpeg", "-", "--frames", "9"},
         [](const auto& o) {
             EXPECT_TRUE(o.mjpeg);
             EXPECT_TRUE(o.outDir.empty());
             EXPECT_EQ(o.frames, 9);
         }},
        {{"gps", "on", "--for", "30", "--reconnect"},
         [](const auto& o) {
             EXPECT_TRUE(o.gpsOn);
             EXPECT_EQ(o.forSeconds, 30);
         }},
        {{"gps", "off"}, [](const auto& o) { EXPECT_FALSE(o.gpsOn); }},
        {{"gps", "on", "--gpx", "walk.gpx"},
         [](const auto& o) { EXPECT_EQ(o.gpxFile, "walk.gpx"); }},
        {{"press", "snapshot", "--every", "2.5", "--count", "360", "--reconnect"},
         [](const auto& o) {
             EXPECT_EQ(o.everySeconds, 2.5);
             EXPECT_EQ(o.count, 360);
             EXPECT_TRUE(o.reconnect);
         }},
        {{"press", "snapshot", "--every", "10"},
         [](const auto& o) {
             EXPECT_EQ(o.everySeconds, 10);
             EXPECT_EQ(o.count, 0) << "until interrupted";
         }},
        {{"serve"},
         [](const auto& o) {
             EXPECT_EQ(o.command, Subcommand::Serve);
             EXPECT_EQ(o.listenHost, "127.0.0.1") << "this machine only by default";
             EXPECT_EQ(o.listenPort, 8780);
         }},
        {{"serve", "--listen", "0.0.0.0:0", "--reconnect"},
         [](const auto& o) {
             EXPECT_EQ(o.listenHost, "0.0.0.0");
             EXPECT_EQ(o.listenPort, 0);
             EXPECT_TRUE(o.reconnect);
         }},
        {{"stats"},
         [](const auto& o) {
             EXPECT_EQ(o.frames, 20);
             EXPECT_EQ(o.queries, 20);
             EXPECT_EQ(o.linkRate, 0);
         }},
        {{"capture", "--help"},
         [](const auto& o) {
             EXPECT_TRUE(o.help);
             EXPECT_EQ(o.command, Subcommand::Capture);
         }},
    };
    for (const Case& c : cases) {
        const remote::ParseResult r = ParseRemoteOptions(c.args);
        ASSERT_TRUE(r.options) << ::testing::PrintToString(c.args) << ": " << r.error;
        c.check(*r.options);
    }
}

TEST(RemoteOptions, RefusesWhatDoesNotFitTheCommand) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "a command is needed"},
        {{"record"}, "unknown command 'record'"},
        {{"press", "banana"},
         "no key named 'banana'; the keys: record, pause, zoom-t, zoom-w, rewind, play, "
         "forward, index, snapshot"},
        {{"press", "record", "play"}, "press takes one key"},
        {{"press", "record", "--hold"}, "--hold needs a value"},
        {{"press", "record", "--hold", "5s"}, "--hold takes a number from 1 to 600000"},
        {{"status", "--frames", "3"}, "unknown option --frames for status"},
        {{"capture", "--reconnect"}, "unknown option --reconnect for capture"},
        {{"status", "--reconnect"}, "--reconnect goes with --watch"},
        {{"liveview", "--mjpeg", "x.mjpeg"}, "--mjpeg writes to standard output only"},
        {{"liveview", "--out", "d", "--mjpeg", "-"}, "--out and --mjpeg exclude each other"},
        {{"gps", "maybe"}, "gps takes on or off"},
        {{"gps", "off", "--for", "3"}, "--for, --gpx and --reconnect go with gps on"},
        {{"gps", "off", "--gpx", "x.gpx"}, "--for, --gpx and --reconnect go with gps on"},
        {{"gps", "on", "--gpx", ""}, "--gpx needs a value"},
        {{"press", "record", "--count", "3"}, "--count and --reconnect go with --every"},
        {{"press", "record", "--reconnect"}, "--count and --reconnect go with --every"},
        {{"press", "record", "--every", "0.05"}, "--every takes seconds from 0.1 to 86400"},
        {{"press", "record", "--every", "nan"}, "--every takes seconds from 0.1 to 86400"},
        {{"press", "record", "--every", "1e3"}, "--every takes seconds from 0.1 to 86400"},
        {{"press", "record", "--every", "1", "--hold", "1000"},
         "--hold must be shorter than --every"},
        {{"serve", "--listen", "8780"}, "--listen takes an IPv4 address and a port"},
        {{"serve", "--listen", "localhost:8780"}, "--listen takes an IPv4 address and a port"},
        {{"serve", "--listen", "1.2.3.256:80"}, "--listen takes an IPv4 address and a port"},
        {{"serve", "--listen", "1.2.3:80"}, "--listen takes an IPv4 address and a port"},
        {{"serve", "--listen", "1.2.3.4:65536"}, "--listen takes an IPv4 address and a port"},
        {{"serve", "--frames", "2"}, "unknown option --frames for serve"},
        {{"stats", "--link-latency", "20"}, "--link-rate and --link-latency go together"},
        {{"stats", "--link-latency", "0"}, "--link-rate and --link-latency go together"},
        {{"stats", "--link-rate", "100000"}, "--link-rate and --link-latency go together"},
        {{"devices", "extra"}, "unexpected 'extra'"},
        {{"status", "--device", ""}, "--device needs a value"},
    };
    for (const auto& [args, error] : cases) {
        const remote::ParseResult r = ParseRemoteOptions(args);
        EXPECT_FALSE(r.options) << ::testing::PrintToString(args);
        EXPECT_NE(r.error.find(error), std::string::npos)
            << ::testing::PrintToString(args) << ": " << r.error;
    }
}

TEST(RemoteOptions, EveryKeyNameIsAccepted) {
    ASSERT_EQ(remote::KeyNames().size(), 9u);
    for (const std::string& key : remote::KeyNames()) {
        EXPECT_TRUE(ParseRemoteOptions({"press", key}).options) << key;
    }
}

std::vector<uint8_t> Frame(uint16_t channel, uint16_t opcode, size_t bodyBytes = 2) {
    std::vector<uint8_t> f = {static_cast<uint8_t>(channel >> 8),
                              static_cast<uint8_t>(channel),
                              0,
                              static_cast<uint8_t>(6 + bodyBytes),
                              static_cast<uint8_t>(opcode >> 8),
                              static_cast<uint8_t>(opcode)};
    f.resize(6 + bodyBytes);
    return f;
}

TEST(LinkStats, PairsEachRequestWithTheNextAnswerOnItsChannel) {
    remote::LinkStats stats;
    const auto t0 = remote::LinkStats::Clock::now();
    stats.NoteSent(Frame(4, 0x1103), t0);
    stats.NoteSent(Frame(1, 0x1101, 0), t0 + 1ms);
    stats.NoteReceived(Frame(1, 0x2101, 8), t0 + 31ms);    // 30 ms on channel 1
    stats.NoteReceived(Frame(4, 0x2103, 100), t0 + 50ms);  // 50 ms on channel 4
    stats.NoteReceived(Frame(4, 0x2103, 100), t0 + 90ms);  // nothing asked: no sample
    // An error report gets no answer and a mode poll is answered at the
    // camera's pace: neither starts a round trip.
    stats.NoteSent(Frame(3, 0xFF01), t0 + 100ms);
    stats.NoteReceived(Frame(3, 0x2001), t0 + 500ms);
    stats.NoteSent(Frame(1, 0x1102, 0), t0 + 600ms);
    stats.NoteReceived(Frame(1, 0x2101, 8), t0 + 1100ms);

    const auto ch1 = stats.RoundTrips(1);
    EXPECT_EQ(ch1.samples, 1u);
    EXPECT_DOUBLE_EQ(ch1.medianMs, 30.0);
    const auto ch4 = stats.RoundTrips(4);
    EXPECT_EQ(ch4.samples, 1u);
    EXPECT_DOUBLE_EQ(ch4.medianMs, 50.0);
    EXPECT_EQ(stats.RoundTrips(3).samples, 0u);
    EXPECT_EQ(stats.RoundTrips(2).samples, 0u);
    // Traffic counts every frame, answered or not.
    EXPECT_EQ(stats.Totals(4).sentFrames, 1u);
    EXPECT_EQ(stats.Totals(4).sentBytes, 8u);
    EXPECT_EQ(stats.Totals(4).receivedBytes, 212u);
    EXPECT_EQ(stats.Totals(1).sentFrames, 2u);
}

TEST(LinkStats, QuantilesByNearestRank) {
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i) {
        hundred.push_back(i);
    }
    const struct {
        std::vector<double> values;
        double q;
        double expected;
    } cases[] = {
        {{}, 0.5, 0},       {{7}, 0.99, 7},      {{3, 1, 2}, 0.5, 2}, {{4, 1, 3, 2}, 0.5, 2},
        {hundred, 0.5, 50}, {hundred, 0.99, 99}, {hundred, 1.0, 100},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(remote::LinkStats::Quantile(c.values, c.q), c.expected)
            << ::testing::PrintToString(c.values) << " q " << c.q;
    }
}

TEST(StatusReport, JsonParsesWithTheCameraValues) {
    remote::StatusReport r;
    r.device = "CAM \"1\"\\\x01";
    r.state.mode = 3;
    r.state.operationState = 1;
    r.state.acPower = 1;
    r.state.batteryAttached = 0;
    r.state.batteryLevel = 4;
    r.state.gpsStatus = 2;
    const auto j = nlohmann::json::parse(remote::FormatStatusJson(r));
    EXPECT_EQ(j.at("device"), "CAM \"1\"\\\x01");
    EXPECT_EQ(j.at("mode"), "still playback");
    EXPECT_EQ(j.at("state"), "shooting");
    EXPECT_EQ(j.at("recording"), true);
    EXPECT_EQ(j.at("mains_power"), true);
    EXPECT_EQ(j.at("battery_attached"), false);
    EXPECT_EQ(j.at("gps"), "on, no position");
    r.state.mode = 9;  // what the camera may send; the setters normally drop it
    EXPECT_EQ(nlohmann::json::parse(remote::FormatStatusJson(r)).at("mode"), "unknown");
    EXPECT_TRUE(j.at("last_fix").is_null());

    r.gpsSource = "a track (t.txt)";
    r.now = remote::WallClock::time_point(std::chrono::milliseconds(1'000'000'090'000));
    r.lastFix = remote::LastFix{1'000'000'000'000, {1, -33.8567844, 151.2152967, {}}, "gpsd"};
    const auto f = nlohmann::json::parse(remote::FormatStatusJson(r));
    EXPECT_EQ(f.at("gps_source"), "a track (t.txt)");
    EXPECT_DOUBLE_EQ(f.at("last_fix").at("age_s").get<double>(), 90.0);
    EXPECT_DOUBLE_EQ(f.at("last_fix").at("latitude").get<double>(), -33.8567844);
    EXPECT_EQ(f.at("last_fix").at("source"), "gpsd");
    EXPECT_NE(remote::FormatStatusText(r).find(
                  "fix:     33.856784 S, 151.215297 E, fix quality 1, 90 s ago, from gpsd\n"
                  "source:  a track (t.txt)\n"),
              std::string::npos)
        << remote::FormatStatusText(r);
}

// ---- the GPX track ---------------------------------------------------------------

remote::WallClock::time_point At(const char* iso) {
    std::tm t{};
    int ms = 0;
    std::sscanf(iso, "%d-%d-%dT%d:%d:%d.%d", &t.tm_year, &t.tm_mon, &t.tm_mday, &t.tm_hour,
                &t.tm_min, &t.tm_sec, &ms);
    t.tm_year -= 1900;
    t.tm_mon -= 1;
    return remote::WallClock::from_time_t(::timegm(&t)) + std::chrono::milliseconds(ms);
}

TEST(GpxTrack, AFixTakesTheDateOfItsFeedAcrossMidnight) {
    const struct {
        const char* fed;
        platform::GpsUtcTime time;
        const char* expected;
    } cases[] = {
        {"2026-12-09T12:00:00.000", {9, 30, 0, 0}, "2026-12-09T09:30:00.000Z"},
        {"2026-12-10T00:00:05.000", {23, 59, 59, 500}, "2026-12-09T23:59:59.500Z"},
        {"2026-12-09T23:59:58.000", {0, 0, 1, 0}, "2026-12-10T00:00:01.000Z"},
        {"2026-12-31T23:59:59.900", {0, 0, 0, 100}, "2027-01-01T00:00:00.100Z"},
        {"2026-12-09T00:00:00.000", {12, 0, 0, 0}, "2026-12-09T12:00:00.000Z"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(remote::Iso8601(remote::FixTime(At(c.fed), c.time)), c.expected) << c.fed;
    }
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

TEST(GpxTrack, IsAWholeGpxDocumentAfterEveryPoint) {
    testsupport::TempDeviceRoot dir;
    const std::string path = dir.Host("walk.gpx");
    std::string error;
    auto track = remote::GpxTrack::Create(path, &error);
    ASSERT_NE(track, nullptr) << error;
    const remote::FedPosition points[] = {
        {At("2026-12-09T09:30:00.500"), {1, 35.681236, 139.767125, {9, 30, 0, 0}}},
        {At("2026-12-09T09:30:01.500"), {0, 0, 0, {9, 30, 1, 0}}},  // no fix: left out
        {At("2026-12-09T09:30:02.500"), {2, -33.856784, -151.215297, {9, 30, 2, 250}}},
    };
    size_t expected = 0;
    for (const auto& p : points) {
        ASSERT_TRUE(track->Add(p, &error)) << error;
        expected += p.position.fixQuality != 0 ? 1 : 0;
        const std::string text = dir.ReadFile("walk.gpx");
        EXPECT_EQ(Count(text, "<trkpt "), expected);
        EXPECT_TRUE(text.ends_with("</trkpt>\n</trkseg></trk></gpx>\n") || expected == 0) << text;
        EXPECT_EQ(Count(text, "</gpx>"), 1u) << text;
        // Well-formed XML as it stands, as a reader finds it after a kill.
        EXPECT_EQ(std::system(("xmllint --noout " + path).c_str()), 0) << text;
    }
    const std::string text = dir.ReadFile("walk.gpx");
    EXPECT_NE(text.find("<gpx version=\"1.1\" creator=\"camora-remote\" "
                        "xmlns=\"http://www.topografix.com/GPX/1/1\""),
              std::string::npos);
    EXPECT_NE(text.find("<trkpt lat=\"35.6812360\" lon=\"139.7671250\"><time>"
                        "2026-12-09T09:30:00.000Z</time><extensions><camora:quality>1"
                        "</camora:quality></extensions></trkpt>\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("<trkpt lat=\"-33.8567840\" lon=\"-151.2152970\"><time>"
                        "2026-12-09T09:30:02.250Z</time><fix>dgps</fix>"),
              std::string::npos)
        << text;
    EXPECT_EQ(track->Points(), 2u);

    // A track is never written over.
    EXPECT_EQ(remote::GpxTrack::Create(path, &error), nullptr);
    EXPECT_EQ(error, "File exists");
    EXPECT_EQ(dir.ReadFile("walk.gpx"), text);
}

TEST(GpxTrack, OnlyGgaTextsArePositions) {
    EXPECT_FALSE(remote::PositionOfSentence("$GPRMC,093000.000,A,3540.874160,N,13946.027500,E"));
    EXPECT_FALSE(remote::PositionOfSentence(""));
    const auto p = remote::PositionOfSentence(
        "$GPGGA,093000.000,3540.874160,N,13946.027500,E,1,08,1.0,"
        "40.0,M,0.0,M,,");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->fixQuality, 1);
    EXPECT_NEAR(p->latitude, 35.681236, 1e-6);
    EXPECT_NEAR(p->longitude, 139.767125, 1e-6);
}

TEST(StatusReport, ChangesThatAReportShows) {
    CameraStateSnapshot a{};
    CameraStateSnapshot b = a;
    b.responseWord = 0x1234;  // not shown
    b.monitorActive = 1;
    EXPECT_FALSE(remote::StatusChanged(a, b));
    for (uint16_t CameraStateSnapshot::*field :
         {&CameraStateSnapshot::mode, &CameraStateSnapshot::operationState,
          &CameraStateSnapshot::acPower, &CameraStateSnapshot::batteryAttached,
          &CameraStateSnapshot::batteryLevel, &CameraStateSnapshot::gpsStatus}) {
        CameraStateSnapshot c = a;
        c.*field = 1;
        EXPECT_TRUE(remote::StatusChanged(a, c));
    }
}

TEST(Mjpeg, OnePartPerImageWithItsLength) {
    const std::vector<uint8_t> jpeg = {0xFF, 0xD8, 0x00, 0x0D, 0x0A, 0xFF, 0xD9};
    const std::string part = remote::MjpegPart(jpeg);
    EXPECT_EQ(part, std::string("--camoraframe\r\nContent-Type: image/jpeg\r\nContent-Length: 7"
                                "\r\n\r\n\xFF\xD8\x00\x0D\x0A\xFF\xD9\r\n",
                                71));
}

}  // namespace

namespace {

TEST(HttpServer, QueryTokenAndAddressHelpers) {
    const struct {
        const char* query;
        const char* name;
        const char* value;
    } queries[] = {
        {"token=abc", "token", "abc"},
        {"a=1&token=abc&b=2", "token", "abc"},
        {"xtoken=abc", "token", ""},
        {"token", "token", ""},
        {"", "token", ""},
        {"token=&token=abc", "token", ""},  // the first one counts
    };
    for (const auto& q : queries) {
        EXPECT_EQ(remote::QueryValue(q.query, q.name), q.value) << q.query;
    }
    const struct {
        const char* a;
        const char* b;
        bool equal;
    } tokens[] = {
        {"0123456789abcdef", "0123456789abcdef", true},
        {"0123456789abcdef", "0123456789abcdee", false},
        {"0123456789abcdef", "0123456789abcde", false},
        {"", "", true},
        {"a", "", false},
        {"", "a", false},
    };
    for (const auto& t : tokens) {
        EXPECT_EQ(remote::ConstantTimeEqual(t.a, t.b), t.equal) << t.a << " / " << t.b;
    }
    for (const char* loop : {"127.0.0.1", "127.1.2.3", "127.255.255.255"}) {
        EXPECT_TRUE(remote::IsLoopback(loop)) << loop;
    }
    for (const char* other : {"0.0.0.0", "192.168.1.5", "128.0.0.1", "10.127.0.1", "localhost"}) {
        EXPECT_FALSE(remote::IsLoopback(other)) << other;
    }
}

}  // namespace
