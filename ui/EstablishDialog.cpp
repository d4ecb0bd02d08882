#include "ui/EstablishDialog.h"

#include <cmath>
#include <cstdlib>
#include <iterator>
#include <new>
#include <span>

#include "core/AppRegistry.h"
#include "platform/kernel/Kernel.h"
#include "platform/ui/WindowMessages.h"
#include "ui/MainScreenLayout.h"
#include "ui/VersionDialog.h"

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

// The title-bar Done button minimises; 1003 ends the screen and the program.
constexpr int kCommandDone = ui::res::kCtlOk;
constexpr int kCommandExitProgram = ui::res::kCtlExitProgram;
// What the screen ends with on 1003.
constexpr int kExitProgramResult = 2;
// The pause before the version screen opens.
constexpr uint32_t kVersionPauseMs = 100;

}  // namespace

void CEstablishDialog::FreeImage::operator()(uint8_t* image) const {
    std::free(image);
}

CEstablishDialog::CEstablishDialog()
    : cameraState_(nullptr), requests_(nullptr), ownRequests_(new ProgramPanelRequests) {
    requests_ = ownRequests_.get();
    skinBitmapId = ui::res::kBmpPanel;
}

CEstablishDialog::CEstablishDialog(CCameraState* cameraState, PanelRequests* requests)
    : cameraState_(cameraState), requests_(requests) {
    skinBitmapId = ui::res::kBmpPanel;
}

void CEstablishDialog::Init(platform::InstanceHandle instanceHandle,
                            platform::DialogProcedure proc) {
    CDialogBase::Init(instanceHandle, proc);
    for (size_t row = 0; row < std::size(ui::PanelLayout); ++row) {
        if (ui::PanelLayout[row].bitmapId != 0) {
            panelBitmaps_[row] = platform::LoadBitmap(instance, ui::PanelLayout[row].bitmapId);
        }
    }
    for (size_t row = 0; row < std::size(ui::OverlayLayout); ++row) {
        if (ui::OverlayLayout[row].bitmapId != 0) {
            overlayBitmaps_[row] = platform::LoadBitmap(instance, ui::OverlayLayout[row].bitmapId);
        }
    }
    InitPanel();
}

int CEstablishDialog::DoModal() {
    return DoModalTemplate(ui::res::kDlgMain, dialogProc);
}

CEstablishDialog::~CEstablishDialog() = default;

void CEstablishDialog::InitPanel() {
    if (!frameLock_.Create()) {
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
        const bool refused =
            (snapshot.mode == kModeVideoRecord && *id == ui::panel::kSnapshotButton) ||
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
    if (snapshot.mode == kModeVideoRecord) {
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
        requests_->SwitchGps(window);
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
            requests_->SwitchLiveView(window);
            return true;
        case ui::panel::kCaptureButton:
            previewState_ = kPreviewCapture;
            requests_->Capture(window);
            return true;
        case ui::panel::kExitBar:
            // That message's handler repaints.
            platform::SendWindowMessage(window, WM_CONFIRM_CLOSE);
            return false;
        case ui::panel::kGpsButton:
            // GPS was switched when the pen went down.
            return true;
        case ui::panel::kVersionBar:
            platform::SendWindowMessage(window, WM_SHOW_VERSION);
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
    if (snapshot.mode == kModeVideoRecord) {
        recordIndicator_ = snapshot.operationState;
    }
    if (snapshot.acPower == 1) {
        batteryIndicator_ = 0;
    } else {
        batteryIndicator_ = snapshot.batteryLevel + 1 > 6 ? 6 : snapshot.batteryLevel + 1;
    }
    gpsIndicator_ = snapshot.gpsStatus;
    if (snapshot.mode == kModeVideoRecord) {
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
    frameLock_.With([&](Frame& frame) {
        frame.data.reset(buffer);
        frame.size = buffer != nullptr ? size : 0;
        frame.shown.reset();
        frame.shownScale = 0.0;
    });
}

uint32_t CEstablishDialog::FrameSize() {
    return frameLock_.With([](Frame& frame) { return frame.size; });
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

// ---- the window procedure ---------------------------------------------------------

intptr_t MainScreenProcedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                             intptr_t lParam) {
    CEstablishDialog* screen = AppRegistry.mainScreen;
    return screen != nullptr ? screen->WindowProc(window, message, wParam, lParam) : 0;
}

intptr_t CEstablishDialog::WindowProc(platform::WindowHandle handle, uint32_t message,
                                      uintptr_t wParam, intptr_t lParam) {
    switch (message) {
        case platform::kMsgActivate:
            OnActivate(handle);
            return 0;
        case platform::kMsgSetFocus:
            ForcePortrait();
            return 0;
        case platform::kMsgKillFocus:
            OnFocusLost();
            return 0;
        case platform::kMsgEraseBackground:
            // The composition covers the whole window.
            return 1;
        case platform::kMsgPaint:
            Paint(handle);
            return 0;
        case platform::kMsgWindowPosChanged:
            OnWindowPosChanged(handle, reinterpret_cast<const platform::WindowPosition*>(lParam));
            return 0;
        case platform::kMsgInitDialog:
            OnMainInitDialog(handle);
            return 0;
        case platform::kMsgCommand:
            return OnCommand(handle, platform::CommandId(wParam));
        case platform::kMsgPenDown:
            return RepaintIf(handle, Press(platform::PenX(lParam), platform::PenY(lParam)));
        case platform::kMsgPenUp:
            return RepaintIf(handle, Release());
        case WM_SHOW_VERSION:
            OnShowVersion(handle);
            return 0;
        case WM_CONFIRM_CLOSE:
            requests_->ConfirmClose();
            return RepaintIf(handle, true);
        case WM_CAMERA_STATUS:
        case WM_GPS_STATUS:
            return RepaintIf(handle, OnCameraStatus());
        case WM_MONITOR_STARTING:
            return RepaintIf(handle, OnMonitorStarting());
        case WM_MONITOR_FRAME:
            return RepaintIf(handle, OnMonitorFrame());
        case WM_MONITOR_STOPPED:
            return RepaintIf(handle, OnMonitorStopped());
        default:
            return 0;
    }
}

intptr_t CEstablishDialog::RepaintIf(platform::WindowHandle handle, bool due) {
    if (due) {
        platform::InvalidateWindow(handle, false);
    }
    return 0;
}

void CEstablishDialog::OnMainInitDialog(platform::WindowHandle handle) {
    UpdateFromState(Snapshot());
    requests_->SetModeWindow(handle);
    platform::ShellInitDialog(handle, kShellDialogFlags);
    AppRegistry.mainSkin = GetSkinBitmap();
    if (GetDisplayOrientation() != 0) {
        ForcePortrait();
    }
    SetWindowHandle(handle);
    SetTitle(ui::res::kStrAppTitle);
    // Message boxes over this screen are owned by it.
    AppRegistry.mainWindow = handle;
    // Without a fitter the panel is drawn unscaled at the window's origin and
    // pen positions are taken as they come.
    fitter_.reset(new (std::nothrow) CScreenFitter(handle));
    AppRegistry.screenFitter = fitter_.get();
}

intptr_t CEstablishDialog::OnCommand(platform::WindowHandle handle, int id) {
    switch (id) {
        case kCommandDone:
            platform::MinimizeWindow(handle);
            return 0;
        case kCommandExitProgram:
            platform::EndDialog(handle, kExitProgramResult);
            return 1;
        default:
            return 0;
    }
}

void CEstablishDialog::OnShowVersion(platform::WindowHandle handle) {
    platform::Sleep(kVersionPauseMs);
    if (AppRegistry.versionScreen == nullptr) {
        AppRegistry.versionScreen = new CVersionDialog;  // lives until the process ends
        AppRegistry.versionScreen->Init(instance, &VersionProcedure);
    }
    AppRegistry.versionScreen->DoModal();
    platform::UpdateWindow(handle);
}

// ---- the composition ---------------------------------------------------------------

void CEstablishDialog::Paint(platform::WindowHandle handle) {
    if (GetSkipNextPaint() != 0) {
        SetSkipNextPaint(0);
        return;
    }
    platform::PaintScope paint(handle);
    const double deviceScale = paint.DeviceScale();
    if (DrawsInDevicePixels(deviceScale)) {
        PaintDevicePixels(paint.DeviceContext(), deviceScale);
    } else {
        PaintWindowPixels(paint.Context());
    }
}

bool CEstablishDialog::DrawsInDevicePixels(double deviceScale) const {
    // Composing in place saves the canvas, the presentation bitmap and two
    // copies at every scale; without a fitter the panel goes to the origin.
    return fitter_ != nullptr && deviceScale > 0.0;
}

void CEstablishDialog::PaintWindowPixels(platform::DrawingContext& screen) {
    UseScale(1.0);
    std::unique_ptr<platform::Bitmap> canvasBitmap =
        screen.CreateCompatibleBitmap(ui::kPanelWidth, ui::kPanelHeight);
    platform::DrawingContext source;
    platform::DrawingContext canvas;
    canvas.Select(canvasBitmap.get());
    ComposePanel(source, canvas);
    if (fitter_ != nullptr) {
        fitter_->Present(screen, canvas);
    } else {
        screen.BlockCopy(0, 0, ui::kPanelWidth, ui::kPanelHeight, canvas, 0, 0);
    }
    source.Select(nullptr);
    canvas.Select(nullptr);
}

void CEstablishDialog::PaintDevicePixels(platform::DrawingContext& device, double deviceScale) {
    if (fitter_ == nullptr) {
        return;
    }
    UseScale(fitter_->PanelScale(deviceScale));
    fitter_->FillAround(device, deviceScale);
    // Composed in place: the panel's pixels are the window's, with no copy
    // and nothing stretched.
    const std::unique_ptr<platform::DrawingContext> panel =
        device.Region(fitter_->DevicePlace(deviceScale));
    if (panel == nullptr) {
        return;
    }
    platform::DrawingContext source;
    ComposePanel(source, *panel);
    source.Select(nullptr);
}

void CEstablishDialog::UseScale(double scale) {
    if (!(scale > 0.0) || scale == 1.0) {
        drawScale_ = 1.0;
        return;
    }
    if (scale != deviceScale_) {
        deviceSkin_ = platform::LoadBitmap(instance, ui::res::kBmpPanel, scale);
        for (size_t row = 0; row < std::size(ui::PanelLayout); ++row) {
            const uint32_t id = ui::PanelLayout[row].bitmapId;
            devicePanelBitmaps_[row] =
                id != 0 ? platform::LoadBitmap(instance, id, scale) : nullptr;
        }
        for (size_t row = 0; row < std::size(ui::OverlayLayout); ++row) {
            const uint32_t id = ui::OverlayLayout[row].bitmapId;
            deviceOverlayBitmaps_[row] =
                id != 0 ? platform::LoadBitmap(instance, id, scale) : nullptr;
        }
        deviceScale_ = scale;
    }
    drawScale_ = scale;
}

int CEstablishDialog::At(int layout) const {
    return drawScale_ == 1.0 ? layout : static_cast<int>(std::lround(layout * drawScale_));
}

platform::Bitmap* CEstablishDialog::PanelBitmap(size_t row) const {
    return drawScale_ == 1.0 ? panelBitmaps_[row].get() : devicePanelBitmaps_[row].get();
}

platform::Bitmap* CEstablishDialog::OverlayBitmap(size_t row) const {
    return drawScale_ == 1.0 ? overlayBitmaps_[row].get() : deviceOverlayBitmaps_[row].get();
}

void CEstablishDialog::ComposePanel(platform::DrawingContext& source,
                                    platform::DrawingContext& canvas) {
    if (drawScale_ == 1.0) {
        source.Select(AppRegistry.mainSkin != nullptr ? AppRegistry.mainSkin : GetSkinBitmap());
        canvas.BlockCopy(0, 0, ui::kPanelWidth, ui::kPanelHeight, source, 0, 0);
    } else if (deviceSkin_ != nullptr) {
        source.Select(deviceSkin_.get());
        canvas.BlockCopy(0, 0, deviceSkin_->Width(), deviceSkin_->Height(), source, 0, 0);
    } else {
        canvas.FillSolid(platform::Rect{0, 0, At(ui::kPanelWidth), At(ui::kPanelHeight)}, 0x000000);
    }
    DrawIndicators(source, canvas);
    DrawPressed(source, canvas);
    const CameraStateSnapshot snapshot = Snapshot();
    if (cameraState_->IsPanelLocked()) {
        DrawAllCovers(source, canvas);
        return;
    }
    DrawPreview(source, canvas);
    if (snapshot.mode == kModeVideoRecord) {
        DrawCover(source, canvas, ui::kOverlayRowCoverSnapshot);
    } else if (IsPlaybackMode(snapshot.mode)) {
        DrawCover(source, canvas, ui::kOverlayRowCoverGps);
    }
}

void CEstablishDialog::DrawRow(platform::DrawingContext& source, platform::DrawingContext& canvas,
                               const ui::SkinPart& part, platform::Bitmap* bitmap) {
    if (bitmap == nullptr) {
        return;
    }
    source.Select(bitmap);
    canvas.BlockCopy(At(part.x), At(part.y), bitmap->Width(), bitmap->Height(), source, 0, 0);
}

void CEstablishDialog::DrawIndicators(platform::DrawingContext& source,
                                      platform::DrawingContext& canvas) {
    // The state's setters keep mode, record and battery in range; the GPS
    // status is stored as it comes, so only its known values are drawn.
    auto overlay = [&](int row) {
        if (row >= 0 && row < static_cast<int>(std::size(ui::OverlayLayout))) {
            DrawRow(source, canvas, ui::OverlayLayout[row],
                    OverlayBitmap(static_cast<size_t>(row)));
        }
    };
    if (modeIndicator_ >= kModeVideoRecord && modeIndicator_ <= kModeStillPlayback) {
        overlay(ui::kOverlayRowMode + modeIndicator_);
    }
    if (modeIndicator_ == kModeVideoRecord &&
        (recordIndicator_ == kStateStandby || recordIndicator_ == kStateShooting)) {
        overlay(ui::kOverlayRowRecord + recordIndicator_);
    }
    if (batteryIndicator_ >= 0 && batteryIndicator_ <= 6) {
        overlay(ui::kOverlayRowBattery + batteryIndicator_);
    }
    if (gpsIndicator_ == kGpsStatusPosition || gpsIndicator_ == kGpsStatusNoPosition) {
        overlay(ui::kOverlayRowGps + gpsIndicator_);
    }
}

void CEstablishDialog::DrawPressed(platform::DrawingContext& source,
                                   platform::DrawingContext& canvas) {
    if (pressedRow_ >= 0 && pressedRow_ < ui::kPanelControlRows) {
        DrawRow(source, canvas, ui::PanelLayout[pressedRow_],
                PanelBitmap(static_cast<size_t>(pressedRow_)));
    }
}

void CEstablishDialog::DrawCover(platform::DrawingContext& source, platform::DrawingContext& canvas,
                                 int row) {
    if (row >= 0 && row < ui::kOverlayCoverRows) {
        DrawRow(source, canvas, ui::OverlayLayout[row], OverlayBitmap(static_cast<size_t>(row)));
    }
}

void CEstablishDialog::DrawAllCovers(platform::DrawingContext& source,
                                     platform::DrawingContext& canvas) {
    for (int row = 0; row < ui::kOverlayCoverRows; ++row) {
        DrawCover(source, canvas, row);
    }
}

void CEstablishDialog::DrawPreview(platform::DrawingContext& source,
                                   platform::DrawingContext& canvas) {
    if (previewState_ >= kPreviewCapture && previewState_ <= kPreviewStarting) {
        const int row = ui::kPanelRowCapture + previewState_;
        DrawRow(source, canvas, ui::PanelLayout[row], PanelBitmap(static_cast<size_t>(row)));
        return;
    }
    if (previewState_ != kPreviewImage) {
        return;
    }
    frameLock_.With([&](Frame& frame) {
        if (frame.data == nullptr) {
            return;
        }
        const ui::LayoutRect& r = ui::PreviewRect;
        const platform::Rect shownAt{At(r.left), At(r.top), At(r.right), At(r.bottom)};
        // Decoded once per frame and scale: later repaints (presses, status)
        // draw the same picture again. At the panel's own scale the picture is
        // drawn as it decodes; on a finer screen it is decoded at its shown size.
        if (frame.shown == nullptr || frame.shownScale != drawScale_) {
            const std::span<const uint8_t> bytes(frame.data.get(), frame.size);
            frame.shown = drawScale_ == 1.0 ? platform::JpegImage::FromBuffer(bytes)
                                            : platform::JpegImage::FromBuffer(
                                                  bytes, shownAt.Width(), shownAt.Height());
            frame.shownScale = drawScale_;
        }
        // A frame that does not decode leaves the skin's black for this paint.
        if (frame.shown != nullptr) {
            frame.shown->Draw(canvas, shownAt);
        }
    });
}
