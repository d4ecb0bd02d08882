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

}  // namespace platform
