// The capture controller's two screens without a screen: the progress screen
// becomes a pair of message windows (the screen and its progress bar) that
// the controller's job reports to, drawn as a bar on a terminal; the "SAVE
// IMAGE?" screen keeps a copy of the image and answers NO, since the tool
// writes the file itself.
#pragma once

#include <cstdint>
#include <vector>

#include "controllers/CaptureScreens.h"

namespace remote {

class RemoteSession;

class HeadlessCaptureScreens : public CCaptureScreens {
public:
    HeadlessCaptureScreens(RemoteSession& session, bool progressBar);

    int RunProgress(CCaptureContller& controller) override;
    int RunConfirm(CCaptureContller& controller) override;

    // The image, once the confirmation screen has run.
    const std::vector<uint8_t>& Image() const { return image_; }
    // The run ended by an interrupt or a lost link rather than by the job.
    bool Abandoned() const { return abandoned_; }

private:
    void Draw();

    RemoteSession& session_;
    const bool progressBar_;
    uint32_t total_ = 0;
    uint32_t done_ = 0;
    bool drawn_ = false;
    bool abandoned_ = false;
    std::vector<uint8_t> image_;
};

}  // namespace remote
