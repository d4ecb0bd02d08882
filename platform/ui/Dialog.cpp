// The calls on dialogs and their controls: texts, lists, enabling, painting,
// the window's place on the screen and the wait cursor. Any thread may make
// them; they run on the GUI thread.
#include "platform/ui/Dialog.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>

#include "platform/ui/Application.h"
#include "platform/ui/DialogWindow.h"
#include "platform/ui/QtSupport.h"

namespace platform {

using qt::ControlWidget;
using qt::DialogOf;
using qt::DialogWindow;
using qt::OnGui;
using qt::Windows;

namespace {

bool g_waitCursor = false;  // GUI thread only

}  // namespace

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
            if (it->second.control != -1 && it->second.dialog != nullptr) {
                it->second.dialog->TextChanged(it->second.control);
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
            d->GoFullScreen();
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

namespace qt {

QTransform PaintTransformOf(WindowHandle window) {
    DialogWindow* d = IsGuiThread() ? DialogOf(window) : nullptr;
    return d == nullptr ? QTransform() : d->Frame();
}

QImage* BackBufferOf(WindowHandle window) {
    DialogWindow* d = IsGuiThread() ? DialogOf(window) : nullptr;
    return d == nullptr ? nullptr : d->BackBuffer();
}

void EndPaintOf(WindowHandle window) {
    if (DialogWindow* d = IsGuiThread() ? DialogOf(window) : nullptr) {
        d->MarkPainted();
    }
}

bool CanKeepBehind(const QWidget* window) {
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        return false;
    }
    return (window->windowState() & Qt::WindowFullScreen) != 0;
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

}  // namespace qt
}  // namespace platform
