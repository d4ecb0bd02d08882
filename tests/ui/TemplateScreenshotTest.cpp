// Every dialog template rendered on the handset's 480 x 640 screen with the
// texts its screen sets, and the skin's contact sheet drawn as the skin
// drawing program draws it, compared against the screenshots committed under
// docs/screenshots/ (CAMORA_UPDATE_SCREENSHOTS=1 writes them anew).
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>

#include "platform/ui/Dialog.h"
#include "platform/ui/Graphics.h"
#include "platform/ui/skin/SkinPainter.h"
#include "resources/Dialogs.h"
#include "resources/ResourceIds.h"
#include "resources/SkinBitmaps.h"
#include "testkit/SourceDir.h"
#include "tools/skinpainter/ContactSheet.h"
#include "ui/DialogBase.h"

using namespace platform;
namespace r = ui::res;

namespace {

class Screen : public CDialogBase {
public:
    int DoModal() override { return -1; }
};

struct Shot {
    int templateId;
    uint16_t skin;
    // Sets the screen's texts after the shared initialisation.
    std::function<void(Screen&, WindowHandle)> texts = nullptr;
    // Draws over the skin in the paint step, when the screen does.
    std::function<void(DrawingContext&)> paint = nullptr;
};

Screen* g_screen = nullptr;
const Shot* g_shot = nullptr;

intptr_t ShotProcedure(WindowHandle w, uint32_t m, uintptr_t, intptr_t) {
    switch (m) {
        case kMsgInitDialog:
            g_screen->OnInitDialog(w);
            if (g_shot->texts) {
                g_shot->texts(*g_screen, w);
            }
            return 0;
        case kMsgPaint: {
            g_screen->PaintSkin(w);
            if (g_shot->paint) {
                PaintScope paint(w);
                g_shot->paint(paint.Context());
            }
            return 0;
        }
        default:
            return 0;
    }
}

// A captured still as the camera sends it: a JPEG in memory.
std::vector<uint8_t> TestJpeg(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, QColor(70, 130, 200));
    sky.setColorAt(1, QColor(200, 220, 240));
    p.fillRect(image.rect(), sky);
    p.setBrush(QColor(60, 140, 60));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPoint(width / 3, height + height / 3), width / 2, height / 2);
    p.setBrush(QColor(250, 210, 60));
    p.drawEllipse(QPoint(width * 3 / 4, height / 4), height / 8, height / 8);
    p.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 85);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

QString GoldenPath(int templateId) {
    return (QString::fromStdString(testsupport::SourceDir()) +
            QStringLiteral("/docs/screenshots/templates/template-%1.png"))
        .arg(templateId);
}

// Share of pixels whose channels differ by more than a few steps.
double DifferentShare(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) {
        return 1.0;
    }
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    qint64 differing = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(row));
        const auto* q = reinterpret_cast<const QRgb*>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col) {
            if (std::abs(qRed(p[col]) - qRed(q[col])) > 24 ||
                std::abs(qGreen(p[col]) - qGreen(q[col])) > 24 ||
                std::abs(qBlue(p[col]) - qBlue(q[col])) > 24) {
                ++differing;
            }
        }
    }
    return static_cast<double>(differing) / (static_cast<double>(x.width()) * x.height());
}

class TemplateScreenshotTest : public ::testing::TestWithParam<int> {};

const std::vector<Shot>& Shots() {
    static const std::vector<Shot> shots = [] {
        std::vector<Shot> s;
        s.push_back({r::kDlgConnect, 0xFFFF, [](Screen& screen, WindowHandle w) {
                         SetControlText(w, r::kCtlDeviceName, u"HX-7 CAMCORDER");
                         screen.SetItemText(r::kCtlConnectingText, 108);
                         screen.SetItemText(r::kCtlCancel, 105);
                     }});
        s.push_back({r::kDlgInstruction, 0xFFFF, [](Screen& screen, WindowHandle) {
                         screen.SetItemText(r::kCtlInstructionText, 1044);
                         screen.SetItemText(r::kCtlOk, 104);
                     }});
        s.push_back({r::kDlgSelect, 0xFFFF, [](Screen& screen, WindowHandle w) {
                         screen.SetItemText(r::kCtlSelectLabel, 107);
                         screen.SetItemText(r::kCtlOk, 104);
                         screen.SetItemText(r::kCtlCancel, 105);
                         const WindowHandle list = GetControl(w, r::kCtlDeviceList);
                         ListBoxAddString(list, u"HX-7 CAMCORDER");
                         ListBoxAddString(list, u"Office phone");
                         ListBoxAddString(list, u"HX-9 CAMCORDER");
                     }});
        s.push_back({r::kDlgMain, 200, nullptr});
        s.push_back({r::kDlgCaptureProgress, 0xFFFF, [](Screen& screen, WindowHandle w) {
                         screen.SetItemText(r::kCtlCaptureProgressText, 128);
                         screen.SetItemText(r::kCtlCancel, 105);
                         const WindowHandle bar = GetControl(w, r::kCtlCaptureProgressBar);
                         SendWindowMessage(bar, kMsgProgressSetRange, 0, 5);
                         SendWindowMessage(bar, kMsgProgressSetStep, 1);
                         SendWindowMessage(bar, kMsgProgressStep);
                         SendWindowMessage(bar, kMsgProgressStep);
                     }});
        s.push_back({r::kDlgCaptureConfirm, 0xFFFF,
                     [](Screen& screen, WindowHandle) {
                         screen.SetItemText(r::kCtlCaptureConfirmText, 121);
                         screen.SetItemText(r::kCtlCaptureYes, 111);
                         screen.SetItemText(r::kCtlCaptureNo, 112);
                     },
                     [](DrawingContext& context) {
                         static const std::vector<uint8_t> jpeg = TestJpeg(640, 480);
                         if (auto image = JpegImage::FromBuffer(jpeg)) {
                             image->Draw(context, Rect{40, 140, 440, 375});
                         }
                     }});
        s.push_back({r::kDlgVersion, 0xFFFF, [](Screen& screen, WindowHandle) {
                         screen.SetItemText(r::kCtlVersionTitle, 132);
                         screen.SetItemText(r::kCtlVersionProduct, 136);
                         screen.SetItemText(r::kCtlVersionCopyright, 133);
                         screen.SetItemText(r::kCtlVersionLabel, 134);
                         screen.SetItemText(r::kCtlVersionNumber, 135);
                         screen.SetItemText(r::kCtlOk, 104);
                     }});
        s.push_back({r::kDlgBackdrop, 0xFFFF, nullptr});
        return s;
    }();
    return shots;
}

TEST_P(TemplateScreenshotTest, MatchesTheCommittedScreenshot) {
    const Shot& shot = Shots()[static_cast<size_t>(GetParam())];
    Screen screen;
    screen.skinBitmapId = shot.skin;
    screen.Init(ui::ProgramModule(), &ShotProcedure);
    g_screen = &screen;
    g_shot = &shot;
    QImage taken;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->size(), QSize(480, 640)) << "full screen on the handset";
        taken = dialog->grab().toImage();
        EndDialog(screen.window, 1);
    });
    EXPECT_EQ(
        RunModalDialog(ui::ProgramModule(), static_cast<uint32_t>(shot.templateId), &ShotProcedure),
        1);
    ASSERT_FALSE(taken.isNull());
    const QString golden = GoldenPath(shot.templateId);
    if (std::getenv("CAMORA_UPDATE_SCREENSHOTS") != nullptr) {
        QDir().mkpath(QFileInfo(golden).path());
        ASSERT_TRUE(taken.save(golden));
        return;
    }
    const QImage expected(golden);
    ASSERT_FALSE(expected.isNull()) << "no screenshot at " << golden.toStdString();
    EXPECT_LT(DifferentShare(taken, expected), 0.01)
        << "template " << shot.templateId << " no longer looks as committed";
}

INSTANTIATE_TEST_SUITE_P(
    EveryTemplate, TemplateScreenshotTest, ::testing::Range(0, static_cast<int>(Shots().size())),
    [](const ::testing::TestParamInfo<int>& param) {
        return "Template" + std::to_string(Shots()[static_cast<size_t>(param.param)].templateId);
    });

// After the templates: the sheet's label fonts join the process's fonts.
TEST(SkinContactSheetTest, MatchesTheCommittedSheetAndTheEmbeddedSkin) {
    ASSERT_TRUE(skinpainter::AddLabelFonts());
    const std::vector<skinpainter::SkinBitmap> skin = skinpainter::DrawSkin();
    ASSERT_FALSE(skin.empty());
    // The program embeds what the drawing program drew.
    for (const skinpainter::SkinBitmap& b : skin) {
        const auto png = ui::SkinBitmapData(static_cast<uint32_t>(b.id));
        QImage embedded;
        ASSERT_TRUE(embedded.loadFromData(png.data(), static_cast<int>(png.size()), "PNG"))
            << "bitmap " << b.id << " is not embedded";
        EXPECT_LT(DifferentShare(b.image, embedded), 0.01) << "bitmap " << b.id;
    }
    const QImage sheet = skinpainter::ContactSheet(skin);
    const QString golden = QString::fromStdString(testsupport::SourceDir()) +
                           QStringLiteral("/docs/screenshots/skin-contact-sheet.png");
    if (std::getenv("CAMORA_UPDATE_SCREENSHOTS") != nullptr) {
        ASSERT_TRUE(sheet.save(golden, "PNG", 9));
        return;
    }
    const QImage expected(golden);
    ASSERT_FALSE(expected.isNull()) << "no contact sheet at " << golden.toStdString();
    EXPECT_EQ(sheet.size(), expected.size());
    // The sheet is several screens big: a tenth of the screens' share, so that
    // a change of its smallest bitmap alone shows.
    constexpr double kSheetShare = 0.001;
    EXPECT_LT(DifferentShare(sheet, expected), kSheetShare)
        << "the skin no longer looks as committed";
    std::vector<skinpainter::SkinBitmap> changed = skin;
    auto smallest =
        std::min_element(changed.begin(), changed.end(), [](const auto& a, const auto& b) {
            return a.image.width() * a.image.height() < b.image.width() * b.image.height();
        });
    smallest->image.invertPixels();
    EXPECT_GE(DifferentShare(skinpainter::ContactSheet(changed), expected), kSheetShare)
        << "bitmap " << smallest->id << " changed alone passes for the committed sheet";
}

TEST(TemplateTest, EveryTemplateFitsTheReferenceSizeAndKeepsItsControlsInside) {
    ASSERT_EQ(ui::DialogTemplates().size(), 8u);
    for (const DialogTemplate& t : ui::DialogTemplates()) {
        EXPECT_EQ(t.height, 183) << t.id;
        EXPECT_TRUE(t.width == 140 || t.width == 139) << t.id;
        EXPECT_EQ(t.title, u"Camora Controller");
        for (const ControlTemplate& c : t.controls) {
            EXPECT_LE(c.x + c.width, t.width) << t.id << " control " << c.id;
            EXPECT_LE(c.y + c.height, t.height) << t.id << " control " << c.id;
        }
    }
}

}  // namespace
