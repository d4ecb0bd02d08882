#include "app/Application.h"

#include <new>

#include "app/LinkLost.h"
#include "app/MediaPlayer.h"
#include "controllers/CamCmdController.h"
#include "controllers/CamModeController.h"
#include "controllers/CaptureContller.h"
#include "controllers/GpsController.h"
#include "controllers/MonitorController.h"
#include "core/AppRegistry.h"
#include "core/CameraState.h"
#include "core/ConfigStore.h"
#include "ctp/CtpEngine.h"
#include "link/Bluetooth.h"
#include "link/DeviceSource.h"
#include "link/LinkLoader.h"
#include "platform/kernel/Kernel.h"
#include "platform/power/SleepInhibitor.h"
#include "ui/BackgroundDialog.h"
#include "ui/CamSetDialog.h"
#include "ui/CaptureScreenSet.h"
#include "ui/DeviceConnectDialog.h"
#include "ui/DeviceSelectDialog.h"
#include "ui/EstablishDialog.h"

namespace {

// The design's "Memory Error.": an entry that stayed empty ends start-up.
template <typename T>
T* Required(T* object) {
    if (object == nullptr) {
        throw std::bad_alloc();
    }
    return object;
}

}  // namespace

CApplication::CApplication() {
    AppRegistry.configStore = Required(CConfigStore::GetInstance());
    AppRegistry.cameraState = Required(CCameraState::GetInstance());
    AppRegistry.ctpEngine = Required(CCtpEngine::GetInstance());
    // Once connected, a lost link tells the user and ends the program.
    app::InstallLinkLostHandler(*AppRegistry.ctpEngine);
    // Exactly one device source for the whole run.
    InstallDeviceSource();
    AppRegistry.gpsController = new CGpsController(ControllerServices::Program());
    AppRegistry.commandController = Required(CCamCmdController::GetInstance());
    AppRegistry.modeController = Required(CCamModeController::GetInstance());
    AppRegistry.monitorController = Required(CMonitorController::GetInstance());
    AppRegistry.captureController = Required(CCaptureContller::GetInstance());
    AppRegistry.backdropScreen = new CBackgroundDialog;
    AppRegistry.instructionScreen = new CCamSetDialog;
    AppRegistry.selectScreen = new CDeviceSelectDialog;
    AppRegistry.connectScreen = new CDeviceConnectDialog;
    AppRegistry.mainScreen = new CEstablishDialog;
}

void CApplication::Init(platform::InstanceHandle instance) {
    AppRegistry.instance = instance;
    // The program keeps the handset awake while the camera needs it (see
    // controllers/StayAwake.h); the tools and tests that share the
    // controllers do not.
    platform::EnableSleepInhibitor(true);
    AppRegistry.gpsController->Start();
    AppRegistry.commandController->Start();
    AppRegistry.modeController->Start();
    AppRegistry.monitorController->Start();
    AppRegistry.captureController->SetInstance(instance);
    // The capture's screens, which run on the main thread when it is asked to capture.
    AppRegistry.captureController->SetScreens(new CCaptureScreenSet(instance));
    AppRegistry.captureController->Start();
}

int CApplication::Run() {
    const platform::InstanceHandle instance = AppRegistry.instance;
    AppRegistry.backdropScreen->Init(instance, &BackdropProcedure);
    // The backdrop thread runs on its own; its handle is not kept.
    platform::Thread::Create(&BackdropThread, nullptr, false);
    AppRegistry.gpsController->CheckDevice();
    if (CCamSetDialog* instruction = AppRegistry.instructionScreen) {
        instruction->Init(instance, &InstructionProcedure);
        instruction->DoModal();
        AppRegistry.instructionScreen = nullptr;
        delete instruction;
    }
    if (ConnectLoop() == 0) {
        return 0;
    }
    app::OfferMediaPlayer();
    AppRegistry.mainScreen->Init(instance, &MainScreenProcedure);
    AppRegistry.mainScreen->DoModal();
    return 0;
}

int CApplication::ConnectLoop() {
    const platform::InstanceHandle instance = AppRegistry.instance;
    AppRegistry.selectScreen->Init(instance, &DeviceSelectProcedure);
    AppRegistry.connectScreen->Init(instance, &DeviceConnectProcedure);
    for (;;) {
        // Each pass lists the devices afresh, so pairings made meanwhile show.
        WithDeviceSource(
            [](auto& source) {
                source.EnumerateDevices();
                return 0;
            },
            0);
        if (AppRegistry.selectScreen->DoModal() == 1 && AppRegistry.connectScreen->DoModal() == 1) {
            return 1;
        }
    }
}

uint32_t BackdropThread(void* /*unused*/) {
    AppRegistry.backdropScreen->DoModal();
    return 0;
}
