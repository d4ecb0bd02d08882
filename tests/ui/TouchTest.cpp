// Fingers on a screen as the pen, on Qt's offscreen platform: the first finger
// presses, others are ignored while it is down, a cancelled touch is a focus
// loss, mouse events made from a touch never press again, and a touch on a
// control is that control's click.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QPointingDevice>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTouchEvent>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/Dialog.h"
#include "platform/ui/QtSupport.h"
#include "resources/Dialogs.h"
#include "resources/ResourceIds.h"

using namespace platform;

namespace {

QPointingDevice* TouchScreen() {
    static QPointingDevice* device =
        QTest::createTouchDevice(QInputDevice::DeviceType::TouchScreen);
    return device;
}

// What the screen's procedure was told, one line per message.
std::vector<std::string>* g_transcript = nullptr;

intptr_t RecordingProcedure(WindowHandle, uint32_t m, uintptr_t wp, intptr_t lp) {
    const auto at = [lp] { return std::to_string(PenX(lp)) + "," + std::to_string(PenY(lp)); };
    switch (m) {
        case kMsgPenDown:
            g_transcript->push_back("down " + at());
            break;
        case kMsgPenUp:
            g_transcript->push_back("up " + at());
            break;
        case kMsgKillFocus:
            g_transcript->push_back("focus lost");
            break;
        case kMsgCommand:
            g_transcript->push_back("command " + std::to_string(CommandId(wp)));
            break;
        default:
            break;
    }
    return 0;
}

using Fingers = QTest::QTouchEventWidgetSequence;

void Synthesised(QWidget* w, QEvent::Type type, QPoint at) {
    QMouseEvent e(type, at, w->mapToGlobal(at), w->mapToGlobal(at), Qt::LeftButton,
                  type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                  Qt::NoModifier, Qt::MouseEventSynthesizedByQt, TouchScreen());
    QApplication::sendEvent(w, &e);
}

void Cancel(QWidget* w) {
    QTouchEvent e(QEvent::TouchCancel, TouchScreen());
    QApplication::sendEvent(w, &e);
}

struct Case {
    const char* name;
    uint32_t dialog;
    std::function<void(QWidget*)> play;
    std::vector<std::string> expected;
};

// The OK button's centre on the instruction screen.
QPoint ButtonCentre(QWidget* w) {
    for (auto* b : w->findChildren<QPushButton*>()) {
        return b->geometry().center();
    }
    return {};
}

std::vector<std::string> Play(const Case& c) {
    std::vector<std::string> transcript;
    g_transcript = &transcript;
    struct Script {
        static Script*& Current() {
            static Script* s = nullptr;
            return s;
        }
        const Case* c;
    } script{&c};
    Script::Current() = &script;
    const WindowProcedure procedure = [](WindowHandle w, uint32_t m, uintptr_t wp,
                                         intptr_t lp) -> intptr_t {
        if (m == kMsgInitDialog) {
            QTimer::singleShot(0, [w] {
                QWidget* widget = qt::WidgetOf(w);
                Script::Current()->c->play(widget);
                QApplication::processEvents();
                EndDialog(w, 5);
            });
            return 0;
        }
        return RecordingProcedure(w, m, wp, lp);
    };
    EXPECT_EQ(RunModalDialog(ui::ProgramModule(), c.dialog, procedure), 5) << c.name;
    g_transcript = nullptr;
    Script::Current() = nullptr;
    return transcript;
}

TEST(TouchTest, FingersBecomeThePenAsTheScreensExpect) {
    const QPoint a(100, 200), b(300, 400), c(50, 500);
    const std::vector<Case> cases = {
        {"a tap presses and lifts once",
         ui::res::kDlgBackdrop,
         [&](QWidget* w) {
             QTest::touchEvent(w, TouchScreen()).press(0, a);
             QTest::touchEvent(w, TouchScreen()).release(0, a);
         },
         {"down 100,200", "up 100,200"}},
        {"the lift is where the finger left",
         ui::res::kDlgBackdrop,
         [&](QWidget* w) {
             QTest::touchEvent(w, TouchScreen()).press(0, a);
             QTest::touchEvent(w, TouchScreen()).move(0, b);
             QTest::touchEvent(w, TouchScreen()).release(0, b);
         },
         {"down 100,200", "up 300,400"}},
        {"a second finger while the first is down is ignored",
         ui::res::kDlgBackdrop,
         [&](QWidget* w) {
             QTest::touchEvent(w, TouchScreen()).press(0, a);
             QTest::touchEvent(w, TouchScreen()).stationary(0).press(1, b);
             QTest::touchEvent(w, TouchScreen()).stationary(0).release(1, b);
             QTest::touchEvent(w, TouchScreen()).release(0, a);
         },
         {"down 100,200", "up 100,200"}},
        {"the second finger lifting last lifts nothing",
         ui::res::kDlgBackdrop,
         [&](QWidget* w) {
             QTest::touchEvent(w, TouchScreen()).press(0, a);
             QTest::touchEvent(w, TouchScreen()).stationary(0).press(1, b);
             QTest::touchEvent(w, TouchScreen()).release(0, a).stationary(1);
             QTest::touchEvent(w, TouchScreen()).release(1, b);
         },
         {"down 100,200", "up 100,200"}},
        {"two fingers down at once: the first of them presses",
         ui::res::kDlgBackdrop,
         [&](QWidget* w) {
             QTest::touchEvent(w, TouchScreen()).press(0, a).press(1, b);
             QTest::touchEvent(w, TouchScreen()).release(0, a).release(1, b);
         },
         {"down 100,200", "up 100,200"}},
        {"a cancelled touch is a focus loss, and the next tap presses",
         ui::res::kDlgBackdrop,
         [&](QWidget* w) {
             QTest::touchEvent(w, TouchScreen()).press(0, a);
             Cancel(w);
             QTest::touchEvent(w, TouchScreen()).press(0, c);
             QTest::touchEvent(w, TouchScreen()).release(0, c);
         },
         {"down 100,200", "focus lost", "down 50,500", "up 50,500"}},
        {"a cancel without a finger down does nothing",
         ui::res::kDlgBackdrop,
         [&](QWidget* w) { Cancel(w); },
         {}},
        {"mouse events made from the touch never press again",
         ui::res::kDlgBackdrop,
         [&](QWidget* w) {
             QTest::touchEvent(w, TouchScreen()).press(0, a);
             Synthesised(w, QEvent::MouseButtonPress, a);
             Synthesised(w, QEvent::MouseButtonRelease, a);
             QTest::touchEvent(w, TouchScreen()).release(0, a);
             Synthesised(w, QEvent::MouseButtonPress, b);
             Synthesised(w, QEvent::MouseButtonRelease, b);
         },
         {"down 100,200", "up 100,200"}},
        {"a real mouse still presses",
         ui::res::kDlgBackdrop,
         [&](QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, b); },
         {"down 300,400", "up 300,400"}},
        {"a touch on a control is its click, not the pen",
         ui::res::kDlgInstruction,
         [&](QWidget* w) {
             const QPoint ok = ButtonCentre(w);
             QTest::touchEvent(w, TouchScreen()).press(0, ok);
             QTest::touchEvent(w, TouchScreen()).release(0, ok);
         },
         {"command 1"}},
    };
    for (const Case& row : cases) {
        EXPECT_EQ(Play(row), row.expected) << row.name;
    }
}

}  // namespace
