#include "ui/PanelRequests.h"

#include "controllers/CamCmdController.h"
#include "controllers/CamModeController.h"
#include "controllers/CaptureContller.h"
#include "controllers/GpsController.h"
#include "controllers/MonitorController.h"
#include "core/AppRegistry.h"
#include "ui/BackgroundDialog.h"
#include "ui/CloseConfirmWorker.h"

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
    if (AppRegistry.gpsController != nullptr) {
        AppRegistry.gpsController->Request(window);
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
