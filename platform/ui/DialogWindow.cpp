#include "platform/ui/DialogWindow.h"
#include "platform/ui/QtSupport.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTouchEvent>
#include <algorithm>
#include <cmath>

namespace platform::qt {
namespace {

// A list box as the keyboard meets it: focus alone makes no row current, so
// that the first arrow press picks the first device rather than the second.
class ListBox final : public QListWidget {
public:
    using QListWidget::QListWidget;

protected:
    void focusInEvent(QFocusEvent* event) override {
        const bool noSelection = selectedItems().isEmpty();
        QListWidget::focusInEvent(event);
        if (noSelection) {
            selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        }
    }
};

}  // namespace

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
    setAttribute(Qt::WA_AcceptTouchEvents);
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

void DialogWindow::GoFullScreen() {
    // phoc 0.24 draws a toplevel that is full screen from its first commit
    // at a size it had before, or not at all (a plain full-screen Qt window
    // at 720 x 1440, scale 2: nothing of it, or its upper two thirds), and
    // keeps one that asks later maximised. On Wayland the screen is the
    // compositor's: a maximised window without decorations is the whole of
    // what it gives an application (a phone shell keeps its status bar).
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        setWindowFlag(Qt::FramelessWindowHint, true);
        setWindowState((windowState() & ~Qt::WindowFullScreen) | Qt::WindowMaximized);
        return;
    }
    setWindowState(Qt::WindowFullScreen);
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

bool DialogWindow::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd: {
            auto* touch = static_cast<QTouchEvent*>(event);
            for (const QEventPoint& p : touch->points()) {
                const QPoint at = p.position().toPoint();
                if (p.state() == QEventPoint::Pressed && penFinger_ == -1) {
                    if (event->type() == QEvent::TouchBegin && childAt(at) != nullptr) {
                        // A control's touch: Qt makes it the control's click.
                        event->ignore();
                        return false;
                    }
                    penFinger_ = p.id();
                    Send(kMsgPenDown, 0, MakePenPosition(at.x(), at.y()));
                } else if (p.state() == QEventPoint::Released && p.id() == penFinger_) {
                    penFinger_ = -1;
                    Send(kMsgPenUp, 0, MakePenPosition(at.x(), at.y()));
                }
            }
            if (event->type() == QEvent::TouchEnd && penFinger_ != -1) {
                // The sequence is over whatever its last points said.
                penFinger_ = -1;
                Send(kMsgPenUp, 0, MakePenPosition(0, 0));
            }
            event->accept();
            return true;
        }
        case QEvent::TouchCancel:
            if (penFinger_ != -1) {
                penFinger_ = -1;
                Send(kMsgKillFocus);
            }
            event->accept();
            return true;
        default:
            return QDialog::event(event);
    }
}

void DialogWindow::mousePressEvent(QMouseEvent* event) {
    // A mouse event made from a touch: the touch itself was the press.
    if (event->source() != Qt::MouseEventNotSynthesized) {
        return;
    }
    if (event->button() == Qt::LeftButton) {
        const QPoint p = event->position().toPoint();
        Send(kMsgPenDown, 0, MakePenPosition(p.x(), p.y()));
    }
}

void DialogWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (event->source() != Qt::MouseEventNotSynthesized) {
        return;
    }
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
            auto* list = new ListBox(this);
            list->setSelectionMode(QAbstractItemView::SingleSelection);
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

namespace {

// The design's font: 5 vertical dialog units of pixel height, as the
// handset's Tahoma 8 showed on its 480 x 640 screen.
constexpr double kFontUnits = 5.0;
// Below this a text is no longer read; layouts that small are not made.
constexpr int kSmallestPixels = 6;

// What a control's text is laid out with, and in what room.
struct TextRoom {
    QString text;
    QRect room;
    int flags = 0;
};

bool TextRoomOf(QWidget* widget, TextRoom& out) {
    if (auto* label = qobject_cast<QLabel*>(widget); label && label->pixmap().isNull()) {
        out.text = label->text();
        out.room = label->contentsRect();
        out.flags = static_cast<int>(label->alignment()) |
                    (label->wordWrap() ? static_cast<int>(Qt::TextWordWrap) : 0);
        return true;
    }
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        out.text = button->text();
        out.room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        out.flags = Qt::AlignCenter;
        return true;
    }
    return false;
}

}  // namespace

void DialogWindow::FitFont(const Control& c) {
    QFont f = font();
    f.setPixelSize(fontPixels_);
    TextRoom t;
    if (TextRoomOf(c.widget, t) && !t.text.isEmpty()) {
        // The largest size up to the design's at which the whole text fits.
        for (int size = fontPixels_; size >= kSmallestPixels; --size) {
            f.setPixelSize(size);
            const QRect box = QFontMetrics(f).boundingRect(t.room, t.flags, t.text);
            if (t.room.contains(box)) {
                break;
            }
        }
    }
    c.widget->setFont(f);
}

void DialogWindow::TextChanged(int index) {
    FitFont(controls_[static_cast<size_t>(index)]);
}

void DialogWindow::Layout() {
    // The handset's screen, as large as the window holds it and centred.
    const double k = std::min(width() / 480.0, height() / 640.0);
    const double left = (width() - 480.0 * k) / 2.0;
    const double top = (height() - 640.0 * k) / 2.0;
    frame_ = controls_.empty() ? QTransform() : QTransform(k, 0, 0, k, left, top);
    const double ux = 480.0 * k / kReferenceUnitsWide;
    const double uy = 640.0 * k / kReferenceUnitsHigh;
    fontPixels_ = std::max(kSmallestPixels, static_cast<int>(std::lround(uy * kFontUnits)));
    QFont f = font();
    f.setPixelSize(fontPixels_);
    setFont(f);
    for (const Control& c : controls_) {
        const int x = static_cast<int>(std::lround(left + c.tmpl->x * ux));
        const int y = static_cast<int>(std::lround(top + c.tmpl->y * uy));
        int w = static_cast<int>(std::lround(c.tmpl->width * ux));
        int h = static_cast<int>(std::lround(c.tmpl->height * uy));
        if (c.tmpl->kind == ControlKind::Picture) {
            // A bitmap picture takes its bitmap's size, scaled as the frame is.
            if (auto* label = qobject_cast<QLabel*>(c.widget); label && !label->pixmap().isNull()) {
                w = static_cast<int>(std::lround(label->pixmap().width() * k));
                h = static_cast<int>(std::lround(label->pixmap().height() * k));
                label->setScaledContents(true);
            }
        }
        if (auto* list = qobject_cast<QListWidget*>(c.widget)) {
            // Rows a finger can hit, inside a visible border, growing with the frame.
            const int padding = std::max(1, static_cast<int>(std::lround(4 * k)));
            list->setStyleSheet(QStringLiteral("QListWidget { border: 1px solid #808080; }"
                                               " QListWidget::item { padding: %1px 2px; }")
                                    .arg(padding));
        }
        c.widget->setGeometry(x, y, w, h);
        FitFont(c);
    }
}

QPushButton* DialogWindow::ButtonForKey(int key) {
    QPushButton* found = nullptr;
    for (const Control& c : controls_) {
        auto* button = qobject_cast<QPushButton*>(c.widget);
        if (button == nullptr) {
            continue;
        }
        if (key == Qt::Key_Escape) {
            if (c.tmpl->id == 2) {
                found = button;
            }
        } else if ((c.tmpl->style & style::kDefault) != 0) {
            found = button;
            break;
        } else if (c.tmpl->id == 1 && found == nullptr) {
            found = button;
        }
    }
    return found != nullptr && found->isEnabled() && found->isVisible() ? found : nullptr;
}

void DialogWindow::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
            // Only what a button of the screen does: a screen without one
            // ignores the key.
            // Return presses the button that has the focus, as a click would;
            // elsewhere the screen's default.
            auto* focused = qobject_cast<QPushButton*>(focusWidget());
            QPushButton* button =
                key != Qt::Key_Escape && focused != nullptr && focused->isEnabled() &&
                        focused->window() == this
                    ? focused
                    : ButtonForKey(key == Qt::Key_Escape ? Qt::Key_Escape : Qt::Key_Return);
            if (button != nullptr) {
                button->click();
            }
            event->accept();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

}  // namespace platform::qt
