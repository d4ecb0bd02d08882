// The modal loops: a dialog run on the GUI thread or for another thread, the
// message boxes, and the thread timers that end what a thread waits for.
#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <thread>

#include "platform/kernel/Kernel.h"
#include "platform/ui/Application.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/DialogWindow.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/QtSupport.h"

namespace platform {
namespace {

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

}  // namespace

namespace qt {

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

}  // namespace qt

using qt::BeginThreadWait;
using qt::DialogOf;
using qt::DialogStack;
using qt::DialogWindow;
using qt::EndState;
using qt::EndThreadWait;
using qt::OnGui;

namespace {

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
        } else if (qt::CanKeepBehind(d)) {
            if (behind) {
                d->setAttribute(Qt::WA_ShowWithoutActivating);
            }
            d->show();
            if (behind) {
                d->lower();
            }
        }
        // Elsewhere it is never shown: its modal loop runs all the same and
        // ends as the program ends it, and the black behind the screens is
        // their own full-screen background.
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

// The handset screen's scale on the screen a box shows on: 1 for 480 x 640.
double FrameScale(const QWidget* owner) {
    const QScreen* screen = owner != nullptr && owner->screen() != nullptr
                                ? owner->screen()
                                : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return 1.0;
    }
    const QRect area = owner != nullptr ? owner->window()->geometry() : screen->availableGeometry();
    return std::max(0.25, std::min(area.width() / 480.0, area.height() / 640.0));
}

// A message box drawn by the program the same on every platform: a framed
// panel with its caption in a bar on top, centred over its owner (or the
// screen), the buttons in the program's capitals.
class FramedBox final : public QMessageBox {
public:
    explicit FramedBox(QWidget* owner) : QMessageBox(owner) {
        setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
        const double k = FrameScale(owner);
        border_ = std::max(1, static_cast<int>(std::lround(3 * k)));
        QFont f = font();
        f.setPixelSize(std::max(6, static_cast<int>(std::lround(17 * k))));
        setFont(f);
        captionHeight_ =
            QFontMetrics(f).height() + 2 * border_ + static_cast<int>(std::lround(8 * k));
        setContentsMargins(border_, captionHeight_, border_, border_);
        QPalette p = palette();
        p.setColor(QPalette::Window, QColor(32, 32, 36));
        setPalette(p);
        setAutoFillBackground(true);
        // The longest line of the program's texts on one line; a saved
        // file's path wraps at its slashes.
        setStyleSheet(QStringLiteral("QLabel#qt_msgbox_label { min-width: %1px; max-width: %1px; }")
                          .arg(static_cast<int>(std::lround(380 * k))));
    }
    int CaptionHeight() const { return captionHeight_; }

protected:
    void paintEvent(QPaintEvent* event) override {
        QMessageBox::paintEvent(event);
        QPainter painter(this);
        const QRect all = rect();
        painter.fillRect(QRect(0, 0, all.width(), captionHeight_), QColor(38, 86, 160));
        painter.setPen(
            QPen(QColor(200, 200, 200), border_, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter.setBrush(Qt::NoBrush);
        const int half = border_ / 2;
        painter.drawRect(all.adjusted(half, half, -(border_ - half), -(border_ - half)));
        painter.setPen(Qt::white);
        painter.setFont(font());
        painter.drawText(
            QRect(border_, border_, all.width() - 2 * border_, captionHeight_ - border_),
            Qt::AlignCenter, windowTitle());
    }
    void showEvent(QShowEvent* event) override {
        QMessageBox::showEvent(event);
        const QWidget* owner = parentWidget();
        QRect area;
        if (owner != nullptr) {
            area = owner->window()->geometry();
        } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            area = screen->availableGeometry();
        }
        if (area.isValid()) {
            QRect placed(QPoint(0, 0), size());
            placed.moveCenter(area.center());
            move(placed.topLeft());
        }
    }

private:
    int border_ = 3;
    int captionHeight_ = 30;
};

QMessageBox* MakeBox(WindowHandle owner, std::u16string_view text, std::u16string_view caption,
                     MessageBoxButtons buttons) {
    auto* box = new FramedBox(WidgetOf(owner));
    box->setWindowTitle(ToQString(caption));
    box->setText(ToQString(text));
    box->setTextFormat(Qt::PlainText);
    box->setIcon(QMessageBox::NoIcon);
    if (buttons == MessageBoxButtons::YesNo) {
        box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        // The design's default: the first button.
        box->setDefaultButton(QMessageBox::Yes);
        box->button(QMessageBox::Yes)->setText(QStringLiteral("YES"));
        box->button(QMessageBox::No)->setText(QStringLiteral("NO"));
    } else {
        // The same box says "FILE SAVED" and "CONNECTION FAILED": no icon
        // that would call every notice a warning.
        box->setStandardButtons(QMessageBox::Ok);
        box->setDefaultButton(QMessageBox::Ok);
        box->button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
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
        QTimer::singleShot(0, box.get(), [] { NoteBoxShown(); });
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
    NoteBoxShown();
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
