#include "platform/kernel/Kernel.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace platform {
namespace {

// One lock for all events, so that a wait on several needs no lock order.
// Each waiting thread hangs a wake-up of its own on the events it waits for:
// Set wakes only the threads waiting for that event, not every waiting thread
// of the program.
std::mutex& EventLock() {
    static auto* lock = new std::mutex;
    return *lock;
}

std::atomic<double> g_timeScale{1.0};
std::atomic<ExitHook> g_exitHook{nullptr};
thread_local bool t_noUnboundedWaits = false;
std::atomic<int> g_failCreations{0};

bool ShouldFailCreation() {
    int n = g_failCreations.load();
    while (n > 0) {
        if (g_failCreations.compare_exchange_weak(n, n - 1)) {
            return true;
        }
    }
    return false;
}

std::chrono::steady_clock::duration Scaled(uint32_t ms) {
    const double real = static_cast<double>(ms) / g_timeScale.load();
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double, std::milli>(real));
}

// A time scale may shrink a wait below a microsecond, which the kernel would
// stretch to its timer slack (50 us), many times the scaled time: such a wait
// takes no time. Unscaled, every wait of 1 ms or more is left as it is.
bool TooShortToSleep(std::chrono::steady_clock::duration wait) {
    return wait < std::chrono::microseconds(1);
}

}  // namespace

struct EventWaiter {
    std::condition_variable wake;
};

Event::Event(ResetMode mode, bool initiallySet) : mode_(mode), signalled_(initiallySet) {}
Event::~Event() = default;

std::unique_ptr<Event> Event::Create(ResetMode mode, bool initiallySet) {
    if (ShouldFailCreation()) {
        return nullptr;
    }
    return std::unique_ptr<Event>(new Event(mode, initiallySet));
}

void Event::Set() {
    // The wake-up is given after the lock is released, so that the woken
    // thread does not find it still held and go back to sleep on it at once;
    // the waiter's wake-up is shared, so it outlives a waiter that has left.
    // Every waiter is woken: one that waits for several events may take
    // another of them, and this one's signal must then reach the next.
    std::shared_ptr<EventWaiter> one;
    std::vector<std::shared_ptr<EventWaiter>> all;
    {
        std::lock_guard lock(EventLock());
        signalled_ = true;
        if (waiters_.empty()) {
            return;
        }
        if (waiters_.size() == 1) {
            one = waiters_.front();  // the usual case, without a copy of the list
        } else {
            all = waiters_;
        }
    }
    if (one != nullptr) {
        one->wake.notify_one();
    }
    for (const auto& waiter : all) {
        waiter->wake.notify_one();
    }
}

void Event::Reset() {
    std::lock_guard lock(EventLock());
    signalled_ = false;
}

bool Event::TryConsumeLocked() {
    if (!signalled_) {
        return false;
    }
    if (mode_ == ResetMode::Auto) {
        signalled_ = false;
    }
    return true;
}

bool Event::Wait(uint32_t timeoutMs) {
    Event* self = this;
    return WaitAny(std::span<Event* const>(&self, 1), timeoutMs) == 0;
}

int WaitAny(std::span<Event* const> events, uint32_t timeoutMs) {
    std::unique_lock lock(EventLock());
    int index = kWaitTimedOut;
    auto ready = [&] {
        for (size_t i = 0; i < events.size(); ++i) {
            if (events[i] != nullptr && events[i]->TryConsumeLocked()) {
                index = static_cast<int>(i);
                return true;
            }
        }
        return false;
    };
    if (ready() || timeoutMs == 0 ||
        (timeoutMs != kWaitForever && TooShortToSleep(Scaled(timeoutMs)))) {
        return index;
    }
    if (timeoutMs == kWaitForever && t_noUnboundedWaits) {
        ReportForbiddenWait("an event wait without time-out");
    }
    const auto waiter = std::make_shared<EventWaiter>();
    for (Event* event : events) {
        if (event != nullptr) {
            event->waiters_.push_back(waiter);
        }
    }
    if (timeoutMs == kWaitForever) {
        waiter->wake.wait(lock, ready);
    } else {
        waiter->wake.wait_until(lock, std::chrono::steady_clock::now() + Scaled(timeoutMs), ready);
    }
    for (Event* event : events) {
        if (event != nullptr) {
            std::erase(event->waiters_, waiter);
        }
    }
    return index;
}

struct Mutex::Impl {
    std::mutex mutex;
};

Mutex::Mutex() : impl_(std::make_unique<Impl>()) {}
Mutex::~Mutex() = default;

std::unique_ptr<Mutex> Mutex::Create() {
    if (ShouldFailCreation()) {
        return nullptr;
    }
    return std::unique_ptr<Mutex>(new Mutex());
}

void Mutex::Lock() {
    impl_->mutex.lock();
}
void Mutex::Unlock() {
    impl_->mutex.unlock();
}

struct Thread::Shared {
    std::mutex lock;
    std::condition_variable resumed;
    bool running = false;
};

Thread::Thread(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
Thread::~Thread() = default;

std::unique_ptr<Thread> Thread::Create(ThreadProc proc, void* argument, bool suspended) {
    if (ShouldFailCreation()) {
        return nullptr;
    }
    auto shared = std::make_shared<Shared>();
    shared->running = !suspended;
    try {
        std::thread([shared, proc, argument] {
            {
                std::unique_lock lock(shared->lock);
                shared->resumed.wait(lock, [&] { return shared->running; });
            }
            proc(argument);
        }).detach();
    } catch (const std::system_error&) {
        return nullptr;
    }
    return std::unique_ptr<Thread>(new Thread(std::move(shared)));
}

void Thread::Resume() {
    {
        std::lock_guard lock(shared_->lock);
        shared_->running = true;
    }
    shared_->resumed.notify_all();
}

void Sleep(uint32_t ms) {
    const auto wait = Scaled(ms);
    if (!TooShortToSleep(wait)) {
        std::this_thread::sleep_for(wait);
    }
}

uint64_t TickCountMs() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    const double ms = std::chrono::duration<double, std::milli>(now).count();
    return static_cast<uint64_t>(ms * g_timeScale.load());
}

void ExitProcess(int code) {
    if (const ExitHook hook = g_exitHook.load()) {
        hook(code);
        // The hook ends the process from the GUI thread; this thread waits for it.
        for (;;) {
            std::this_thread::sleep_for(std::chrono::hours(1));
        }
    }
    // The runtime's exit work runs, as the program's exits expect; objects
    // that workers still use are never destroyed (they are not statics).
    std::exit(code);  // NOLINT(concurrency-mt-unsafe): the process ends here by design
}

void SetExitHook(ExitHook hook) {
    g_exitHook.store(hook);
}

void ForbidUnboundedWaitsOnThisThread() {
    t_noUnboundedWaits = true;
}

bool UnboundedWaitsForbidden() {
    return t_noUnboundedWaits;
}

void ReportForbiddenWait(const char* what) {
#ifndef NDEBUG
    std::fprintf(stderr, "FATAL: the GUI thread blocked on %s; it must never wait for a worker\n",
                 what);
    std::fflush(stderr);
    std::abort();
#else
    (void)what;
#endif
}

namespace {
std::mutex g_dateLock;
std::optional<LocalDate> g_fixedDate;
}  // namespace

void OverrideLocalDate(const LocalDate* date) {
    std::lock_guard lock(g_dateLock);
    g_fixedDate = date != nullptr ? std::optional<LocalDate>(*date) : std::nullopt;
}

LocalDate GetLocalDate() {
    {
        std::lock_guard lock(g_dateLock);
        if (g_fixedDate) {
            return *g_fixedDate;
        }
    }
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return LocalDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

void SetTimeScale(double factor) {
    g_timeScale.store(factor > 0 ? factor : 1.0);
}
double TimeScale() {
    return g_timeScale.load();
}

void FailNextCreations(int count) {
    g_failCreations.store(count);
}

}  // namespace platform
