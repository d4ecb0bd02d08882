// The handset kernel services the program relies on: threads that may start
// suspended, auto- and manual-reset events, mutexes, waits with time-out on one
// event or on the first of several, sleep, process exit and the local date.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace platform {

// A time-out value that means "wait without limit".
inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;
// What WaitAny returns when no event was signalled in time.
inline constexpr int kWaitTimedOut = -1;

enum class ResetMode { Auto, Manual };

struct EventWaiter;

// An event: an auto-reset event releases exactly one wait per Set and stays
// set until a wait consumes it; a manual-reset event releases every wait until
// it is reset.
class Event {
public:
    // Returns null when the event cannot be created.
    static std::unique_ptr<Event> Create(ResetMode mode, bool initiallySet);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    // True when the event was signalled (and consumed, for auto-reset), false on time-out.
    bool Wait(uint32_t timeoutMs);

private:
    friend int WaitAny(std::span<Event* const> events, uint32_t timeoutMs);
    explicit Event(ResetMode mode, bool initiallySet);
    bool TryConsumeLocked();

    ResetMode mode_;
    bool signalled_;
    // The threads waiting for this event now, oldest first; Set wakes only
    // these.
    std::vector<std::shared_ptr<EventWaiter>> waiters_;
};

// Waits until one of the events (at most three) is signalled and returns the
// lowest signalled index, consuming only that event; kWaitTimedOut on time-out.
int WaitAny(std::span<Event* const> events, uint32_t timeoutMs);

// A mutex taken and released around short critical sections.
class Mutex {
public:
    // Returns null when the mutex cannot be created.
    static std::unique_ptr<Mutex> Create();
    ~Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    void Lock();
    void Unlock();

private:
    Mutex();
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Holds a Mutex for the lifetime of the guard.
class MutexLock {
public:
    explicit MutexLock(Mutex& mutex) : mutex_(mutex) { mutex_.Lock(); }
    ~MutexLock() { mutex_.Unlock(); }
    MutexLock(const MutexLock&) = delete;
    MutexLock& operator=(const MutexLock&) = delete;

private:
    Mutex& mutex_;
};

using ThreadProc = uint32_t (*)(void* argument);

// A thread of the program. It runs until its procedure returns; the object may
// be dropped at any time without stopping it.
class Thread {
public:
    // Starts `proc(argument)` at once, or after Resume when `suspended`.
    // Returns null when the thread cannot be created.
    static std::unique_ptr<Thread> Create(ThreadProc proc, void* argument, bool suspended);
    ~Thread();
    Thread(const Thread&) = delete;
    Thread& operator=(const Thread&) = delete;

    // Lets a suspended thread run; does nothing for a running one.
    void Resume();

private:
    struct Shared;
    explicit Thread(std::shared_ptr<Shared> shared);
    std::shared_ptr<Shared> shared_;
};

// Sleeps for the given time (scaled in tests, see SetTimeScale).
void Sleep(uint32_t ms);

// Milliseconds of the monotonic clock, scaled like every wait.
uint64_t TickCountMs();

// Ends the process with the code, after the runtime's own exit work.
[[noreturn]] void ExitProcess(int code);

// The windowing layer ends the process on its GUI thread, so that no window is
// torn down under another thread: while a hook is installed ExitProcess hands
// the code to it (from any thread) and the calling thread waits to end with it.
using ExitHook = void (*)(int code);
void SetExitHook(ExitHook hook);

// The GUI thread must never block without limit on another thread (it serves
// their synchronous sends). After this call, debug builds abort loudly when
// the calling thread waits on an event without a time-out or sends to a window
// of another thread.
void ForbidUnboundedWaitsOnThisThread();
bool UnboundedWaitsForbidden();
void ReportForbiddenWait(const char* what);

struct LocalDate {
    int year;   // four digits
    int month;  // 1 to 12
    int day;    // 1 to 31
};
LocalDate GetLocalDate();
// Test support only: GetLocalDate answers `date` from now on; null goes back
// to the clock.
void OverrideLocalDate(const LocalDate* date);

// Test support only: every wait, sleep and tick runs `factor` times faster; a
// wait the factor shrinks below a microsecond takes no time at all.
// The program itself never calls it.
void SetTimeScale(double factor);
double TimeScale();

// Test support only: the next `count` creations of events, mutexes or threads
// fail, so that the callers' -2 paths can be reached.
void FailNextCreations(int count);

}  // namespace platform
