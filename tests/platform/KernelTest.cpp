#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/kernel/Kernel.h"
#include "testkit/PumpUntil.h"

using namespace platform;
using namespace std::chrono_literals;
using testsupport::PumpUntil;

namespace {

struct Waiter {
    Event* event;
    std::atomic<int>* woken;
};

uint32_t WaitOnce(void* arg) {
    auto* w = static_cast<Waiter*>(arg);
    if (w->event->Wait(kWaitForever)) {
        ++*w->woken;
    }
    return 0;
}

// A thread procedure that counts its runs in the std::atomic<int> it is given.
uint32_t CountRun(void* arg) {
    ++*static_cast<std::atomic<int>*>(arg);
    return 0;
}

}  // namespace

TEST(EventTest, AutoResetReleasesExactlyOneWaiterPerSet) {
    auto event = Event::Create(ResetMode::Auto, false);
    ASSERT_NE(event, nullptr);
    std::atomic<int> woken{0};
    Waiter w{event.get(), &woken};
    auto a = Thread::Create(WaitOnce, &w, false);
    auto b = Thread::Create(WaitOnce, &w, false);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    event->Set();
    ASSERT_TRUE(PumpUntil([&] { return woken.load() >= 1; }));
    event->Set();
    ASSERT_TRUE(PumpUntil([&] { return woken.load() == 2; }));
    // Had the first Set woken both, the second would still be standing.
    EXPECT_FALSE(event->Wait(0)) << "one Set woke two waiters";
}

TEST(EventTest, AutoResetKeepsASetMadeWhileNobodyWaited) {
    auto event = Event::Create(ResetMode::Auto, false);
    event->Set();
    EXPECT_TRUE(event->Wait(0));
    EXPECT_FALSE(event->Wait(0)) << "the wait should have consumed the set";
}

TEST(EventTest, ManualResetReleasesEveryWaitUntilReset) {
    auto event = Event::Create(ResetMode::Manual, true);
    EXPECT_TRUE(event->Wait(0));
    EXPECT_TRUE(event->Wait(0));
    event->Reset();
    EXPECT_FALSE(event->Wait(0));
}

TEST(EventTest, TimedWaitReturnsFalseAfterAboutItsTimeOut) {
    auto event = Event::Create(ResetMode::Auto, false);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(event->Wait(100));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 95ms);
    EXPECT_LT(took, 2000ms) << "the wait did not end on its time-out";
}

TEST(WaitAnyTest, ReturnsLowestSignalledIndexAndConsumesOnlyIt) {
    auto e0 = Event::Create(ResetMode::Auto, false);
    auto e1 = Event::Create(ResetMode::Auto, false);
    auto e2 = Event::Create(ResetMode::Auto, false);
    Event* all[] = {e0.get(), e1.get(), e2.get()};
    e2->Set();
    e1->Set();
    EXPECT_EQ(WaitAny(all, 0), 1);
    EXPECT_EQ(WaitAny(all, 0), 2);
    EXPECT_EQ(WaitAny(all, 0), kWaitTimedOut);
    e0->Set();
    e2->Set();
    EXPECT_EQ(WaitAny(all, kWaitForever), 0);
    EXPECT_TRUE(e2->Wait(0)) << "WaitAny consumed an event it did not return";
}

TEST(WaitAnyTest, WakesWhenAnotherThreadSetsTheThirdEvent) {
    auto e0 = Event::Create(ResetMode::Auto, false);
    auto e1 = Event::Create(ResetMode::Auto, false);
    auto e2 = Event::Create(ResetMode::Auto, false);
    Event* all[] = {e0.get(), e1.get(), e2.get()};
    std::thread setter([&] {
        std::this_thread::sleep_for(30ms);
        e2->Set();
    });
    EXPECT_EQ(WaitAny(all, 5000), 2);
    setter.join();
}

struct PairWaiter {
    Event* events[2];
    std::atomic<int>* taken;
    std::atomic<bool>* stop;
    std::atomic<int>* ended;
};

uint32_t TakeFromEitherUntilStopped(void* arg) {
    auto* w = static_cast<PairWaiter*>(arg);
    while (!w->stop->load()) {
        if (WaitAny(std::span<Event* const>(w->events, 2), kWaitForever) != kWaitTimedOut &&
            !w->stop->load()) {
            ++*w->taken;
        }
    }
    ++*w->ended;
    return 0;
}

TEST(WaitAnyTest, EverySetReachesOneOfSeveralWaitersOnSharedEvents) {
    auto a = Event::Create(ResetMode::Auto, false);
    auto b = Event::Create(ResetMode::Auto, false);
    std::atomic<int> taken{0};
    std::atomic<bool> stop{false};
    std::atomic<int> ended{0};
    PairWaiter w{{a.get(), b.get()}, &taken, &stop, &ended};
    int started = 0;
    for (; started < 3; ++started) {
        if (Thread::Create(TakeFromEitherUntilStopped, &w, false) == nullptr) {
            break;
        }
    }
    auto endWaiters = [&] {
        stop = true;
        // They use this test's locals, so they must have ended before it returns.
        return PumpUntil([&] {
            a->Set();
            return ended.load() == started;
        });
    };
    if (started < 3) {
        endWaiters();
        FAIL() << "a thread could not be created";
    }
    for (int i = 0; i < 500; ++i) {
        (i % 2 == 0 ? a : b)->Set();
        // Each Set must be taken before the next, or a wake-up was lost.
        if (!PumpUntil([&] { return taken.load() == i + 1; }, 5000ms)) {
            ADD_FAILURE() << "nobody took Set " << i;
            break;
        }
    }
    ASSERT_TRUE(endWaiters());
}

TEST(ThreadTest, SuspendedThreadRunsOnlyAfterResume) {
    std::atomic<int> runs{0};
    auto thread = Thread::Create(&CountRun, &runs, true);
    ASSERT_NE(thread, nullptr);
    // Witnesses created the same way after it and resumed at once, one after
    // another: each that runs is a turn in which the older thread, had it not
    // been held, could have run first.
    std::atomic<int> witnessRuns{0};
    for (int i = 1; i <= 20; ++i) {
        auto witness = Thread::Create(&CountRun, &witnessRuns, true);
        ASSERT_NE(witness, nullptr);
        witness->Resume();
        ASSERT_TRUE(PumpUntil([&] { return witnessRuns.load() == i; }));
    }
    EXPECT_EQ(runs.load(), 0) << "a suspended thread ran before Resume";
    thread->Resume();
    EXPECT_TRUE(PumpUntil([&] { return runs.load() == 1; }));
}

TEST(ThreadTest, RunningThreadGetsItsArgument) {
    std::atomic<int> value{0};
    auto thread = Thread::Create(
        [](void* arg) -> uint32_t {
            static_cast<std::atomic<int>*>(arg)->store(42);
            return 0;
        },
        &value, false);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(PumpUntil([&] { return value.load() == 42; }));
}

TEST(CreationTest, InjectedFailuresReachTheCaller) {
    FailNextCreations(2);
    EXPECT_EQ(Event::Create(ResetMode::Auto, false), nullptr);
    EXPECT_EQ(Mutex::Create(), nullptr);
    EXPECT_NE(Mutex::Create(), nullptr);
}

TEST(MutexTest, GuardsACounterAcrossThreads) {
    auto mutex = Mutex::Create();
    int counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                MutexLock lock(*mutex);
                ++counter;
            }
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(counter, 40000);
}

TEST(ClockTest, ScaledSleepIsShorterAndScaledTicksAdvanceFaster) {
    SetTimeScale(20.0);
    const uint64_t ticks0 = TickCountMs();
    const auto start = std::chrono::steady_clock::now();
    Sleep(1000);
    const auto took = std::chrono::steady_clock::now() - start;
    const uint64_t ticks = TickCountMs() - ticks0;
    SetTimeScale(1.0);
    EXPECT_LT(took, 900ms) << "the sleep was not scaled";
    EXPECT_GE(ticks, 990u);
}

TEST(ClockTest, WaitsScaledBelowAMicrosecondTakeNoTime) {
    // The kernel stretches a sleep of nanoseconds to its timer slack (50 us):
    // 100,000 of them would take five seconds or more.
    SetTimeScale(1e7);
    const auto event = Event::Create(ResetMode::Auto, false);
    ASSERT_NE(event, nullptr);
    const auto start = std::chrono::steady_clock::now();
    int timedOut = 0;
    for (int i = 0; i < 50000; ++i) {
        Sleep(10);
        timedOut += event->Wait(1000) ? 0 : 1;
    }
    const auto took = std::chrono::steady_clock::now() - start;
    SetTimeScale(1.0);
    EXPECT_EQ(timedOut, 50000) << "a wait on an event never set succeeded";
    EXPECT_LT(took, 2s) << "the scaled waits slept";
}

TEST(DateTest, LocalDateIsPlausible) {
    const LocalDate d = GetLocalDate();
    EXPECT_GE(d.year, 2024);
    EXPECT_GE(d.month, 1);
    EXPECT_LE(d.month, 12);
    EXPECT_GE(d.day, 1);
    EXPECT_LE(d.day, 31);
}

TEST(ProcessTest, ExitProcessEndsWithTheCode) {
    EXPECT_EXIT(ExitProcess(3), ::testing::ExitedWithCode(3), "");
}
