#include "controllers/CaptureSaveDialog.h"

#include <string>

#include "platform/ui/Dialog.h"
#include "platform/ui/LiveWait.h"
#include "platform/ui/MessageBox.h"

namespace {

constexpr uint32_t kStartWaitMs = 100;
// How long Start waits for the box to come up: far longer than it takes on a
// busy handset (tests run this clock ten times faster, under sanitizers), yet
// a display that never shows the box does not hold the flow for good.
constexpr uint32_t kShowWaitMs = 60000;

// What the box's thread shows: its own copies, so that the creator may end
// before the box does.
struct TimedBox {
    std::u16string caption;
    std::u16string text;
    uint32_t ms;
    // Set once the box is on the screen; shared, as the creator may stop
    // waiting before the box comes up.
    std::shared_ptr<platform::Event> shown;
};

uint32_t ShowTimedBox(void* argument) {
    const std::unique_ptr<TimedBox> box(static_cast<TimedBox*>(argument));
    const uint32_t timer = platform::SetThreadTimer(box->ms);
    platform::SignalWhenNextBoxShown(box->shown.get());
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
    std::shared_ptr<platform::Event> shown =
        platform::Event::Create(platform::ResetMode::Manual, false);
    if (shown == nullptr) {
        return false;
    }
    auto box = std::make_unique<TimedBox>(TimedBox{caption_, text_, seconds_ * 1000, shown});
    // The thread owns the box from here.
    thread_ = platform::Thread::Create(&ShowTimedBox, box.get(), false);
    if (thread_ == nullptr) {
        return false;
    }
    box.release();
    // The box is on the screen before the flow goes on, so that whatever the
    // flow shows next (a question about a failed write) comes after it.
    platform::WaitKeepingWindowsLiveFor(*shown, kShowWaitMs);
    platform::WaitKeepingWindowsLive(kStartWaitMs);
    return true;
}
