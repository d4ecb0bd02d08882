#include "ui/EstablishDialog.h"

#include <cstdlib>
#include <new>

#include "app/AppRegistry.h"
#include "platform/ui/WindowMessages.h"
#include "ui/MainScreenLayout.h"

namespace {

// The nine buttons whose press holds a camera key.
bool IsKeyButton(int id) {
    switch (id) {
        case ui::panel::kWideButton:
        case ui::panel::kForwardButton:
        case ui::panel::kIndexButton:
        case ui::panel::kPlayButton:
        case ui::panel::kRecordButton:
        case ui::panel::kPauseButton:
        case ui::panel::kRewindButton:
        case ui::panel::kSnapshotButton:
        case ui::panel::kTeleButton:
            return true;
        default:
            return false;
    }
}

bool IsPlaybackMode(int mode) {
    return mode == 1 || mode == 3;
}

}  // namespace

void CEstablishDialog::FreeImage::operator()(uint8_t* image) const {
    std::free(image);
}

CEstablishDialog::CEstablishDialog()
    : cameraState_(nullptr), requests_(nullptr), ownRequests_(new ProgramPanelRequests) {
    requests_ = ownRequests_.get();
}

CEstablishDialog::CEstablishDialog(CCameraState* cameraState, PanelRequests* requests)
    : cameraState_(cameraState), requests_(requests) {}

CEstablishDialog::~CEstablishDialog() = default;

void CEstablishDialog::InitPanel() {
    frameLock_ = platform::Mutex::Create();
    if (frameLock_ == nullptr) {
        throw std::bad_alloc();
    }
}

CameraStateSnapshot CEstablishDialog::Snapshot() {
    if (cameraState_ == nullptr) {
        cameraState_ = AppRegistry.cameraState != nullptr ? AppRegistry.cameraState
                                                          : CCameraState::GetInstance();
    }
    CameraStateSnapshot snapshot{};
    cameraState_->GetSnapshot(&snapshot);
    return snapshot;
}

int CEstablishDialog::TakePressedId() {
    const int id = pressedId_;
    pressedId_ = 0;
    return id;
}

int CEstablishDialog::HitTestPanel(const CameraStateSnapshot& snapshot, int x, int y, int* id) {
    for (int row = 0; row < ui::kPanelControlRows; ++row) {
        const ui::SkinPart& part = ui::PanelLayout[row];
        if (!ui::IsStrictlyInside(part, x, y)) {
            continue;
        }
        pressedRow_ = row;
        *id = part.bitmapId;
        const bool refused = (snapshot.mode == 0 && *id == ui::panel::kSnapshotButton) ||
                             (IsPlaybackMode(snapshot.mode) && *id == ui::panel::kGpsButton);
        if (refused) {
            pressedRow_ = kNoPressedRow;
            *id = 0;
            return 0;
        }
        return 1;
    }
    return 0;
}

int CEstablishDialog::HitTestPreview(const CameraStateSnapshot& snapshot, int x, int y, int* id) {
    int row = 0;
    int pressedState = 0;
    if (snapshot.mode == 0) {
        row = ui::kPanelRowLiveView;
        pressedState = kPreviewLiveViewPressed;
    } else if (IsPlaybackMode(snapshot.mode)) {
        row = ui::kPanelRowCapture;
        pressedState = kPreviewCapturePressed;
    } else {
        return 0;
    }
    const ui::SkinPart& part = ui::PanelLayout[row];
    if (!ui::IsStrictlyInside(part, x, y)) {
        return 0;
    }
    *id = part.bitmapId;
    previewState_ = pressedState;
    return 1;
}

bool CEstablishDialog::Press(int x, int y) {
    const CameraStateSnapshot snapshot = Snapshot();
    if (fitter_ != nullptr) {
        x = fitter_->MapX(x);
        y = fitter_->MapY(y);
    }
    int id = ui::panel::kRefusedPress;
    if (HitTestPanel(snapshot, x, y, &id) == 0 && HitTestPreview(snapshot, x, y, &id) == 0) {
        return false;
    }
    SetPressedId(id);
    if (cameraState_->IsPanelLocked()) {
        // Nothing is sent while the camera is busy, and the preview's
        // release must do nothing either.
        if (id == ui::panel::kLiveViewButton || id == ui::panel::kCaptureButton) {
            SetPressedId(ui::panel::kRefusedPress);
        }
        return true;
    }
    if (IsKeyButton(id)) {
        requests_->KeyDown(id);
    } else if (id == ui::panel::kGpsButton) {
        requests_->SwitchGps(panelWindow_);
    }
    return true;
}

bool CEstablishDialog::Release() {
    ClearPressedRow();
    const int id = TakePressedId();
    if (IsKeyButton(id)) {
        requests_->KeyUp();
        return true;
    }
    switch (id) {
        case ui::panel::kLiveViewButton:
            requests_->SwitchLiveView(panelWindow_);
            return true;
        case ui::panel::kCaptureButton:
            previewState_ = kPreviewCapture;
            requests_->Capture(panelWindow_);
            return true;
        case ui::panel::kExitBar:
            // That message's handler repaints.
            platform::SendWindowMessage(panelWindow_, WM_CONFIRM_CLOSE);
            return false;
        case ui::panel::kGpsButton:
            // GPS was switched when the pen went down.
            return true;
        case ui::panel::kVersionBar:
            platform::SendWindowMessage(panelWindow_, WM_SHOW_VERSION);
            return true;
        default:
            return false;
    }
}

void CEstablishDialog::OnFocusLost() {
    requests_->CloseBackdrop();
    requests_->KeyUp();
    ClearPressedRow();
}

void CEstablishDialog::UpdateFromState(const CameraStateSnapshot& snapshot) {
    modeIndicator_ = snapshot.mode;
    if (snapshot.mode == 0) {
        recordIndicator_ = snapshot.operationState;
    }
    if (snapshot.acPower == 1) {
        batteryIndicator_ = 0;
    } else {
        batteryIndicator_ = snapshot.batteryLevel + 1 > 6 ? 6 : snapshot.batteryLevel + 1;
    }
    gpsIndicator_ = snapshot.gpsStatus;
    if (snapshot.mode == 0) {
        if (previewState_ < kPreviewStarting || previewState_ == kPreviewNothing) {
            previewState_ = snapshot.monitorActive != 0 ? kPreviewImage : kPreviewLiveView;
        }
    } else if (IsPlaybackMode(snapshot.mode)) {
        previewState_ = kPreviewCapture;
    } else {
        previewState_ = kPreviewNothing;
    }
}

void CEstablishDialog::SetFrame(uint8_t* buffer, uint32_t size) {
    WithFrame([&](Frame& frame) {
        frame.data.reset(buffer);
        frame.size = buffer != nullptr ? size : 0;
    });
}

uint32_t CEstablishDialog::FrameSize() {
    return WithFrame([](Frame& frame) { return frame.size; });
}

bool CEstablishDialog::OnCameraStatus() {
    UpdateFromState(Snapshot());
    return true;
}

bool CEstablishDialog::OnMonitorStarting() {
    previewState_ = kPreviewStarting;
    return true;
}

bool CEstablishDialog::OnMonitorFrame() {
    if (Snapshot().monitorActive == 0) {
        return false;
    }
    previewState_ = kPreviewImage;
    uint8_t* image = nullptr;
    uint32_t imageSize = 0;
    requests_->TakeImage(&image, &imageSize);
    // Ownership passes here; without a new image the last one stays.
    if (image != nullptr) {
        SetFrame(image, imageSize);
    }
    return true;
}

bool CEstablishDialog::OnMonitorStopped() {
    SetFrame(nullptr, 0);
    previewState_ = kPreviewLiveView;
    return true;
}
