// The two screens of a capture as the capture controller sees them: the
// progress screen and the "SAVE IMAGE?" screen. The screens themselves live
// with the user interface, which installs them at start-up; the controller
// only runs them and learns how they ended.
#pragma once

class CCaptureContller;

class CCaptureScreens {
public:
    virtual ~CCaptureScreens() = default;

    // Progress screen results.
    static constexpr int kImageReady = 1;
    static constexpr int kCancelled = 2;
    static constexpr int kFailed = 8;
    // Confirmation screen results.
    static constexpr int kYes = 1;
    static constexpr int kNo = 2;

    // Runs the progress screen modally on the main thread and returns how it
    // ended: kImageReady, kCancelled or kFailed (-1: it could not be shown).
    // Once its window is up it calls the controller's ProgressScreenReady,
    // which lets the job start; CANCEL calls CancelCapture.
    virtual int RunProgress(CCaptureContller& controller) = 0;
    // Runs the confirmation screen, which draws the controller's preview:
    // kYes or kNo (-1: it could not be shown).
    virtual int RunConfirm(CCaptureContller& controller) = 0;
};
