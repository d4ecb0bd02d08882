// Numbers of the program's resources that the screens name: dialog templates
// and the ids of their controls.
#pragma once

namespace ui::res {

// Dialog templates.
inline constexpr int kDlgConnect = 101;
inline constexpr int kDlgInstruction = 102;
inline constexpr int kDlgSelect = 109;
inline constexpr int kDlgMain = 110;
inline constexpr int kDlgCaptureProgress = 142;
inline constexpr int kDlgCaptureConfirm = 143;
inline constexpr int kDlgVersion = 144;
inline constexpr int kDlgBackdrop = 251;

// Controls. 1 and 2 are the OK and CANCEL commands of every dialog.
inline constexpr int kCtlOk = 1;
inline constexpr int kCtlCancel = 2;
inline constexpr int kCtlInstructionText = 102;
inline constexpr int kCtlCaptureProgressBar = 142;
inline constexpr int kCtlDeviceList = 1007;
inline constexpr int kCtlConfirmYes = 1014;
inline constexpr int kCtlDeviceName = 1043;
inline constexpr int kCtlSelectTitle = 1047;
inline constexpr int kCtlConnecting = 1048;
inline constexpr int kCtlCaptureText = 1050;
inline constexpr int kCtlConfirmText = 1051;
inline constexpr int kCtlConfirmNo = 1052;
inline constexpr int kCtlVersionName = 1053;
inline constexpr int kCtlVersionProduct = 1054;
inline constexpr int kCtlVersionLabel = 1055;
inline constexpr int kCtlVersionNumber = 1056;
inline constexpr int kCtlVersionCopyright = 1057;
// A template control without an id (the version screen's icon).
inline constexpr int kCtlNone = -1;

}  // namespace ui::res
