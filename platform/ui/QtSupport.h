// Inside the window layer only: the Qt side of the platform's window types.
// Nothing outside platform/ui includes this header.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPainter>
#include <QPointer>
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

// ---- dialogs: the Qt dialog behind a dialog handle, the table from handles
// to widgets, and how a thread waiting for a window learns that it ended.
// Dialog.cpp makes the calls on windows and controls, DialogWindow.cpp builds
// the window from its template, ModalLoop.cpp runs the modal loops, the
// thread timers and the message boxes.

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

class DialogWindow;

struct WindowEntry {
    QPointer<QWidget> widget;
    DialogWindow* dialog = nullptr;
    int control = -1;  // index among the dialog's controls; -1: the dialog itself
};
// GUI thread only.
std::map<uint64_t, WindowEntry>& Windows();
// The dialogs shown, in the order they came up.
std::vector<uint64_t>& DialogStack();

class DialogWindow : public QDialog {
public:
    struct Control {
        const ControlTemplate* tmpl;
        QWidget* widget;
        WindowHandle handle;
        int step = 10;
    };

    DialogWindow(const ResourceModule* module, const DialogTemplate& tmpl,
                 WindowProcedure procedure);
    ~DialogWindow() override;

    WindowHandle Handle() const { return handle_; }
    bool Ended() const { return ended_; }
    int Result() const { return result_; }
    std::shared_ptr<EndState> EndNotice() const { return endState_; }
    Control& ControlAt(int index) { return controls_[static_cast<size_t>(index)]; }

    intptr_t Send(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);
    void End(int value);

    QImage* BackBuffer() { return &backBuffer_; }
    void MarkPainted() { painted_ = true; }
    void RequestErase(bool erase) { erase_ = erase_ || erase; }

    QWidget* FindControl(int id, int* index);

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // The window manager's close request is the title bar's Done button: command 1.
    void closeEvent(QCloseEvent* event) override;
    // Escape is the cancel command, as on the handset's dialogs.
    void reject() override;
    void accept() override;
    // Only EndDialog ends the dialog; Qt's own ways in go through the procedure.
    void done(int) override {}

private:
    void AddControl(const ControlTemplate& c);
    // What a control does with the messages sent to it.
    intptr_t ControlProcedure(int index, uint32_t message, uintptr_t wParam, intptr_t lParam);
    // Dialog units onto the window: a 140 x 183 template fills 480 x 640, and
    // the controls scale with the window.
    void Layout();

    const ResourceModule* module_;
    WindowProcedure procedure_;
    WindowHandle handle_;
    std::vector<Control> controls_;
    QImage backBuffer_;
    bool erase_ = true;
    bool painted_ = false;
    bool ended_ = false;
    int result_ = 0;
    std::shared_ptr<EndState> endState_ = std::make_shared<EndState>();
};

// The dialog of a handle (GUI thread), or null for a control or an ended one.
DialogWindow* DialogOf(WindowHandle window);

template <typename W>
W* ControlWidget(WindowHandle control) {
    const auto it = Windows().find(control.id);
    if (it == Windows().end() || it->second.control == -1) {
        return nullptr;
    }
    return qobject_cast<W*>(it->second.widget.data());
}

// Runs `fn` on the GUI thread and hands back its result; `fallback` without a GUI.
template <typename T, typename F>
T OnGui(F fn, T fallback) {
    T result = fallback;
    qt::RunOnGui([&] { result = fn(); });
    return result;
}

}  // namespace qt
}  // namespace platform
