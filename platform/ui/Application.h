// The windowed program's entry: the GUI application object, the GUI thread,
// and the single-instance lookup.
//
// The program's main calls RunApplication with its resource module and its
// entry; the entry runs on the GUI thread (the main thread) and may run modal
// dialogs at once. Tests create a GuiApplication instead.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/ui/Resources.h"
#include "platform/ui/Window.h"

namespace platform {

using ApplicationEntry = int (*)(const ResourceModule* instance);

// The exit code when no display can be opened (the windowing platform does
// not start): the process says so in one line on standard error and ends.
inline constexpr int kExitNoDisplay = 69;

// Creates the application object (ending the process with kExitNoDisplay
// when there is no display), installs the real message boxes, runs
// `entry(module)` on this thread and returns its result.
int RunApplication(int argc, char** argv, const ResourceModule* module, ApplicationEntry entry);

// The application object for the lifetime of the scope; the constructing
// thread becomes the GUI thread. Only one exists at a time.
class GuiApplication {
public:
    GuiApplication(int& argc, char** argv);
    ~GuiApplication();
    GuiApplication(const GuiApplication&) = delete;
    GuiApplication& operator=(const GuiApplication&) = delete;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

bool IsGuiThread();

// Single instance across processes, per user and device root (a local socket:
// Wayland shows no program another's windows). The running program listens
// (RunApplication does it); a second one asks whether a top-level window
// titled exactly `title` exists there, and has it brought to the front when
// `bringToFront`. Not to be called on the GUI thread of the listening process.
bool ListenForOtherInstances();
bool FindOtherInstanceWindow(std::u16string_view title, bool bringToFront);
// The socket's path for the current device root (empty when there is no
// private place for it); tests stand in for a running instance there.
std::string InstanceSocketPath();

// Runs the GUI's pending events once (tests and tools).
void ProcessGuiEvents();

}  // namespace platform
