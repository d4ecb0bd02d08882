#include "testkit/ui/ProgramDriver.h"

#include <unistd.h>
#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/EntryPoint.h"
#include "core/AppRegistry.h"
#include "resources/Dialogs.h"
#include "ui/ScreenFitter.h"

namespace e2e {

namespace {

const QString kTitle = QStringLiteral("Camora Controller");

bool IsProgramScreen(QWidget* w) {
    return w->isVisible() && w->windowTitle() == kTitle && w->inherits("QDialog");
}

QAbstractButton* ButtonOf(QWidget* parent, const QString& text) {
    for (QAbstractButton* b : parent->findChildren<QAbstractButton*>()) {
        if (b->isVisible() && b->text().remove(QLatin1Char('&')) == text) {
            return b;
        }
    }
    return nullptr;
}

}  // namespace

void ProgramDriver::Step(std::string name, Action action, std::chrono::milliseconds limit) {
    steps_.push_back(Entry{std::move(name), std::move(action), limit});
}

void ProgramDriver::Note(const std::string& line) {
    std::fprintf(stderr, "e2e: %s\n", line.c_str());
    std::fflush(stderr);
}

void ProgramDriver::Fail(const std::string& why) {
    Note("FAILED: " + why);
    // The program's threads run on: end without the exit work.
    _exit(3);
}

int ProgramDriver::RunProgram() {
    stepStart_ = std::chrono::steady_clock::now();
    auto* timer = new QTimer;  // lives as long as the program
    QObject::connect(timer, &QTimer::timeout, [this] { Tick(); });
    timer->start(5);
    return AppEntryPoint(ui::ProgramModule());
}

void ProgramDriver::Tick() {
    static bool busy = false;
    // A step that opens a modal loop (a click on a button whose handler
    // shows a box) runs further ticks inside it: one step at a time.
    if (busy || next_ >= steps_.size()) {
        return;
    }
    busy = true;
    Entry& step = steps_[next_];
    if (step.action()) {
        Note("step done: " + step.name);
        ++next_;
        stepStart_ = std::chrono::steady_clock::now();
    } else if (std::chrono::steady_clock::now() - stepStart_ > step.limit) {
        Fail("step timed out: " + step.name);
    }
    busy = false;
}

QDialog* ProgramDriver::ScreenWith(const QString& text) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!IsProgramScreen(w)) {
            continue;
        }
        if (ButtonOf(w, text) != nullptr) {
            return static_cast<QDialog*>(w);
        }
        for (QLabel* l : w->findChildren<QLabel*>()) {
            if (l->isVisible() && l->text() == text) {
                return static_cast<QDialog*>(w);
            }
        }
    }
    return nullptr;
}

QMessageBox* ProgramDriver::Box() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
            return box;
        }
    }
    return nullptr;
}

bool ProgramDriver::Answer(const QString& caption, const QString& text, const QString& button) {
    QMessageBox* box = Box();
    if (box == nullptr) {
        return false;
    }
    Note("box: " + box->windowTitle().toStdString() + " | " +
         box->text().replace(QLatin1Char('\n'), QStringLiteral("\\n")).toStdString());
    if (box->windowTitle() != caption || box->text() != text) {
        Fail("unexpected box");
    }
    QAbstractButton* b = ButtonOf(box, button);
    if (b == nullptr) {
        Fail("the box has no button " + button.toStdString());
    }
    // Deferred: the click runs the rest of the program inside this timer otherwise.
    QTimer::singleShot(0, b, [b] { QTest::mouseClick(b, Qt::LeftButton); });
    return true;
}

bool ProgramDriver::Click(QDialog* screen, const QString& button) {
    if (screen == nullptr) {
        return false;
    }
    QAbstractButton* b = ButtonOf(screen, button);
    if (b == nullptr || !b->isEnabled()) {
        return false;
    }
    QTimer::singleShot(0, b, [b] { QTest::mouseClick(b, Qt::LeftButton); });
    return true;
}

bool ProgramDriver::Enabled(QDialog* screen, const QString& button) {
    QAbstractButton* b = screen != nullptr ? ButtonOf(screen, button) : nullptr;
    return b != nullptr && b->isEnabled();
}

std::vector<QString> ProgramDriver::ListItems(QDialog* screen) {
    std::vector<QString> items;
    if (auto* list = screen != nullptr ? screen->findChild<QListWidget*>() : nullptr) {
        for (int i = 0; i < list->count(); ++i) {
            items.push_back(list->item(i)->text());
        }
    }
    return items;
}

bool ProgramDriver::ClickItem(QDialog* screen, const QString& text) {
    auto* list = screen != nullptr ? screen->findChild<QListWidget*>() : nullptr;
    if (list == nullptr) {
        return false;
    }
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->text() == text) {
            const QPoint at = list->visualItemRect(list->item(i)).center();
            QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
            return true;
        }
    }
    return false;
}

QDialog* ProgramDriver::MainScreen() {
    QWidget* w = QApplication::activeModalWidget();
    if (w == nullptr || !IsProgramScreen(w) || !w->findChildren<QAbstractButton*>().isEmpty() ||
        AppRegistry.screenFitter == nullptr) {
        return nullptr;
    }
    return static_cast<QDialog*>(w);
}

bool ProgramDriver::TapPanel(QPoint panelPoint) {
    QDialog* screen = MainScreen();
    if (screen == nullptr) {
        return false;
    }
    const CScreenFitter* f = AppRegistry.screenFitter;
    const QPoint at(static_cast<int>(f->DrawX() + panelPoint.x() * f->Scale() + 0.5),
                    static_cast<int>(f->DrawY() + panelPoint.y() * f->Scale() + 0.5));
    QTest::mousePress(screen, Qt::LeftButton, Qt::NoModifier, at);
    QTest::mouseRelease(screen, Qt::LeftButton, Qt::NoModifier, at);
    return true;
}

}  // namespace e2e
