// The main remote-control screen: a 480 x 588 skinned panel with the live
// preview, the camera's indicators, ten key buttons and the Ver. and Exit
// bars. It does no camera work itself: a touch hands the action to a
// controller, and the controllers' messages make it take a snapshot of the
// camera state and repaint. Every repaint composes the whole panel off
// screen from the layout tables and presents it through CScreenFitter.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "core/CameraState.h"
#include "platform/kernel/Kernel.h"
#include "platform/kernel/Protected.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/Graphics.h"
#include "platform/ui/Window.h"
#include "resources/ResourceIds.h"
#include "ui/DialogBase.h"
#include "ui/MainScreenLayout.h"
#include "ui/PanelRequests.h"
#include "ui/ScreenFitter.h"

class CEstablishDialog : public CDialogBase {
public:
    // What the preview area shows.
    enum PreviewState : int {
        kPreviewCapture = 0,          // capture button at rest
        kPreviewCapturePressed = 1,   // capture button pressed
        kPreviewLiveView = 2,         // live-view button at rest
        kPreviewLiveViewPressed = 3,  // live-view button pressed
        kPreviewStarting = 4,         // live view starting
        kPreviewImage = 5,            // the last live-view image
        kPreviewNothing = 99,         // still recording mode: nothing
    };

    // The program's screen: its camera state and controllers are those of
    // AppRegistry. A test passes its own state and requests, which must
    // outlive the screen.
    CEstablishDialog();
    CEstablishDialog(CCameraState* cameraState, PanelRequests* requests);
    ~CEstablishDialog() override;
    CEstablishDialog(const CEstablishDialog&) = delete;
    CEstablishDialog& operator=(const CEstablishDialog&) = delete;

    // Stores instance and procedure, loads the bitmap of every non-empty
    // row of both layout tables and creates the frame lock (InitPanel).
    void Init(platform::InstanceHandle instanceHandle, platform::DialogProcedure proc) override;
    // Template 110 with the stored procedure.
    int DoModal() override;

    // Creates the frame lock; throws std::bad_alloc when it cannot.
    void InitPanel();

    // The main screen's window procedure, message by message.
    intptr_t WindowProc(platform::WindowHandle handle, uint32_t message, uintptr_t wParam,
                        intptr_t lParam);

    // Pen down at window position (x, y): true when the panel must be
    // repainted (nothing at all happens when the pen hits no control).
    bool Press(int x, int y);
    // Pen up, wherever it is: the pressed control's action. True when the
    // panel must be repainted.
    bool Release();
    // Focus lost: a held key stops and the pressed picture goes at once;
    // the pressed id stays, so the later pen-up still acts on it.
    void OnFocusLost();

    // The panel's controls (rows 0 to 11) strictly inside: 1 with the
    // control's id in *id and pressedRow set, else 0. Refused: the snapshot
    // button in mode 0, the GPS button in modes 1 and 3.
    int HitTestPanel(const CameraStateSnapshot& snapshot, int x, int y, int* id);
    // The preview area's target for the mode: 1 with its id, else 0.
    int HitTestPreview(const CameraStateSnapshot& snapshot, int x, int y, int* id);

    void SetPressedId(int id) { pressedId_ = id; }
    int TakePressedId();
    void ClearPressedRow() { pressedRow_ = kNoPressedRow; }
    void SetPreviewState(int value) { previewState_ = value; }

    // The indicators and the preview area follow a camera-state snapshot.
    void UpdateFromState(const CameraStateSnapshot& snapshot);

    // Takes over `buffer` (from the C heap, as TakeImage hands it out; null
    // for none) as the image to show, freeing the one held before.
    void SetFrame(uint8_t* buffer, uint32_t size);

    // The screen's own messages and the controllers'. Each returns whether
    // the panel must be repainted.
    bool OnCameraStatus();
    bool OnMonitorStarting();
    bool OnMonitorFrame();
    bool OnMonitorStopped();

    // The composition's parts: each copies rows of the layout tables from
    // their bitmaps (selected in turn into `source`) onto `canvas`.
    void DrawIndicators(platform::DrawingContext& source, platform::DrawingContext& canvas);
    void DrawPressed(platform::DrawingContext& source, platform::DrawingContext& canvas);
    // Rows 0 to 9 of OverlayLayout; other rows draw nothing.
    void DrawCover(platform::DrawingContext& source, platform::DrawingContext& canvas, int row);
    void DrawAllCovers(platform::DrawingContext& source, platform::DrawingContext& canvas);
    void DrawPreview(platform::DrawingContext& source, platform::DrawingContext& canvas);
    // Steps 3 to 6 of a repaint: the skin, the indicators, the pressed
    // control and the covers or the preview, onto a canvas of the panel's
    // size at the composing scale (480 x 588 at 1).
    void ComposePanel(platform::DrawingContext& source, platform::DrawingContext& canvas);

    // Composes at `scale` device pixels per layout pixel from now on; the
    // skin is drawn for a new scale on first use and kept.
    void UseScale(double scale);
    double DrawScale() const { return drawScale_; }

    // Whether a window whose screen has `deviceScale` pixels to a window
    // pixel is painted in the screen's pixels (PaintDevicePixels) rather
    // than in the window's (PaintWindowPixels): whenever there is a fitter.
    bool DrawsInDevicePixels(double deviceScale) const;
    // Steps 3 to 7 in the window's pixels: a 480 x 588 canvas, presented by
    // the fitter (copied, or stretched when the window is not the panel's size).
    void PaintWindowPixels(platform::DrawingContext& window);
    // Steps 3 to 7 in the screen's pixels: the panel composed at the fitter's
    // scale times `deviceScale` straight into its place, black around it.
    void PaintDevicePixels(platform::DrawingContext& device, double deviceScale);

    // The fitter, made at dialog initialisation (null before).
    const CScreenFitter* Fitter() const { return fitter_.get(); }
    void SetFitter(std::unique_ptr<CScreenFitter> fitter) { fitter_ = std::move(fitter); }

    int PressedId() const { return pressedId_; }
    int PressedRow() const { return pressedRow_; }
    int PreviewStateValue() const { return previewState_; }
    int ModeIndicator() const { return modeIndicator_; }
    int RecordIndicator() const { return recordIndicator_; }
    int BatteryIndicator() const { return batteryIndicator_; }
    int GpsIndicator() const { return gpsIndicator_; }
    // Size of the held image, 0 when none is held.
    uint32_t FrameSize();

    static constexpr int kNoPressedRow = 99;

private:
    CameraStateSnapshot Snapshot();
    void OnMainInitDialog(platform::WindowHandle handle);
    intptr_t OnCommand(platform::WindowHandle handle, int id);
    void OnShowVersion(platform::WindowHandle handle);
    void Paint(platform::WindowHandle handle);
    // Repaints (the whole window, without erasing) when `due`; returns 0.
    static intptr_t RepaintIf(platform::WindowHandle handle, bool due);
    void DrawRow(platform::DrawingContext& source, platform::DrawingContext& canvas,
                 const ui::SkinPart& part, platform::Bitmap* bitmap);
    // A layout coordinate at the composing scale.
    int At(int layout) const;
    platform::Bitmap* PanelBitmap(size_t row) const;
    platform::Bitmap* OverlayBitmap(size_t row) const;

    struct FreeImage {
        void operator()(uint8_t* image) const;
    };
    // The image on show, from the C heap as TakeImage hands it out, and the
    // picture decoded from it at the size it is shown, made once per frame.
    struct Frame {
        std::unique_ptr<uint8_t, FreeImage> data;
        uint32_t size = 0;
        std::unique_ptr<platform::JpegImage> shown;
        double shownScale = 0.0;
    };

    CCameraState* cameraState_;
    PanelRequests* requests_;
    std::unique_ptr<PanelRequests> ownRequests_;
    std::unique_ptr<CScreenFitter> fitter_;
    // The bitmaps of the layout tables' rows, loaded by Init (empty rows stay null).
    std::array<std::unique_ptr<platform::Bitmap>, std::size(ui::PanelLayout)> panelBitmaps_;
    std::array<std::unique_ptr<platform::Bitmap>, std::size(ui::OverlayLayout)> overlayBitmaps_;
    // The same, with the panel at rest, drawn for deviceScale_ (when it is not 1).
    double drawScale_ = 1.0;
    double deviceScale_ = 0.0;
    std::unique_ptr<platform::Bitmap> deviceSkin_;
    std::array<std::unique_ptr<platform::Bitmap>, std::size(ui::PanelLayout)> devicePanelBitmaps_;
    std::array<std::unique_ptr<platform::Bitmap>, std::size(ui::OverlayLayout)>
        deviceOverlayBitmaps_;

    int pressedId_ = 0;               // control under the pen; 99 a refused press
    int pressedRow_ = kNoPressedRow;  // PanelLayout row drawn pressed
    int previewState_ = kPreviewCapture;
    int modeIndicator_ = 0;
    int recordIndicator_ = 0;
    int batteryIndicator_ = 0;
    int gpsIndicator_ = 0;

    // The image on show and its lock (made by InitPanel), reachable only under it.
    platform::Protected<Frame> frameLock_;
};

// The main screen's procedure: finds the screen in AppRegistry.
intptr_t MainScreenProcedure(platform::WindowHandle window, uint32_t message, uintptr_t wParam,
                             intptr_t lParam);
