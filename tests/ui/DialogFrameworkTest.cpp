// The dialog framework on Qt's offscreen platform: modal loops, procedures,
// synchronous sends from workers, message boxes and the timed box, the
// display's orientation and the backdrop.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "core/AppRegistry.h"
#include "platform/kernel/Kernel.h"
#include "platform/ui/Application.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/Display.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/QtSupport.h"
#include "resources/Dialogs.h"
#include "resources/ResourceIds.h"
#include "testkit/PumpUntil.h"
#include "testkit/TempDeviceRoot.h"
#include "ui/BackgroundDialog.h"
#include "ui/DialogBase.h"

using namespace platform;
using namespace std::chrono_literals;

namespace {

// The message box shown now (on the GUI thread), or null.
QMessageBox* OpenBox() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) {
            return box;
        }
    }
    return nullptr;
}

// A procedure built from a lambda: the dialog's state lives in the test. Each
// slot is a procedure of its own, for dialogs open at the same time.
template <int Slot>
struct Slotted {
    std::function<intptr_t(WindowHandle, uint32_t, uintptr_t, intptr_t)> handle;
    static Slotted*& Current() {
        static Slotted* current = nullptr;
        return current;
    }
    static intptr_t Procedure(WindowHandle w, uint32_t m, uintptr_t wp, intptr_t lp) {
        return Current()->handle(w, m, wp, lp);
    }
    explicit Slotted(decltype(handle) h) : handle(std::move(h)) { Current() = this; }
    ~Slotted() { Current() = nullptr; }
};
using Recorder = Slotted<0>;
using NestedRecorder = Slotted<1>;

class TestScreen : public CDialogBase {
public:
    explicit TestScreen(int tmpl = ui::res::kDlgSelect) : tmpl_(tmpl) {}
    int DoModal() override { return DoModalTemplate(tmpl_, dialogProc); }

private:
    int tmpl_;
};

class DialogFrameworkTest : public ::testing::Test {
protected:
    void TearDown() override {
        SetDisplayBackend({});
        SetTimeScale(1.0);
    }
};

TEST_F(DialogFrameworkTest, DoModalWithoutInitOrProcedureReturnsMinusOne) {
    CBackgroundDialog backdrop;
    EXPECT_EQ(backdrop.DoModal(), -1);
    TestScreen screen;
    screen.Init(ui::ProgramModule(), nullptr);
    EXPECT_EQ(screen.DoModal(), -1) << "instance without procedure";
    EXPECT_EQ(RunModalDialog(ui::ProgramModule(), 9999, &Recorder::Procedure), -1)
        << "no such template";
}

TEST_F(DialogFrameworkTest, ProcedureSeesInitialisationThenCommandsAndEndsWithItsValue) {
    std::vector<uint32_t> messages;
    std::vector<int> commands;
    std::thread worker;
    Recorder recorder([&](WindowHandle w, uint32_t m, uintptr_t wp, intptr_t) -> intptr_t {
        if (m == kMsgInitDialog || m == kMsgCommand) {
            messages.push_back(m);
        }
        if (m == kMsgInitDialog) {
            worker = std::thread([w] {
                SendWindowMessage(w, kMsgCommand, MakeCommand(1007, 1));
                SendWindowMessage(w, kMsgCommand, MakeCommand(77, 0));
            });
        } else if (m == kMsgCommand) {
            commands.push_back(CommandId(wp));
            if (CommandId(wp) == 77) {
                EndDialog(w, 42);
                return 1;
            }
        }
        return 0;
    });
    TestScreen screen;
    screen.Init(ui::ProgramModule(), &Recorder::Procedure);
    EXPECT_EQ(screen.DoModal(), 42);
    worker.join();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.front(), kMsgInitDialog);
    EXPECT_EQ(commands, (std::vector<int>{1007, 77}));
}

TEST_F(DialogFrameworkTest, TheWindowManagersCloseRequestArrivesAsCommandOne) {
    std::vector<int> commands;
    Recorder recorder([&](WindowHandle w, uint32_t m, uintptr_t wp, intptr_t) -> intptr_t {
        if (m == kMsgInitDialog) {
            QTimer::singleShot(0, [] {
                if (QWidget* dialog = QApplication::activeModalWidget()) {
                    dialog->close();
                }
            });
        } else if (m == kMsgCommand) {
            commands.push_back(CommandId(wp));
            EndDialog(w, 9);
            return 1;
        }
        return 0;
    });
    EXPECT_EQ(RunModalDialog(ui::ProgramModule(), ui::res::kDlgVersion, &Recorder::Procedure), 9);
    EXPECT_EQ(commands, (std::vector<int>{1}));
}

TEST_F(DialogFrameworkTest, WorkersSendsCompleteInOrderWhileABoxAndANestedDialogRun) {
    constexpr int kThreads = 3;
    constexpr int kPerThread = 40;
    std::vector<std::vector<int>> seen(kThreads);
    int handledDuringBox = 0;
    int handledDuringNested = 0;
    bool inBox = false;
    bool inNested = false;
    // Steps that make the threads meet the box and the nested dialog for sure.
    std::atomic<bool> boxOpen{false}, boxClosed{false}, nestedOpen{false};
    std::vector<std::thread> workers;
    auto count = [&](int t) { return static_cast<int>(seen[static_cast<size_t>(t)].size()); };
    auto await = [](const std::atomic<bool>& flag) {
        EXPECT_TRUE(testsupport::PumpUntil([&] { return flag.load(); }));
    };

    Recorder recorder([&](WindowHandle w, uint32_t m, uintptr_t wp, intptr_t lp) -> intptr_t {
        if (m == kMsgInitDialog) {
            for (int t = 0; t < kThreads; ++t) {
                workers.emplace_back([&, w, t] {
                    for (int i = 0; i < kPerThread; ++i) {
                        if (t != 0 && i == 0) {
                            await(boxOpen);
                        }
                        if (t == 1 && i == 15) {
                            await(boxClosed);
                        }
                        if (t == 2 && i == 20) {
                            await(nestedOpen);
                        }
                        SendWindowMessage(w, kMsgApplication + 1, static_cast<uintptr_t>(t), i);
                    }
                });
            }
            return 0;
        }
        if (m != kMsgApplication + 1) {
            return 0;
        }
        const int t = static_cast<int>(wp);
        seen[static_cast<size_t>(t)].push_back(static_cast<int>(lp));
        handledDuringBox += inBox ? 1 : 0;
        handledDuringNested += inNested ? 1 : 0;
        if (t == 0 && lp == 5) {
            // A message box inside thread 0's send: the others' sends go on.
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, [&] {
                if (count(1) == 15 && count(2) == 20) {
                    if (QMessageBox* box = OpenBox()) {
                        box->button(QMessageBox::Ok)->click();
                    }
                }
            });
            poll.start(2);
            inBox = true;
            boxOpen = true;
            ShowMessageBox(w, u"busy", u"CHECK", MessageBoxButtons::Ok);
            inBox = false;
            boxClosed = true;
        }
        if (t == 1 && lp == 25) {
            // A nested modal dialog inside thread 1's send.
            inNested = true;
            {
                NestedRecorder nested(
                    [&](WindowHandle nw, uint32_t nm, uintptr_t, intptr_t) -> intptr_t {
                        if (nm == kMsgInitDialog) {
                            auto* poll = new QTimer(QCoreApplication::instance());
                            QObject::connect(poll, &QTimer::timeout, [&, nw, poll] {
                                if (count(0) == kPerThread && count(2) == kPerThread) {
                                    EndDialog(nw, 5);
                                    poll->stop();
                                    poll->deleteLater();
                                }
                            });
                            poll->start(2);
                            nestedOpen = true;
                        }
                        return 0;
                    });
                EXPECT_EQ(RunModalDialog(ui::ProgramModule(), ui::res::kDlgVersion,
                                         &NestedRecorder::Procedure),
                          5);
            }
            inNested = false;
        }
        if (count(0) + count(1) + count(2) == kThreads * kPerThread) {
            EndDialog(w, 1);
        }
        return 1;
    });
    EXPECT_EQ(RunModalDialog(ui::ProgramModule(), ui::res::kDlgSelect, &Recorder::Procedure), 1);
    for (auto& worker : workers) {
        worker.join();
    }
    std::vector<int> expected(kPerThread);
    for (int i = 0; i < kPerThread; ++i) {
        expected[static_cast<size_t>(i)] = i;
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(seen[static_cast<size_t>(t)], expected) << "thread " << t;
    }
    EXPECT_EQ(handledDuringBox, 15 + 20) << "threads 1 and 2 were served inside the box";
    EXPECT_GE(handledDuringNested, 20) << "thread 2 was served inside the nested dialog";
}

TEST_F(DialogFrameworkTest, ControlsBehaveAsTheScreensExpect) {
    std::vector<std::pair<int, int>> commands;
    int selectionAtNotice = -2;
    bool okEnabledAtStart = true;
    std::vector<intptr_t> positions;
    Recorder recorder([&](WindowHandle w, uint32_t m, uintptr_t wp, intptr_t) -> intptr_t {
        if (m == kMsgInitDialog) {
            const WindowHandle list = GetControl(w, static_cast<int>(ui::res::kCtlDeviceList));
            const WindowHandle ok = GetControl(w, static_cast<int>(ui::res::kCtlOk));
            EXPECT_TRUE(list);
            EXPECT_FALSE(GetControl(w, 4242)) << "no such control";
            okEnabledAtStart = IsControlEnabled(ok);
            EXPECT_EQ(ListBoxAddString(list, u"B"), 0);
            EXPECT_EQ(ListBoxAddString(list, u"A"), 1) << "inserted at the end, not sorted";
            EXPECT_EQ(ListBoxGetSelection(list), -1);
            EXPECT_EQ(ListBoxGetText(list, 1), u"A");
            EXPECT_EQ(ListBoxGetText(list, 2), u"");
            EXPECT_TRUE(
                SetControlText(w, static_cast<int>(ui::res::kCtlSelectLabel), u"TWO\r\nLINES"));
            EXPECT_EQ(GetWindowText(GetControl(w, static_cast<int>(ui::res::kCtlSelectLabel))),
                      u"TWO\r\nLINES");
            QTimer::singleShot(0, [list] { ListBoxSelect(list, 1); });
        } else if (m == kMsgCommand) {
            commands.emplace_back(CommandId(wp), CommandCode(wp));
            if (CommandId(wp) == static_cast<int>(ui::res::kCtlDeviceList) &&
                CommandCode(wp) == kNotifySelectionChanged) {
                const WindowHandle list = GetControl(w, static_cast<int>(ui::res::kCtlDeviceList));
                selectionAtNotice = ListBoxGetSelection(list);
                EnableControl(GetControl(w, static_cast<int>(ui::res::kCtlOk)), true);
                QTimer::singleShot(0, [] {
                    // The user presses the default button, now enabled: OK.
                    for (QAbstractButton* b :
                         QApplication::activeModalWidget()->findChildren<QAbstractButton*>()) {
                        if (b->isEnabled() && qobject_cast<QPushButton*>(b) != nullptr &&
                            qobject_cast<QPushButton*>(b)->isDefault()) {
                            b->click();
                        }
                    }
                });
            } else if (CommandId(wp) == static_cast<int>(ui::res::kCtlOk)) {
                EndDialog(w, 1);
                return 1;
            }
        }
        return 0;
    });
    EXPECT_EQ(RunModalDialog(ui::ProgramModule(), ui::res::kDlgSelect, &Recorder::Procedure), 1);
    EXPECT_FALSE(okEnabledAtStart) << "OK is disabled until a device is chosen";
    EXPECT_EQ(selectionAtNotice, 1);
    EXPECT_EQ(commands, (std::vector<std::pair<int, int>>{{1007, 1}, {1, 0}}));

    // The progress bar, stepped from a worker through synchronous sends.
    std::thread job;
    Recorder progress([&](WindowHandle w, uint32_t m, uintptr_t, intptr_t) -> intptr_t {
        if (m == kMsgInitDialog) {
            const WindowHandle bar =
                GetControl(w, static_cast<int>(ui::res::kCtlCaptureProgressBar));
            job = std::thread([&, w, bar] {
                SendWindowMessage(bar, kMsgProgressSetRange, 0, 3);
                SendWindowMessage(bar, kMsgProgressSetStep, 1);
                for (int i = 0; i < 3; ++i) {
                    SendWindowMessage(bar, kMsgProgressStep);
                    positions.push_back(SendWindowMessage(bar, kMsgProgressGetPosition));
                }
                SendWindowMessage(w, kMsgApplication + 201);
            });
        } else if (m == kMsgApplication + 201) {
            EndDialog(w, 1);
        }
        return 0;
    });
    EXPECT_EQ(
        RunModalDialog(ui::ProgramModule(), ui::res::kDlgCaptureProgress, &Recorder::Procedure), 1);
    job.join();
    EXPECT_EQ(positions, (std::vector<intptr_t>{1, 2, 3}));
}

TEST_F(DialogFrameworkTest, ASendToAnEndedDialogReturnsZeroAtOnce) {
    WindowHandle ended;
    Recorder recorder([&](WindowHandle w, uint32_t m, uintptr_t, intptr_t) -> intptr_t {
        if (m == kMsgInitDialog) {
            ended = w;
            EndDialog(w, 3);
        }
        return 1;
    });
    EXPECT_EQ(RunModalDialog(ui::ProgramModule(), ui::res::kDlgConnect, &Recorder::Procedure), 3);
    ASSERT_TRUE(ended);
    auto sent = std::async(std::launch::async,
                           [&] { return SendWindowMessage(ended, kMsgApplication + 0x12D); });
    ASSERT_EQ(sent.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(sent.get(), 0);
    EXPECT_FALSE(EndDialog(ended, 1));
}

TEST_F(DialogFrameworkTest, AWorkersMessageBoxBlocksThatWorkerOnly) {
    TestScreen screen(ui::res::kDlgConnect);
    int answer = 0;
    std::atomic<bool> answered{false};
    std::atomic<int> pings{0};
    std::thread asker, pinger;
    Recorder recorder([&](WindowHandle w, uint32_t m, uintptr_t, intptr_t) -> intptr_t {
        if (m == kMsgInitDialog) {
            screen.SetWindowHandle(w);
            asker = std::thread([&] {
                answer = screen.ShowMessage(109, 110, 4);
                answered = true;
            });
            pinger = std::thread([&, w] {
                for (int i = 0; i < 20; ++i) {
                    SendWindowMessage(w, kMsgApplication + 2);
                }
            });
            QTimer::singleShot(0, [&, w] {
                // The box is up and its worker waits; the other worker is served.
                EXPECT_TRUE(
                    testsupport::PumpGuiUntil([&] { return OpenBox() != nullptr && pings == 20; }));
                EXPECT_FALSE(answered.load());
                QMessageBox* box = OpenBox();
                ASSERT_NE(box, nullptr);
                EXPECT_EQ(box->windowTitle(), QStringLiteral("CHECK"));
                EXPECT_EQ(box->text(), QStringLiteral("DO YOU WANT TO CLOSE \nTHIS APPLICATION?"));
                box->button(QMessageBox::Yes)->click();
                EXPECT_TRUE(testsupport::PumpGuiUntil([&] { return answered.load(); }));
                EndDialog(w, 1);
            });
        } else if (m == kMsgApplication + 2) {
            ++pings;
        }
        return 0;
    });
    screen.Init(ui::ProgramModule(), &Recorder::Procedure);
    EXPECT_EQ(screen.DoModal(), 1);
    asker.join();
    pinger.join();
    EXPECT_EQ(answer, 6);
}

// The save flow's timed box: a worker shows a box that a thread timer ends.
TEST_F(DialogFrameworkTest, TheTimedBoxClosesItselfAfterItsTimeOrEarlierWhenAnswered) {
    SetTimeScale(10.0);
    struct Case {
        uint32_t seconds;
        bool userAnswers;
    };
    for (const Case c : {Case{1, false}, Case{600, true}}) {
        std::atomic<bool> done{false};
        std::thread box([&] {
            const uint32_t timer = SetThreadTimer(c.seconds * 1000);
            ShowMessageBox(WindowHandle{}, u"SAVING FILE NOW", u"CAPTURE", MessageBoxButtons::Ok);
            KillThreadTimer(timer);
            done = true;
        });
        const auto start = std::chrono::steady_clock::now();
        if (c.userAnswers) {
            ASSERT_TRUE(testsupport::PumpGuiUntil([] { return OpenBox() != nullptr; }));
            OpenBox()->button(QMessageBox::Ok)->click();
        }
        EXPECT_TRUE(testsupport::PumpGuiUntil([&] { return done.load(); }, 20s)) << c.seconds;
        const auto took = std::chrono::steady_clock::now() - start;
        box.join();
        if (c.userAnswers) {
            EXPECT_LT(took, 10s) << "answered long before its 60 scaled seconds";
        } else {
            EXPECT_GE(took, 90ms) << "a 1 s box on a 10x clock lasts 100 ms";
        }
        EXPECT_TRUE(testsupport::PumpGuiUntil([] { return OpenBox() == nullptr; }));
    }
}

// A simulated display that records the modes set on it.
struct SimulatedDisplay {
    DisplayMode mode;
    bool canSet = true;
    std::vector<DisplayMode> applied;
    void Install() {
        SetDisplayBackend(DisplayBackend{[this](DisplayMode& m) {
                                             m = mode;
                                             return true;
                                         },
                                         [this](const DisplayMode& m) {
                                             applied.push_back(m);
                                             if (canSet) {
                                                 mode = m;
                                             }
                                             return canSet;
                                         }});
    }
};

intptr_t ConventionProcedure(WindowHandle w, uint32_t m, uintptr_t wp, intptr_t lp);
TestScreen* g_conventionScreen = nullptr;
int g_paints = 0;

intptr_t ConventionProcedure(WindowHandle w, uint32_t m, uintptr_t, intptr_t lp) {
    switch (m) {
        case kMsgInitDialog:
            g_conventionScreen->OnInitDialog(w);
            return 0;
        case kMsgPaint:
            if (g_conventionScreen->GetSkipNextPaint() == 0) {
                ++g_paints;
            }
            g_conventionScreen->PaintSkin(w);
            return 0;
        case kMsgWindowPosChanged:
            g_conventionScreen->OnWindowPosChanged(w, reinterpret_cast<const WindowPosition*>(lp));
            return 0;
        case kMsgCommand:
            EndDialog(w, 1);
            return 1;
        default:
            return 0;
    }
}

TEST_F(DialogFrameworkTest, AScreenOpenedOnATurnedDisplaySetsItUpright) {
    struct Case {
        int rotation, width, height;
        DisplayMode expected;
    };
    const Case cases[] = {
        {90, 640, 480, {0, 480, 640}},
        {270, 640, 480, {0, 480, 640}},
        {180, 480, 640, {0, 480, 640}},
    };
    for (const Case& c : cases) {
        SimulatedDisplay display;
        display.mode = {c.rotation, c.width, c.height};
        display.Install();
        TestScreen screen(ui::res::kDlgInstruction);
        g_conventionScreen = &screen;
        screen.Init(ui::ProgramModule(), &ConventionProcedure);
        QTimer::singleShot(0, [] {
            if (QWidget* d = QApplication::activeModalWidget()) {
                d->close();
            }
        });
        EXPECT_EQ(screen.DoModal(), 1);
        ASSERT_EQ(display.applied.size(), 1u) << c.rotation;
        EXPECT_EQ(display.applied[0].rotation, 0);
        EXPECT_EQ(display.applied[0].width, c.expected.width) << c.rotation;
        EXPECT_EQ(display.applied[0].height, c.expected.height) << c.rotation;
    }
    SimulatedDisplay upright;
    upright.mode = {0, 480, 640};
    upright.Install();
    EXPECT_EQ(CDialogBase::GetDisplayOrientation(), 0);
    SetDisplayBackend({});
    EXPECT_EQ(CDialogBase::GetDisplayOrientation(), 0) << "the real display reads upright";
}

TEST_F(DialogFrameworkTest, QtsOrientationsMapOntoTheDisplaysRotation) {
    using O = Qt::ScreenOrientation;
    struct Case {
        O native, current, primary;
        int rotation;
    };
    const O portrait = Qt::PortraitOrientation, landscape = Qt::LandscapeOrientation,
            invPortrait = Qt::InvertedPortraitOrientation,
            invLandscape = Qt::InvertedLandscapeOrientation, unknown = Qt::PrimaryOrientation;
    const Case cases[] = {
        // A portrait handset turned a quarter at a time.
        {portrait, portrait, portrait, 0},
        {portrait, landscape, landscape, 90},
        {portrait, invPortrait, portrait, 180},
        {portrait, invLandscape, landscape, 270},
        // A screen that is landscape by nature: upright is landscape.
        {landscape, landscape, landscape, 0},
        {landscape, invPortrait, portrait, 90},
        {landscape, invLandscape, landscape, 180},
        {landscape, portrait, portrait, 270},
        {invLandscape, portrait, portrait, 90},
        // A platform that knows no native orientation (X11 says landscape for
        // every unturned output, a portrait panel included): upright.
        {unknown, portrait, portrait, 0},
        {unknown, unknown, landscape, 0},
        {unknown, landscape, portrait, 0},
        {unknown, invLandscape, landscape, 0},
        {unknown, portrait, landscape, 0},
        // Not one orientation (two bits, or none of the four): the read fails.
        {static_cast<O>(3), portrait, portrait, -1},
        {portrait, static_cast<O>(12), portrait, -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(qt::RotationBetween(c.native, c.current, c.primary), c.rotation)
            << "native " << c.native << ", current " << c.current << ", primary " << c.primary;
    }
}

TEST_F(DialogFrameworkTest, TheRealDisplayIsReadFromQtsScreenOnAnyThread) {
    // The offscreen handset is upright portrait; a worker's read is answered on the GUI thread.
    DisplayMode mode{-1, 0, 0};
    ASSERT_TRUE(GetDisplayMode(mode));
    EXPECT_EQ(mode.rotation, 0);
    EXPECT_EQ(mode.width, 480);
    EXPECT_EQ(mode.height, 640);
    std::atomic<bool> done{false};
    DisplayMode fromWorker{-1, 0, 0};
    bool read = false;
    std::thread worker([&] {
        read = GetDisplayMode(fromWorker);
        done = true;
    });
    EXPECT_TRUE(testsupport::PumpGuiUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_TRUE(read);
    EXPECT_EQ(fromWorker.rotation, 0);
    EXPECT_EQ(fromWorker.width, 480);
    EXPECT_EQ(fromWorker.height, 640);
    EXPECT_FALSE(SetDisplayMode({0, 480, 640})) << "Qt cannot turn the screen";
}

TEST_F(DialogFrameworkTest, OnlyTheTwoExactPositionFlagsActOnATurnedDisplay) {
    struct Case {
        uint32_t flags;
        int rotation;
        bool inFront;
        bool setsUpright;  // ForcePortrait applied a mode
        bool skipsPaint;
    };
    const Case cases[] = {
        {0x213, 90, true, true, false},
        {0x213, 270, false, true, false},
        {0x213, 180, true, true, false},
        {0x213, 0, true, false, false},
        {0x16, 90, true, false, true},
        {0x16, 180, true, false, true},
        {0x16, 90, false, false, false},
        {0x16, 0, true, false, false},
        // Near misses: one flag more or less is another change.
        {0x212, 90, true, false, false},
        {0x217, 90, true, false, false},
        {0x013, 90, true, false, false},
        {0x613, 90, true, false, false},
        {0x0, 90, true, false, false},
        {0x16 | 0x100, 90, true, false, false},
        {0x17, 90, true, false, false},
        {0x06, 90, true, false, false},
    };
    TestScreen screen(ui::res::kDlgInstruction);
    g_conventionScreen = &screen;
    screen.Init(ui::ProgramModule(), &ConventionProcedure);
    SimulatedDisplay display;
    display.mode = {0, 480, 640};
    display.Install();
    QTimer::singleShot(0, [&] {
        QWidget* d = QApplication::activeModalWidget();
        ASSERT_NE(d, nullptr);
        ASSERT_TRUE(
            testsupport::PumpGuiUntil([&] { return GetForegroundWindow() == screen.window; }));
        // A window of this thread that is not in front.
        const WindowHandle behind = CreateMessageWindow(
            [](WindowHandle, uint32_t, uintptr_t, intptr_t) { return intptr_t{0}; });
        for (const Case& c : cases) {
            const bool quarter = c.rotation == 90 || c.rotation == 270;
            display.mode = {c.rotation, quarter ? 640 : 480, quarter ? 480 : 640};
            display.applied.clear();
            screen.SetSkipNextPaint(0);
            const WindowHandle target = c.inFront ? screen.window : behind;
            const WindowPosition pos{target, 0, 0, 480, 640, c.flags};
            screen.OnWindowPosChanged(target, &pos);
            char what[48];
            std::snprintf(what, sizeof what, "flags 0x%x, turn %d, %s", c.flags, c.rotation,
                          c.inFront ? "in front" : "behind");
            EXPECT_EQ(screen.GetSkipNextPaint(), c.skipsPaint ? 1 : 0) << what;
            ASSERT_EQ(display.applied.size(), c.setsUpright ? 1u : 0u) << what;
            if (c.setsUpright) {
                EXPECT_EQ(display.applied[0].rotation, 0) << what;
                EXPECT_EQ(display.applied[0].width, 480) << what;
                EXPECT_EQ(display.applied[0].height, 640) << what;
            }
        }
        screen.OnWindowPosChanged(screen.window, nullptr);  // no record: nothing to read
        EXPECT_TRUE(display.applied.empty());
        DestroyMessageWindow(behind);
        d->close();
    });
    EXPECT_EQ(screen.DoModal(), 1);
}

TEST_F(DialogFrameworkTest, ARotationThatLeavesTheScreenInFrontSkipsExactlyOneRepaint) {
    TestScreen screen(ui::res::kDlgInstruction);
    g_conventionScreen = &screen;
    screen.Init(ui::ProgramModule(), &ConventionProcedure);
    SimulatedDisplay display;
    display.mode = {0, 480, 640};
    display.Install();
    int skipped = -1;
    QTimer::singleShot(0, [&] {
        QWidget* d = QApplication::activeModalWidget();
        ASSERT_NE(d, nullptr);
        EXPECT_TRUE(
            testsupport::PumpGuiUntil([&] { return GetForegroundWindow() == screen.window; }));
        EXPECT_TRUE(testsupport::PumpGuiUntil([&] { return g_paints > 0; }));
        // The display turns; the window, still in front, is resized by it.
        display.mode = {90, 640, 480};
        display.canSet = false;
        const int before = g_paints;
        d->resize(640, 480);
        EXPECT_EQ(screen.GetSkipNextPaint(), 1);
        d->repaint();
        skipped = g_paints - before;
        EXPECT_EQ(screen.GetSkipNextPaint(), 0);
        d->repaint();
        EXPECT_EQ(g_paints - before, 1) << "the second repaint paints again";
        d->close();
    });
    EXPECT_EQ(screen.DoModal(), 1);
    EXPECT_EQ(skipped, 0) << "the first repaint after the turn was skipped";
}

TEST_F(DialogFrameworkTest, ClosingTheBackdropTwiceEndsItOnce) {
    CBackgroundDialog backdrop;
    AppRegistry.backdropScreen = &backdrop;
    backdrop.Init(ui::ProgramModule(), &BackdropProcedure);
    std::atomic<int> ends{0};
    std::atomic<int> result{0};
    std::thread thread([&] {
        result = backdrop.DoModal();
        ++ends;
    });
    ASSERT_TRUE(testsupport::PumpGuiUntil([&] { return static_cast<bool>(backdrop.window); }));
    const WindowHandle shown = backdrop.window;
    EXPECT_EQ(GetWindowText(shown), u"Camora Controller");
    backdrop.Close();
    backdrop.Close();
    EXPECT_FALSE(backdrop.window);
    ASSERT_TRUE(testsupport::PumpGuiUntil([&] { return ends.load() == 1; }));
    thread.join();
    EXPECT_EQ(result.load(), 1);
    EXPECT_EQ(ends.load(), 1);
    AppRegistry.backdropScreen = nullptr;
}

TEST_F(DialogFrameworkTest, ASecondStartFindsTheFirstInstancesWindowByItsExactTitle) {
    testsupport::TempDeviceRoot root;  // the socket's name follows the device root
    ASSERT_TRUE(ListenForOtherInstances());
    std::future<bool> exact, partial;
    bool raised = false;
    Recorder recorder([&](WindowHandle w, uint32_t m, uintptr_t, intptr_t) -> intptr_t {
        if (m == kMsgInitDialog) {
            SetWindowText(w, u"Camora Controller");
            QTimer::singleShot(0, [&, w] {
                QWidget* dialog = QApplication::activeModalWidget();
                ASSERT_NE(dialog, nullptr);
                dialog->showMinimized();
                // Another program's start-up: it asks, and this window comes forward.
                exact = std::async(std::launch::async, [] {
                    return FindOtherInstanceWindow(u"Camora Controller", true);
                });
                partial = std::async(std::launch::async,
                                     [] { return FindOtherInstanceWindow(u"Camora", false); });
                EXPECT_TRUE(testsupport::PumpGuiUntil([&] {
                    return exact.wait_for(0s) == std::future_status::ready &&
                           partial.wait_for(0s) == std::future_status::ready;
                }));
                raised = !dialog->isMinimized();
                EndDialog(w, 1);
            });
        }
        return 0;
    });
    EXPECT_EQ(RunModalDialog(ui::ProgramModule(), ui::res::kDlgMain, &Recorder::Procedure), 1);
    EXPECT_TRUE(exact.get());
    EXPECT_FALSE(partial.get()) << "only the exact title counts";
    EXPECT_TRUE(raised);
}

#ifndef NDEBUG
TEST_F(DialogFrameworkTest, TheGuiThreadWaitingForAWorkerFailsLoudlyInDebugBuilds) {
    EXPECT_DEATH(
        {
            auto never = Event::Create(ResetMode::Auto, false);
            never->Wait(kWaitForever);
        },
        "GUI thread blocked on an event wait without time-out");
    EXPECT_DEATH(
        {
            std::atomic<uint64_t> id{0};
            std::thread owner([&] {
                id = CreateMessageWindow([](WindowHandle, uint32_t, uintptr_t, intptr_t) {
                         return intptr_t{0};
                     }).id;
                PumpWindowMessages(kWaitForever);
            });
            while (id.load() == 0) {
                std::this_thread::yield();
            }
            SendWindowMessage(WindowHandle{id.load()}, kMsgApplication);
        },
        "GUI thread blocked on a send to a window of another thread");
}
#endif

TEST_F(DialogFrameworkTest, AWorkerEndsTheProcessCleanlyWhileADialogIsOpen) {
    EXPECT_EXIT(
        {
            std::thread worker;
            Recorder recorder([&](WindowHandle, uint32_t m, uintptr_t, intptr_t) -> intptr_t {
                if (m == kMsgInitDialog) {
                    worker = std::thread([] { ExitProcess(0); });
                }
                return 0;
            });
            RunModalDialog(ui::ProgramModule(), ui::res::kDlgSelect, &Recorder::Procedure);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
