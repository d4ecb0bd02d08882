#include <gtest/gtest.h>

#include <string>

#include "platform/gps/GpsConfig.h"
#include "platform/gps/Nmea.h"
#include "platform/gps/TrackSource.h"

using namespace platform;

namespace {

struct SentenceCase {
    const char* name;
    const char* sentence;
    bool parsed;
    int fixQuality;
    double latitude;
    double longitude;
    GpsUtcTime time;
};

// Three well-known sentences with their checksums, then the cases of our own.
const SentenceCase kSentences[] = {
    {"GgaWithChecksum",
     "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47",
     true,
     kGpsFix,
     48.1173,
     11.516666667,
     {12, 35, 19, 0}},
    {"RmcActive",
     "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A",
     true,
     kGpsFix,
     48.1173,
     11.516666667,
     {12, 35, 19, 0}},
    {"WrongChecksum",
     "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*48",
     false,
     0,
     0,
     0,
     {}},
    {"SouthWestWithMilliseconds",
     "$GPGGA,010203.004,3530.000000,S,13915.000000,W,1,,,,,,,\r\n",
     true,
     kGpsFix,
     -35.5,
     -139.25,
     {1, 2, 3, 4}},
    {"DifferentialFix",
     "$GNGGA,235959.5,0530.0,S,00030.0,E,2,,,,,,,",
     true,
     kGpsDifferentialFix,
     -5.5,
     0.5,
     {23, 59, 59, 500}},
    {"OtherQualitiesCountAsFix",
     "$GPGGA,000000.999,0000.0,N,00945.0,E,6,,,,,,,",
     true,
     kGpsFix,
     0.0,
     9.75,
     {0, 0, 0, 999}},
    // Digits past the milliseconds are cut, never rounded up into the seconds.
    {"FractionBeyondMillisecondsIsCut",
     "$GPGGA,120000.9999,1000.0,N,01000.0,E,1,,,,,,,",
     true,
     kGpsFix,
     10.0,
     10.0,
     {12, 0, 0, 999}},
    {"GgaQualityZero",
     "$GPGGA,010203.004,3530.0,N,13915.0,W,0,,,,,,,",
     true,
     kGpsNoFix,
     0,
     0,
     {1, 2, 3, 4}},
    {"EmptySentenceOfTheController", "$GPGGA,,,,,,0,,,,,,,\r\n", true, kGpsNoFix, 0, 0, {}},
    {"RmcVoid", "$GPRMC,081836,V,,,,,,,130998,,", true, kGpsNoFix, 0, 0, {8, 18, 36, 0}},
    {"FixWithoutCoordinates", "$GPGGA,081836,,,,,1,,,,,,,", true, kGpsNoFix, 0, 0, {8, 18, 36, 0}},
    {"MinutesOutOfRange",
     "$GPGGA,081836,4867.0,N,01131.0,E,1,,,,,,,",
     true,
     kGpsNoFix,
     0,
     0,
     {8, 18, 36, 0}},
    {"LatitudeOutOfRange",
     "$GPGGA,081836,9100.0,N,01131.0,E,1,,,,,,,",
     true,
     kGpsNoFix,
     0,
     0,
     {8, 18, 36, 0}},
    {"BadHemisphere", "$GPGGA,081836,4807.0,X,01131.0,E,1,,,,,,,", false, 0, 0, 0, {}},
    {"BadTime", "$GPGGA,25xx00,4807.0,N,01131.0,E,1,,,,,,,", false, 0, 0, 0, {}},
    {"HourOutOfRange", "$GPGGA,240000,4807.0,N,01131.0,E,1,,,,,,,", false, 0, 0, 0, {}},
    {"OtherSentence", "$GPGSA,A,3,04,05,,09,12,,,24,,,,,2.5,1.3,2.1*39", false, 0, 0, 0, {}},
    {"TooFewFields", "$GPGGA,123519,4807.038,N", false, 0, 0, 0, {}},
    {"NoDollar",
     "GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,",
     false,
     0,
     0,
     0,
     {}},
};

class SentenceTest : public ::testing::TestWithParam<SentenceCase> {};

}  // namespace

TEST_P(SentenceTest, GivesThePositionOfTheSentence) {
    const SentenceCase& c = GetParam();
    const auto position = ParseNmeaSentence(c.sentence);
    ASSERT_EQ(position.has_value(), c.parsed);
    if (!c.parsed) {
        return;
    }
    EXPECT_EQ(position->fixQuality, c.fixQuality);
    EXPECT_NEAR(position->latitude, c.latitude, 1e-9);
    EXPECT_NEAR(position->longitude, c.longitude, 1e-9);
    EXPECT_EQ(position->utcTime, c.time);
}

INSTANTIATE_TEST_SUITE_P(Nmea, SentenceTest, ::testing::ValuesIn(kSentences),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(NmeaLogTest, PacesByEpochAndSkipsWhatIsNotAPosition) {
    const std::string log =
        "$GPGSV,3,1,11,03,03,111,00,04,15,270,00,06,01,010,00,13,06,292,00*74\r\n"
        "$GPGGA,010203.000,3530.0,N,13915.0,W,1,,,,,,,\r\n"
        "$GPRMC,010203.000,A,3530.0,N,13915.0,W,0.0,0.0,010125,,\r\n"
        "garbage line\r\n"
        "$GPGGA,010204.000,3530.5,N,13915.5,W,1,,,,,,,\r\n"
        "$GPGGA,010159.000,,,,,0,,,,,,,";  // time going backwards, last line without newline
    const auto track = NmeaLogToTrack(log, 250);
    ASSERT_EQ(track.size(), 4u);
    EXPECT_EQ(track[0].afterMs, 0u);
    EXPECT_EQ(track[1].afterMs, 0u) << "RMC of the same fix comes at once";
    EXPECT_EQ(track[2].afterMs, 250u);
    EXPECT_EQ(track[3].afterMs, 250u);
    EXPECT_NEAR(track[2].position.latitude, 35.5 + 0.5 / 60, 1e-9);
    EXPECT_EQ(track[3].position.fixQuality, kGpsNoFix);
    EXPECT_EQ(track[3].position.utcTime, (GpsUtcTime{1, 1, 59, 0}));
}

TEST(TrackFileTest, ReadsPointsAndRefusesMalformedLines) {
    const auto track = ParseGpsTrack(
        "# after fix lat lon utc\n"
        "0 1 35.5 -139.25 01:02:03.004\n"
        "\n"
        "1500\t0  0 0  01:02:04\r\n"
        "20 2 -5.5 0.5 23:59:60.999\n");
    ASSERT_TRUE(track.has_value());
    ASSERT_EQ(track->size(), 3u);
    EXPECT_EQ((*track)[0].position, (GpsPosition{kGpsFix, 35.5, -139.25, GpsUtcTime{1, 2, 3, 4}}));
    EXPECT_EQ((*track)[1].afterMs, 1500u);
    EXPECT_EQ((*track)[1].position.fixQuality, kGpsNoFix);
    EXPECT_EQ((*track)[2].position.utcTime, (GpsUtcTime{23, 59, 60, 999}));

    for (const char* bad :
         {"0 1 35.5 -139.25", "0 1 35.5 -139.25 1:02:03", "x 1 1 1 01:02:03", "0 3 1 1 01:02:03",
          "0 1 91 1 01:02:03", "0 1 1 181 01:02:03", "0 1 1 1 24:00:00", "0 1 1 1 01:02:03.4"}) {
        EXPECT_FALSE(ParseGpsTrack(bad).has_value()) << bad;
    }
}

TEST(GpsConfigTest, ChoosesTheBackendAndItsParameters) {
    const GpsConfig none = ParseGpsConfig("");
    EXPECT_EQ(none.backend, GpsBackend::Auto) << "an empty file keeps the default";
    EXPECT_EQ(ParseGpsConfig("host=gps.local\n").backend, GpsBackend::Auto)
        << "a file that names no backend keeps the default";
    EXPECT_EQ(ParseGpsConfig("backend=geoclue\n").backend, GpsBackend::Geoclue);
    EXPECT_EQ(ParseGpsConfig("backend=auto\n").backend, GpsBackend::Auto);

    const GpsConfig gpsd =
        ParseGpsConfig("# the daemon\nbackend = gpsd\nhost=gps.local\nport=4000\n");
    EXPECT_EQ(gpsd.backend, GpsBackend::Gpsd);
    EXPECT_EQ(gpsd.host, "gps.local");
    EXPECT_EQ(gpsd.port, "4000");

    const GpsConfig nmea =
        ParseGpsConfig("backend=nmea\r\nfile=logs/drive.nmea\r\ninterval_ms=200\r\nloop=1\r\n");
    EXPECT_EQ(nmea.backend, GpsBackend::Nmea);
    EXPECT_EQ(nmea.file, "logs/drive.nmea");
    EXPECT_EQ(nmea.intervalMs, 200u);
    EXPECT_TRUE(nmea.loop);

    EXPECT_EQ(ParseGpsConfig("backend=track\nfuture_key=7\n").backend, GpsBackend::Track);
    // What cannot be read means no device, never a guess.
    for (const char* bad :
         {"backend=serial\n", "backend=nmea\ninterval_ms=fast\n", "backend=track\nloop=yes\n",
          "backend=nmea\ninterval_ms=fast\ninterval_ms=5\n", "backend=gpsd\nnot a setting\n"}) {
        EXPECT_EQ(ParseGpsConfig(bad).backend, GpsBackend::None) << bad;
    }
}
