// The one process-wide table of the long-lived objects and a few handles.
// Filled on the main thread before any other thread starts; read everywhere.
#pragma once

#include "platform/ui/Window.h"

class CConfigStore;
class CCameraState;
class CCtpEngine;
class CLinkLoader;
class CBluetooth;
class CGpsController;
class CCamCmdController;
class CCamModeController;
class CMonitorController;
class CCaptureContller;
class CBackgroundDialog;
class CCamSetDialog;
class CDeviceSelectDialog;
class CDeviceConnectDialog;
class CEstablishDialog;
class CVersionDialog;
class CCaptureDialog;
class CCaptureConfirmDialog;
class CScreenFitter;
namespace platform {
class Bitmap;
struct ResourceModule;
}  // namespace platform

struct AppRegistryTable {
    CConfigStore* configStore = nullptr;
    CCameraState* cameraState = nullptr;
    CCtpEngine* ctpEngine = nullptr;
    CLinkLoader* linkLoader = nullptr;
    CBluetooth* bluetooth = nullptr;
    CGpsController* gpsController = nullptr;
    CCamCmdController* commandController = nullptr;
    CCamModeController* modeController = nullptr;
    CMonitorController* monitorController = nullptr;
    CCaptureContller* captureController = nullptr;
    CBackgroundDialog* backdropScreen = nullptr;
    CCamSetDialog* instructionScreen = nullptr;
    CDeviceSelectDialog* selectScreen = nullptr;
    CDeviceConnectDialog* connectScreen = nullptr;
    CEstablishDialog* mainScreen = nullptr;
    // The module instance handle given to the entry point, stored by Init.
    const platform::ResourceModule* instance = nullptr;
    // The main screen's skin bitmap and presentation geometry, set at its
    // initialisation; the screen owns both.
    platform::Bitmap* mainSkin = nullptr;
    CScreenFitter* screenFitter = nullptr;
    CVersionDialog* versionScreen = nullptr;
    CCaptureDialog* captureProgressScreen = nullptr;
    CCaptureConfirmDialog* captureConfirmScreen = nullptr;
    // The main remote-control screen's window once it runs; boxes that the
    // program shows over that screen are owned by it.
    platform::WindowHandle mainWindow;
};

extern AppRegistryTable AppRegistry;
