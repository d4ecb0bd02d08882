// What the main screen and the version screen look like, compared with the
// pictures under docs/screenshots/. CAMORA_UPDATE_SCREENSHOTS=1 writes the
// pictures afresh instead (look at them before committing them).
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>

#include "testkit/SourceDir.h"
#include "testkit/ui/MainScreenHarness.h"
#include "ui/MainScreenLayout.h"

namespace {

using namespace uitest;

QString ScreenshotPath(const std::string& name) {
    return QString::fromStdString(testsupport::SourceDir() + "/docs/screenshots/" + name + ".png");
}

bool Updating() {
    const char* update = std::getenv("CAMORA_UPDATE_SCREENSHOTS");
    return update != nullptr && std::string(update) == "1";
}

// Pixels whose colour differs by more than a rounding step, outside `skip`.
int DifferingPixels(const QImage& a, const QImage& b, const QRect& skip) {
    int differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (skip.contains(x, y)) {
                continue;
            }
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            if (std::abs(qRed(p) - qRed(q)) > 8 || std::abs(qGreen(p) - qGreen(q)) > 8 ||
                std::abs(qBlue(p) - qBlue(q)) > 8) {
                ++differing;
            }
        }
    }
    return differing;
}

// Compares `shot` with the stored picture `name` (or stores it).
void ExpectLooksLike(const QImage& shot, const std::string& name, const QRect& skip = {}) {
    const QString path = ScreenshotPath(name);
    if (Updating()) {
        ASSERT_TRUE(shot.save(path)) << path.toStdString();
        return;
    }
    QImage stored(path);
    ASSERT_FALSE(stored.isNull()) << "no picture at " << path.toStdString();
    stored = stored.convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(stored.size(), shot.size()) << name;
    // A few pixels of font smoothing may differ; a misplaced picture would not.
    EXPECT_LE(DifferingPixels(shot, stored, skip), shot.width() * shot.height() / 500) << name;
}

struct Look {
    const char* name;
    sim::CameraStatus status;
    std::function<void(MainScreenHarness&)> act;
    friend void PrintTo(const Look& look, std::ostream* os) { *os << look.name; }
};

sim::CameraStatus Status(uint8_t mode, uint8_t state, uint8_t mains, uint8_t level) {
    sim::CameraStatus s;
    s.mode = mode;
    s.operationState = state;
    s.acPower = mains;
    s.batteryLevel = level;
    return s;
}

class MainScreenLookTest : public ::testing::TestWithParam<Look> {};

TEST_P(MainScreenLookTest, LooksAsStored) {
    const Look& look = GetParam();
    MainScreenHarness h;
    ASSERT_TRUE(h.Ready());
    h.camera().SetStatus(look.status);
    h.Run([&] {
        ASSERT_TRUE(h.WaitForCameraStatus());
        if (look.act) {
            look.act(h);
        }
        ExpectLooksLike(h.Grab(), std::string("main-") + look.name);
    });
}

const Look kLooks[] = {
    {"video-rec", Status(0, 0, 1, 5), nullptr},
    {"video-play", Status(1, 0, 0, 4), nullptr},
    {"still-rec", Status(2, 0, 0, 2), nullptr},
    {"still-play", Status(3, 0, 1, 5), nullptr},
    {"recording", Status(0, 1, 0, 3), nullptr},
    {"busy", Status(1, 1, 0, 1), nullptr},
    {"record-held", Status(2, 0, 1, 5),
     [](MainScreenHarness& h) {
         h.camera().AddFault({.kind = sim::FaultKind::Silence, .opcode = sim::CTP_CAMCMD});
         h.PenDown(kPausePoint);
     }},
};

INSTANTIATE_TEST_SUITE_P(Looks, MainScreenLookTest, ::testing::ValuesIn(kLooks), [](const auto& p) {
    std::string name = p.param.name;
    std::erase(name, '-');
    return name;
});

TEST(MainScreenLiveLookTest, LiveViewFillsThePreviewWithTheCamerasPicture) {
    MainScreenHarness h;
    ASSERT_TRUE(h.Ready());
    h.camera().SetStatus(Status(0, 0, 1, 5));
    h.Run([&] {
        ASSERT_TRUE(h.WaitForCameraStatus());
        h.Tap(kPreviewPoint);
        ASSERT_TRUE(testsupport::PumpGuiUntil(
            [&] { return h.screen().PreviewStateValue() == 5 && h.screen().FrameSize() > 0; }));
        // The frames carry a running counter and clock: the preview is
        // compared by the live-view test, the rest of the screen here.
        const CScreenFitter* f = h.screen().Fitter();
        const ui::LayoutRect& r = ui::PreviewRect;
        const QRect preview(f->DrawX() + r.left, f->DrawY() + r.top, r.right - r.left,
                            r.bottom - r.top);
        ExpectLooksLike(h.Grab(), "main-live-view", preview);
        h.Tap(kPreviewPoint);
        ASSERT_TRUE(testsupport::PumpGuiUntil([&] { return h.screen().PreviewStateValue() == 2; }));
    });
}

TEST(VersionLookTest, TheVersionScreenLooksAsStored) {
    MainScreenHarness h;
    ASSERT_TRUE(h.Ready());
    h.Run([&] {
        ASSERT_TRUE(h.WaitForCameraStatus());
        bool shot = false;
        QTimer::singleShot(1, [&] {
            QWidget* version = nullptr;
            ASSERT_TRUE(testsupport::PumpGuiUntil([&] {
                for (QWidget* w : QApplication::topLevelWidgets()) {
                    if (w->isVisible() && w->inherits("QDialog") && w != h.widget()) {
                        version = w;
                    }
                }
                return version != nullptr;
            }));
            version->repaint();
            ExpectLooksLike(version->grab().toImage().convertToFormat(QImage::Format_RGB32),
                            "version");
            shot = true;
            for (QPushButton* b : version->findChildren<QPushButton*>()) {
                b->click();
            }
        });
        h.Tap(kVersionPoint);
        EXPECT_TRUE(shot);
    });
}

}  // namespace
