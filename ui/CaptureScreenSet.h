// The capture screens that the windowed program installs in the capture
// controller: the progress and confirmation dialogs, made on first use and
// kept, and run on the main thread.
#pragma once

#include <memory>

#include "controllers/CaptureScreens.h"
#include "platform/ui/Resources.h"
#include "ui/CaptureConfirmDialog.h"
#include "ui/CaptureDialog.h"

class CCaptureScreenSet : public CCaptureScreens {
public:
    explicit CCaptureScreenSet(platform::InstanceHandle instance);

    int RunProgress(CCaptureContller& controller) override;
    int RunConfirm(CCaptureContller& controller) override;

private:
    platform::InstanceHandle instance_;
    std::unique_ptr<CCaptureDialog> progress_;
    std::unique_ptr<CCaptureConfirmDialog> confirm_;
};
