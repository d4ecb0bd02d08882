// Inside the window layer only: the Qt side of the platform's window types.
// Nothing outside platform/ui includes this header.
#pragma once

#include <QImage>
#include <QPainter>
#include <QWidget>
#include <functional>
#include <memory>

#include "platform/ui/Graphics.h"
#include "platform/ui/Window.h"

namespace platform {

struct Bitmap::Impl {
    QImage image;
};

struct DrawingContext::Impl {
    QImage* target = nullptr;  // the selected bitmap's pixels or a window's back buffer
    Bitmap* selected = nullptr;
    std::unique_ptr<QPainter> painter;

    // The painter on the target, begun on first use; null without a target.
    QPainter* Painter() {
        if (!painter && target != nullptr && !target->isNull()) {
            painter = std::make_unique<QPainter>(target);
            painter->setCompositionMode(QPainter::CompositionMode_Source);
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
void EndPaintOf(WindowHandle window);
// The dialog widget of a handle (GUI thread), or null.
QWidget* WidgetOf(WindowHandle window);
WindowHandle HandleOf(const QWidget* widget);

// Ends what `thread`'s pending thread timer aims at (see SetThreadTimer).
void InstallMessageBoxes();
void RemoveMessageBoxes();

QString ToQString(std::u16string_view text);

}  // namespace qt
}  // namespace platform
