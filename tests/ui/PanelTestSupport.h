// A record of every request the main screen makes of the controllers, for
// tests that look at the panel's decisions without a camera.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ui/PanelRequests.h"

namespace uitest {

class RecordingRequests : public PanelRequests {
public:
    void KeyDown(int buttonId) override { calls.push_back("KeyDown " + std::to_string(buttonId)); }
    void KeyUp() override { calls.push_back("KeyUp"); }
    void SwitchGps(platform::WindowHandle) override { calls.push_back("SwitchGps"); }
    void SwitchLiveView(platform::WindowHandle) override { calls.push_back("SwitchLiveView"); }
    void TakeImage(uint8_t** image, uint32_t* imageSize) override {
        calls.push_back("TakeImage");
        *image = nullptr;
        *imageSize = 0;
        if (!nextImage.empty()) {
            *image = static_cast<uint8_t*>(std::malloc(nextImage.size()));
            std::memcpy(*image, nextImage.data(), nextImage.size());
            *imageSize = static_cast<uint32_t>(nextImage.size());
            nextImage.clear();
        }
    }
    void Capture(platform::WindowHandle) override { calls.push_back("Capture"); }
    void SetModeWindow(platform::WindowHandle) override { calls.push_back("SetModeWindow"); }
    void CloseBackdrop() override { calls.push_back("CloseBackdrop"); }
    void ConfirmClose() override { calls.push_back("ConfirmClose"); }

    std::vector<std::string> calls;
    std::vector<uint8_t> nextImage;  // handed out by the next TakeImage
};

}  // namespace uitest
