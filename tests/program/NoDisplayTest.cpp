// camora-controller started where no display can be reached: one line on
// standard error and the exit code its manual page documents, not Qt's abort.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/TempDeviceRoot.h"

extern char** environ;

namespace {

struct Outcome {
    int status = -1;  // exit code, or 128 + signal
    std::string error;
};

// Runs the program with the environment of this process, minus the display
// variables, plus `extra`; waits for it (it must end by itself).
Outcome RunWithout(const std::vector<std::string>& extra, const std::string& errorFile) {
    std::vector<std::string> env(extra);
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        if (entry.rfind("DISPLAY=", 0) == 0 || entry.rfind("WAYLAND_DISPLAY=", 0) == 0 ||
            entry.rfind("QT_QPA_PLATFORM=", 0) == 0) {
            continue;
        }
        env.push_back(entry);
    }
    std::vector<char*> envp;
    for (std::string& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);
    std::string program = std::string(CAMORA_BIN_DIR) + "/camora-controller";
    char* argv[] = {program.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    pid_t pid = -1;
    Outcome outcome;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp.data()) == 0) {
        int status = 0;
        if (::waitpid(pid, &status, 0) == pid) {
            outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
    }
    posix_spawn_file_actions_destroy(&actions);
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
