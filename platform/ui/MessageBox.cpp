#include "platform/ui/MessageBox.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kernel/Kernel.h"
#include "platform/text/Text.h"

namespace platform {
namespace {

std::mutex g_lock;
MessageBoxPresenter* g_presenter = nullptr;
thread_local Event* t_shownSignal = nullptr;

MessageBoxResult ShowOnStderr(WindowHandle, std::u16string_view text, std::u16string_view caption,
                              MessageBoxButtons buttons) {
    std::string line(1, '[');
    line += Utf16ToUtf8(caption);
    line += "] ";
    line += Utf16ToUtf8(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
    NoteBoxShown();
    return buttons == MessageBoxButtons::YesNo ? MessageBoxResult::Yes : MessageBoxResult::Ok;
}

}  // namespace

MessageBoxResult ShowMessageBox(WindowHandle owner, std::u16string_view text,
                                std::u16string_view caption, MessageBoxButtons buttons) {
    MessageBoxPresenter presenter;
    {
        std::lock_guard lock(g_lock);
        if (g_presenter != nullptr) {
            presenter = *g_presenter;
        }
    }
    const MessageBoxResult result = presenter ? presenter(owner, text, caption, buttons)
                                              : ShowOnStderr(owner, text, caption, buttons);
    // A presenter that never told (or could not show the box) still releases
    // the waiter.
    NoteBoxShown();
    return result;
}

MessageBoxPresenter CurrentMessageBoxPresenter() {
    std::lock_guard lock(g_lock);
    return g_presenter != nullptr ? *g_presenter : MessageBoxPresenter{};
}

void SignalWhenNextBoxShown(Event* shown) {
    t_shownSignal = shown;
}

void NoteBoxShown() {
    if (t_shownSignal != nullptr) {
        t_shownSignal->Set();
        t_shownSignal = nullptr;
    }
}

void SetMessageBoxPresenter(MessageBoxPresenter presenter) {
    // Every presenter is kept to the end: a box may be showing on another
    // thread through the one replaced.
    static auto* kept = new std::vector<std::unique_ptr<MessageBoxPresenter>>;
    std::lock_guard lock(g_lock);
    if (presenter) {
        kept->push_back(std::make_unique<MessageBoxPresenter>(std::move(presenter)));
        g_presenter = kept->back().get();
    } else {
        g_presenter = nullptr;
    }
}

}  // namespace platform
