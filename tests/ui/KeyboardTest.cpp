// The keyboard on every screen: Return presses the screen's default button (or
// the one with the focus), Escape its CANCEL, and a screen without such a
// button ignores the key; the device list is chosen with arrows and Return.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <functional>
#include <vector>

#include "platform/ui/Dialog.h"
#include "resources/Dialogs.h"
#include "resources/ResourceIds.h"

using namespace platform;
namespace r = ui::res;

namespace {

std::vector<int> g_commands;
WindowHandle g_window;
std::function<void(WindowHandle)> g_init;

intptr_t RecordingProcedure(WindowHandle w, uint32_t m, uintptr_t wParam, intptr_t) {
    if (m == kMsgInitDialog) {
        g_window = w;
        ShellInitDialog(w, 0x19);
        if (g_init) {
            g_init(w);
        }
    } else if (m == kMsgCommand && CommandCode(wParam) == kNotifySelectionChanged) {
        // As the select screen does: a chosen device enables OK.
        EnableControl(GetControl(w, static_cast<int>(r::kCtlOk)), true);
    } else if (m == kMsgCommand && CommandCode(wParam) == kNotifyClicked) {
        g_commands.push_back(CommandId(wParam));
        return 1;
    }
    return 0;
}

// Presses `key` where the keyboard's focus is (the dialog when nothing has it).
void Press(QWidget* dialog, int key) {
    QWidget* target = dialog->focusWidget() != nullptr ? dialog->focusWidget() : dialog;
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
    QApplication::sendEvent(target, &release);
}

// The window system activates a shown window a little later: until then no
// control has the keyboard's focus.
void WaitForActivation(QWidget* dialog) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!dialog->isActiveWindow() && std::chrono::steady_clock::now() < end) {
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    EXPECT_TRUE(dialog->isActiveWindow());
}

// Runs template `id`, presses `keys` once it shows and returns the commands
// of buttons that the keys made.
std::vector<int> CommandsFor(uint32_t id, const std::vector<int>& keys,
                             std::function<void(WindowHandle)> init = nullptr) {
    g_commands.clear();
    g_init = std::move(init);
    bool pressed = false;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog != nullptr) {
            WaitForActivation(dialog);
            for (int key : keys) {
                Press(dialog, key);
            }
            pressed = true;
        }
        EndDialog(g_window, 0);
    });
    EXPECT_EQ(RunModalDialog(ui::ProgramModule(), id, &RecordingProcedure), 0);
    EXPECT_TRUE(pressed) << "template " << id << " never showed";
    g_init = nullptr;
    return g_commands;
}

void SetTexts(WindowHandle w) {
    for (int id : {1, 2, static_cast<int>(r::kCtlCaptureYes), static_cast<int>(r::kCtlCaptureNo)}) {
        SetControlText(w, id, id == 2 ? u"CANCEL" : u"OK");
    }
}

struct KeyCase {
    uint32_t templateId;
    int key;
    std::vector<int> commands;
};

TEST(KeyboardTest, ReturnAndEscapePressOnlyTheButtonsTheScreenHas) {
    const int kYes = static_cast<int>(r::kCtlCaptureYes);
    const std::vector<KeyCase> cases = {
        // Connect screen: CANCEL only, no default; it has the focus, so
        // Return presses it as Space would.
        {r::kDlgConnect, Qt::Key_Escape, {2}},
        {r::kDlgConnect, Qt::Key_Return, {2}},
        // Instruction screen: its OK is the dialog's default id.
        {r::kDlgInstruction, Qt::Key_Return, {1}},
        {r::kDlgInstruction, Qt::Key_Enter, {1}},
        {r::kDlgInstruction, Qt::Key_Escape, {}},
        // Select screen: OK is the default but disabled until a device is chosen.
        {r::kDlgSelect, Qt::Key_Return, {}},
        {r::kDlgSelect, Qt::Key_Escape, {2}},
        // Main screen and backdrop: no buttons, no key does anything.
        {r::kDlgMain, Qt::Key_Return, {}},
        {r::kDlgMain, Qt::Key_Escape, {}},
        {r::kDlgBackdrop, Qt::Key_Escape, {}},
        // Progress screen: CANCEL, with the focus.
        {r::kDlgCaptureProgress, Qt::Key_Escape, {2}},
        {r::kDlgCaptureProgress, Qt::Key_Return, {2}},
        // Confirmation screen: YES is the default, there is no CANCEL.
        {r::kDlgCaptureConfirm, Qt::Key_Return, {kYes}},
        {r::kDlgCaptureConfirm, Qt::Key_Escape, {}},
        // Version screen: OK.
        {r::kDlgVersion, Qt::Key_Return, {1}},
        {r::kDlgVersion, Qt::Key_Escape, {}},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE("template " + std::to_string(c.templateId) + " key " + std::to_string(c.key));
        EXPECT_EQ(CommandsFor(c.templateId, {c.key}, &SetTexts), c.commands);
    }
}

TEST(KeyboardTest, ArrowsAndReturnChooseADevice) {
    const auto fill = [](WindowHandle w) {
        SetTexts(w);
        const WindowHandle list = GetControl(w, static_cast<int>(r::kCtlDeviceList));
        for (const char16_t* name : {u"HX-7 CAMCORDER", u"Office phone", u"HX-9 CAMCORDER"}) {
            ListBoxAddString(list, name);
        }
    };
    struct Choice {
        std::vector<int> keys;
        int selected;
        std::vector<int> commands;
    };
    const std::vector<Choice> choices = {
        // The first arrow press picks the first device; Return then is OK.
        {{Qt::Key_Down, Qt::Key_Return}, 0, {1}},
        {{Qt::Key_Down, Qt::Key_Down, Qt::Key_Down, Qt::Key_Return}, 2, {1}},
        {{Qt::Key_Down, Qt::Key_Down, Qt::Key_Up, Qt::Key_Return}, 0, {1}},
        // Tab from the chosen device to OK, Tab to CANCEL: Return presses the focused one.
        {{Qt::Key_Down, Qt::Key_Tab, Qt::Key_Return}, 0, {1}},
        {{Qt::Key_Down, Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Return}, 0, {2}},
        // Nothing chosen: Return does nothing.
        {{Qt::Key_Return}, -1, {}},
    };
    for (const Choice& c : choices) {
        SCOPED_TRACE("keys " + std::to_string(c.keys.size()));
        int selected = -2;
        const auto init = [&](WindowHandle w) {
            fill(w);
            // Read the selection as the commands arrive, before the dialog ends.
            g_init = nullptr;
        };
        g_commands.clear();
        QTimer::singleShot(0, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            ASSERT_NE(dialog, nullptr);
            auto* list = dialog->findChild<QListWidget*>();
            ASSERT_NE(list, nullptr);
            WaitForActivation(dialog);
            EXPECT_EQ(dialog->focusWidget(), list) << "the list has the focus first";
            for (int key : c.keys) {
                Press(dialog, key);
            }
            selected =
                ListBoxGetSelection(GetControl(g_window, static_cast<int>(r::kCtlDeviceList)));
            EndDialog(g_window, 0);
        });
        g_init = init;
        EXPECT_EQ(RunModalDialog(ui::ProgramModule(), r::kDlgSelect, &RecordingProcedure), 0);
        EXPECT_EQ(selected, c.selected);
        EXPECT_EQ(g_commands, c.commands);
    }
}

}  // namespace
