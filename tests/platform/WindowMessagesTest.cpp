#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/kernel/Kernel.h"
#include "platform/ui/WindowMessages.h"

using namespace platform;
using namespace std::chrono_literals;

TEST(WindowMessagesTest, SenderWaitsUntilTheOwnerThreadHasRunTheProcedure) {
    std::atomic<bool> ran{false};
    std::thread::id ranOn;
    const WindowHandle window =
        CreateMessageWindow([&](WindowHandle, uint32_t msg, uintptr_t, intptr_t) {
            ranOn = std::this_thread::get_id();
            ran = true;
            return static_cast<intptr_t>(msg + 1);
        });
    auto sent = std::async(std::launch::async, [&] { return SendWindowMessage(window, 0x8067); });
    // Not pumped yet: the sender must still be waiting.
    EXPECT_EQ(sent.wait_for(100ms), std::future_status::timeout);
    EXPECT_FALSE(ran.load());
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (PumpWindowMessages(50) == 0 && std::chrono::steady_clock::now() < until) {
    }
    EXPECT_EQ(sent.get(), 0x8068);
    EXPECT_EQ(ranOn, std::this_thread::get_id()) << "the procedure ran on the sender's thread";
    DestroyMessageWindow(window);
}

TEST(WindowMessagesTest, SendFromTheOwnerThreadRunsDirectly) {
    int calls = 0;
    const WindowHandle window =
        CreateMessageWindow([&](WindowHandle, uint32_t, uintptr_t w, intptr_t l) {
            ++calls;
            return static_cast<intptr_t>(w) + l;
        });
    EXPECT_EQ(SendWindowMessage(window, 1, 2, 3), 5);
    EXPECT_EQ(calls, 1);
    DestroyMessageWindow(window);
}

TEST(WindowMessagesTest, SendToAnEndedWindowReturnsAtOnceAndDoesNothing) {
    int calls = 0;
    const WindowHandle window =
        CreateMessageWindow([&](WindowHandle, uint32_t, uintptr_t, intptr_t) {
            ++calls;
            return intptr_t{1};
        });
    DestroyMessageWindow(window);
    EXPECT_FALSE(IsWindowAlive(window));
    auto sent = std::async(std::launch::async, [&] { return SendWindowMessage(window, 0x812D); });
    ASSERT_EQ(sent.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(sent.get(), 0);
    EXPECT_EQ(SendWindowMessage(WindowHandle{}, 1), 0);
    EXPECT_EQ(calls, 0);
}

TEST(WindowMessagesTest, EndingTheWindowReleasesAWaitingSender) {
    const WindowHandle window = CreateMessageWindow(
        [](WindowHandle, uint32_t, uintptr_t, intptr_t) { return intptr_t{7}; });
    auto sent = std::async(std::launch::async, [&] { return SendWindowMessage(window, 0x806A); });
    EXPECT_EQ(sent.wait_for(50ms), std::future_status::timeout);
    DestroyMessageWindow(window);
    ASSERT_EQ(sent.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(sent.get(), 0);
}

TEST(WindowMessagesTest, MessagesFromSeveralSendersAllRunOnTheOwner) {
    std::atomic<int> total{0};
    const WindowHandle window =
        CreateMessageWindow([&](WindowHandle, uint32_t msg, uintptr_t, intptr_t) {
            total += static_cast<int>(msg);
            return intptr_t{1};
        });
    std::vector<std::future<intptr_t>> senders;
    for (uint32_t i = 1; i <= 4; ++i) {
        senders.push_back(
            std::async(std::launch::async, [=] { return SendWindowMessage(window, i); }));
    }
    int ran = 0;
    const auto until = std::chrono::steady_clock::now() + 5s;
    while (ran < 4 && std::chrono::steady_clock::now() < until) {
        ran += PumpWindowMessages(50);
    }
    for (auto& s : senders) {
        EXPECT_EQ(s.get(), 1);
    }
    EXPECT_EQ(total.load(), 10);
    EXPECT_EQ(PumpWindowMessages(0), 0);
    DestroyMessageWindow(window);
}
