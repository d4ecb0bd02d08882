// Display orientation: read and set the display mode (rotation in degrees,
// pixel width and height). The real display's rotation is its primary screen's
// orientation against its native one (0 where the platform reports none), read
// on the GUI thread from any thread; setting a mode fails, since the program
// cannot turn a screen here. Tests install a simulated display.
#pragma once

#include <functional>

namespace platform {

struct DisplayMode {
    int rotation = 0;  // degrees: 0, 90, 180 or 270
    int width = 0;
    int height = 0;
};

// False when the mode cannot be read.
bool GetDisplayMode(DisplayMode& mode);
// Applies the mode (the platform's reset flag: at once); false when it cannot.
bool SetDisplayMode(const DisplayMode& mode);

// Test support: a simulated display; empty functions restore the real one.
struct DisplayBackend {
    std::function<bool(DisplayMode&)> get;
    std::function<bool(const DisplayMode&)> set;
};
void SetDisplayBackend(DisplayBackend backend);

}  // namespace platform
