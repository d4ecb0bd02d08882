// The Exit bar's close question: its texts and owner, one question per
// press with each on its own thread, NO changing nothing, and YES removing
// the link library's connection before the process ends with 0.
#include "ui/CloseConfirmWorker.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/AppRegistry.h"
#include "link/LinkLoader.h"
#include "platform/btsdk/SimulatedStack.h"
#include "platform/ui/MessageBox.h"
#include "testkit/PtyPair.h"
#include "testkit/PumpUntil.h"
#include "testkit/TempDeviceRoot.h"

namespace {

using platform::MessageBoxButtons;
using platform::MessageBoxResult;

struct Question {
    uint64_t owner;
    std::u16string text;
    std::u16string caption;
    MessageBoxButtons buttons;
};

// Boxes are held open until the test answers them all at once.
class QuestionBoard {
public:
    MessageBoxResult Ask(platform::WindowHandle owner, std::u16string_view text,
                         std::u16string_view caption, MessageBoxButtons buttons) {
        std::unique_lock lock(mutex_);
        asked_.push_back({owner.id, std::u16string(text), std::u16string(caption), buttons});
        changed_.notify_all();
        changed_.wait(lock, [&] { return answer_.has_value(); });
        ++answered_;
        changed_.notify_all();
        return *answer_;
    }
    void Answer(MessageBoxResult result) {
        std::lock_guard lock(mutex_);
        answer_ = result;
        changed_.notify_all();
    }
    size_t Asked() {
        std::lock_guard lock(mutex_);
        return asked_.size();
    }
    size_t Answered() {
        std::lock_guard lock(mutex_);
        return answered_;
    }
    std::vector<Question> Questions() {
        std::lock_guard lock(mutex_);
        return asked_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Question> asked_;
    std::optional<MessageBoxResult> answer_;
    size_t answered_ = 0;
};

class CloseConfirmWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        AppRegistry.mainWindow = platform::WindowHandle{77};
        platform::SetMessageBoxPresenter(
            [this](platform::WindowHandle owner, std::u16string_view text,
                   std::u16string_view caption, MessageBoxButtons buttons) {
                return board_.Ask(owner, text, caption, buttons);
            });
    }
    void TearDown() override {
        board_.Answer(MessageBoxResult::No);
        EXPECT_TRUE(testsupport::PumpUntil([&] { return board_.Answered() == board_.Asked(); }));
        platform::SetMessageBoxPresenter(nullptr);
        AppRegistry.mainWindow = {};
    }

    QuestionBoard board_;
};

TEST_F(CloseConfirmWorkerTest, TwoPressesAskTwoQuestionsAtOnceAndNoChangesNothing) {
    ASSERT_TRUE(StartCloseConfirmWorker());
    ASSERT_TRUE(StartCloseConfirmWorker());
    // Both are open together: each worker waits on its own box.
    ASSERT_TRUE(testsupport::PumpUntil([&] { return board_.Asked() == 2; }));
    for (const Question& q : board_.Questions()) {
        EXPECT_EQ(q.owner, 77u);
        EXPECT_EQ(q.text, u"DO YOU WANT TO CLOSE \r\nTHIS APPLICATION?");
        EXPECT_EQ(q.caption, u"CHECK");
        EXPECT_EQ(q.buttons, MessageBoxButtons::YesNo);
    }
    board_.Answer(MessageBoxResult::No);
    ASSERT_TRUE(testsupport::PumpUntil([&] { return board_.Answered() == 2; }));
    // Still running: this test goes on and passes.
}

size_t RemovedConnections() {
    size_t n = 0;
    for (const auto& line : platform::btsdk::SimulatedStack::Instance().Log()) {
        n += line.rfind("RemoveConnection", 0) == 0 ? 1 : 0;
    }
    return n;
}

// The child process of the death test: a link library connection is open
// when YES is answered; what the stack saw is printed as the process ends.
[[noreturn]] void AnswerYesWithTheLinkLoader() {
    static testsupport::TempDeviceRoot root;
    static testsupport::PtyPair pty;
    pty.LinkAs(root.path(), "COM4");
    root.WriteFile("bluetooth/stack.ini",
                   "[device]\naddress = 00:11:22:33:00:01\nname = CAM\ncom-port = 4\n");
    platform::btsdk::SimulatedStack::Instance().Reset();
    static CLinkLoader loader;
    loader.EnumerateDevices();
    loader.SelectDevice(u"CAM");
    if (loader.OpenPort() != 1) {
        std::fprintf(stderr, "no port\n");
        std::_Exit(3);
    }
    AppRegistry.linkLoader = &loader;
    std::atexit([] { std::fprintf(stderr, "connections removed: %zu\n", RemovedConnections()); });
    platform::SetMessageBoxPresenter([](platform::WindowHandle, std::u16string_view,
                                        std::u16string_view,
                                        MessageBoxButtons) { return MessageBoxResult::Yes; });
    CloseConfirmWorker(nullptr);
    std::_Exit(4);  // not reached: YES ends the process
}

TEST(CloseConfirmWorkerExitTest, YesRemovesTheLinkConnectionAndEndsWithZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(AnswerYesWithTheLinkLoader(), ::testing::ExitedWithCode(0),
                "connections removed: 1");
}

TEST(CloseConfirmWorkerExitTest, YesWithoutTheLinkLoaderStillEndsWithZero) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            AppRegistry.linkLoader = nullptr;
            platform::SetMessageBoxPresenter(
                [](platform::WindowHandle, std::u16string_view, std::u16string_view,
                   MessageBoxButtons) { return MessageBoxResult::Yes; });
            CloseConfirmWorker(nullptr);
            std::_Exit(4);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
