// The demo's GPS walk and settings against the program's pace: the program
// reads at most one position every 2 s, so a track that moves faster skips
// fixes, and a sentence sent more often than that repeats the last fix.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "platform/gps/TrackSource.h"

namespace {

constexpr uint32_t kProgramReadsEveryMs = 2000;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(DemoGpsTrack, ChangesNoFasterThanTheProgramReadsAndSends) {
    const std::string track = ReadText(std::string(SOURCE_DIR) + "/scripts/demo-gps-track.txt");
    const auto points = platform::ParseGpsTrack(track);
    ASSERT_TRUE(points.has_value());
    ASSERT_GE(points->size(), 2u);
    // The track loops, so the first point's delay is also the step after the last.
    for (const platform::GpsTrackPoint& p : *points) {
        EXPECT_GE(p.afterMs, kProgramReadsEveryMs);
    }

    const std::string demo = ReadText(std::string(SOURCE_DIR) + "/scripts/demo");
    std::smatch interval;
    ASSERT_TRUE(std::regex_search(demo, interval, std::regex(R"(GpsInterval=(\d+))")));
    EXPECT_GE(std::stoul(interval[1].str()) * 1000, kProgramReadsEveryMs)
        << "sentences sent more often than a position is read repeat a fix";
}

}  // namespace
