#include "ui/PanelRequests.h"

#include "controllers/CamCmdController.h"
#include "controllers/CamModeController.h"
#include "controllers/CaptureContller.h"
#include "controllers/CaptureSaveDialog.h"
#include "controllers/GpsController.h"
#include "controllers/MonitorController.h"
#include "core/AppRegistry.h"
#include "platform/ui/LiveWait.h"
#include "resources/ResourceIds.h"
#include "resources/Strings.h"
#include "ui/BackgroundDialog.h"
#include "ui/CloseConfirmWorker.h"

namespace {

// As the save flow's "FILE SAVED": a one-second box, 1700 ms in all.
constexpr uint32_t kNoGpsBoxSeconds = 1;
constexpr uint32_t kNoGpsBoxWaitMs = 1700;

}  // namespace

void ProgramPanelRequests::KeyDown(int buttonId) {
    if (AppRegistry.commandController != nullptr) {
        const CamCmdRecord command = CCamCmdController::MakeCommand(buttonId);
        AppRegistry.commandController->Request(&command);
    }
}

void ProgramPanelRequests::KeyUp() {
    if (AppRegistry.commandController != nullptr) {
        AppRegistry.commandController->Request(static_cast<const CamCmdRecord*>(nullptr));
    }
}

void ProgramPanelRequests::SwitchGps(platform::WindowHandle window) {
    CGpsController* gps = AppRegistry.gpsController;
    if (gps == nullptr) {
        return;
    }
    gps->Request(window);  // nothing happens without a position source
    // A button that does nothing visibly looks broken: say why, once a run,
    // in the save flow's self-closing box.
    static bool told = false;
    if (!gps->DeviceAvailable() && !told) {
        told = true;
        const std::u16string caption(ui::ResourceString(ui::res::kStrErrorCaption));
        const std::u16string text(ui::ResourceString(ui::res::kStrNoGpsSource));
        CCaptureSaveDialog box(caption.c_str(), text.c_str(), kNoGpsBoxSeconds);
        box.Start();
        platform::WaitKeepingWindowsLive(kNoGpsBoxWaitMs);
    }
}

void ProgramPanelRequests::SwitchLiveView(platform::WindowHandle window) {
    if (AppRegistry.monitorController != nullptr) {
        AppRegistry.monitorController->Request(window);
    }
}

void ProgramPanelRequests::TakeImage(uint8_t** image, uint32_t* imageSize) {
    *image = nullptr;
    *imageSize = 0;
    if (AppRegistry.monitorController != nullptr) {
        AppRegistry.monitorController->TakeImage(image, imageSize);
    }
}

void ProgramPanelRequests::Capture(platform::WindowHandle window) {
    if (AppRegistry.captureController != nullptr) {
        AppRegistry.captureController->Request(window);
    }
}

void ProgramPanelRequests::SetModeWindow(platform::WindowHandle window) {
    if (AppRegistry.modeController != nullptr) {
        AppRegistry.modeController->SetWindow(window);
    }
}

void ProgramPanelRequests::CloseBackdrop() {
    if (AppRegistry.backdropScreen != nullptr) {
        AppRegistry.backdropScreen->Close();
    }
}

void ProgramPanelRequests::ConfirmClose() {
    // A thread that cannot be made asks nothing; the user may press again.
    StartCloseConfirmWorker();
}
