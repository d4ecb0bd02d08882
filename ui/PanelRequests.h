// What the main screen asks of the rest of the program: the controllers'
// requests, the live-view image hand-over, the backdrop's close and the
// close question. The
// program's version reaches the objects in AppRegistry; tests put in their
// own to see each request the panel makes.
#pragma once

#include <cstdint>

#include "platform/ui/Window.h"

class PanelRequests {
public:
    virtual ~PanelRequests() = default;

    // Command controller: a key button went down (its id) or up.
    virtual void KeyDown(int buttonId) = 0;
    virtual void KeyUp() = 0;
    // GPS controller: switch sending on or off.
    virtual void SwitchGps(platform::WindowHandle window) = 0;
    // Monitor controller: switch live view on or off.
    virtual void SwitchLiveView(platform::WindowHandle window) = 0;
    // Monitor controller: the last image and its size (null and 0 when none
    // waits); from the C heap, the caller frees it.
    virtual void TakeImage(uint8_t** image, uint32_t* imageSize) = 0;
    // Capture controller: runs the capture dialogs and returns when they end.
    virtual void Capture(platform::WindowHandle window) = 0;
    // Mode controller: from now on notify `window`.
    virtual void SetModeWindow(platform::WindowHandle window) = 0;
    // Ends the black backdrop's modal loop.
    virtual void CloseBackdrop() = 0;
    // Asks whether to close the program, on a thread of its own.
    virtual void ConfirmClose() = 0;
};

// The program's own: the controllers and the backdrop screen of AppRegistry.
// Entries that are still empty are skipped.
class ProgramPanelRequests : public PanelRequests {
public:
    void KeyDown(int buttonId) override;
    void KeyUp() override;
    void SwitchGps(platform::WindowHandle window) override;
    void SwitchLiveView(platform::WindowHandle window) override;
    void TakeImage(uint8_t** image, uint32_t* imageSize) override;
    void Capture(platform::WindowHandle window) override;
    void SetModeWindow(platform::WindowHandle window) override;
    void CloseBackdrop() override;
    void ConfirmClose() override;
};
