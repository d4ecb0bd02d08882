// Every screen whole on the screen it meets: each dialog template with the
// texts its screen sets, every message box of the program and the save-file
// dialog, on Qt's offscreen platform with the screen that CAMORA_TEST_SCREEN
// names ("WIDTHxHEIGHT" in device pixels) at the scale QT_SCALE_FACTOR gives.
// CTest runs it once per screen. A text's box must lie inside its control and
// clear of every other control; the captured still must leave the texts free.
// With CAMORA_UPDATE_SCREENSHOTS=1 the screens are also written to
// docs/screenshots/sizes/WIDTHxHEIGHT/.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/Application.h"
#include "platform/ui/Dialog.h"
#include "platform/ui/FileDialog.h"
#include "platform/ui/Graphics.h"
#include "platform/ui/MessageBox.h"
#include "resources/Dialogs.h"
#include "resources/ResourceIds.h"
#include "resources/Strings.h"
#include "testkit/SourceDir.h"
#include "testkit/TempDeviceRoot.h"
#include "ui/DialogBase.h"

using namespace platform;
namespace r = ui::res;

namespace {

// The folder of this run's screenshots: the screen (CAMORA_TEST_SCREEN, which
// the tests' main makes the offscreen screen) and the scale, as "720x1440@2".
std::string ScreenName() {
    const char* screen = std::getenv("CAMORA_TEST_SCREEN");
    std::string name = screen != nullptr ? screen : "480x640";
    if (const char* scale = std::getenv("QT_SCALE_FACTOR")) {
        name += '@';
        name += scale;
    }
    return name;
}

class Screen : public CDialogBase {
public:
    int DoModal() override { return -1; }
};

// The texts a screen sets: control and string number, or a literal text.
struct Text {
    int control;
    uint32_t stringId;
    std::u16string literal = {};
};

struct Case {
    uint32_t templateId;
    std::vector<Text> texts;
    std::vector<std::u16string> listItems = {};
    bool preview = false;  // the confirmation screen's captured still
};

const std::vector<Case>& Cases() {
    static const std::vector<Case> cases = {
        {r::kDlgConnect,
         {{static_cast<int>(r::kCtlDeviceName), 0, u"HX-7 CAMCORDER"},
          {static_cast<int>(r::kCtlConnectingText), r::kStrConnecting},
          {static_cast<int>(r::kCtlCancel), r::kStrCancel}}},
        {r::kDlgInstruction,
         {{static_cast<int>(r::kCtlInstructionText), r::kStrEnableBluetooth},
          {static_cast<int>(r::kCtlOk), r::kStrOk}}},
        {r::kDlgSelect,
         {{static_cast<int>(r::kCtlSelectLabel), r::kStrSelectDevice},
          {static_cast<int>(r::kCtlOk), r::kStrOk},
          {static_cast<int>(r::kCtlCancel), r::kStrCancel}},
         {u"HX-7 CAMCORDER", u"Office phone", u"HX-9 CAMCORDER"}},
        {r::kDlgMain, {}},
        {r::kDlgCaptureProgress,
         {{static_cast<int>(r::kCtlCaptureProgressText), r::kStrAcquiringImage},
          {static_cast<int>(r::kCtlCancel), r::kStrCancel}}},
        {r::kDlgCaptureConfirm,
         {{static_cast<int>(r::kCtlCaptureConfirmText), r::kStrSaveImage},
          {static_cast<int>(r::kCtlCaptureYes), r::kStrYes},
          {static_cast<int>(r::kCtlCaptureNo), r::kStrNo}},
         {},
         true},
        {r::kDlgVersion,
         {{static_cast<int>(r::kCtlVersionTitle), r::kStrVersionTitle},
          {static_cast<int>(r::kCtlVersionProduct), r::kStrProductLine},
          {static_cast<int>(r::kCtlVersionCopyright), r::kStrCopyright},
          {static_cast<int>(r::kCtlVersionLabel), r::kStrVersionLabel},
          {static_cast<int>(r::kCtlVersionNumber), r::kStrVersionNumber},
          {static_cast<int>(r::kCtlOk), r::kStrOk}}},
        {r::kDlgBackdrop, {}},
    };
    return cases;
}

Screen* g_screen = nullptr;
const Case* g_case = nullptr;

// A still of one pure colour, so that its pixels can be told from the texts'.
const std::vector<uint8_t>& GreenStill() {
    static const std::vector<uint8_t> jpeg = [] {
        QImage image(640, 480, QImage::Format_RGB32);
        image.fill(QColor(0, 200, 0));
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPG", 95);
        return std::vector<uint8_t>(bytes.begin(), bytes.end());
    }();
    return jpeg;
}

intptr_t CaseProcedure(WindowHandle w, uint32_t m, uintptr_t, intptr_t) {
    switch (m) {
        case kMsgInitDialog:
            g_screen->OnInitDialog(w);
            for (const Text& t : g_case->texts) {
                if (t.stringId != 0) {
                    g_screen->SetItemText(t.control, static_cast<int>(t.stringId));
                } else {
                    SetControlText(w, t.control, t.literal);
                }
            }
            for (const std::u16string& item : g_case->listItems) {
                ListBoxAddString(GetControl(w, static_cast<int>(r::kCtlDeviceList)), item);
            }
            return 0;
        case kMsgPaint:
            g_screen->PaintSkin(w);
            if (g_case->preview) {
                PaintScope paint(w);
                if (auto image = JpegImage::FromBuffer(GreenStill())) {
                    // The design's rectangle on the handset's 480 x 640 screen.
                    image->Draw(paint.Context(), Rect{40, 140, 440, 375});
                }
            }
            return 0;
        default:
            return 0;
    }
}

QString ShotPath(const QString& name) {
    return QString::fromStdString(testsupport::SourceDir() + "/docs/screenshots/sizes/" +
                                  ScreenName() + "/") +
           name + QStringLiteral(".png");
}

void MaybeSave(const QImage& image, const QString& name) {
    if (std::getenv("CAMORA_UPDATE_SCREENSHOTS") != nullptr) {
        QDir().mkpath(QFileInfo(ShotPath(name)).path());
        EXPECT_TRUE(image.save(ShotPath(name), "PNG", 9));
    }
}

std::string Describe(const QRect& rect) {
    return std::to_string(rect.x()) + "," + std::to_string(rect.y()) + " " +
           std::to_string(rect.width()) + "x" + std::to_string(rect.height());
}

// Where a control's text is drawn, in its own coordinates: the box its font's
// metrics give the text in the room the control leaves for it.
struct TextPlace {
    QString text;
    QRect room;
    QRect box;
};

bool PlaceOf(QWidget* w, TextPlace& place) {
    if (auto* label = qobject_cast<QLabel*>(w); label && label->pixmap().isNull()) {
        place.text = label->text();
        place.room = label->contentsRect();
        const int flags = static_cast<int>(label->alignment()) |
                          (label->wordWrap() ? static_cast<int>(Qt::TextWordWrap) : 0);
        place.box = QFontMetrics(label->font()).boundingRect(place.room, flags, place.text);
        return !place.text.isEmpty();
    }
    if (auto* button = qobject_cast<QPushButton*>(w)) {
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = button->text();
        place.text = button->text();
        place.room =
            button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        place.box =
            QFontMetrics(button->font())
                .boundingRect(place.room, Qt::AlignCenter | Qt::TextShowMnemonic, place.text);
        return !place.text.isEmpty();
    }
    return false;
}

std::vector<QWidget*> Controls(QWidget* dialog) {
    std::vector<QWidget*> out;
    for (QWidget* w : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (w->isVisible()) {
            out.push_back(w);
        }
    }
    return out;
}

// Every text inside its control and clear of the others; lists' rows as tall
// as their text, in the screen's font.
void CheckTexts(QWidget* dialog) {
    const std::vector<QWidget*> controls = Controls(dialog);
    for (QWidget* c : controls) {
        EXPECT_TRUE(dialog->rect().contains(c->geometry()))
            << c->metaObject()->className() << " at " << Describe(c->geometry())
            << " leaves the screen " << Describe(dialog->rect());
        TextPlace place;
        if (PlaceOf(c, place)) {
            EXPECT_TRUE(place.room.contains(place.box))
                << "\"" << place.text.toStdString() << "\" needs " << Describe(place.box)
                << " but has " << Describe(place.room);
            const QRect onDialog = place.box.translated(c->pos());
            for (QWidget* other : controls) {
                if (other != c) {
                    EXPECT_FALSE(onDialog.intersects(other->geometry()))
                        << "\"" << place.text.toStdString() << "\" at " << Describe(onDialog)
                        << " overlaps " << other->metaObject()->className() << " at "
                        << Describe(other->geometry());
                }
            }
        }
        if (auto* list = qobject_cast<QListWidget*>(c)) {
            // The list's text grows with the rest of the screen.
            EXPECT_GE(list->font().pixelSize(), dialog->font().pixelSize() - 1);
            const QFontMetrics metrics(list->font());
            for (int i = 0; i < list->count(); ++i) {
                const QRect row = list->visualItemRect(list->item(i));
                EXPECT_GE(row.height(), metrics.height()) << "row " << i;
                EXPECT_LE(metrics.horizontalAdvance(list->item(i)->text()),
                          list->viewport()->width())
                    << "row " << i;
                EXPECT_TRUE(list->viewport()->rect().contains(row)) << "row " << i;
            }
        }
    }
}

// The captured still: inside the screen, and covering no control.
void CheckPreview(QWidget* dialog, const QImage& shot) {
    const double ratio = shot.devicePixelRatio();
    QRect still;
    for (int y = 0; y < shot.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(shot.constScanLine(y));
        for (int x = 0; x < shot.width(); ++x) {
            if (qGreen(row[x]) > 150 && qRed(row[x]) < 60 && qBlue(row[x]) < 60) {
                still |= QRect(x, y, 1, 1);
            }
        }
    }
    ASSERT_FALSE(still.isEmpty()) << "no still drawn";
    const QRect inDialog(static_cast<int>(still.x() / ratio), static_cast<int>(still.y() / ratio),
                         static_cast<int>(still.width() / ratio),
                         static_cast<int>(still.height() / ratio));
    for (QWidget* c : Controls(dialog)) {
        EXPECT_FALSE(inDialog.intersects(c->geometry()))
            << "the still at " << Describe(inDialog) << " covers " << c->metaObject()->className()
            << " at " << Describe(c->geometry());
    }
    // The design's rectangle keeps its place: below the question, above the buttons.
    EXPECT_GT(inDialog.width(), dialog->width() / 2);
}

class TemplateFitTest : public ::testing::TestWithParam<int> {};

TEST_P(TemplateFitTest, EveryTextFitsItsControlAndCoversNoOther) {
    const Case& c = Cases()[static_cast<size_t>(GetParam())];
    Screen screen;
    screen.Init(ui::ProgramModule(), &CaseProcedure);
    g_screen = &screen;
    g_case = &c;
    bool looked = false;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->geometry(), dialog->screen()->geometry()) << "full screen";
        CheckTexts(dialog);
        const QImage shot = dialog->grab().toImage();
        if (c.preview) {
            CheckPreview(dialog, shot);
        }
        // The main screen draws its own panel (its own test shows it): no shot here.
        if (!c.texts.empty() || c.templateId == r::kDlgBackdrop) {
            MaybeSave(shot, QStringLiteral("template-%1").arg(c.templateId));
        }
        looked = true;
        EndDialog(screen.window, 1);
    });
    EXPECT_EQ(RunModalDialog(ui::ProgramModule(), c.templateId, &CaseProcedure), 1);
    EXPECT_TRUE(looked);
}

INSTANTIATE_TEST_SUITE_P(
    EveryTemplate, TemplateFitTest, ::testing::Range(0, static_cast<int>(Cases().size())),
    [](const ::testing::TestParamInfo<int>& param) {
        return "Template" + std::to_string(Cases()[static_cast<size_t>(param.param)].templateId);
    });

struct BoxCase {
    uint32_t caption;
    uint32_t text;
    MessageBoxButtons buttons;
    std::u16string literal = {};
};

// Every box the program shows, and the saved file's long path.
const std::vector<BoxCase>& BoxCases() {
    static const std::vector<BoxCase> cases = {
        {r::kStrCheck, r::kStrConfirmClose, MessageBoxButtons::YesNo},
        {r::kStrErrorCaption, r::kStrOutOfMemory, MessageBoxButtons::Ok},
        {r::kStrErrorCaption, r::kStrBluetoothNotAvailable, MessageBoxButtons::Ok},
        {r::kStrErrorCaption, r::kStrNoPairedDevice, MessageBoxButtons::Ok},
        {r::kStrErrorCaption, r::kStrConnectionTimeOut, MessageBoxButtons::Ok},
        {r::kStrErrorCaption, r::kStrConnectionFailed, MessageBoxButtons::Ok},
        {r::kStrErrorCaption, r::kStrBluetoothDisconnected, MessageBoxButtons::Ok},
        {r::kStrCapture, r::kStrFileExists, MessageBoxButtons::YesNo},
        {r::kStrCapture, r::kStrSavingFile, MessageBoxButtons::Ok},
        {r::kStrCapture, r::kStrImageAcquisitionFailed, MessageBoxButtons::Ok},
        {r::kStrCapture, r::kStrInsufficientSpace, MessageBoxButtons::YesNo},
        {r::kStrCapture, r::kStrFileProtected, MessageBoxButtons::YesNo},
        {r::kStrCapture, r::kStrFileSaveFailed, MessageBoxButtons::YesNo},
        {r::kStrCapture, 0, MessageBoxButtons::Ok,
         u"\\My Documents\\Pictures from the camcorder\\J090615003.jpg\r\nFILE SAVED"},
    };
    return cases;
}

std::u16string StringOf(uint32_t id) {
    return std::u16string(ui::ResourceString(id));
}

class MessageBoxFitTest : public ::testing::TestWithParam<int> {};

TEST_P(MessageBoxFitTest, IsAFramedPanelWithItsCaptionCentredAndWhole) {
    const BoxCase& c = BoxCases()[static_cast<size_t>(GetParam())];
    const std::u16string caption = StringOf(c.caption);
    const std::u16string text = c.literal.empty() ? StringOf(c.text) : c.literal;
    bool looked = false;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        const QRect screen = box->screen()->geometry();
        EXPECT_TRUE(screen.contains(box->frameGeometry()))
            << Describe(box->frameGeometry()) << " on " << Describe(screen);
        EXPECT_LE(std::abs(box->geometry().center().x() - screen.center().x()), 2);
        EXPECT_LE(std::abs(box->geometry().center().y() - screen.center().y()), 2);
        EXPECT_EQ(box->windowTitle().toStdU16String(), caption);
        // The program draws the frame: the same with or without a window manager.
        EXPECT_TRUE(box->windowFlags().testFlag(Qt::FramelessWindowHint));
        auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        ASSERT_NE(label, nullptr);
        TextPlace place;
        ASSERT_TRUE(PlaceOf(label, place));
        EXPECT_TRUE(place.room.contains(place.box))
            << "\"" << place.text.toStdString() << "\" needs " << Describe(place.box) << " but has "
            << Describe(place.room);
        QStringList texts;
        for (QAbstractButton* b : box->buttons()) {
            texts << b->text();
            TextPlace inButton;
            ASSERT_TRUE(PlaceOf(b, inButton));
            EXPECT_TRUE(inButton.room.contains(inButton.box)) << b->text().toStdString();
        }
        texts.sort();
        const QStringList expected = c.buttons == MessageBoxButtons::YesNo
                                         ? QStringList{QStringLiteral("NO"), QStringLiteral("YES")}
                                         : QStringList{QStringLiteral("OK")};
        EXPECT_EQ(texts, expected);
        QPushButton* defaultButton = box->defaultButton();
        ASSERT_NE(defaultButton, nullptr);
        EXPECT_EQ(defaultButton->text(), c.buttons == MessageBoxButtons::YesNo
                                             ? QStringLiteral("YES")
                                             : QStringLiteral("OK"));
        // The caption's bar on top: light text on it, above the message.
        const QImage shot = box->grab().toImage();
        const double ratio = shot.devicePixelRatio();
        int lit = 0;
        const int captionBottom = static_cast<int>(label->geometry().top() * ratio);
        const int barColour = shot.pixel(shot.width() / 10, captionBottom / 3);
        for (int y = 0; y < captionBottom; ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                if (qGray(shot.pixel(x, y)) > 200 &&
                    std::abs(x - shot.width() / 2) < shot.width() / 3) {
                    ++lit;
                }
            }
        }
        EXPECT_GT(lit, 20) << "no caption text above the message";
        EXPECT_NE(barColour, shot.pixel(shot.width() / 2, shot.height() - captionBottom / 3 - 1))
            << "no caption bar";
        MaybeSave(shot, QStringLiteral("box-%1").arg(c.text == 0 ? 0 : c.text));
        looked = true;
        defaultButton->click();
    });
    const MessageBoxResult answer = ShowMessageBox({}, text, caption, c.buttons);
    EXPECT_EQ(answer,
              c.buttons == MessageBoxButtons::YesNo ? MessageBoxResult::Yes : MessageBoxResult::Ok);
    EXPECT_TRUE(looked);
}

INSTANTIATE_TEST_SUITE_P(EveryBox, MessageBoxFitTest,
                         ::testing::Range(0, static_cast<int>(BoxCases().size())),
                         [](const ::testing::TestParamInfo<int>& param) {
                             return "Text" + std::to_string(
                                                 BoxCases()[static_cast<size_t>(param.param)].text);
                         });

TEST(SaveDialogFitTest, ButtonsPlacesAndToolbarAreOnTheScreen) {
    // Qt's dialog needs a phone's usual 360 device-independent pixels; on a
    // narrower screen only the desktop portal's dialog fits.
    if (QGuiApplication::primaryScreen()->availableGeometry().width() < 360) {
        GTEST_SKIP() << "narrower than 360 device-independent pixels";
    }
    testsupport::TempDeviceRoot root;
    QDir().mkpath(QString::fromStdString(root.Host("My Documents")));
    QDir().mkpath(
        QString::fromStdString(root.Host(testsupport::TempDeviceRoot::kPicturesRelative)));
    bool looked = false;
    SetSaveFileDialogHook([&](SaveFileDialogView& view) {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        const QRect screen = dialog->screen()->availableGeometry();
        // The offscreen platform frames even a full-screen window: the
        // window's own area is what must be on the screen.
        EXPECT_TRUE(screen.contains(dialog->geometry()))
            << Describe(dialog->geometry()) << " on " << Describe(screen);
        const auto onScreen = [&](QWidget* w, const char* what) {
            ASSERT_NE(w, nullptr) << what;
            EXPECT_TRUE(w->isVisible()) << what;
            const QRect global(w->mapToGlobal(QPoint(0, 0)), w->size());
            EXPECT_TRUE(screen.contains(global)) << what << " at " << Describe(global);
        };
        auto* buttons = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        ASSERT_NE(buttons, nullptr);
        onScreen(buttons->button(QDialogButtonBox::Save), "Save");
        onScreen(buttons->button(QDialogButtonBox::Cancel), "Cancel");
        for (const char* name : {"lookInCombo", "toParentButton", "newFolderButton", "fileNameEdit",
                                 "fileTypeCombo"}) {
            onScreen(dialog->findChild<QWidget*>(QString::fromLatin1(name)), name);
        }
        // The history arrows and the view switches may give way on a narrow
        // screen; shown, they fit.
        for (const char* name :
             {"backButton", "forwardButton", "listModeButton", "detailModeButton"}) {
            auto* arrow = dialog->findChild<QWidget*>(QString::fromLatin1(name));
            if (arrow != nullptr && arrow->isVisible()) {
                onScreen(arrow, name);
            }
        }
        // A combo box's text shows whole: the chosen type, and at least a
        // folder name's worth of the folder looked in.
        const auto textRoom = [](QComboBox* combo) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            option.editable = combo->isEditable();
            return combo->style()
                ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo)
                .width();
        };
        if (auto* types = dialog->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
            EXPECT_GE(textRoom(types), types->fontMetrics().horizontalAdvance(types->currentText()))
                << "\"" << types->currentText().toStdString() << "\" cut";
        }
        if (auto* folders = dialog->findChild<QComboBox*>(QStringLiteral("lookInCombo"))) {
            const int room = textRoom(folders) - folders->iconSize().width();
            EXPECT_GE(room,
                      folders->fontMetrics().horizontalAdvance(QStringLiteral("My Documents")))
                << "the folder list leaves " << room << " px for a name";
        }
        auto* places = dialog->findChild<QListView*>(QStringLiteral("sidebar"));
        onScreen(places, "places");
        if (places != nullptr) {
            const QFontMetrics metrics(places->font());
            const int rows = places->model()->rowCount();
            EXPECT_GT(rows, 0);
            for (int i = 0; i < rows; ++i) {
                const QModelIndex index = places->model()->index(i, 0);
                const QRect row = places->visualRect(index);
                const int iconRoom = places->iconSize().width() + 12;
                EXPECT_LE(metrics.horizontalAdvance(index.data().toString()) + iconRoom,
                          places->viewport()->width())
                    << "\"" << index.data().toString().toStdString() << "\" cut";
                EXPECT_TRUE(places->viewport()->rect().contains(row) ||
                            row.bottom() > places->viewport()->height())
                    << "row " << i;
            }
        }
        MaybeSave(dialog->grab().toImage(), QStringLiteral("save-dialog"));
        looked = true;
        view.Cancel();
    });
    SaveFileRequest request;
    request.filters = {{u"jpeg files(*.jpg *.jpeg)", u"*.jpg"}, {u"All files(*.*)", u"*.*"}};
    request.fileName = u"J090615003";
    request.initialFolder = u"\\My Documents";
    request.defaultExtension = u"jpg";
    std::u16string path;
    EXPECT_FALSE(ShowSaveFileDialog(request, &path));
    SetSaveFileDialogHook(nullptr);
    EXPECT_TRUE(looked);
}

}  // namespace
