#include "ui/DialogBase.h"

#include "platform/ui/Display.h"
#include "platform/ui/MessageBox.h"
#include "resources/ResourceIds.h"

namespace {

constexpr int kTextCapacity = 256;
constexpr int kBoxYesNo = 4;
constexpr int kAnswerOk = 1;
constexpr int kAnswerYes = 6;
constexpr int kAnswerNo = 7;

}  // namespace

CDialogBase::~CDialogBase() = default;

void CDialogBase::Init(platform::InstanceHandle instanceHandle, platform::DialogProcedure proc) {
    instance = instanceHandle;
    if (proc != nullptr) {
        dialogProc = proc;
    }
}

int CDialogBase::DoModalTemplate(int templateId, platform::DialogProcedure proc) {
    if (instance == nullptr || proc == nullptr) {
        return -1;
    }
    return platform::RunModalDialog(instance, static_cast<uint32_t>(templateId), proc);
}

platform::Bitmap* CDialogBase::GetSkinBitmap() {
    if (!skinBitmap) {
        skinBitmap = platform::LoadBitmap(instance, skinBitmapId);
    }
    return skinBitmap.get();
}

void CDialogBase::SetWindowHandle(platform::WindowHandle handle) {
    window = handle;
}

void CDialogBase::SetTitle(int stringId) {
    char16_t text[kTextCapacity];
    const int n =
        platform::LoadString(instance, static_cast<uint32_t>(stringId), text, kTextCapacity);
    platform::SetWindowText(window, std::u16string_view(text, static_cast<size_t>(n)));
}

void CDialogBase::SetItemText(int controlId, int stringId) {
    char16_t text[kTextCapacity];
    const int n =
        platform::LoadString(instance, static_cast<uint32_t>(stringId), text, kTextCapacity);
    platform::SetControlText(window, controlId, std::u16string_view(text, static_cast<size_t>(n)));
}

int CDialogBase::ShowMessage(int captionId, int textId, int boxStyle) {
    char16_t caption[kTextCapacity];
    char16_t text[kTextCapacity];
    const int nc =
        platform::LoadString(instance, static_cast<uint32_t>(captionId), caption, kTextCapacity);
    const int nt =
        platform::LoadString(instance, static_cast<uint32_t>(textId), text, kTextCapacity);
    const auto answer =
        platform::ShowMessageBox(window, std::u16string_view(text, static_cast<size_t>(nt)),
                                 std::u16string_view(caption, static_cast<size_t>(nc)),
                                 boxStyle == kBoxYesNo ? platform::MessageBoxButtons::YesNo
                                                       : platform::MessageBoxButtons::Ok);
    switch (answer) {
        case platform::MessageBoxResult::Yes:
            return kAnswerYes;
        case platform::MessageBoxResult::No:
            return kAnswerNo;
        default:
            return kAnswerOk;
    }
}

void CDialogBase::SetWaitCursor(int wait) {
    platform::SetWaitCursor(wait == 1);
}

int CDialogBase::GetDisplayOrientation() {
    platform::DisplayMode mode;
    if (!platform::GetDisplayMode(mode)) {
        return 0;
    }
    return mode.rotation;
}

void CDialogBase::ForcePortrait() {
    platform::DisplayMode mode;
    if (!platform::GetDisplayMode(mode)) {
        return;
    }
    if (mode.rotation != 0 && mode.rotation != 180) {
        std::swap(mode.width, mode.height);
    }
    mode.rotation = 0;
    platform::SetDisplayMode(mode);
}

void CDialogBase::OnWindowPosChanged(platform::WindowHandle handle,
                                     const platform::WindowPosition* pos) {
    if (pos == nullptr) {
        return;
    }
    if (pos->flags == kPosFlagsRestacked) {
        if (GetDisplayOrientation() != 0) {
            ForcePortrait();
        }
    } else if (pos->flags == kPosFlagsResized) {
        if (GetDisplayOrientation() != 0 && handle == platform::GetForegroundWindow()) {
            skipNextPaint = 1;
        }
    }
}

void CDialogBase::OnActivate(platform::WindowHandle handle) {
    platform::ShellFullScreen(handle, kShellHideInputButton);
}

void CDialogBase::PaintSkin(platform::WindowHandle handle, bool honourSkip) {
    if (honourSkip && skipNextPaint != 0) {
        skipNextPaint = 0;
        return;
    }
    platform::PaintScope paint(handle);
    platform::DrawingContext memory;
    // Without a skin the context has no bitmap and the copy paints black.
    memory.Select(GetSkinBitmap());
    paint.Context().BlockCopy(0, 0, 480, 640, memory, 0, 0);
}

void CDialogBase::OnInitDialog(platform::WindowHandle handle) {
    platform::ShellInitDialog(handle, kShellDialogFlags);
    if (GetDisplayOrientation() != 0) {
        ForcePortrait();
    }
    SetWindowHandle(handle);
    SetTitle(static_cast<int>(ui::res::kStrAppTitle));
}

bool CDialogBase::HandleConventions(platform::WindowHandle handle, uint32_t message,
                                    intptr_t lParam) {
    switch (message) {
        case platform::kMsgActivate:
            OnActivate(handle);
            return true;
        case platform::kMsgPaint:
            PaintSkin(handle);
            return true;
        case platform::kMsgWindowPosChanged:
            OnWindowPosChanged(handle, reinterpret_cast<const platform::WindowPosition*>(lParam));
            return true;
        default:
            return false;
    }
}
