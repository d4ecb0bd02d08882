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
    CVersionDialog* versionScreen = nullptr;
    CCaptureDialog* captureProgressScreen = nullptr;
    CCaptureConfirmDialog* captureConfirmScreen = nullptr;
    // The main remote-control screen's window once it runs; boxes that the
    // program shows over that screen are owned by it.
    platform::WindowHandle mainWindow;
};

extern AppRegistryTable AppRegistry;
