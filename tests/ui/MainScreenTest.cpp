// The main screen with the program's controllers against the camcorder
// simulator over a pseudo-terminal, driven by pen events on its window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "core/AppRegistry.h"
#include "platform/gps/Gps.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/WindowMessages.h"
#include "resources/ResourceIds.h"
#include "sim/TestPicture.h"
#include "sim/Wire.h"
#include "testkit/ui/MainScreenHarness.h"
#include "testkit/ui/PaintCounter.h"
#include "ui/VersionDialog.h"

namespace {

using namespace uitest;
using Bytes = std::vector<uint8_t>;

class MainScreenTest : public ::testing::Test {
protected:
    // The key frames the camera took in, byte for byte.
    std::vector<Bytes> KeyFrames() const {
        std::vector<Bytes> out;
        for (const sim::WireFrame& f : h_.camera().ReceivedFrames()) {
            if (f.Opcode() == sim::CTP_CAMCMD) {
                out.push_back(f.bytes);
            }
        }
        return out;
    }
    size_t ModePolls() const { return h_.camera().CountReceived(sim::CTP_MODE_POLL); }
    // Lets time pass as the camera counts it: `polls` more mode questions.
    bool LetPollsPass(size_t polls) {
        const size_t until = ModePolls() + polls;
        return testsupport::PumpGuiUntil([&] { return ModePolls() >= until; });
    }
    // Waits until the key stream has stopped: every key frame answered and
    // none added while two more mode questions came. Returns the count.
    size_t SettledKeyFrames() {
        for (int tries = 0; tries < 20; ++tries) {
            EXPECT_TRUE(testsupport::PumpGuiUntil([&] {
                size_t answers = 0;
                for (const sim::WireFrame& f : h_.camera().SentFrames()) {
                    answers += f.Channel() == 3 ? 1 : 0;
                }
                return answers >= h_.KeyFrames();
            }));
            const size_t n = h_.KeyFrames();
            EXPECT_TRUE(LetPollsPass(2));
            if (h_.KeyFrames() == n) {
                return n;
            }
        }
        ADD_FAILURE() << "the key stream never stopped";
        return h_.KeyFrames();
    }
    CameraStateSnapshot Snapshot() {
        CameraStateSnapshot s{};
        h_.state().GetSnapshot(&s);
        return s;
    }
    // A dialog other than the main screen that is open now, or null.
    QWidget* OtherDialog() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->inherits("QDialog") && !w->inherits("QMessageBox") &&
                w != h_.widget()) {
                return w;
            }
        }
        return nullptr;
    }
    static QMessageBox* OpenBox(QMessageBox* except = nullptr) {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (box != nullptr && box->isVisible() && box != except) {
                return box;
            }
        }
        return nullptr;
    }
    static std::string Joined(const std::vector<QString>& texts) {
        std::string out;
        for (const QString& t : texts) {
            out += '[';
            out += t.toStdString();
            out += ']';
        }
        return out;
    }
    static std::vector<QString> Texts(QWidget* dialog) {
        std::vector<QString> out;
        for (QLabel* l : dialog->findChildren<QLabel*>()) {
            if (!l->text().isEmpty()) {
                out.push_back(l->text());
            }
        }
        return out;
    }

    MainScreenHarness h_;
};

TEST_F(MainScreenTest, HoldingRecordRepeatsItsKeyFrameUntilThePenIsLifted) {
    ASSERT_TRUE(h_.Ready());
    h_.Run([&] {
        ASSERT_TRUE(h_.WaitForCameraStatus())
            << h_.screen().ModeIndicator() << " " << h_.screen().BatteryIndicator() << " "
            << h_.screen().RecordIndicator() << " polls " << ModePolls() << " state mode "
            << Snapshot().mode << " ac " << Snapshot().acPower << " cam mode "
            << int(h_.camera().Status().mode) << " frames " << h_.camera().ReceivedFrames().size();
        h_.PenDown(kRecordPoint);
        ASSERT_TRUE(testsupport::PumpGuiUntil([&] { return h_.KeyFrames() >= 3; }));
        EXPECT_EQ(h_.screen().PressedRow(), 3);
        h_.PenUp(kRecordPoint);
        const size_t sent = SettledKeyFrames();
        EXPECT_GE(sent, 3u);
        for (const Bytes& frame : KeyFrames()) {
            ASSERT_EQ(frame.size(), 10u);
            EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 8),
                      (Bytes{0x00, 0x03, 0x00, 0x0A, 0x10, 0x01, 0x00, 0x00}));
            EXPECT_EQ(frame[8], 0x00) << "video recording mode";
            EXPECT_LE(frame[9], 0x01) << "standby or shooting, as the record key toggles it";
        }
        EXPECT_TRUE(LetPollsPass(3));
        EXPECT_EQ(h_.KeyFrames(), sent) << "the key went on after the pen was lifted";
        EXPECT_EQ(h_.screen().PressedRow(), 99);
    });
}

TEST_F(MainScreenTest, EachKeyButtonSendsItsKeyCode) {
    ASSERT_TRUE(h_.Ready());
    h_.camera().SetMode(2);  // still recording: every key button works
    struct Key {
        QPoint point;
        uint8_t code;
    };
    // Record last: it starts shooting, which locks the panel in this mode.
    const Key kKeys[] = {{kPausePoint, 1}, {kTelePoint, 2},     {kRewindPoint, 3},
                         {kPlayPoint, 4},  {kForwardPoint, 5},  {kWidePoint, 6},
                         {kIndexPoint, 7}, {kSnapshotPoint, 8}, {kRecordPoint, 0}};
    h_.Run([&] {
        ASSERT_TRUE(h_.WaitForCameraStatus())
            << h_.screen().ModeIndicator() << " " << h_.screen().BatteryIndicator() << " "
            << h_.screen().RecordIndicator() << " polls " << ModePolls() << " state mode "
            << Snapshot().mode << " cam mode " << int(h_.camera().Status().mode);
        for (const Key& key : kKeys) {
            SCOPED_TRACE("key " + std::to_string(key.code));
            const size_t before = SettledKeyFrames();
            h_.PenDown(key.point);
            ASSERT_TRUE(testsupport::PumpGuiUntil([&] { return h_.KeyFrames() > before; }));
            h_.PenUp(key.point);
            SettledKeyFrames();
            const std::vector<Bytes> frames = KeyFrames();
            for (size_t i = before; i < frames.size(); ++i) {
                EXPECT_EQ(frames[i][6], 0x00);
                EXPECT_EQ(frames[i][7], key.code);
                EXPECT_EQ(frames[i][8], 0x02) << "the mode byte";
            }
        }
    });
}

TEST_F(MainScreenTest, WhileBusyTheKeysAreCoveredAndSendNothing) {
    ASSERT_TRUE(h_.Ready());
    h_.camera().SetMode(1);
    h_.camera().SetOperationState(1);  // shooting in playback: busy
    h_.Run([&] {
        ASSERT_TRUE(testsupport::PumpGuiUntil([&] { return Snapshot().operationState == 1; }));
        ASSERT_TRUE(h_.WaitForCameraStatus());
        const QImage panel = h_.GrabPanel();
        for (int row = 0; row < 10; ++row) {
            const ui::SkinPart& cover = ui::OverlayLayout[row];
            EXPECT_TRUE(Shows(panel, cover.bitmapId, cover.x, cover.y)) << "cover " << row;
        }
        h_.PenDown(kPlayPoint);
        EXPECT_TRUE(LetPollsPass(3));
        EXPECT_EQ(h_.KeyFrames(), 0u);
        h_.PenUp(kPlayPoint);
        // The preview ignores the pen while busy.
        h_.Tap(QPoint(180, 124));
        EXPECT_TRUE(LetPollsPass(1));
        EXPECT_EQ(h_.camera().CountReceived(sim::CTP_IMAGE_CMD), 0u);
    });
}

TEST_F(MainScreenTest, FocusLostWhileAKeyIsHeldStopsItAtOnce) {
    ASSERT_TRUE(h_.Ready());
    h_.Run([&] {
        ASSERT_TRUE(h_.WaitForCameraStatus());
        h_.PenDown(kPausePoint);
        ASSERT_TRUE(testsupport::PumpGuiUntil([&] { return h_.KeyFrames() >= 2; }));
        platform::SendWindowMessage(h_.window(), platform::kMsgKillFocus);
        EXPECT_EQ(h_.screen().PressedRow(), 99) << "the pressed picture goes at once";
        const size_t stopped = SettledKeyFrames();
        EXPECT_TRUE(LetPollsPass(2));
        EXPECT_EQ(h_.KeyFrames(), stopped) << "the pen is still down, the key is not";
        h_.PenUp(kPausePoint);
        EXPECT_EQ(h_.screen().PressedId(), 0);
        EXPECT_TRUE(LetPollsPass(2));
        EXPECT_EQ(h_.KeyFrames(), stopped);
    });
}

TEST_F(MainScreenTest, TheGpsButtonSwitchesTheFeedAndTheIndicatorFollows) {
    ASSERT_TRUE(h_.Ready());
    h_.Run([&] {
        ASSERT_TRUE(h_.WaitForCameraStatus());
        const QImage before = h_.GrabPanel();
        h_.Tap(kGpsPoint);
        ASSERT_TRUE(testsupport::PumpGuiUntil([&] { return h_.camera().GpsFeedOn(); }));
        ASSERT_TRUE(testsupport::PumpGuiUntil([&] { return h_.screen().GpsIndicator() == 1; }));
        EXPECT_TRUE(Shows(h_.GrabPanel(), ui::res::kBmpGpsSending, 360, 160));
        // A position without a fix: sending goes on, the indicator says so.
        ASSERT_TRUE(testsupport::PumpGuiUntil([] { return platform::OpenGpsDeviceCount() > 0; }));
        platform::PushGpsTrackPosition(platform::GpsPosition{});
        ASSERT_TRUE(testsupport::PumpGuiUntil([&] { return h_.screen().GpsIndicator() == 2; }));
        EXPECT_TRUE(Shows(h_.GrabPanel(), ui::res::kBmpGpsNoFix, 360, 160));
        h_.Tap(kGpsPoint);
        ASSERT_TRUE(testsupport::PumpGuiUntil([&] { return !h_.camera().GpsFeedOn(); }));
        ASSERT_TRUE(testsupport::PumpGuiUntil([&] { return h_.screen().GpsIndicator() == 0; }));
        const QImage after = h_.GrabPanel();
        EXPECT_EQ(after.copy(360, 160, 120, 48), before.copy(360, 160, 120, 48));
        EXPECT_TRUE(testsupport::PumpGuiUntil([] { return platform::OpenGpsDeviceCount() == 0; }));
    });
}

TEST_F(MainScreenTest, LiveViewShowsTheCamerasFramesInThePreview) {
    ASSERT_TRUE(h_.Ready());
    h_.Run([&] {
        ASSERT_TRUE(h_.WaitForCameraStatus());
        h_.Tap(kPreviewPoint);
        ASSERT_TRUE(testsupport::PumpGuiUntil(
            [&] { return h_.screen().PreviewStateValue() == 5 && h_.screen().FrameSize() > 0; }));
        const QImage panel = h_.GrabPanel();
        // The colour bars of the camera's test picture fill the upper two
        // thirds of every frame; the frame is 320 x 180, drawn unscaled.
        const sim::RgbImage picture = sim::RenderTestPicture(320, 180, "");
        for (int bar = 0; bar < 7; ++bar) {
            const int x = 320 * bar / 7 + 320 / 14;
            const int y = 40;
            const uint8_t* want = &picture.pixels[static_cast<size_t>((y * 320 + x) * 3)];
            const QRgb got = panel.pixel(20 + x, 28 + y);
            SCOPED_TRACE("bar " + std::to_string(bar));
            EXPECT_NEAR(qRed(got), want[0], 24);
            EXPECT_NEAR(qGreen(got), want[1], 24);
            EXPECT_NEAR(qBlue(got), want[2], 24);
        }
        EXPECT_FALSE(Shows(panel, ui::res::kBmpLiveViewAtRest, 20, 28));

        h_.Tap(kPreviewPoint);
        ASSERT_TRUE(
            testsupport::PumpGuiUntil([&] { return h_.screen().PreviewStateValue() == 2; }));
        EXPECT_EQ(h_.screen().FrameSize(), 0u);
        EXPECT_TRUE(Shows(h_.GrabPanel(), ui::res::kBmpLiveViewAtRest, 20, 28));
    });
}

TEST_F(MainScreenTest, AFrameMessageAfterLiveViewIsOffNeitherTakesTheImageNorRepaints) {
    ASSERT_TRUE(h_.Ready());
    h_.Run([&] {
        ASSERT_TRUE(h_.WaitForCameraStatus());
        // No status message comes from now on unless the camera changes.
        h_.camera().SetModePollInterval(60000);
        h_.Tap(kPreviewPoint);
        ASSERT_TRUE(testsupport::PumpGuiUntil([&] { return h_.screen().FrameSize() > 0; }));
        // The state says live view is off while the monitor still fetches:
        // the images it announces stay with it.
        h_.state().SetMonitorActive(0);
        // Paints already asked for are delivered while the camera serves one
        // more image: count only from then on.
        const uint32_t atOff = h_.camera().LiveViewFrames();
        ASSERT_TRUE(
            testsupport::PumpGuiUntil([&] { return h_.camera().LiveViewFrames() >= atOff + 1; }));
        PaintCounter paints(h_.widget());
        const uint32_t frames = h_.camera().LiveViewFrames();
        ASSERT_TRUE(
            testsupport::PumpGuiUntil([&] { return h_.camera().LiveViewFrames() >= frames + 2; }));
        EXPECT_EQ(paints.count, 0);
        uint8_t* image = nullptr;
        uint32_t size = 0;
        h_.monitor().TakeImage(&image, &size);
        EXPECT_NE(image, nullptr) << "the screen took the image";
        std::free(image);
        h_.state().SetMonitorActive(1);
        h_.Tap(kPreviewPoint);  // off
        ASSERT_TRUE(
            testsupport::PumpGuiUntil([&] { return h_.screen().PreviewStateValue() == 2; }));
    });
}

TEST_F(MainScreenTest, TheBatteryIndicatorFollowsLevelAndMains) {
    ASSERT_TRUE(h_.Ready());
    h_.camera().SetAcPower(0);
    h_.camera().SetBatteryLevel(5);
    h_.Run([&] {
        ASSERT_TRUE(h_.WaitForCameraStatus());
        EXPECT_EQ(h_.screen().BatteryIndicator(), 6);
        EXPECT_TRUE(Shows(h_.GrabPanel(), ui::res::kBmpBattery5, 360, 124)) << "row 22";
        h_.camera().SetBatteryLevel(1);
        ASSERT_TRUE(h_.WaitForCameraStatus())
            << h_.screen().BatteryIndicator() << " " << int(h_.camera().Status().batteryLevel)
            << " " << int(h_.camera().Status().acPower);
        EXPECT_TRUE(Shows(h_.GrabPanel(), ui::res::kBmpBattery1, 360, 124));
        h_.camera().SetAcPower(1);
        ASSERT_TRUE(h_.WaitForCameraStatus());
        EXPECT_TRUE(Shows(h_.GrabPanel(), ui::res::kBmpMainsPower, 360, 124));
    });
}

TEST_F(MainScreenTest, TheVersionScreenShowsItsTextsClosesWithOkAndTheMainScreenKeepsWorking) {
    ASSERT_TRUE(h_.Ready());
    h_.Run([&] {
        ASSERT_TRUE(h_.WaitForCameraStatus());
        CVersionDialog* first = nullptr;
        for (int showing = 0; showing < 2; ++showing) {
            SCOPED_TRACE("showing " + std::to_string(showing + 1));
            bool checked = false;
            // The version screen runs modally inside the pen-up, so it is
            // looked at from the event loop it runs.
            QTimer::singleShot(1, [&] {
                ASSERT_TRUE(testsupport::PumpGuiUntil([&] { return OtherDialog() != nullptr; }));
                QWidget* version = OtherDialog();
                const std::vector<QString> texts = Texts(version);
                const std::vector<QString> want = {
                    "Camora Controller", "Camora Controller for Windows Mobile",
                    "Copyright (C) 2009\r\nCamoraController developers\r\nAll rights reserved.",
                    "Version", "1.10"};
                for (QString w : want) {
                    // The window layer shows a CR LF as one line break.
                    w.remove('\r');
                    EXPECT_NE(std::find(texts.begin(), texts.end(), w), texts.end())
                        << w.toStdString() << " among " << Joined(texts);
                }
                // Status messages still reach the main screen meanwhile.
                const int level = showing == 0 ? 2 : 3;
                h_.camera().SetAcPower(0);
                h_.camera().SetBatteryLevel(static_cast<uint8_t>(level));
                EXPECT_TRUE(testsupport::PumpGuiUntil(
                    [&] { return h_.screen().BatteryIndicator() == level + 1; }));
                QPushButton* ok = nullptr;
                for (QPushButton* b : version->findChildren<QPushButton*>()) {
                    ok = b->text() == "OK" ? b : ok;
                }
                ASSERT_NE(ok, nullptr);
                checked = true;
                ok->click();
            });
            h_.Tap(kVersionPoint);
            EXPECT_TRUE(checked);
            EXPECT_EQ(OtherDialog(), nullptr);
            ASSERT_NE(AppRegistry.versionScreen, nullptr);
            if (showing == 0) {
                first = AppRegistry.versionScreen;
            } else {
                EXPECT_EQ(AppRegistry.versionScreen, first) << "made once, shown again";
            }
        }
    });
}

TEST_F(MainScreenTest, ThePenLiftedOverAnotherControlActsOnThePressedOne) {
    ASSERT_TRUE(h_.Ready());
    h_.Run([&] {
        ASSERT_TRUE(h_.WaitForCameraStatus());
        bool versionShown = false;
        QTimer::singleShot(1, [&] {
            ASSERT_TRUE(testsupport::PumpGuiUntil([&] { return OtherDialog() != nullptr; }));
            versionShown = true;
            platform::SendWindowMessage(h_.screen().window, platform::kMsgCommand, 0);
            for (QPushButton* b : OtherDialog()->findChildren<QPushButton*>()) {
                if (b->text() == "OK") {
                    b->click();
                }
            }
        });
        h_.PenDown(kVersionPoint);
        h_.PenUp(kExitPoint);
        EXPECT_TRUE(versionShown);
        EXPECT_EQ(OpenBox(), nullptr) << "no close question";
    });
}

TEST_F(MainScreenTest, EachExitPressAsksItsOwnCloseQuestion) {
    ASSERT_TRUE(h_.Ready());
    h_.Run([&] {
        ASSERT_TRUE(h_.WaitForCameraStatus());
        h_.Tap(kExitPoint);
        ASSERT_TRUE(testsupport::PumpGuiUntil([&] { return OpenBox() != nullptr; }));
        QMessageBox* first = OpenBox();
        // The window layer shows the CR LF as one line break.
        EXPECT_EQ(first->text(), "DO YOU WANT TO CLOSE \nTHIS APPLICATION?");
        EXPECT_EQ(first->windowTitle(), "CHECK");
        h_.Tap(kExitPoint);
        ASSERT_TRUE(testsupport::PumpGuiUntil([&] { return OpenBox(first) != nullptr; }));
        QMessageBox* second = OpenBox(first);
        for (QMessageBox* box : {second, first}) {
            box->button(QMessageBox::No)->click();
        }
        EXPECT_TRUE(testsupport::PumpGuiUntil([&] { return OpenBox() == nullptr; }));
        // Both answered NO: the screen goes on.
        EXPECT_TRUE(h_.WaitForCameraStatus());
    });
}

}  // namespace
