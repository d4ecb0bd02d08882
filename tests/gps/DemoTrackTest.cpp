// The demo's GPS walk and settings against the program's pace: the program
// reads at most one position every 2 s, so a track that moves faster skips
// fixes, and a sentence sent more often than that repeats the last fix.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/gps/TrackSource.h"
#include "testkit/SourceDir.h"

namespace {

constexpr uint32_t kProgramReadsEveryMs = 2000;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(DemoGpsTrack, ChangesNoFasterThanTheProgramReadsAndSends) {
    const std::string track = ReadText(testsupport::SourceDir() + "/scripts/demo-gps-track.txt");
    const auto points = platform::ParseGpsTrack(track);
    ASSERT_TRUE(points.has_value());
    ASSERT_GE(points->size(), 2u);
    // The track loops, so the first point's delay is also the step after the last.
    for (const platform::GpsTrackPoint& p : *points) {
        EXPECT_GE(p.afterMs, kProgramReadsEveryMs);
    }

    const std::string demo = ReadText(testsupport::SourceDir() + "/scripts/demo");
    const std::string key = "GpsInterval=";
    const size_t at = demo.find(key);
    ASSERT_NE(at, std::string::npos) << "the demo sets GpsInterval";
    const size_t digits = demo.find_first_not_of("0123456789", at + key.size());
    ASSERT_GT(digits, at + key.size()) << "GpsInterval holds a number";
    const unsigned long seconds =
        std::stoul(demo.substr(at + key.size(), digits - at - key.size()));
    EXPECT_GE(seconds * 1000, kProgramReadsEveryMs)
        << "sentences sent more often than a position is read repeat a fix";
}

}  // namespace
