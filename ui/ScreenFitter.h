// How the 480 x 588 panel of the main screen meets the window: copied
// unscaled (centred along the longer side) when the window is exactly as
// wide or as high as the panel, stretched to fit with its proportions kept
// otherwise, with black around it. Pen positions on the window map back to
// panel coordinates. The geometry is fixed when the fitter is made: later
// changes of the window's size are not followed.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/ui/Graphics.h"
#include "platform/ui/Window.h"

class CScreenFitter {
public:
    struct ClientRect {
        int32_t left;
        int32_t top;
        int32_t right;   // the client width
        int32_t bottom;  // the client height
    };

    // The geometry for a client area; without one (it could not be read, or
    // it is empty) the panel's own 480 x 588 is assumed.
    explicit CScreenFitter(std::optional<ClientRect> client);
    // The geometry for the window's client area as it is now.
    explicit CScreenFitter(platform::WindowHandle window);

    // Draws the 480 x 588 panel of `canvas` onto the window through a
    // client-sized bitmap: black around it, copied or stretched into place.
    void Present(platform::DrawingContext& windowContext, platform::DrawingContext& canvas) const;

    // The same presentation on a screen with `deviceScale` of its pixels to a
    // window pixel (a phone's compositor scale), unstretched: the panel is
    // composed at PanelScale layout-to-device pixels and copied 1:1 into
    // DevicePlace. Hit tests and MapX/MapY stay in layout and window pixels.
    double PanelScale(double deviceScale) const { return scale_ * deviceScale; }
    platform::Rect DevicePlace(double deviceScale) const;
    // Paints the black around DevicePlace on the device context of a
    // window whose client is Client() window pixels.
    void FillAround(platform::DrawingContext& device, double deviceScale) const;

    // Panel coordinates of a window position.
    int MapX(int x) const;
    int MapY(int y) const;

    const ClientRect& Client() const { return client_; }
    int32_t DrawX() const { return drawX_; }
    int32_t DrawY() const { return drawY_; }
    int32_t DrawWidth() const { return drawWidth_; }
    int32_t DrawHeight() const { return drawHeight_; }
    double Scale() const { return scale_; }
    // True when the panel is copied unscaled, false when it is stretched.
    bool Exact() const { return exact_ != 0; }

private:
    ClientRect client_{};
    int32_t drawX_ = 0;
    int32_t drawY_ = 0;
    int32_t drawWidth_ = 0;
    int32_t drawHeight_ = 0;
    double scale_ = 1.0;
    int exact_ = 1;
};
