// The numbers of the program's resources: strings, dialog templates, controls
// and skin bitmaps, and the program's own window messages. Code names them
// here and never spells the numbers out.
#pragma once

#include <cstdint>

namespace ui::res {

// Strings (resources/Strings.cpp holds their texts).
inline constexpr uint32_t kStrOk = 104;
inline constexpr uint32_t kStrCancel = 105;
inline constexpr uint32_t kStrAppTitle = 106;
inline constexpr uint32_t kStrSelectDevice = 107;
inline constexpr uint32_t kStrConnecting = 108;
inline constexpr uint32_t kStrCheck = 109;
inline constexpr uint32_t kStrConfirmClose = 110;
inline constexpr uint32_t kStrYes = 111;
inline constexpr uint32_t kStrNo = 112;
inline constexpr uint32_t kStrErrorCaption = 113;
inline constexpr uint32_t kStrOutOfMemory = 114;
inline constexpr uint32_t kStrBluetoothNotAvailable = 115;
inline constexpr uint32_t kStrNoPairedDevice = 116;
inline constexpr uint32_t kStrConnectionTimeOut = 118;
inline constexpr uint32_t kStrConnectionFailed = 119;
inline constexpr uint32_t kStrCapture = 120;
inline constexpr uint32_t kStrSaveImage = 121;
inline constexpr uint32_t kStrFileExists = 123;
inline constexpr uint32_t kStrSavingFile = 124;
inline constexpr uint32_t kStrFileSaved = 125;
inline constexpr uint32_t kStrImageAcquisitionFailed = 126;
inline constexpr uint32_t kStrBluetoothDisconnected = 127;
inline constexpr uint32_t kStrAcquiringImage = 128;
inline constexpr uint32_t kStrInsufficientSpace = 129;
inline constexpr uint32_t kStrFileProtected = 130;
inline constexpr uint32_t kStrFileSaveFailed = 131;
inline constexpr uint32_t kStrVersionTitle = 132;
inline constexpr uint32_t kStrCopyright = 133;
inline constexpr uint32_t kStrVersionLabel = 134;
inline constexpr uint32_t kStrVersionNumber = 135;
inline constexpr uint32_t kStrProductLine = 136;
// Shown when camora-remote holds the camcorder's link at start-up.
inline constexpr uint32_t kStrLinkInUse = 137;
// Shown once per run when the GPS button is pressed with no position source.
inline constexpr uint32_t kStrNoGpsSource = 138;
inline constexpr uint32_t kStrEnableBluetooth = 1044;

// Dialog templates.
inline constexpr uint32_t kDlgConnect = 101;
inline constexpr uint32_t kDlgInstruction = 102;
inline constexpr uint32_t kDlgSelect = 109;
inline constexpr uint32_t kDlgMain = 110;
inline constexpr uint32_t kDlgCaptureProgress = 142;
inline constexpr uint32_t kDlgCaptureConfirm = 143;
inline constexpr uint32_t kDlgVersion = 144;
inline constexpr uint32_t kDlgBackdrop = 251;

// Controls (ids within their templates; 1 and 2 are the shell's OK and Cancel).
inline constexpr uint32_t kCtlOk = 1;
inline constexpr uint32_t kCtlCancel = 2;
inline constexpr uint32_t kCtlInstructionText = 102;
inline constexpr uint32_t kCtlCaptureProgressBar = 142;
inline constexpr uint32_t kCtlExitProgram = 1003;
inline constexpr uint32_t kCtlDeviceList = 1007;
inline constexpr uint32_t kCtlCaptureYes = 1014;
inline constexpr uint32_t kCtlDeviceName = 1043;
inline constexpr uint32_t kCtlSelectLabel = 1047;
inline constexpr uint32_t kCtlConnectingText = 1048;
inline constexpr uint32_t kCtlCaptureProgressText = 1050;
inline constexpr uint32_t kCtlCaptureConfirmText = 1051;
inline constexpr uint32_t kCtlCaptureNo = 1052;
inline constexpr uint32_t kCtlVersionTitle = 1053;
inline constexpr uint32_t kCtlVersionProduct = 1054;
inline constexpr uint32_t kCtlVersionLabel = 1055;
inline constexpr uint32_t kCtlVersionNumber = 1056;
inline constexpr uint32_t kCtlVersionCopyright = 1057;

// Skin bitmaps. The panel's buttons are identified by their pressed bitmap.
inline constexpr uint32_t kBmpPanel = 200;
inline constexpr uint32_t kBmpLiveViewStarting = 201;
inline constexpr uint32_t kBmpZoomWide = 202;
inline constexpr uint32_t kBmpCapturePressed = 203;
inline constexpr uint32_t kBmpExitPressed = 204;
inline constexpr uint32_t kBmpFastForward = 205;
inline constexpr uint32_t kBmpGps = 206;
inline constexpr uint32_t kBmpIndex = 207;
inline constexpr uint32_t kBmpLiveViewPressed = 208;
inline constexpr uint32_t kBmpPlay = 209;
inline constexpr uint32_t kBmpRecord = 210;
inline constexpr uint32_t kBmpPause = 211;
inline constexpr uint32_t kBmpRewind = 212;
inline constexpr uint32_t kBmpSnapshot = 213;
inline constexpr uint32_t kBmpZoomTele = 214;
inline constexpr uint32_t kBmpVersionPressed = 215;
inline constexpr uint32_t kBmpTileLower = 216;
inline constexpr uint32_t kBmpTileUpper = 217;
inline constexpr uint32_t kBmpModeVideoRec = 218;
inline constexpr uint32_t kBmpMainsPower = 219;
inline constexpr uint32_t kBmpBattery5 = 220;
inline constexpr uint32_t kBmpBattery4 = 221;
inline constexpr uint32_t kBmpBattery3 = 222;
inline constexpr uint32_t kBmpBattery2 = 223;
inline constexpr uint32_t kBmpBattery1 = 224;
inline constexpr uint32_t kBmpBattery0 = 225;
inline constexpr uint32_t kBmpGpsNoFix = 226;
inline constexpr uint32_t kBmpGpsSending = 227;
inline constexpr uint32_t kBmpModeStillPlay = 228;
inline constexpr uint32_t kBmpModeStillRec = 229;
inline constexpr uint32_t kBmpRecording = 230;
inline constexpr uint32_t kBmpStandby = 231;
inline constexpr uint32_t kBmpModeVideoPlay = 232;
inline constexpr uint32_t kBmpProgramIcon = 233;
inline constexpr uint32_t kBmpLiveViewAtRest = 247;
inline constexpr uint32_t kBmpCaptureAtRest = 248;

}  // namespace ui::res

// The program's own window messages (WM_APP + n); both parameters are 0.
// Main screen: the user released the Ver. bar.
inline constexpr uint32_t WM_SHOW_VERSION = 0x8065;
// Main screen: the user released the Exit bar.
inline constexpr uint32_t WM_CONFIRM_CLOSE = 0x8066;
// The mode controller has stored a camera answer.
inline constexpr uint32_t WM_CAMERA_STATUS = 0x8067;
// The GPS controller's sending state has changed.
inline constexpr uint32_t WM_GPS_STATUS = 0x8068;
// Live view has been switched on.
inline constexpr uint32_t WM_MONITOR_STARTING = 0x8069;
// A live-view image is ready to be taken.
inline constexpr uint32_t WM_MONITOR_FRAME = 0x806A;
// Live view has been switched off, or a live-view run has ended.
inline constexpr uint32_t WM_MONITOR_STOPPED = 0x806B;
// The capture job has the image ready.
inline constexpr uint32_t WM_CAPTURE_DONE = 0x80C9;
// The capture job has failed.
inline constexpr uint32_t WM_CAPTURE_FAILED = 0x80CA;
// The connect procedure: the handshake was answered and the link is up.
inline constexpr uint32_t WM_CONNECTED = 0x812D;
// The connect procedure: the camera did not answer the handshake.
inline constexpr uint32_t WM_CONNECT_TIMEOUT = 0x812E;
// The connect procedure: no port could be opened, or the handshake failed.
inline constexpr uint32_t WM_CONNECT_FAILED = 0x812F;
