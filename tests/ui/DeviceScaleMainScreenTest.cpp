// The main screen on a phone: a 1080 x 2340 screen whose compositor scales
// windows 2.25 or 3 times (QT_SCALE_FACTOR, set by the test's registration),
// so that the window is 480 x 1040 or 360 x 780 of its own pixels. The panel
// is drawn at the screen's resolution, yet every control still answers at its
// own place on the window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QScreen>
#include <algorithm>
#include <cmath>

#include "platform/ui/skin/SkinArt.h"
#include "resources/Dialogs.h"
#include "testkit/ui/MainScreenHarness.h"
#include "ui/MainScreenLayout.h"

using namespace uitest;

namespace {

// The window and where the fitter puts the panel, for each scale the test
// runs at (1080 x 2340 screen pixels).
struct Geometry {
    double deviceScale;
    int clientWidth, clientHeight;
    double panelOnWindow;  // window pixels per layout pixel
    int drawX, drawY;      // window pixels
};
constexpr Geometry kGeometries[] = {
    {2.25, 480, 1040, 1.0, 0, 226},
    {3.0, 360, 780, 0.75, 0, 169},
};

const Geometry* ThisScreen() {
    const double ratio = QGuiApplication::primaryScreen()->devicePixelRatio();
    for (const Geometry& g : kGeometries) {
        if (std::abs(g.deviceScale - ratio) < 1e-9) {
            return &g;
        }
    }
    return nullptr;
}

HarnessOptions WithSkinArt() {
    HarnessOptions options;
    options.module = skinpainter::ModuleWithSkinArt(ui::ProgramModule());
    return options;
}

sim::CameraStatus Status(uint8_t mode) {
    sim::CameraStatus s;
    s.mode = mode;
    s.acPower = 1;
    s.batteryLevel = 5;
    return s;
}

QPoint OnWindow(const Geometry& g, double x, double y) {
    return QPoint(static_cast<int>(std::lround(g.drawX + x * g.panelOnWindow)),
                  static_cast<int>(std::lround(g.drawY + y * g.panelOnWindow)));
}

int DeviceRound(double v) {
    return static_cast<int>(std::lround(v));
}

class DeviceScaleMainScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        geometry_ = ThisScreen();
        ASSERT_NE(geometry_, nullptr) << "registered to run at QT_SCALE_FACTOR 2.25 or 3 on "
                                         "CAMORA_TEST_SCREEN=1080x2340";
    }
    const Geometry* geometry_ = nullptr;
};

// Still-image recording mode refuses none of the twelve controls.
TEST_F(DeviceScaleMainScreenTest, EveryControlAnswersAtItsPlaceOnTheScaledWindow) {
    const Geometry& g = *geometry_;
    MainScreenHarness h(WithSkinArt());
    ASSERT_TRUE(h.Ready());
    h.camera().SetStatus(Status(2));
    h.Run([&] {
        ASSERT_TRUE(h.WaitForCameraStatus());
        ASSERT_NE(h.screen().Fitter(), nullptr);
        EXPECT_EQ(h.screen().Fitter()->Client().right, g.clientWidth);
        EXPECT_EQ(h.screen().Fitter()->Client().bottom, g.clientHeight);
        for (int row = 0; row < ui::kPanelControlRows; ++row) {
            const ui::SkinPart& part = ui::PanelLayout[row];
            const QPoint at = OnWindow(g, part.x + part.width / 2.0, part.y + part.height / 2.0);
            h.PenDownAtWindow(at);
            EXPECT_EQ(h.screen().PressedRow(), row) << "window point " << at.x() << ", " << at.y();
            EXPECT_EQ(h.screen().PressedId(), part.bitmapId) << "row " << row;
            if (part.bitmapId == ui::panel::kVersionBar || part.bitmapId == ui::panel::kExitBar) {
                // Their release opens a screen of its own; not what is tested here.
                h.screen().TakePressedId();
            }
            h.PenUpAtWindow(at);
            EXPECT_EQ(h.screen().PressedRow(), CEstablishDialog::kNoPressedRow);
        }
        // The shared border of the first two keys belongs to neither.
        h.PenDownAtWindow(OnWindow(g, 120, 286));
        EXPECT_EQ(h.screen().PressedId(), 0);
        h.PenUpAtWindow(OnWindow(g, 120, 286));
    });
}

// What the window shows is the skin as the painter draws it for the panel's
// device scale, pixel for pixel where the panel is at rest, with black
// around it: not a 480 x 588 panel stretched.
TEST_F(DeviceScaleMainScreenTest, ThePanelIsShownUnstretchedAtTheScreensResolution) {
    const Geometry& g = *geometry_;
    MainScreenHarness h(WithSkinArt());
    ASSERT_TRUE(h.Ready());
    h.camera().SetStatus(Status(2));
    h.Run([&] {
        ASSERT_TRUE(h.WaitForCameraStatus());
        const QImage shot = h.Grab();
        ASSERT_EQ(shot.width(), 1080);
        ASSERT_EQ(shot.height(), 2340);
        const double panelScale = g.panelOnWindow * g.deviceScale;
        EXPECT_DOUBLE_EQ(h.screen().DrawScale(), panelScale);
        const int left = DeviceRound(g.drawX * g.deviceScale);
        const int top = DeviceRound(g.drawY * g.deviceScale);
        platform::BitmapPixels skin;
        ASSERT_TRUE(skinpainter::DrawSkinPixels(200, panelScale, skin));
        // The Ver. and Exit bars and the key grid's right column (the
        // speaker grille), which nothing covers in this mode.
        const QRect atRest[] = {QRect(0, 536, 480, 52), QRect(360, 336, 120, 200)};
        for (const QRect& r : atRest) {
            const int x0 = DeviceRound(r.left() * panelScale);
            const int y0 = DeviceRound(r.top() * panelScale);
            const int x1 = DeviceRound((r.left() + r.width()) * panelScale);
            const int y1 = DeviceRound((r.top() + r.height()) * panelScale);
            int differing = 0;
            for (int y = y0; y < y1; ++y) {
                for (int x = x0; x < x1; ++x) {
                    const QRgb want = skin.pixels[static_cast<size_t>(y) * skin.width + x];
                    differing += (shot.pixel(left + x, top + y) & 0xFFFFFFu) != (want & 0xFFFFFFu);
                }
            }
            EXPECT_EQ(differing, 0) << "pixels of layout rectangle " << r.x() << ", " << r.y();
        }
        EXPECT_EQ(shot.pixel(540, top - 1) & 0xFFFFFFu, 0u) << "black above the panel";
        EXPECT_EQ(shot.pixel(540, top + skin.height) & 0xFFFFFFu, 0u) << "black below it";
        EXPECT_NE(shot.pixel(540, top + 10) & 0xFFFFFFu, 0u) << "the panel begins here";
    });
}

// The live-view picture fills the preview rectangle at the device scale:
// bright at its bottom right corner, the skin's dark frame just beyond.
TEST_F(DeviceScaleMainScreenTest, TheLiveViewPictureFillsThePreviewAtTheDeviceScale) {
    const Geometry& g = *geometry_;
    MainScreenHarness h(WithSkinArt());
    ASSERT_TRUE(h.Ready());
    h.camera().SetStatus(Status(0));
    h.Run([&] {
        ASSERT_TRUE(h.WaitForCameraStatus());
        const ui::LayoutRect& r = ui::PreviewRect;
        h.PenDownAtWindow(OnWindow(g, 180, 118));
        h.PenUpAtWindow(OnWindow(g, 180, 118));
        ASSERT_TRUE(testsupport::PumpGuiUntil(
            [&] { return h.screen().PreviewStateValue() == 5 && h.screen().FrameSize() > 0; }));
        const QImage shot = h.Grab();
        const double s = g.panelOnWindow * g.deviceScale;
        const int left = DeviceRound(g.drawX * g.deviceScale);
        const int top = DeviceRound(g.drawY * g.deviceScale);
        const auto brightness = [&](int x, int y) {
            const QRgb p = shot.pixel(left + x, top + y);
            return (qRed(p) + qGreen(p) + qBlue(p)) / 3;
        };
        const int right = DeviceRound(r.right * s);
        const int bottom = DeviceRound(r.bottom * s);
        EXPECT_GT(brightness(right - 4, bottom - 4), 180) << "the picture's bottom right";
        EXPECT_LT(brightness(right + 3, bottom - 4), 90) << "the skin beside it";
        EXPECT_LT(brightness(right - 4, bottom + 3), 90) << "the skin below it";
        h.PenDownAtWindow(OnWindow(g, 180, 118));
        h.PenUpAtWindow(OnWindow(g, 180, 118));
        ASSERT_TRUE(testsupport::PumpGuiUntil([&] { return h.screen().PreviewStateValue() == 2; }));
    });
}

}  // namespace
