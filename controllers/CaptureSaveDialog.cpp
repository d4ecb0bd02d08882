#include "controllers/CaptureSaveDialog.h"

#include <string>

#include "platform/ui/Dialog.h"
#include "platform/ui/LiveWait.h"
#include "platform/ui/MessageBox.h"

namespace {

constexpr uint32_t kStartWaitMs = 100;

// What the box's thread shows: its own copies, so that the creator may end
// before the box does.
struct TimedBox {
    std::u16string caption;
    std::u16string text;
    uint32_t ms;
};

uint32_t ShowTimedBox(void* argument) {
    const std::unique_ptr<TimedBox> box(static_cast<TimedBox*>(argument));
    const uint32_t timer = platform::SetThreadTimer(box->ms);
    platform::ShowMessageBox(platform::WindowHandle{}, box->text, box->caption,
                             platform::MessageBoxButtons::Ok);
    platform::KillThreadTimer(timer);
    return 0;
}

}  // namespace

CCaptureSaveDialog::CCaptureSaveDialog(const char16_t* caption, const char16_t* text,
                                       uint32_t seconds)
    : caption_(caption), text_(text), seconds_(seconds) {}

CCaptureSaveDialog::~CCaptureSaveDialog() = default;

bool CCaptureSaveDialog::Start() {
    auto box = std::make_unique<TimedBox>(TimedBox{caption_, text_, seconds_ * 1000});
    // The thread owns the box from here.
    thread_ = platform::Thread::Create(&ShowTimedBox, box.get(), false);
    if (thread_ == nullptr) {
        return false;
    }
    box.release();
    platform::WaitKeepingWindowsLive(kStartWaitMs);
    return true;
}
