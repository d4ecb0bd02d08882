#include "platform/ui/LiveWait.h"

#include <QEventLoop>
#include <QTimer>

#include "platform/kernel/Kernel.h"
#include "platform/ui/Application.h"

namespace platform {

void WaitKeepingWindowsLive(uint32_t ms) {
    if (!IsGuiThread()) {
        Sleep(ms);
        return;
    }
    QEventLoop loop;
    QTimer::singleShot(static_cast<int>(static_cast<double>(ms) / TimeScale()), &loop,
                       &QEventLoop::quit);
    loop.exec();
}

bool WaitKeepingWindowsLiveFor(Event& event, uint32_t ms) {
    if (!IsGuiThread()) {
        return event.Wait(ms);
    }
    // The event's setter has no way into this loop, so look at it often: the
    // wait is for something the loop itself serves (a box being shown).
    constexpr int kLookMs = 2;
    bool set = false;
    QEventLoop loop;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (event.Wait(0)) {
            set = true;
            loop.quit();
        }
    });
    look.start(kLookMs);
    QTimer::singleShot(static_cast<int>(static_cast<double>(ms) / TimeScale()), &loop,
                       &QEventLoop::quit);
    if (event.Wait(0)) {
        return true;
    }
    loop.exec();
    return set;
}

}  // namespace platform
