// camora-controller started where no display can be reached: one line on
// standard error and the exit code its manual page documents, not Qt's abort.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "testkit/ChildProcess.h"
#include "testkit/TempDeviceRoot.h"

namespace {

using testsupport::ChildProcess;
using testsupport::ExitStatus;
using testsupport::SpawnOptions;
using testsupport::Stream;

struct Outcome {
    int status = -1;  // exit code, or 128 + signal
    std::string error;
};

// Runs the program with the environment of this process, minus the display
// variables, plus `extra`; waits for it (it must end by itself).
Outcome RunWithout(const std::vector<std::string>& extra, const std::string& errorFile) {
    std::vector<std::string> env = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    env.insert(env.end(), extra.begin(), extra.end());
    ChildProcess program =
        ChildProcess::Spawn({std::string(CAMORA_BIN_DIR) + "/camora-controller"},
                            SpawnOptions().Err(Stream::Truncate(errorFile)).Env(env));
    Outcome outcome;
    if (const std::optional<ExitStatus> status = program.Wait(std::chrono::minutes(1))) {
        outcome.status = status->Exited() ? status->code : 128 + status->signal;
    }
    std::ifstream in(errorFile);
    std::stringstream text;
    text << in.rdbuf();
    outcome.error = text.str();
    return outcome;
}

struct Case {
    const char* name;
    std::vector<std::string> env;
};

TEST(NoDisplayTest, SaysSoInOneLineAndExitsWithTheDocumentedCode) {
    testsupport::TempDeviceRoot root;
    // No runtime folder either: Qt's Wayland plugin then finds no compositor.
    const std::vector<Case> cases = {
        {"X11 without DISPLAY", {"QT_QPA_PLATFORM=xcb"}},
        {"Wayland without a compositor",
         {"QT_QPA_PLATFORM=wayland", "XDG_RUNTIME_DIR=" + root.path() + "/no-runtime"}},
        {"the platform's own choice", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> env = c.env;
        env.push_back("CAMORA_DEVICE_ROOT=" + root.path());
        const Outcome outcome = RunWithout(env, root.path() + "/stderr.txt");
        EXPECT_EQ(outcome.status, 69);
        EXPECT_EQ(std::count(outcome.error.begin(), outcome.error.end(), '\n'), 1) << outcome.error;
        EXPECT_NE(outcome.error.find("camora-controller: no display"), std::string::npos)
            << outcome.error;
        EXPECT_EQ(outcome.error.find("Reinstalling"), std::string::npos) << outcome.error;
    }
}

}  // namespace
