#include "platform/ui/WindowMessages.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/kernel/Kernel.h"

namespace platform {
namespace {

struct WindowRecord {
    WindowProcedure procedure;
    std::thread::id owner;
};

struct PendingSend {
    WindowHandle window;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
    intptr_t result = 0;
    bool done = false;
};

struct Registry {
    std::mutex lock;
    std::condition_variable changed;
    uint64_t nextId = 1;
    std::map<uint64_t, std::shared_ptr<WindowRecord>> windows;
    std::deque<std::shared_ptr<PendingSend>> pending;
    // The threads that are woken by a call rather than by the condition.
    std::map<std::thread::id, std::shared_ptr<std::function<void()>>> wakers;
};

// Never destroyed: worker threads may still send while the process ends.
Registry& TheRegistry() {
    static auto* registry = new Registry;
    return *registry;
}

std::shared_ptr<WindowRecord> FindLocked(Registry& r, WindowHandle window) {
    const auto it = r.windows.find(window.id);
    return it == r.windows.end() ? nullptr : it->second;
}

}  // namespace

WindowHandle CreateMessageWindow(WindowProcedure procedure) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.lock);
    const WindowHandle handle{r.nextId++};
    r.windows[handle.id] = std::make_shared<WindowRecord>(
        WindowRecord{std::move(procedure), std::this_thread::get_id()});
    return handle;
}

void DestroyMessageWindow(WindowHandle window) {
    Registry& r = TheRegistry();
    {
        std::lock_guard lock(r.lock);
        r.windows.erase(window.id);
        for (auto it = r.pending.begin(); it != r.pending.end();) {
            if ((*it)->window == window) {
                (*it)->done = true;
                it = r.pending.erase(it);
            } else {
                ++it;
            }
        }
    }
    r.changed.notify_all();
}

bool IsWindowAlive(WindowHandle window) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.lock);
    return FindLocked(r, window) != nullptr;
}

intptr_t SendWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam,
                           intptr_t lParam) {
    Registry& r = TheRegistry();
    std::unique_lock lock(r.lock);
    const auto record = FindLocked(r, window);
    if (!record) {
        return 0;
    }
    if (record->owner == std::this_thread::get_id()) {
        lock.unlock();
        return record->procedure(window, message, wParam, lParam);
    }
    if (UnboundedWaitsForbidden()) {
        ReportForbiddenWait("a send to a window of another thread");
    }
    auto send = std::make_shared<PendingSend>(PendingSend{window, message, wParam, lParam});
    r.pending.push_back(send);
    r.changed.notify_all();
    const auto waker = r.wakers.find(record->owner);
    if (waker != r.wakers.end()) {
        const auto wake = waker->second;
        lock.unlock();
        (*wake)();
        lock.lock();
    }
    r.changed.wait(lock, [&] { return send->done; });
    return send->result;
}

void SetSendWakerForThisThread(std::function<void()> wake) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.lock);
    if (wake) {
        r.wakers[std::this_thread::get_id()] =
            std::make_shared<std::function<void()>>(std::move(wake));
    } else {
        r.wakers.erase(std::this_thread::get_id());
    }
}

int PumpWindowMessages(uint32_t timeoutMs) {
    Registry& r = TheRegistry();
    const auto self = std::this_thread::get_id();
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::milliseconds(timeoutMs == kWaitForever ? 0 : timeoutMs);
    int ran = 0;
    std::unique_lock lock(r.lock);
    for (;;) {
        std::shared_ptr<PendingSend> send;
        std::shared_ptr<WindowRecord> record;
        for (auto it = r.pending.begin(); it != r.pending.end(); ++it) {
            record = FindLocked(r, (*it)->window);
            if (record && record->owner == self) {
                send = *it;
                r.pending.erase(it);
                break;
            }
        }
        if (send) {
            lock.unlock();
            const intptr_t result =
                record->procedure(send->window, send->message, send->wParam, send->lParam);
            lock.lock();
            send->result = result;
            send->done = true;
            r.changed.notify_all();
            ++ran;
            continue;
        }
        if (ran > 0 || timeoutMs == 0) {
            return ran;
        }
        if (timeoutMs == kWaitForever) {
            r.changed.wait(lock);
        } else if (r.changed.wait_until(lock, deadline) == std::cv_status::timeout) {
            return ran;
        }
    }
}

}  // namespace platform
