// Two starts of camora-controller as separate processes on a private virtual
// X display: the second ends with 0 at once, and the first one's screen comes
// to the front, above a window that covered it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "testkit/ChildProcess.h"
#include "testkit/PumpUntil.h"
#include "testkit/TempDeviceRoot.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A child process with extra environment; standard error goes to
// `errorFile`, or nowhere when it is empty. Killed at the end.
testsupport::ChildProcess Start(const std::vector<std::string>& argv,
                                const std::vector<std::string>& env,
                                const std::string& errorFile = {}) {
    return testsupport::ChildProcess::Spawn(
        argv, testsupport::SpawnOptions().Env(env).Err(
                  errorFile.empty() ? testsupport::Stream::Null()
                                    : testsupport::Stream::Append(errorFile)));
}

// The exit status once the process has ended within `limit` (128 + the
// signal when one ended it), else -1.
int WaitExit(testsupport::ChildProcess& child, std::chrono::milliseconds limit) {
    const auto status = child.Wait(limit);
    if (!status) {
        return -1;
    }
    return status->Exited() ? status->code : 128 + status->signal;
}

// The standard output of a shell command.
std::string Output(const std::string& command) {
    return testsupport::RunCaptured({"/bin/sh", "-c", command}, {}, std::chrono::minutes(1)).output;
}

// A file's text, for failure messages.
std::string FileText(const std::string& path) {
    return Output("cat '" + path + "' 2>/dev/null | tail -c 4000");
}

// The mean brightness (0 black to 1 white) of what the display shows.
double ScreenMean(const std::string& display, const std::string& file) {
    Output("DISPLAY=" + display + " import -window root " + file);
    const std::string mean = Output("convert " + file + " -format '%[fx:mean]' info:");
    return mean.empty() ? -1.0 : std::strtod(mean.c_str(), nullptr);
}

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {"/usr/bin/Xvfb", "/usr/bin/xwininfo", "/usr/bin/xmessage",
                                 "/usr/bin/import", "/usr/bin/convert"}) {
            ASSERT_EQ(::access(tool, X_OK), 0) << tool << " is missing: run scripts/setup";
        }
        // A private display: Xvfb picks a free number and tells it on a pipe.
        int fds[2];
        ASSERT_EQ(::pipe(fds), 0);
        const std::string fd = std::to_string(fds[1]);
        xvfb_ = Start(
            {"/usr/bin/Xvfb", "-displayfd", fd, "-screen", "0", "480x640x24", "-nolisten", "tcp"},
            {});
        ::close(fds[1]);
        // Read behind the colon so that the name is whole without string
        // concatenation, where GCC 12 at -O3 reports a false overlap.
        char name[17] = ":";
        ASSERT_GT(::read(fds[0], name + 1, sizeof name - 2), 0);
        ::close(fds[0]);
        name[std::strcspn(name, "\n")] = '\0';
        display_ = name;
    }

    // Under the sanitizers a start on a busy machine takes many seconds.
    static constexpr std::chrono::seconds kStartLimit{60};

    std::vector<std::string> ProgramEnv() const {
        // Under AddressSanitizer the X11 keyboard library that Qt's xcb
        // platform loads reads with strndup past a string's end, inside the
        // system library: strict string checks and the exit leak check are
        // for our code, which the offscreen tests cover.
        return {"DISPLAY=" + display_, "QT_QPA_PLATFORM=xcb", "CAMORA_DEVICE_ROOT=" + root_.path(),
                "ASAN_OPTIONS=strict_string_checks=0:detect_leaks=0:abort_on_error=1"};
    }

    testsupport::TempDeviceRoot root_;
    testsupport::ChildProcess xvfb_;
    std::string display_;
};

TEST_F(SingleInstanceTest, SecondStartBringsTheFirstToTheFrontAndEndsWithZero) {
    const std::string program = std::string(CAMORA_BIN_DIR) + "/camora-controller";
    const std::string shot = root_.Host("screen.png");
    // The instruction screen: black, with its text and OK button.
    auto instructionInFront = [&] {
        const double mean = ScreenMean(display_, shot);
        return mean > 0.002 && mean < 0.3;
    };
    const std::string firstErrors = root_.Host("first.err");
    const std::string secondErrors = root_.Host("second.err");
    testsupport::ChildProcess first = Start({program}, ProgramEnv(), firstErrors);
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(testsupport::PumpUntil(instructionInFront, kStartLimit))
        << "running: " << first.Running() << ", screen mean " << ScreenMean(display_, shot)
        << ", standard error:\n"
        << FileText(firstErrors);

    // Another program's light window covers it.
    const testsupport::ChildProcess cover =
        Start({"/usr/bin/xmessage", "-geometry", "480x640+0+0", "covering window"},
              {"DISPLAY=" + display_});
    ASSERT_TRUE(testsupport::PumpUntil([&] { return ScreenMean(display_, shot) > 0.5; }, 20s));

    const auto start = Clock::now();
    testsupport::ChildProcess second = Start({program}, ProgramEnv(), secondErrors);
    ASSERT_TRUE(second.Started());
    EXPECT_EQ(WaitExit(second, kStartLimit), 0) << "standard error:\n" << FileText(secondErrors);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    std::printf("second start ended after %lld ms\n", static_cast<long long>(took.count()));
    EXPECT_LT(took, 5s);

    // The first instance's screen in front again, not its black backdrop.
    EXPECT_TRUE(testsupport::PumpUntil(instructionInFront, 10s));
    EXPECT_TRUE(first.Running()) << "standard error:\n" << FileText(firstErrors);
}

}  // namespace
