// ChildProcess: how a child ended, a wait that ends at its deadline, the
// streams it is given, and that no child outlives its object.
#include "testkit/ChildProcess.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <string>
#include <vector>

#include "testkit/PumpUntil.h"
#include "testkit/TempDeviceRoot.h"

namespace {

using namespace std::chrono_literals;
using testsupport::ChildProcess;
using testsupport::SpawnOptions;
using testsupport::Stream;

std::vector<std::string> Shell(const std::string& script) {
    return {"/bin/sh", "-c", script};
}

TEST(ChildProcessTest, TellsHowTheChildEnded) {
    struct Case {
        const char* script;
        int code;
        int signal;
    } cases[] = {
        {"exit 0", 0, 0},
        {"exit 7", 7, 0},
        {"kill -TERM $$", -1, SIGTERM},
        {"kill -KILL $$", -1, SIGKILL},
    };
    for (const Case& c : cases) {
        ChildProcess child = ChildProcess::Spawn(Shell(c.script));
        ASSERT_TRUE(child.Started()) << child.Error();
        const auto status = child.Wait(testsupport::kPatience);
        ASSERT_TRUE(status.has_value()) << c.script;
        EXPECT_EQ(status->code, c.code) << c.script;
        EXPECT_EQ(status->signal, c.signal) << c.script;
        EXPECT_EQ(status->Exited(), c.signal == 0) << c.script;
        EXPECT_FALSE(child.Running()) << c.script;
    }
}

TEST(ChildProcessTest, AForkedCopyExitsWithWhatItsBodyAnswers) {
    ChildProcess child = ChildProcess::Fork([] { return 42; });
    ASSERT_TRUE(child.Started()) << child.Error();
    const auto status = child.Wait(testsupport::kPatience);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->code, 42);
}

TEST(ChildProcessTest, AWaitEndsAtItsDeadlineAndKillEndsTheChild) {
    ChildProcess child = ChildProcess::Spawn({"/bin/sleep", "600"});
    ASSERT_TRUE(child.Started()) << child.Error();
    EXPECT_FALSE(child.Wait(20ms).has_value());
    EXPECT_TRUE(child.Running());
    EXPECT_TRUE(child.Kill().KilledBy(SIGKILL));
    EXPECT_FALSE(child.Running());
    ASSERT_TRUE(child.Ended().has_value());
    EXPECT_TRUE(child.Ended()->KilledBy(SIGKILL));
}

TEST(ChildProcessTest, StopTermsFirstAndKillsWhatIgnoresIt) {
    ChildProcess polite = ChildProcess::Spawn({"/bin/sleep", "600"});
    ASSERT_TRUE(polite.Started());
    EXPECT_TRUE(polite.Stop(testsupport::kPatience).KilledBy(SIGTERM));

    // The shell says "ready" once its trap is set, so the TERM meets the trap.
    ChildProcess stubborn =
        ChildProcess::Spawn(Shell("trap '' TERM; echo ready; while :; do sleep 1; done"),
                            SpawnOptions().Out(Stream::Pipe()));
    ASSERT_TRUE(stubborn.Started());
    ASSERT_EQ(stubborn.ReadOutputLine(testsupport::kPatience), "ready");
    EXPECT_TRUE(stubborn.Stop(100ms).KilledBy(SIGKILL));
}

TEST(ChildProcessTest, TheChildGoesWithItsObject) {
    pid_t pid = -1;
    {
        ChildProcess child = ChildProcess::Spawn({"/bin/sleep", "600"});
        ASSERT_TRUE(child.Started());
        pid = child.Pid();
        ChildProcess moved = std::move(child);
        EXPECT_FALSE(child.Started());
        EXPECT_TRUE(moved.Running());
    }
    // Reaped, not only killed: no such process is left, not even a zombie.
    errno = 0;
    EXPECT_EQ(::kill(pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
}

TEST(ChildProcessTest, PipesCarryInputAndOutputWithErrorsJoiningTheOutput) {
    ChildProcess child = ChildProcess::Spawn(
        Shell("read line; echo \"got $line\"; echo oops >&2; exit 3"),
        SpawnOptions().In(Stream::Pipe()).Out(Stream::Pipe()).Err(Stream::AsOutput()));
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.Write("hello\n"));
    child.CloseInput();
    EXPECT_EQ(child.ReadOutput(testsupport::kPatience), "got hello\noops\n");
    const auto status = child.Wait(testsupport::kPatience);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->code, 3);
}

TEST(ChildProcessTest, FilesAndEnvironmentAsAsked) {
    testsupport::TempDeviceRoot root;
    root.WriteFile("in.txt", "from a file\n");
    root.WriteFile("append.txt", "kept\n");
    root.WriteFile("truncate.txt", "dropped\n");
    ::setenv("CAMORA_CHILD_TEST_KEPT", "inherited", 1);
    ::setenv("CAMORA_CHILD_TEST_OVER", "old", 1);
    ::setenv("CAMORA_CHILD_TEST_GONE", "inherited", 1);
    ChildProcess child = ChildProcess::Spawn(
        Shell("cat; echo \"$CAMORA_CHILD_TEST_KEPT $CAMORA_CHILD_TEST_OVER\"; env | grep -c "
              "^CAMORA_CHILD_TEST_OVER=; env | grep -c ^CAMORA_CHILD_TEST_GONE; echo err >&2"),
        SpawnOptions()
            .In(Stream::Read(root.Host("in.txt")))
            .Out(Stream::Append(root.Host("append.txt")))
            .Err(Stream::Truncate(root.Host("truncate.txt")))
            .Env({"CAMORA_CHILD_TEST_OVER=new", "CAMORA_CHILD_TEST_GONE"}));
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.Wait(testsupport::kPatience).has_value());
    EXPECT_EQ(root.ReadFile("append.txt"), "kept\nfrom a file\ninherited new\n1\n0\n");
    EXPECT_EQ(root.ReadFile("truncate.txt"), "err\n");
    ::unsetenv("CAMORA_CHILD_TEST_KEPT");
    ::unsetenv("CAMORA_CHILD_TEST_OVER");
    ::unsetenv("CAMORA_CHILD_TEST_GONE");
}

TEST(ChildProcessTest, AProgramThatCannotStartSaysSo) {
    const ChildProcess missing = ChildProcess::Spawn({"/nonexistent/program"});
    EXPECT_FALSE(missing.Started());
    EXPECT_NE(missing.Error().find("/nonexistent/program"), std::string::npos) << missing.Error();
    const ChildProcess onPath = ChildProcess::Spawn({"true"}, SpawnOptions().SearchPath());
    EXPECT_TRUE(onPath.Started()) << onPath.Error();
}

TEST(ChildProcessTest, RunCapturedTakesTheWholeOutputOrKillsAtTheLimit) {
    const testsupport::Captured done =
        testsupport::RunCaptured(Shell("printf 'a\\nb'; exit 5"), {}, testsupport::kPatience);
    ASSERT_TRUE(done.status.has_value());
    EXPECT_EQ(done.status->code, 5);
    EXPECT_EQ(done.output, "a\nb");
    const testsupport::Captured hung = testsupport::RunCaptured({"/bin/sleep", "600"}, {}, 50ms);
    EXPECT_FALSE(hung.status.has_value());
}

}  // namespace
