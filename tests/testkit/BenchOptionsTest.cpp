// The benchmarks' one reading of their command lines: what it takes, and each
// way a word fails it.
#include "testkit/BenchOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Read {
    double seconds = 5;
    int runs = 3;
    uint32_t rate = 100000;
    bool busy = false;
    int count = 10;
    std::string path = "both";
};

bool Parse(const std::vector<const char*>& words, Read* r) {
    std::vector<const char*> argv = {"bench"};
    argv.insert(argv.end(), words.begin(), words.end());
    return testsupport::BenchOptions("usage: bench")
        .Number("--seconds", &r->seconds)
        .Number("--runs", &r->runs)
        .Number("--rate", &r->rate)
        .Flag("--busy", &r->busy)
        .Choice("--path", {"both", "device"}, &r->path)
        .Positional(&r->count)
        .Parse(static_cast<int>(argv.size()), argv.data());
}

TEST(BenchOptionsTest, ReadsNumbersFlagsAndOnePositional) {
    Read r;
    ASSERT_TRUE(Parse({"--seconds", "0.5", "--busy", "20", "--rate", "4000000000", "--runs", "-1",
                       "--path", "device"},
                      &r));
    EXPECT_DOUBLE_EQ(r.seconds, 0.5);
    EXPECT_TRUE(r.busy);
    EXPECT_EQ(r.count, 20);
    EXPECT_EQ(r.rate, 4000000000u);
    EXPECT_EQ(r.runs, -1);  // the range is the benchmark's to judge
    EXPECT_EQ(r.path, "device");

    Read defaults;
    ASSERT_TRUE(Parse({}, &defaults));
    EXPECT_DOUBLE_EQ(defaults.seconds, 5);
    EXPECT_FALSE(defaults.busy);
    EXPECT_EQ(defaults.count, 10);
    EXPECT_EQ(defaults.path, "both");
}

TEST(BenchOptionsTest, FailsOnWhatItCannotRead) {
    const std::vector<std::vector<const char*>> bad = {
        {"--unknown"},             // not an option
        {"--seconds"},             // value missing
        {"--seconds", "2s"},       // not wholly a number
        {"--runs", "1.5"},         // not a whole number
        {"--rate", "-1"},          // below an unsigned range
        {"--rate", "5000000000"},  // above it
        {"--runs", ""},            // empty
        {"1", "2"},                // a second positional
        {"many"},                  // a positional that is no number
        {"--busy", "--busy2"},     // a flag then an unknown one
        {"--path", "stretch"},     // not one of the choices
        {"--path"},                // choice missing
    };
    for (const auto& words : bad) {
        Read r;
        std::string line;
        for (const char* w : words) {
            line += std::string(w) + " ";
        }
        EXPECT_FALSE(Parse(words, &r)) << line;
    }
}

TEST(BenchOptionsTest, AFailedReadingPrintsTheUsageAndEndsWithTwo) {
    const char* argv[] = {"bench", "--nope"};
    EXPECT_EXIT(testsupport::BenchOptions("usage: bench [--seconds S]").ParseOrExit(2, argv),
                ::testing::ExitedWithCode(2), "usage: bench \\[--seconds S\\]");
}

}  // namespace
