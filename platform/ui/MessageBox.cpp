#include "platform/ui/MessageBox.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/text/Text.h"

namespace platform {
namespace {

std::mutex g_lock;
MessageBoxPresenter* g_presenter = nullptr;

MessageBoxResult ShowOnStderr(WindowHandle, std::u16string_view text, std::u16string_view caption,
                              MessageBoxButtons buttons) {
    std::string line(1, '[');
    line += Utf16ToUtf8(caption);
    line += "] ";
    line += Utf16ToUtf8(text);
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
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
    if (presenter) {
        return presenter(owner, text, caption, buttons);
    }
    return ShowOnStderr(owner, text, caption, buttons);
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
