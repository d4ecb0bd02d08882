// Synchronous window messages: a worker sends a message to a window and waits
// until the window's procedure, run on the thread that owns the window, has
// returned. A send to a window that has ended returns at once and does nothing.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/ui/Window.h"

namespace platform {

using WindowProcedure = std::function<intptr_t(WindowHandle window, uint32_t message,
                                               uintptr_t wParam, intptr_t lParam)>;

// Creates a window owned by the calling thread; its procedure runs only on
// this thread, while the thread pumps messages (or inside its own sends).
WindowHandle CreateMessageWindow(WindowProcedure procedure);

// Ends the window: sends waiting for it return 0 at once, later sends do nothing.
void DestroyMessageWindow(WindowHandle window);

bool IsWindowAlive(WindowHandle window);

// Runs `message` through the window's procedure and returns its result; the
// caller waits until it has run. From the owner thread the procedure runs
// directly. Returns 0 at once for a window that has ended (or never existed).
intptr_t SendWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam = 0,
                           intptr_t lParam = 0);

// Runs the messages sent to the calling thread's windows, waiting up to
// `timeoutMs` for the first one (kWaitForever: without limit, 0: none), and
// returns how many ran.
int PumpWindowMessages(uint32_t timeoutMs);

// For a thread that runs an event loop of its own (the GUI thread): `wake` is
// called, from the sending thread, whenever a send is queued for one of the
// calling thread's windows; it must make that thread run
// PumpWindowMessages(0) soon. An empty function removes it.
void SetSendWakerForThisThread(std::function<void()> wake);

}  // namespace platform
