#include "ui/CaptureScreenSet.h"

#include "core/AppRegistry.h"

CCaptureScreenSet::CCaptureScreenSet(platform::InstanceHandle instance) : instance_(instance) {}

int CCaptureScreenSet::RunProgress(CCaptureContller& controller) {
    if (progress_ == nullptr) {
        progress_ = std::make_unique<CCaptureDialog>();
        progress_->Init(instance_, &CaptureProgressProcedure);
        AppRegistry.captureProgressScreen = progress_.get();
    }
    progress_->controller = &controller;
    return progress_->DoModal();
}

int CCaptureScreenSet::RunConfirm(CCaptureContller& controller) {
    if (confirm_ == nullptr) {
        confirm_ = std::make_unique<CCaptureConfirmDialog>();
        confirm_->Init(instance_, &CaptureConfirmProcedure);
        AppRegistry.captureConfirmScreen = confirm_.get();
    }
    confirm_->controller = &controller;
    return confirm_->DoModal();
}
