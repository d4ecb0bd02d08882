// Inside the window layer only: the Qt side of the platform's window types.
// Nothing outside platform/ui includes this header.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QTransform>
#include <QWidget>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ui/Dialog.h"
#include "platform/ui/Graphics.h"
#include "platform/ui/Window.h"

namespace platform {

struct Bitmap::Impl {
    QImage image;
};

struct DrawingContext::Impl {
    QImage* target = nullptr;  // the selected bitmap's pixels or a window's back buffer
    Bitmap* selected = nullptr;
    QImage view;  // a region's or the device's view of another context's pixels
    std::unique_ptr<QPainter> painter;
    // A dialog's paint: from the screen's 480 x 640 pixels onto its frame.
    QTransform transform;

    // The painter on the target, begun on first use; null without a target.
    QPainter* Painter() {
        if (!painter && target != nullptr && !target->isNull()) {
            painter = std::make_unique<QPainter>(target);
            painter->setCompositionMode(QPainter::CompositionMode_Source);
            if (!transform.isIdentity()) {
                painter->setTransform(transform);
            }
        }
        return painter.get();
    }
    void End() { painter.reset(); }
};

namespace qt {

// Runs `fn` on the GUI thread and returns when it has run (at once on the GUI
// thread). Returns false, without running it, when there is no GUI.
bool RunOnGui(const std::function<void()>& fn);
// Queues `fn` for the GUI thread's event loop.
void PostToGui(std::function<void()> fn);
bool HaveGui();

// The display's rotation in degrees (0, 90, 180, 270) of `current` against
// `native`, a quarter turn for each step of Qt's order portrait, landscape,
// inverted portrait, inverted landscape; "primary" stands for `primary`.
// -1 when an orientation is none of these.
int RotationBetween(Qt::ScreenOrientation native, Qt::ScreenOrientation current,
                    Qt::ScreenOrientation primary);

// The back buffer of a dialog for PaintScope; null when there is no such dialog.
QImage* BackBufferOf(WindowHandle window);
// How a dialog's paint in the handset's pixels reaches its back buffer.
QTransform PaintTransformOf(WindowHandle window);
void EndPaintOf(WindowHandle window);
// The dialog widget of a handle (GUI thread), or null.
QWidget* WidgetOf(WindowHandle window);
WindowHandle HandleOf(const QWidget* widget);

// Ends what `thread`'s pending thread timer aims at (see SetThreadTimer).
void InstallMessageBoxes();
void RemoveMessageBoxes();

QString ToQString(std::u16string_view text);

// ---- dialogs: how a thread waiting for a window learns that it ended (the
// Qt dialog behind a dialog handle and the table from handles to widgets are
// in DialogWindow.h). Dialog.cpp makes the calls on windows and controls,
// DialogWindow.cpp builds the window from its template, ModalLoop.cpp runs
// the modal loops, the thread timers and the message boxes.

// How a thread that waits for a window learns that it ended.
struct EndState {
    std::mutex lock;
    std::condition_variable ended;
    bool done = false;
    int result = 0;
    void Finish(int value) {
        {
            std::lock_guard guard(lock);
            if (done) {
                return;
            }
            done = true;
            result = value;
        }
        ended.notify_all();
    }
    int Wait() {
        std::unique_lock guard(lock);
        ended.wait(guard, [&] { return done; });
        return result;
    }
};

// Enter a wait of the calling thread for a window; ends at once when a quit is
// pending (see SetThreadTimer). `end` ends the window waited for.
void BeginThreadWait(std::thread::id thread, const std::function<void()>& end);
void EndThreadWait(std::thread::id thread);

// Runs `fn` on the GUI thread and hands back its result; `fallback` without a GUI.
template <typename T, typename F>
T OnGui(F fn, T fallback) {
    T result = fallback;
    qt::RunOnGui([&] { result = fn(); });
    return result;
}

}  // namespace qt
}  // namespace platform
