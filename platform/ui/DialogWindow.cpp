#include "platform/ui/QtSupport.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <cmath>

namespace platform::qt {

std::map<uint64_t, WindowEntry>& Windows() {
    static auto* windows = new std::map<uint64_t, WindowEntry>;
    return *windows;
}

std::vector<uint64_t>& DialogStack() {
    static auto* stack = new std::vector<uint64_t>;
    return *stack;
}

DialogWindow* DialogOf(WindowHandle window) {
    const auto it = Windows().find(window.id);
    if (it == Windows().end() || it->second.control != -1 || it->second.widget.isNull()) {
        return nullptr;
    }
    return it->second.dialog;
}

DialogWindow::DialogWindow(const ResourceModule* module, const DialogTemplate& tmpl,
                           WindowProcedure procedure)
    : module_(module), procedure_(std::move(procedure)) {
    setWindowTitle(qt::ToQString(tmpl.title));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAutoFillBackground(false);
    QFont font(qt::ToQString(tmpl.font));
    setFont(font);
    handle_ =
        CreateMessageWindow([this](WindowHandle w, uint32_t m, uintptr_t wp,
                                   intptr_t lp) -> intptr_t { return procedure_(w, m, wp, lp); });
    Windows()[handle_.id] = WindowEntry{this, this, -1};
    for (const ControlTemplate& c : tmpl.controls) {
        AddControl(c);
    }
    // A turned screen restacks the windows without moving or sizing them.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        connect(screen, &QScreen::orientationChanged, this, [this] {
            WindowPosition pos{
                handle_, x(),      y(),
                width(), height(), kPosNoSize | kPosNoMove | kPosNoActivate | kPosNoOwnerZOrder};
            Send(kMsgWindowPosChanged, 0, reinterpret_cast<intptr_t>(&pos));
        });
    }
    // Before the shell's initialisation sizes it: the template's own size.
    resize(tmpl.width * 480 / kReferenceUnitsWide, tmpl.height * 640 / kReferenceUnitsHigh);
    Layout();
}

DialogWindow::~DialogWindow() {
    for (const Control& c : controls_) {
        DestroyMessageWindow(c.handle);
        Windows().erase(c.handle.id);
    }
    DestroyMessageWindow(handle_);
    Windows().erase(handle_.id);
}

intptr_t DialogWindow::Send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (ended_ && message != kMsgPaint) {
        return 0;
    }
    return SendWindowMessage(handle_, message, wParam, lParam);
}

void DialogWindow::End(int value) {
    if (ended_) {
        return;
    }
    ended_ = true;
    result_ = value;
    endState_->Finish(value);
    QDialog::done(value);
}

QWidget* DialogWindow::FindControl(int id, int* index) {
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

void DialogWindow::paintEvent(QPaintEvent*) {
    // One back-buffer pixel for each of the screen's, so that a screen that
    // draws itself at that resolution is shown unstretched; drawing in the
    // window's own pixels is scaled onto it by the painter.
    const qreal ratio = devicePixelRatio();
    const QSize size(static_cast<int>(std::ceil(width() * ratio)),
                     static_cast<int>(std::ceil(height() * ratio)));
    if (backBuffer_.size() != size || backBuffer_.devicePixelRatio() != ratio) {
        backBuffer_ = QImage(size, QImage::Format_RGB32);
        backBuffer_.setDevicePixelRatio(ratio);
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

void DialogWindow::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    Layout();
    if (isVisible()) {
        WindowPosition pos{handle_, x(),      y(),
                           width(), height(), kPosNoMove | kPosNoZOrder | kPosNoActivate};
        Send(kMsgWindowPosChanged, 0, reinterpret_cast<intptr_t>(&pos));
    }
}

void DialogWindow::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange) {
        const bool active = isActiveWindow();
        Send(kMsgActivate, active ? 1 : 0);
        Send(active ? kMsgSetFocus : kMsgKillFocus);
    }
}

void DialogWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QPoint p = event->position().toPoint();
        Send(kMsgPenDown, 0, MakePenPosition(p.x(), p.y()));
    }
}

void DialogWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const QPoint p = event->position().toPoint();
        Send(kMsgPenUp, 0, MakePenPosition(p.x(), p.y()));
    }
}

void DialogWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    Send(kMsgCommand, MakeCommand(1, kNotifyClicked));
}

void DialogWindow::reject() {
    Send(kMsgCommand, MakeCommand(2, kNotifyClicked));
}

void DialogWindow::accept() {
    Send(kMsgCommand, MakeCommand(1, kNotifyClicked));
}

void DialogWindow::AddControl(const ControlTemplate& c) {
    QWidget* widget = nullptr;
    const int id = c.id;
    switch (c.kind) {
        case ControlKind::StaticText: {
            auto* label = new QLabel(qt::ToQString(c.text), this);
            label->setAlignment((c.style & 0x3) == style::kCentre ? Qt::AlignHCenter | Qt::AlignTop
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

intptr_t DialogWindow::ControlProcedure(int index, uint32_t message, uintptr_t wParam,
                                        intptr_t lParam) {
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

void DialogWindow::Layout() {
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
            if (auto* label = qobject_cast<QLabel*>(c.widget); label && !label->pixmap().isNull()) {
                const double scale = width() / 480.0;
                w = static_cast<int>(std::lround(label->pixmap().width() * scale));
                h = static_cast<int>(std::lround(label->pixmap().height() * scale));
                label->setScaledContents(true);
            }
        }
        c.widget->setGeometry(x, y, w, h);
    }
}

}  // namespace platform::qt
