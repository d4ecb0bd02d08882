// Modal message boxes: text, caption and OK or Yes/No buttons, owned by a
// window or by none. The caller waits until the box is dismissed.
#pragma once

#include <functional>
#include <string_view>

#include "platform/ui/Window.h"

namespace platform {

enum class MessageBoxButtons { Ok, YesNo };
enum class MessageBoxResult { Ok, Yes, No };

MessageBoxResult ShowMessageBox(WindowHandle owner, std::u16string_view text,
                                std::u16string_view caption, MessageBoxButtons buttons);

// Who shows the boxes. Until a windowing backend installs itself, boxes go to
// standard error and are answered with their first button (OK or YES).
using MessageBoxPresenter =
    std::function<MessageBoxResult(WindowHandle owner, std::u16string_view text,
                                   std::u16string_view caption, MessageBoxButtons buttons)>;
void SetMessageBoxPresenter(MessageBoxPresenter presenter);
// The presenter in force (empty when boxes go to standard error), so that a
// new one can hand boxes on to it.
MessageBoxPresenter CurrentMessageBoxPresenter();

class Event;

// The next box this thread shows sets `shown` once it is on the screen (or
// once it is known that it cannot be shown), so that whoever started the
// thread can wait for the box before it goes on.
void SignalWhenNextBoxShown(Event* shown);
// Called by a presenter on the asking thread once its box is on the screen.
void NoteBoxShown();

}  // namespace platform
