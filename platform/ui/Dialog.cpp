#include "platform/ui/Dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <cmath>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/kernel/Kernel.h"
#include "platform/ui/Application.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/QtSupport.h"

namespace platform {
namespace {

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

// What a thread timer ends: the dialog or box its thread waits for. A timer
// that fires while the thread waits for nothing is kept, like a posted quit,
// for the next box of that thread.
struct ThreadWaits {
    std::mutex lock;
    std::map<std::thread::id, std::function<void()>> current;  // ends the window
    std::map<std::thread::id, bool> pendingQuit;
    std::map<uint32_t, std::thread::id> timers;
    uint32_t nextTimer = 1;
};
ThreadWaits& Waits() {
    static auto* waits = new ThreadWaits;  // never destroyed: threads outlive main
    return *waits;
}

// Enter a wait of the calling thread for a window; ends at once when a quit is pending.
void BeginThreadWait(std::thread::id thread, const std::function<void()>& end) {
    bool quitNow = false;
    {
        ThreadWaits& w = Waits();
        std::lock_guard guard(w.lock);
        quitNow = w.pendingQuit[thread];
        w.pendingQuit[thread] = false;
        w.current[thread] = end;
    }
    if (quitNow) {
        end();
    }
}
void EndThreadWait(std::thread::id thread) {
    ThreadWaits& w = Waits();
    std::lock_guard guard(w.lock);
    w.current.erase(thread);
}

class DialogWindow;

struct WindowEntry {
    QPointer<QWidget> widget;
    DialogWindow* dialog = nullptr;
    int control = -1;  // index among the dialog's controls; -1: the dialog itself
};
// GUI thread only.
std::map<uint64_t, WindowEntry>& Windows() {
    static auto* windows = new std::map<uint64_t, WindowEntry>;
    return *windows;
}
std::vector<uint64_t>& DialogStack() {
    static auto* stack = new std::vector<uint64_t>;
    return *stack;
}

bool g_waitCursor = false;  // GUI thread only

class DialogWindow : public QDialog {
public:
    struct Control {
        const ControlTemplate* tmpl;
        QWidget* widget;
        WindowHandle handle;
        int step = 10;
    };

    DialogWindow(const ResourceModule* module, const DialogTemplate& tmpl,
                 WindowProcedure procedure)
        : module_(module), procedure_(std::move(procedure)) {
        setWindowTitle(qt::ToQString(tmpl.title));
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAutoFillBackground(false);
        QFont font(qt::ToQString(tmpl.font));
        setFont(font);
        handle_ = CreateMessageWindow(
            [this](WindowHandle w, uint32_t m, uintptr_t wp, intptr_t lp) -> intptr_t {
                return procedure_(w, m, wp, lp);
            });
        Windows()[handle_.id] = WindowEntry{this, this, -1};
        for (const ControlTemplate& c : tmpl.controls) {
            AddControl(c);
        }
        // A turned screen restacks the windows without moving or sizing them.
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            connect(screen, &QScreen::orientationChanged, this, [this] {
                WindowPosition pos{
                    handle_,  x(),
                    y(),      width(),
                    height(), kPosNoSize | kPosNoMove | kPosNoActivate | kPosNoOwnerZOrder};
                Send(kMsgWindowPosChanged, 0, reinterpret_cast<intptr_t>(&pos));
            });
        }
        // Before the shell's initialisation sizes it: the template's own size.
        resize(tmpl.width * 480 / kReferenceUnitsWide, tmpl.height * 640 / kReferenceUnitsHigh);
        Layout();
    }

    ~DialogWindow() override {
        for (const Control& c : controls_) {
            DestroyMessageWindow(c.handle);
            Windows().erase(c.handle.id);
        }
        DestroyMessageWindow(handle_);
        Windows().erase(handle_.id);
    }

    WindowHandle Handle() const { return handle_; }
    bool Ended() const { return ended_; }
    int Result() const { return result_; }
    std::shared_ptr<EndState> EndNotice() const { return endState_; }
    Control& ControlAt(int index) { return controls_[static_cast<size_t>(index)]; }

    intptr_t Send(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0) {
        if (ended_ && message != kMsgPaint) {
            return 0;
        }
        return SendWindowMessage(handle_, message, wParam, lParam);
    }

    void End(int value) {
        if (ended_) {
            return;
        }
        ended_ = true;
        result_ = value;
        endState_->Finish(value);
        QDialog::done(value);
    }

    QImage* BackBuffer() { return &backBuffer_; }
    void MarkPainted() { painted_ = true; }
    void RequestErase(bool erase) { erase_ = erase_ || erase; }

    QWidget* FindControl(int id, int* index) {
        for (size_t i = 0; i < controls_.size(); ++i) {
            if (controls_[i].tmpl->id == id) {
                if (index != nullptr) {
                    *index = static_cast<int>(i);
                }
                return controls_[i].widget;
            }
        }
        return nullptr;
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const QSize size = this->size();
        if (backBuffer_.size() != size) {
            backBuffer_ = QImage(size, QImage::Format_RGB32);
            backBuffer_.fill(Qt::black);
        }
        if (!ended_) {
            if (erase_ && Send(kMsgEraseBackground) == 0) {
                backBuffer_.fill(Qt::black);
            }
            erase_ = false;
            Send(kMsgPaint);
        }
        QPainter painter(this);
        painter.drawImage(0, 0, backBuffer_);
    }

    void resizeEvent(QResizeEvent* event) override {
        QDialog::resizeEvent(event);
        Layout();
        if (isVisible()) {
            WindowPosition pos{handle_, x(),      y(),
                               width(), height(), kPosNoMove | kPosNoZOrder | kPosNoActivate};
            Send(kMsgWindowPosChanged, 0, reinterpret_cast<intptr_t>(&pos));
        }
    }

    void changeEvent(QEvent* event) override {
        QDialog::changeEvent(event);
        if (event->type() == QEvent::ActivationChange) {
            const bool active = isActiveWindow();
            Send(kMsgActivate, active ? 1 : 0);
            Send(active ? kMsgSetFocus : kMsgKillFocus);
        }
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) {
            const QPoint p = event->position().toPoint();
            Send(kMsgPenDown, 0, MakePenPosition(p.x(), p.y()));
        }
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) {
            const QPoint p = event->position().toPoint();
            Send(kMsgPenUp, 0, MakePenPosition(p.x(), p.y()));
        }
    }

    // The window manager's close request is the title bar's Done button: command 1.
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        Send(kMsgCommand, MakeCommand(1, kNotifyClicked));
    }
    // Escape is the cancel command, as on the handset's dialogs.
    void reject() override { Send(kMsgCommand, MakeCommand(2, kNotifyClicked)); }
    void accept() override { Send(kMsgCommand, MakeCommand(1, kNotifyClicked)); }
    // Only EndDialog ends the dialog; Qt's own ways in go through the procedure.
    void done(int) override {}

private:
    void AddControl(const ControlTemplate& c) {
        QWidget* widget = nullptr;
        const int id = c.id;
        switch (c.kind) {
            case ControlKind::StaticText: {
                auto* label = new QLabel(qt::ToQString(c.text), this);
                label->setAlignment((c.style & 0x3) == style::kCentre
                                        ? Qt::AlignHCenter | Qt::AlignTop
                                        : Qt::AlignLeft | Qt::AlignTop);
                label->setWordWrap((c.style & 0xF) != style::kNoWrap);
                widget = label;
                break;
            }
            case ControlKind::PushButton: {
                auto* button = new QPushButton(qt::ToQString(c.text), this);
                button->setAutoDefault(false);
                button->setDefault((c.style & style::kDefault) != 0);
                button->setFocusPolicy(Qt::StrongFocus);
                connect(button, &QPushButton::clicked, this,
                        [this, id] { Send(kMsgCommand, MakeCommand(id, kNotifyClicked)); });
                widget = button;
                break;
            }
            case ControlKind::ListBox: {
                auto* list = new QListWidget(this);
                list->setSelectionMode(QAbstractItemView::SingleSelection);
                // Rows a finger can hit, inside a visible border.
                list->setStyleSheet(
                    QStringLiteral("QListWidget { border: 1px solid #808080; }"
                                   " QListWidget::item { padding: 4px 2px; }"));
                if ((c.style & style::kNotify) != 0) {
                    // The selection, not the current row: focus alone makes the
                    // first row current, and a click on it then selects it
                    // without changing the current row.
                    connect(list, &QListWidget::itemSelectionChanged, this, [this, id] {
                        Send(kMsgCommand, MakeCommand(id, kNotifySelectionChanged));
                    });
                }
                widget = list;
                break;
            }
            case ControlKind::ProgressBar: {
                auto* bar = new QProgressBar(this);
                bar->setRange(0, 100);
                bar->setValue(0);
                bar->setTextVisible(false);
                widget = bar;
                break;
            }
            case ControlKind::Picture: {
                auto* label = new QLabel(this);
                if (auto bitmap = LoadBitmap(module_, c.bitmapId)) {
                    label->setPixmap(QPixmap::fromImage(bitmap->impl().image));
                }
                label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
                widget = label;
                break;
            }
        }
        widget->setEnabled((c.style & style::kDisabled) == 0);
        const int index = static_cast<int>(controls_.size());
        const WindowHandle handle = CreateMessageWindow(
            [this, index](WindowHandle, uint32_t m, uintptr_t wp, intptr_t lp) -> intptr_t {
                return ControlProcedure(index, m, wp, lp);
            });
        controls_.push_back(Control{&c, widget, handle});
        Windows()[handle.id] = WindowEntry{widget, this, index};
    }

    // What a control does with the messages sent to it.
    intptr_t ControlProcedure(int index, uint32_t message, uintptr_t wParam, intptr_t lParam) {
        Control& c = controls_[static_cast<size_t>(index)];
        auto* bar = qobject_cast<QProgressBar*>(c.widget);
        if (bar == nullptr) {
            return 0;
        }
        switch (message) {
            case kMsgProgressSetRange: {
                const int previous = bar->maximum();
                bar->setRange(static_cast<int>(wParam), static_cast<int>(lParam));
                bar->setValue(static_cast<int>(wParam));
                return previous;
            }
            case kMsgProgressSetStep: {
                const int previous = c.step;
                c.step = static_cast<int>(wParam);
                return previous;
            }
            case kMsgProgressStep: {
                const int previous = bar->value();
                int next = previous + c.step;
                if (next > bar->maximum()) {
                    next = bar->minimum() + (next - bar->maximum());
                }
                bar->setValue(next);
                return previous;
            }
            case kMsgProgressGetPosition:
                return bar->value();
            default:
                return 0;
        }
    }

    // Dialog units onto the window: a 140 x 183 template fills 480 x 640, and
    // the controls scale with the window.
    void Layout() {
        const double sx = static_cast<double>(width()) / kReferenceUnitsWide;
        const double sy = static_cast<double>(height()) / kReferenceUnitsHigh;
        QFont f = font();
        f.setPixelSize(std::max(8, static_cast<int>(std::lround(sy * 5.0))));
        setFont(f);
        for (const Control& c : controls_) {
            const int x = static_cast<int>(std::lround(c.tmpl->x * sx));
            const int y = static_cast<int>(std::lround(c.tmpl->y * sy));
            int w = static_cast<int>(std::lround(c.tmpl->width * sx));
            int h = static_cast<int>(std::lround(c.tmpl->height * sy));
            if (c.tmpl->kind == ControlKind::Picture) {
                // A bitmap picture takes its bitmap's size, scaled as the window is.
                if (auto* label = qobject_cast<QLabel*>(c.widget);
                    label && !label->pixmap().isNull()) {
                    const double scale = width() / 480.0;
                    w = static_cast<int>(std::lround(label->pixmap().width() * scale));
                    h = static_cast<int>(std::lround(label->pixmap().height() * scale));
                    label->setScaledContents(true);
                }
            }
            c.widget->setGeometry(x, y, w, h);
        }
    }

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

DialogWindow* DialogOf(WindowHandle window) {
    const auto it = Windows().find(window.id);
    if (it == Windows().end() || it->second.control != -1 || it->second.widget.isNull()) {
        return nullptr;
    }
    return it->second.dialog;
}

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

std::unique_ptr<DialogWindow> BuildDialog(const ResourceModule* module, uint32_t templateId,
                                          WindowProcedure procedure) {
    const DialogTemplate* tmpl = module->findDialog(templateId);
    if (tmpl == nullptr) {
        return nullptr;
    }
    return std::make_unique<DialogWindow>(module, *tmpl, std::move(procedure));
}

int RunOnGuiThread(const ResourceModule* module, uint32_t templateId, WindowProcedure procedure) {
    auto dialog = BuildDialog(module, templateId, std::move(procedure));
    if (!dialog) {
        return -1;
    }
    DialogWindow* d = dialog.get();
    const auto self = std::this_thread::get_id();
    DialogStack().push_back(d->Handle().id);
    d->Send(kMsgInitDialog);
    if (!d->Ended()) {
        BeginThreadWait(
            self, [handle = d->Handle()] { qt::PostToGui([handle] { EndDialog(handle, 0); }); });
        d->setModal(true);
        d->QDialog::exec();
        EndThreadWait(self);
    }
    std::erase(DialogStack(), d->Handle().id);
    const int result = d->Result();
    dialog.reset();  // after its modal loop has returned
    return result;
}

int RunForOtherThread(const ResourceModule* module, uint32_t templateId,
                      WindowProcedure procedure) {
    // The window lives on the GUI thread; this thread waits until it ends.
    std::shared_ptr<EndState> notice;
    WindowHandle handle;
    const bool built = qt::RunOnGui([&] {
        auto dialog = BuildDialog(module, templateId, procedure);
        if (!dialog) {
            return;
        }
        DialogWindow* d = dialog.release();  // deleted on the GUI thread once ended
        notice = d->EndNotice();
        handle = d->Handle();
        QObject::connect(d, &QDialog::finished, d, [d] {
            std::erase(DialogStack(), d->Handle().id);
            d->deleteLater();
        });
        // A screen that the GUI thread already shows stays in front: the
        // window of another thread (the backdrop) comes up behind it, however
        // late its thread got here.
        const bool behind = !DialogStack().empty();
        DialogStack().push_back(d->Handle().id);
        d->Send(kMsgInitDialog);
        if (d->Ended()) {
            std::erase(DialogStack(), d->Handle().id);
            d->deleteLater();
        } else {
            if (behind) {
                d->setAttribute(Qt::WA_ShowWithoutActivating);
            }
            d->show();
            if (behind) {
                d->lower();
            }
        }
    });
    if (!built || !notice) {
        return -1;
    }
    const auto self = std::this_thread::get_id();
    BeginThreadWait(self, [handle] { qt::PostToGui([handle] { EndDialog(handle, 0); }); });
    const int result = notice->Wait();
    EndThreadWait(self);
    return result;
}

}  // namespace

int RunModalDialog(const ResourceModule* module, uint32_t templateId, WindowProcedure procedure) {
    if (module == nullptr || !procedure || !qt::HaveGui()) {
        return -1;
    }
    if (IsGuiThread()) {
        return RunOnGuiThread(module, templateId, std::move(procedure));
    }
    return RunForOtherThread(module, templateId, std::move(procedure));
}

bool EndDialog(WindowHandle dialog, int value) {
    return OnGui(
        [&] {
            DialogWindow* d = DialogOf(dialog);
            if (d == nullptr) {
                return false;
            }
            d->End(value);
            return true;
        },
        false);
}

bool SetWindowText(WindowHandle window, std::u16string_view text) {
    return OnGui(
        [&] {
            const auto it = Windows().find(window.id);
            if (it == Windows().end() || it->second.widget.isNull()) {
                return false;
            }
            QWidget* w = it->second.widget;
            const QString s = qt::ToQString(text);
            if (it->second.control == -1) {
                w->setWindowTitle(s);
            } else if (auto* label = qobject_cast<QLabel*>(w)) {
                label->setText(s);
            } else if (auto* button = qobject_cast<QPushButton*>(w)) {
                button->setText(s);
            } else {
                return false;
            }
            return true;
        },
        false);
}

std::u16string GetWindowText(WindowHandle window) {
    return OnGui(
        [&] {
            const auto it = Windows().find(window.id);
            if (it == Windows().end() || it->second.widget.isNull()) {
                return std::u16string();
            }
            QWidget* w = it->second.widget;
            QString s;
            if (it->second.control == -1) {
                s = w->windowTitle();
            } else if (auto* label = qobject_cast<QLabel*>(w)) {
                s = label->text();
            } else if (auto* button = qobject_cast<QPushButton*>(w)) {
                s = button->text();
            }
            s.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
            return s.toStdU16String();
        },
        std::u16string());
}

WindowHandle GetControl(WindowHandle dialog, int id) {
    return OnGui(
        [&] {
            DialogWindow* d = DialogOf(dialog);
            int index = -1;
            if (d == nullptr || d->FindControl(id, &index) == nullptr) {
                return WindowHandle{};
            }
            return d->ControlAt(index).handle;
        },
        WindowHandle{});
}

bool SetControlText(WindowHandle dialog, int id, std::u16string_view text) {
    const WindowHandle control = GetControl(dialog, id);
    return control && SetWindowText(control, text);
}

bool EnableControl(WindowHandle control, bool enable) {
    return OnGui(
        [&] {
            QWidget* w = ControlWidget<QWidget>(control);
            if (w == nullptr) {
                return false;
            }
            w->setEnabled(enable);
            return true;
        },
        false);
}

bool IsControlEnabled(WindowHandle control) {
    return OnGui(
        [&] {
            QWidget* w = ControlWidget<QWidget>(control);
            return w != nullptr && w->isEnabled();
        },
        false);
}

int ListBoxAddString(WindowHandle list, std::u16string_view text) {
    return OnGui(
        [&] {
            auto* w = ControlWidget<QListWidget>(list);
            if (w == nullptr) {
                return -1;
            }
            w->addItem(qt::ToQString(text));
            return w->count() - 1;
        },
        -1);
}

int ListBoxGetSelection(WindowHandle list) {
    return OnGui(
        [&] {
            auto* w = ControlWidget<QListWidget>(list);
            if (w == nullptr || w->selectedItems().isEmpty()) {
                return -1;
            }
            return w->row(w->selectedItems().front());
        },
        -1);
}

std::u16string ListBoxGetText(WindowHandle list, int index) {
    return OnGui(
        [&] {
            auto* w = ControlWidget<QListWidget>(list);
            if (w == nullptr || index < 0 || index >= w->count()) {
                return std::u16string();
            }
            return w->item(index)->text().toStdU16String();
        },
        std::u16string());
}

int ListBoxCount(WindowHandle list) {
    return OnGui(
        [&] {
            auto* w = ControlWidget<QListWidget>(list);
            return w == nullptr ? 0 : w->count();
        },
        0);
}

bool ListBoxSelect(WindowHandle list, int index) {
    return OnGui(
        [&] {
            auto* w = ControlWidget<QListWidget>(list);
            if (w == nullptr || index < 0 || index >= w->count()) {
                return false;
            }
            w->setCurrentRow(index);
            return true;
        },
        false);
}

void InvalidateWindow(WindowHandle window, bool erase) {
    qt::RunOnGui([&] {
        if (DialogWindow* d = DialogOf(window)) {
            d->RequestErase(erase);
            d->update();
        }
    });
}

void UpdateWindow(WindowHandle window) {
    qt::RunOnGui([&] {
        if (DialogWindow* d = DialogOf(window)) {
            d->repaint();
        }
    });
}

bool GetClientSize(WindowHandle window, int& width, int& height) {
    return OnGui(
        [&] {
            const auto it = Windows().find(window.id);
            if (it == Windows().end() || it->second.widget.isNull()) {
                return false;
            }
            width = it->second.widget->width();
            height = it->second.widget->height();
            return true;
        },
        false);
}

void MinimizeWindow(WindowHandle window) {
    qt::RunOnGui([&] {
        if (DialogWindow* d = DialogOf(window)) {
            d->showMinimized();
        }
    });
}

WindowHandle GetForegroundWindow() {
    return OnGui([] { return qt::HandleOf(QApplication::activeWindow()); }, WindowHandle{});
}

bool SetForegroundWindow(WindowHandle window) {
    return OnGui(
        [&] {
            DialogWindow* d = DialogOf(window);
            if (d == nullptr) {
                return false;
            }
            if (d->isMinimized()) {
                d->showNormal();
            }
            d->raise();
            d->activateWindow();
            return true;
        },
        false);
}

void ShellInitDialog(WindowHandle dialog, uint32_t) {
    qt::RunOnGui([&] {
        DialogWindow* d = DialogOf(dialog);
        if (d == nullptr) {
            return;
        }
        QScreen* screen = d->screen() != nullptr ? d->screen() : QGuiApplication::primaryScreen();
        const QString platformName = QGuiApplication::platformName();
        const bool noWindowManager =
            platformName == QLatin1String("offscreen") || platformName == QLatin1String("eglfs") ||
            platformName == QLatin1String("linuxfb") || platformName == QLatin1String("minimal") ||
            platformName == QLatin1String("vnc");
        const QRect available = screen != nullptr ? screen->availableGeometry() : QRect();
        // A handset: a screen no wider than a phone's in device-independent pixels.
        const bool handset = available.width() > 0 && available.width() <= 540;
        if (noWindowManager || handset) {
            if (screen != nullptr) {
                d->setGeometry(screen->geometry());
            }
            d->setWindowState(Qt::WindowFullScreen);
        } else {
            // Device-independent pixels: the window grows with the screen's scale.
            // Its size is fixed: the main screen computes its geometry once.
            d->setFixedSize(480, 640);
            d->move(available.center() - QPoint(240, 320));
        }
    });
}

void ShellFullScreen(WindowHandle, uint32_t) {
    // There is no input-panel button to hide.
}

void SetWaitCursor(bool wait) {
    qt::RunOnGui([&] {
        if (wait && !g_waitCursor) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
        } else if (!wait && g_waitCursor) {
            QApplication::restoreOverrideCursor();
        }
        g_waitCursor = wait;
    });
}

bool IsWaitCursorShown() {
    return OnGui([] { return g_waitCursor; }, false);
}

uint32_t SetThreadTimer(uint32_t ms) {
    const auto thread = std::this_thread::get_id();
    uint32_t id = 0;
    {
        ThreadWaits& w = Waits();
        std::lock_guard guard(w.lock);
        id = w.nextTimer++;
        w.timers[id] = thread;
    }
    const int scaled = static_cast<int>(static_cast<double>(ms) / TimeScale());
    qt::PostToGui([id, scaled] {
        QTimer::singleShot(scaled, QCoreApplication::instance(), [id] {
            std::function<void()> end;
            {
                ThreadWaits& w = Waits();
                std::lock_guard guard(w.lock);
                const auto it = w.timers.find(id);
                if (it == w.timers.end()) {
                    return;  // killed
                }
                const auto current = w.current.find(it->second);
                if (current != w.current.end()) {
                    end = current->second;
                } else {
                    w.pendingQuit[it->second] = true;
                }
            }
            if (end) {
                end();
            }
        });
    });
    return id;
}

void KillThreadTimer(uint32_t id) {
    ThreadWaits& w = Waits();
    std::lock_guard guard(w.lock);
    const auto it = w.timers.find(id);
    if (it != w.timers.end()) {
        w.pendingQuit.erase(it->second);
        w.timers.erase(it);
    }
}

namespace qt {

QImage* BackBufferOf(WindowHandle window) {
    DialogWindow* d = IsGuiThread() ? DialogOf(window) : nullptr;
    return d == nullptr ? nullptr : d->BackBuffer();
}

void EndPaintOf(WindowHandle window) {
    if (DialogWindow* d = IsGuiThread() ? DialogOf(window) : nullptr) {
        d->MarkPainted();
    }
}

QWidget* WidgetOf(WindowHandle window) {
    const auto it = Windows().find(window.id);
    return it == Windows().end() ? nullptr : it->second.widget.data();
}

WindowHandle HandleOf(const QWidget* widget) {
    if (widget == nullptr) {
        return {};
    }
    for (const auto& [id, entry] : Windows()) {
        if (entry.control == -1 && entry.widget.data() == widget) {
            return WindowHandle{id};
        }
    }
    return {};
}

// Message boxes on the GUI thread; a box asked for by another thread is shown
// there while the asking thread waits for the answer.
namespace {

MessageBoxResult ToResult(int button) {
    switch (button) {
        case QMessageBox::Yes:
            return MessageBoxResult::Yes;
        case QMessageBox::No:
            return MessageBoxResult::No;
        default:
            return MessageBoxResult::Ok;
    }
}

QMessageBox* MakeBox(WindowHandle owner, std::u16string_view text, std::u16string_view caption,
                     MessageBoxButtons buttons) {
    auto* box = new QMessageBox(WidgetOf(owner));
    box->setWindowTitle(ToQString(caption));
    box->setText(ToQString(text));
    // Wide enough that the program's texts break only at their own line
    // breaks, and a saved file's path reads as one line where it fits.
    box->setStyleSheet(QStringLiteral("QLabel#qt_msgbox_label { min-width: 400px; }"));
    if (buttons == MessageBoxButtons::YesNo) {
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box->setDefaultButton(QMessageBox::Yes);
        box->setIcon(QMessageBox::Question);
    } else {
        // The same box says "FILE SAVED" and "CONNECTION FAILED": no icon
        // that would call every notice a warning.
        box->setStandardButtons(QMessageBox::Ok);
        box->setIcon(QMessageBox::NoIcon);
    }
    return box;
}

MessageBoxResult ShowBox(WindowHandle owner, std::u16string_view text, std::u16string_view caption,
                         MessageBoxButtons buttons) {
    const auto self = std::this_thread::get_id();
    if (IsGuiThread()) {
        std::unique_ptr<QMessageBox> box(MakeBox(owner, text, caption, buttons));
        QPointer<QMessageBox> guard(box.get());
        BeginThreadWait(self, [guard] {
            PostToGui([guard] {
                if (guard) {
                    guard->done(QMessageBox::Ok);
                }
            });
        });
        const int answer = box->exec();
        EndThreadWait(self);
        return ToResult(answer);
    }
    auto notice = std::make_shared<EndState>();
    QPointer<QMessageBox> shown;
    const std::u16string textCopy(text);
    const std::u16string captionCopy(caption);
    if (!RunOnGui([&] {
            QMessageBox* box = MakeBox(owner, textCopy, captionCopy, buttons);
            box->setAttribute(Qt::WA_DeleteOnClose, false);
            QObject::connect(box, &QMessageBox::finished, box, [box, notice](int answer) {
                notice->Finish(static_cast<int>(ToResult(answer)));
                box->deleteLater();
            });
            shown = box;
            box->show();
        })) {
        return buttons == MessageBoxButtons::YesNo ? MessageBoxResult::No : MessageBoxResult::Ok;
    }
    BeginThreadWait(self, [shown] {
        PostToGui([shown] {
            if (shown) {
                shown->done(QMessageBox::Ok);
            }
        });
    });
    const int answer = notice->Wait();
    EndThreadWait(self);
    return static_cast<MessageBoxResult>(answer);
}

}  // namespace

void InstallMessageBoxes() {
    SetMessageBoxPresenter(&ShowBox);
}

void RemoveMessageBoxes() {
    SetMessageBoxPresenter({});
}

}  // namespace qt
}  // namespace platform
