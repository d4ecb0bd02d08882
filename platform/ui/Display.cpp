#include "platform/ui/Display.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>
#include <memory>
#include <mutex>

#include "platform/ui/QtSupport.h"

namespace platform {
namespace {

std::mutex g_lock;
std::shared_ptr<DisplayBackend> g_backend;  // null: the real display

// Qt's orientations in the order a quarter turn at a time takes them.
int QuarterTurns(Qt::ScreenOrientation o) {
    switch (o) {
        case Qt::PortraitOrientation:
            return 0;
        case Qt::LandscapeOrientation:
            return 1;
        case Qt::InvertedPortraitOrientation:
            return 2;
        case Qt::InvertedLandscapeOrientation:
            return 3;
        default:
            return -1;
    }
}

// The primary screen's mode, read on the GUI thread; false without a screen.
bool ReadScreenMode(DisplayMode& mode) {
    bool read = false;
    qt::RunOnGui([&] {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (screen == nullptr) {
            return;
        }
        const int rotation = qt::RotationBetween(screen->nativeOrientation(), screen->orientation(),
                                                 screen->primaryOrientation());
        if (rotation < 0) {
            return;
        }
        const double ratio = screen->devicePixelRatio();
        mode.rotation = rotation;
        mode.width = static_cast<int>(std::lround(screen->size().width() * ratio));
        mode.height = static_cast<int>(std::lround(screen->size().height() * ratio));
        read = true;
    });
    return read;
}

}  // namespace

namespace qt {

int RotationBetween(Qt::ScreenOrientation native, Qt::ScreenOrientation current,
                    Qt::ScreenOrientation primary) {
    // Without a native orientation a turn cannot be told from a screen built
    // that way (X11 calls every unturned output landscape, whatever its
    // shape): such a screen counts as upright, as one that cannot rotate.
    if (native == Qt::PrimaryOrientation) {
        return QuarterTurns(current == Qt::PrimaryOrientation ? primary : current) < 0 ? -1 : 0;
    }
    if (current == Qt::PrimaryOrientation) {
        current = primary;
    }
    const int from = QuarterTurns(native);
    const int to = QuarterTurns(current);
    if (from < 0 || to < 0) {
        return -1;
    }
    return ((to - from + 4) % 4) * 90;
}

}  // namespace qt

// The rotation is the screen's orientation against its native one, as Qt
// reports it. Qt offers no call that turns a screen, so a mode cannot be set
// here: on a turned display the screens show turned, as they would on a
// handset whose driver refused the change.
bool GetDisplayMode(DisplayMode& mode) {
    std::shared_ptr<DisplayBackend> backend;
    {
        std::lock_guard guard(g_lock);
        backend = g_backend;
    }
    if (backend && backend->get) {
        return backend->get(mode);
    }
    return ReadScreenMode(mode);
}

bool SetDisplayMode(const DisplayMode& mode) {
    std::shared_ptr<DisplayBackend> backend;
    {
        std::lock_guard guard(g_lock);
        backend = g_backend;
    }
    if (backend && backend->set) {
        return backend->set(mode);
    }
    return false;
}

void SetDisplayBackend(DisplayBackend backend) {
    std::lock_guard guard(g_lock);
    g_backend = (backend.get || backend.set) ? std::make_shared<DisplayBackend>(std::move(backend))
                                             : nullptr;
}

}  // namespace platform
