// Inside the window layer only: the Qt dialog behind a dialog handle, built
// from its template (DialogWindow.cpp), and the table from handles to widgets.
#pragma once

#include <QDialog>
#include <QImage>
#include <QPointer>
#include <QTransform>
#include <QWidget>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "platform/ui/Dialog.h"
#include "platform/ui/QtSupport.h"
#include "platform/ui/Window.h"

namespace platform::qt {

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
    // The text of control `index` changed: its font is fitted to it again.
    void TextChanged(int index);
    // The handset's 480 x 640 pixels onto this window: where the template is laid out.
    const QTransform& Frame() const { return frame_; }

    // The whole screen the platform gives an application.
    void GoFullScreen();

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    // A finger is the pen: the first one down presses, others are ignored
    // while it is down, a cancelled touch (the shell took the gesture) is a
    // focus loss. A touch on a control is left to Qt, which makes it a click.
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
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
    // Dialog units onto the window: a 140 x 183 template fills a frame of the
    // handset screen's shape, as large as the window holds, centred; fonts
    // scale with the frame and shrink where a text would not fit its control.
    void Layout();
    void FitFont(const Control& c);
    // The push button a key stands for: Return the default (else the one with
    // id 1), Escape the one with id 2; null when the screen has none enabled.
    QPushButton* ButtonForKey(int key);

    const ResourceModule* module_;
    WindowProcedure procedure_;
    WindowHandle handle_;
    std::vector<Control> controls_;
    QTransform frame_;
    int fontPixels_ = 17;
    QImage backBuffer_;
    bool erase_ = true;
    bool painted_ = false;
    bool ended_ = false;
    int penFinger_ = -1;  // the touch point that holds the pen down, or none
    int result_ = 0;
    std::shared_ptr<EndState> endState_ = std::make_shared<EndState>();
};

// Whether the platform lets a window of this program stay behind its other
// windows, covering the whole screen: not on Wayland, where the compositor
// alone stacks the toplevels (phoc puts the one mapped last on top and gives
// it the focus, whatever the client asks), nor where the dialog is a window
// among a desktop's others.
bool CanKeepBehind(const QWidget* window);

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

}  // namespace platform::qt
