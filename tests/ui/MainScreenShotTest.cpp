// The main screen on each screen the screenshots show (CAMORA_TEST_SCREEN and
// QT_SCALE_FACTOR, set by the test's registration): connected to the
// simulated camera in video recording mode, idle and with live view running.
// The panel must lie whole on the window, drawn at the screen's resolution,
// and the live picture fill the preview. With CAMORA_UPDATE_SCREENSHOTS=1 the
// screens are also written to docs/screenshots/sizes/WIDTHxHEIGHT@SCALE/ next
// to the dialogs' that ui_screen_fit_test writes.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <cmath>
#include <cstdlib>
#include <string>

#include "platform/ui/skin/SkinArt.h"
#include "resources/Dialogs.h"
#include "testkit/SourceDir.h"
#include "testkit/ui/MainScreenHarness.h"
#include "ui/MainScreenLayout.h"

using namespace uitest;

namespace {

HarnessOptions WithSkinArt() {
    HarnessOptions options;
    options.module = skinpainter::ModuleWithSkinArt(ui::ProgramModule());
    // The live picture's caption shows this time, so that a shot taken again
    // differs only where the screen does.
    options.camera.clockText = "12:00:00.000";
    return options;
}

sim::CameraStatus VideoRecording() {
    sim::CameraStatus s;
    s.mode = 0;
    s.acPower = 1;
    s.batteryLevel = 5;
    return s;
}

void MaybeSave(const QImage& image, const QString& name) {
    if (std::getenv("CAMORA_UPDATE_SCREENSHOTS") == nullptr) {
        return;
    }
    std::string screen = "480x640";
    if (const char* s = std::getenv("CAMORA_TEST_SCREEN")) {
        screen = s;
    }
    if (const char* scale = std::getenv("QT_SCALE_FACTOR")) {
        screen += std::string("@") + scale;
    }
    const QString path = QString::fromStdString(testsupport::SourceDir() +
                                                "/docs/screenshots/sizes/" + screen + "/") +
                         name + QStringLiteral(".png");
    QDir().mkpath(QFileInfo(path).path());
    EXPECT_TRUE(image.save(path, "PNG", 9)) << path.toStdString();
}

int Brightness(QRgb p) {
    return (qRed(p) + qGreen(p) + qBlue(p)) / 3;
}

// Where the panel lies in a grab, in device pixels.
QRect PanelOnScreen(MainScreenHarness& h, double deviceScale) {
    const CScreenFitter& f = *h.screen().Fitter();
    const double s = h.screen().DrawScale();
    return QRect(static_cast<int>(std::lround(f.DrawX() * deviceScale)),
                 static_cast<int>(std::lround(f.DrawY() * deviceScale)),
                 static_cast<int>(std::lround(480 * s)), static_cast<int>(std::lround(588 * s)));
}

// The whole screen shown, the panel whole on it at the screen's resolution.
void CheckPanelOnScreen(MainScreenHarness& h, const QImage& shot) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double deviceScale = screen->devicePixelRatio();
    const QSize devicePixels = screen->geometry().size() * deviceScale;
    EXPECT_EQ(shot.size(), devicePixels) << "the window fills the screen";
    const QRect panel = PanelOnScreen(h, deviceScale);
    EXPECT_TRUE(shot.rect().contains(panel))
        << "panel at " << panel.x() << "," << panel.y() << " " << panel.width() << "x"
        << panel.height() << " leaves the " << shot.width() << "x" << shot.height() << " screen";
    EXPECT_DOUBLE_EQ(h.screen().DrawScale(), h.screen().Fitter()->PanelScale(deviceScale));
    // Skin at the panel's top and bottom rows, nothing left undrawn there.
    EXPECT_NE(shot.pixel(panel.center().x(), panel.top() + 2) & 0xFFFFFFu, 0u) << "panel top";
    EXPECT_NE(shot.pixel(panel.center().x(), panel.bottom() - 2) & 0xFFFFFFu, 0u) << "panel bottom";
}

class MainScreenShotTest : public ::testing::Test {};

TEST_F(MainScreenShotTest, IdleInVideoRecordingModeTheWholePanelIsOnTheScreen) {
    MainScreenHarness h(WithSkinArt());
    ASSERT_TRUE(h.Ready());
    h.camera().SetStatus(VideoRecording());
    h.Run([&] {
        ASSERT_TRUE(h.WaitForCameraStatus());
        ASSERT_NE(h.screen().Fitter(), nullptr);
        const QImage shot = h.Grab();
        CheckPanelOnScreen(h, shot);
        MaybeSave(shot, QStringLiteral("main-idle"));
    });
}

TEST_F(MainScreenShotTest, LiveViewFillsThePreviewOnTheScreen) {
    MainScreenHarness h(WithSkinArt());
    ASSERT_TRUE(h.Ready());
    h.camera().SetStatus(VideoRecording());
    h.Run([&] {
        ASSERT_TRUE(h.WaitForCameraStatus());
        h.Tap(kPreviewPoint);
        ASSERT_TRUE(testsupport::PumpGuiUntil(
            [&] { return h.screen().PreviewStateValue() == 5 && h.screen().FrameSize() > 0; }));
        const QImage shot = h.Grab();
        CheckPanelOnScreen(h, shot);
        const double deviceScale = QGuiApplication::primaryScreen()->devicePixelRatio();
        const QRect panel = PanelOnScreen(h, deviceScale);
        const double s = h.screen().DrawScale();
        const ui::LayoutRect& r = ui::PreviewRect;
        const int right = panel.left() + static_cast<int>(std::lround(r.right * s));
        const int bottom = panel.top() + static_cast<int>(std::lround(r.bottom * s));
        EXPECT_GT(Brightness(shot.pixel(right - 4, bottom - 4)), 180) << "the picture's corner";
        EXPECT_LT(Brightness(shot.pixel(right + 3, bottom - 4)), 90) << "the skin beside it";
        MaybeSave(shot, QStringLiteral("main-live-view"));
        h.Tap(kPreviewPoint);
        ASSERT_TRUE(testsupport::PumpGuiUntil([&] { return h.screen().PreviewStateValue() == 2; }));
    });
}

}  // namespace
