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

}  // namespace platform
