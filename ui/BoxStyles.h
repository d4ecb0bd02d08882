// The message-box styles that the screens pass to CDialogBase::ShowMessage,
// and the answer they compare its result with.
#pragma once

namespace ui {

inline constexpr int kBoxOk = 0;
inline constexpr int kBoxYesNo = 4;
inline constexpr int kAnswerYes = 6;

}  // namespace ui
