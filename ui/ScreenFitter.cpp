#include "ui/ScreenFitter.h"

#include <cmath>

#include "platform/ui/Dialog.h"
#include "ui/MainScreenLayout.h"

namespace {

// Conversion of a double to an integer, toward zero.
int32_t Trunc(double value) {
    return static_cast<int32_t>(value);
}

std::optional<CScreenFitter::ClientRect> ReadClient(platform::WindowHandle window) {
    int width = 0;
    int height = 0;
    if (!platform::GetClientSize(window, width, height)) {
        return std::nullopt;
    }
    return CScreenFitter::ClientRect{0, 0, width, height};
}

}  // namespace

CScreenFitter::CScreenFitter(std::optional<ClientRect> client) {
    // An empty client area would give a scale of 0, and every later pen
    // position would divide by it: treat it like one that cannot be read.
    if (!client || client->right <= 0 || client->bottom <= 0) {
        client = ClientRect{0, 0, ui::kPanelWidth, ui::kPanelHeight};
    }
    client_ = *client;
    const int32_t width = client_.right;
    const int32_t height = client_.bottom;
    drawWidth_ = ui::kPanelWidth;
    drawHeight_ = ui::kPanelHeight;
    scale_ = 1.0;
    exact_ = 1;
    if (width == ui::kPanelWidth && height == ui::kPanelHeight) {
        drawX_ = client_.left;
        drawY_ = client_.top;
    } else if (width == ui::kPanelWidth && height > ui::kPanelHeight) {
        drawX_ = client_.left;
        drawY_ = Trunc((height - ui::kPanelHeight) * 0.5);
    } else if (width > ui::kPanelWidth && height == ui::kPanelHeight) {
        drawX_ = Trunc((width - ui::kPanelWidth) * 0.5);
        drawY_ = client_.top;
    } else {
        exact_ = 0;
        const double sx = width * (1.0 / ui::kPanelWidth);
        const double sy = height * (1.0 / ui::kPanelHeight);
        if (sx <= sy) {
            scale_ = sx;
            drawX_ = 0;
            drawWidth_ = width;
            drawHeight_ = Trunc(sx * ui::kPanelHeight);
            drawY_ = Trunc((height - drawHeight_) * 0.5);
        } else {
            scale_ = sy;
            drawWidth_ = Trunc(sy * ui::kPanelWidth);
            drawHeight_ = height;
            drawX_ = Trunc((width - drawWidth_) * 0.5);
            drawY_ = 0;
        }
    }
}

CScreenFitter::CScreenFitter(platform::WindowHandle window) : CScreenFitter(ReadClient(window)) {}

void CScreenFitter::Present(platform::DrawingContext& windowContext,
                            platform::DrawingContext& canvas) const {
    const int width = client_.right;
    const int height = client_.bottom;
    std::unique_ptr<platform::Bitmap> frame = windowContext.CreateCompatibleBitmap(width, height);
    platform::DrawingContext memory;
    memory.Select(frame.get());
    memory.FillSolid(platform::Rect{client_.left, client_.top, client_.right, client_.bottom},
                     0x000000);
    if (exact_ != 0) {
        memory.BlockCopy(drawX_, drawY_, ui::kPanelWidth, ui::kPanelHeight, canvas, 0, 0);
    } else {
        memory.StretchCopy(drawX_, drawY_, drawWidth_, drawHeight_, canvas, 0, 0, ui::kPanelWidth,
                           ui::kPanelHeight);
    }
    windowContext.BlockCopy(0, 0, width, height, memory, 0, 0);
    memory.Select(nullptr);
}

namespace {

int32_t Round(double value) {
    return static_cast<int32_t>(std::lround(value));
}

}  // namespace

platform::Rect CScreenFitter::DevicePlace(double deviceScale) const {
    const double panelScale = PanelScale(deviceScale);
    const int32_t left = Round(drawX_ * deviceScale);
    const int32_t top = Round(drawY_ * deviceScale);
    return platform::Rect{left, top, left + Round(ui::kPanelWidth * panelScale),
                          top + Round(ui::kPanelHeight * panelScale)};
}

void CScreenFitter::FillAround(platform::DrawingContext& device, double deviceScale) const {
    const int32_t width = Round(client_.right * deviceScale);
    const int32_t height = Round(client_.bottom * deviceScale);
    const platform::Rect panel = DevicePlace(deviceScale);
    constexpr uint32_t kBlack = 0x000000;
    if (panel.top > 0) {
        device.FillSolid(platform::Rect{0, 0, width, panel.top}, kBlack);
    }
    if (panel.bottom < height) {
        device.FillSolid(platform::Rect{0, panel.bottom, width, height}, kBlack);
    }
    if (panel.left > 0) {
        device.FillSolid(platform::Rect{0, panel.top, panel.left, panel.bottom}, kBlack);
    }
    if (panel.right < width) {
        device.FillSolid(platform::Rect{panel.right, panel.top, width, panel.bottom}, kBlack);
    }
}

int CScreenFitter::MapX(int x) const {
    return Trunc(static_cast<double>(x - drawX_) / scale_);
}

int CScreenFitter::MapY(int y) const {
    return Trunc(static_cast<double>(y - drawY_) / scale_);
}
