// Modal dialogs built from templates and driven by a window procedure, their
// controls, and the window services the screens call on.
//
// A screen uses it like this: RunModalDialog(module, templateId, procedure)
// builds the window and calls the procedure with the messages below
// (kMsgInitDialog first); the procedure returns 1 for a message it finished
// and 0 otherwise, and ends the dialog with EndDialog(window, value), which
// RunModalDialog returns. Workers reach the window with SendWindowMessage
// (WindowMessages.h); they wait until the procedure has run on the GUI thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/ui/Resources.h"
#include "platform/ui/Window.h"
#include "platform/ui/WindowMessages.h"

namespace platform {

// Messages a window procedure receives.
inline constexpr uint32_t kMsgActivate = 0x0006;          // wParam: 1 active, 0 inactive
inline constexpr uint32_t kMsgSetFocus = 0x0007;          // focus gained
inline constexpr uint32_t kMsgKillFocus = 0x0008;         // focus lost
inline constexpr uint32_t kMsgPaint = 0x000F;             // paint with PaintScope
inline constexpr uint32_t kMsgEraseBackground = 0x0014;   // return 1: nothing to erase
inline constexpr uint32_t kMsgWindowPosChanged = 0x0047;  // lParam: const WindowPosition*
inline constexpr uint32_t kMsgInitDialog = 0x0110;
inline constexpr uint32_t kMsgCommand = 0x0111;  // wParam: MakeCommand(id, code)
inline constexpr uint32_t kMsgPenDown = 0x0201;  // lParam: MakePenPosition(x, y)
inline constexpr uint32_t kMsgPenUp = 0x0202;
// The program's own messages start here.
inline constexpr uint32_t kMsgApplication = 0x8000;

// Progress bar messages (sent to the control's handle, from any thread).
inline constexpr uint32_t kMsgProgressSetRange = 0x0401;  // wParam: low, lParam: high
inline constexpr uint32_t kMsgProgressStep = 0x0405;
inline constexpr uint32_t kMsgProgressSetStep = 0x0404;  // wParam: step
inline constexpr uint32_t kMsgProgressGetPosition = 0x0408;

// Command notification codes.
inline constexpr int kNotifyClicked = 0;
inline constexpr int kNotifySelectionChanged = 1;

constexpr uintptr_t MakeCommand(int id, int code) {
    return (static_cast<uintptr_t>(code & 0xFFFF) << 16) | static_cast<uintptr_t>(id & 0xFFFF);
}
constexpr int CommandId(uintptr_t wParam) {
    return static_cast<int>(wParam & 0xFFFF);
}
constexpr int CommandCode(uintptr_t wParam) {
    return static_cast<int>((wParam >> 16) & 0xFFFF);
}
constexpr intptr_t MakePenPosition(int x, int y) {
    return static_cast<intptr_t>((static_cast<uint32_t>(y & 0xFFFF) << 16) |
                                 static_cast<uint32_t>(x & 0xFFFF));
}
constexpr int PenX(intptr_t lParam) {
    return static_cast<int>(lParam & 0xFFFF);
}
constexpr int PenY(intptr_t lParam) {
    return static_cast<int>((lParam >> 16) & 0xFFFF);
}

// The record of a window-position change: the flags say what did not change.
inline constexpr uint32_t kPosNoSize = 0x0001;
inline constexpr uint32_t kPosNoMove = 0x0002;
inline constexpr uint32_t kPosNoZOrder = 0x0004;
inline constexpr uint32_t kPosNoActivate = 0x0010;
inline constexpr uint32_t kPosNoOwnerZOrder = 0x0200;
struct WindowPosition {
    WindowHandle window;
    int x, y, width, height;
    uint32_t flags;
};

// A window procedure as the screens write it: a free function.
using DialogProcedure = intptr_t (*)(WindowHandle window, uint32_t message, uintptr_t wParam,
                                     intptr_t lParam);

// Builds the dialog of template `templateId` and runs it modally with
// `procedure`; returns the value EndDialog gave, -1 when the module, the
// template or the procedure is missing. From the GUI thread it runs a modal
// loop; from any other thread the window is shown on the GUI thread and the
// caller waits until it ends.
int RunModalDialog(const ResourceModule* module, uint32_t templateId, WindowProcedure procedure);
// Ends a dialog's modal loop with `value`; false when there is no such dialog.
bool EndDialog(WindowHandle dialog, int value);

// Window and control texts.
bool SetWindowText(WindowHandle window, std::u16string_view text);
std::u16string GetWindowText(WindowHandle window);
// The control `id` of a dialog, or none.
WindowHandle GetControl(WindowHandle dialog, int id);
bool SetControlText(WindowHandle dialog, int id, std::u16string_view text);
bool EnableControl(WindowHandle control, bool enable);
bool IsControlEnabled(WindowHandle control);

// List boxes: insert at the end (returns the index, -1 on failure), the
// selected index (-1 when none), an item's text.
int ListBoxAddString(WindowHandle list, std::u16string_view text);
int ListBoxGetSelection(WindowHandle list);
std::u16string ListBoxGetText(WindowHandle list, int index);
int ListBoxCount(WindowHandle list);
// Selects an item as the user would: the dialog is told of the change.
bool ListBoxSelect(WindowHandle list, int index);

// Repainting: mark the whole window for repaint; repaint it at once.
void InvalidateWindow(WindowHandle window, bool erase);
void UpdateWindow(WindowHandle window);
// The client area in pixels (left and top 0); false when there is no window.
bool GetClientSize(WindowHandle window, int& width, int& height);
void MinimizeWindow(WindowHandle window);

// The active top-level window of this program, or none.
WindowHandle GetForegroundWindow();
bool SetForegroundWindow(WindowHandle window);

// The shell's full-screen dialog initialisation: full screen on a handset or
// where there is no window manager, else a 480 x 640 window (device-independent
// pixels). `flags` as the design's shell call; only their presence matters here.
void ShellInitDialog(WindowHandle dialog, uint32_t flags);
// The shell's input-panel button; there is none here.
void ShellFullScreen(WindowHandle window, uint32_t state);

// The wait cursor (true) or the arrow (false) over the program's windows.
void SetWaitCursor(bool wait);
bool IsWaitCursorShown();

// A thread timer: after `ms` (on the scaled clock) it ends the message box or
// dialog the calling thread is waiting for, as a quit message would. Returns
// its id (never 0).
uint32_t SetThreadTimer(uint32_t ms);
void KillThreadTimer(uint32_t id);

}  // namespace platform
