#include "resources/Dialogs.h"

#include "resources/ResourceIds.h"
#include "resources/SkinBitmaps.h"
#include "resources/Strings.h"

namespace ui {
namespace {

using platform::ControlKind;
using platform::ControlTemplate;
using platform::DialogTemplate;
namespace st = platform::style;
namespace r = res;

constexpr std::u16string_view kTitle = u"Camora Controller";
constexpr std::u16string_view kFont = u"Tahoma";
constexpr int kPoint = 8;
// A control without an id (the version screen's icon).
constexpr int kNoId = -1;

// Positions and sizes in dialog units; the screens set the texts at initialisation.
constexpr ControlTemplate kConnect[] = {
    {r::kCtlDeviceName, ControlKind::StaticText, 42, 21, 56, 8, st::kCentre, u"", 0},
    {r::kCtlConnectingText, ControlKind::StaticText, 42, 44, 56, 13, st::kCentre, u"", 0},
    {r::kCtlCancel, ControlKind::PushButton, 47, 111, 46, 13, st::kTabStop, u"", 0},
};

constexpr ControlTemplate kInstruction[] = {
    {r::kCtlInstructionText, ControlKind::StaticText, 11, 27, 118, 30, st::kNoWrap, u"", 0},
    {r::kCtlOk, ControlKind::PushButton, 46, 70, 46, 13, st::kTabStop, u"", 0},
};

constexpr ControlTemplate kSelect[] = {
    {r::kCtlSelectLabel, ControlKind::StaticText, 20, 20, 100, 13, st::kLeft, u"", 0},
    {r::kCtlDeviceList, ControlKind::ListBox, 20, 40, 97, 50,
     st::kNotify | st::kVScroll | st::kBorder | st::kTabStop, u"", 0},
    {r::kCtlOk, ControlKind::PushButton, 20, 110, 46, 13,
     st::kDefault | st::kDisabled | st::kTabStop, u"", 0},
    {r::kCtlCancel, ControlKind::PushButton, 72, 110, 46, 13, st::kTabStop, u"", 0},
};

constexpr ControlTemplate kCaptureProgress[] = {
    {r::kCtlCaptureProgressText, ControlKind::StaticText, 8, 20, 125, 13, st::kCentre, u"", 0},
    {r::kCtlCaptureProgressBar, ControlKind::ProgressBar, 30, 40, 80, 14, 0, u"", 0},
    {r::kCtlCancel, ControlKind::PushButton, 47, 70, 46, 13, st::kTabStop, u"", 0},
};

constexpr ControlTemplate kCaptureConfirm[] = {
    {r::kCtlCaptureConfirmText, ControlKind::StaticText, 8, 20, 125, 13, st::kCentre, u"", 0},
    {r::kCtlCaptureYes, ControlKind::PushButton, 20, 143, 46, 13, st::kDefault | st::kTabStop, u"",
     0},
    {r::kCtlCaptureNo, ControlKind::PushButton, 71, 143, 46, 13, st::kTabStop, u"", 0},
};

constexpr ControlTemplate kVersion[] = {
    {kNoId, ControlKind::Picture, 22, 19, 37, 37, 0, u"", 233},
    {r::kCtlVersionTitle, ControlKind::StaticText, 69, 33, 60, 13, st::kLeft, u"", 0},
    {r::kCtlVersionProduct, ControlKind::StaticText, 8, 67, 125, 13, st::kCentre, u"", 0},
    {r::kCtlVersionCopyright, ControlKind::StaticText, 12, 80, 113, 34, st::kLeft, u"", 0},
    {r::kCtlVersionLabel, ControlKind::StaticText, 26, 115, 28, 13, st::kLeft, u"", 0},
    {r::kCtlVersionNumber, ControlKind::StaticText, 54, 115, 49, 13, st::kLeft, u"", 0},
    {r::kCtlOk, ControlKind::PushButton, 48, 140, 46, 13, st::kDefault | st::kTabStop, u"", 0},
};

constexpr DialogTemplate kTemplates[] = {
    {r::kDlgConnect, 140, 183, kFont, kPoint, kTitle, kConnect},
    {r::kDlgInstruction, 140, 183, kFont, kPoint, kTitle, kInstruction},
    {r::kDlgSelect, 140, 183, kFont, kPoint, kTitle, kSelect},
    {r::kDlgMain, 140, 183, kFont, kPoint, kTitle, {}},
    {r::kDlgCaptureProgress, 139, 183, kFont, kPoint, kTitle, kCaptureProgress},
    {r::kDlgCaptureConfirm, 140, 183, kFont, kPoint, kTitle, kCaptureConfirm},
    {r::kDlgVersion, 139, 183, kFont, kPoint, kTitle, kVersion},
    {r::kDlgBackdrop, 139, 183, u"MS Shell Dlg", kPoint, kTitle, {}},
};

const platform::DialogTemplate* FindDialog(uint32_t id) {
    return FindDialogTemplate(id);
}

constexpr platform::ResourceModule kModule{&FindDialog, &ResourceString, &SkinBitmapData, nullptr};

}  // namespace

const platform::DialogTemplate* FindDialogTemplate(uint32_t id) {
    for (const DialogTemplate& t : kTemplates) {
        if (t.id == id) {
            return &t;
        }
    }
    return nullptr;
}

std::span<const platform::DialogTemplate> DialogTemplates() {
    return kTemplates;
}

const platform::ResourceModule* ProgramModule() {
    return &kModule;
}

}  // namespace ui
