// Bitmaps, drawing contexts and JPEG images: formats kept, copies exact, a
// missing skin painting black.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QImage>

#include "platform/ui/Dialog.h"
#include "platform/ui/Graphics.h"
#include "platform/ui/QtSupport.h"
#include "resources/Dialogs.h"
#include "ui/DialogBase.h"

using namespace platform;

namespace {

class Screen : public CDialogBase {
public:
    int DoModal() override { return -1; }
};

QRgb Pixel(Bitmap& bitmap, int x, int y) {
    return bitmap.impl().image.pixel(x, y) | 0xFF000000u;
}

TEST(GraphicsTest, SkinBitmapsLoadOnceInTheFastFormatAndTheIconKeepsItsAlpha) {
    struct Case {
        uint32_t id;
        int width, height;
        QImage::Format format;
    };
    for (const Case& c :
         {Case{200, 480, 588, QImage::Format_RGB32}, Case{210, 120, 100, QImage::Format_RGB32},
          Case{226, 120, 48, QImage::Format_RGB32},
          Case{233, 64, 64, QImage::Format_ARGB32_Premultiplied}}) {
        auto bitmap = LoadBitmap(ui::ProgramModule(), c.id);
        ASSERT_NE(bitmap, nullptr) << c.id;
        EXPECT_EQ(bitmap->Width(), c.width) << c.id;
        EXPECT_EQ(bitmap->Height(), c.height) << c.id;
        EXPECT_EQ(bitmap->impl().image.format(), c.format) << c.id;
    }
    EXPECT_EQ(LoadBitmap(ui::ProgramModule(), 0xFFFF), nullptr);
    EXPECT_EQ(LoadBitmap(nullptr, 200), nullptr);
}

TEST(GraphicsTest, AMissingSkinIsTriedAgainNextTime) {
    Screen screen;
    screen.Init(ui::ProgramModule(), nullptr);
    EXPECT_EQ(screen.GetSkinBitmap(), nullptr);
    screen.skinBitmapId = 200;
    Bitmap* skin = screen.GetSkinBitmap();
    ASSERT_NE(skin, nullptr);
    EXPECT_EQ(screen.GetSkinBitmap(), skin) << "loaded once, then kept";
}

TEST(GraphicsTest, BlockStretchAndFillCopyExactly) {
    auto source = CreateBitmap(4, 4);
    source->impl().image.setPixel(1, 2, qRgb(10, 200, 30));
    auto target = CreateBitmap(8, 8);
    DrawingContext from, to;
    from.Select(source.get());
    EXPECT_EQ(to.Select(target.get()), nullptr);
    to.FillSolid({0, 0, 8, 8}, 0x102030);
    to.BlockCopy(5, 5, 2, 2, from, 1, 2);  // the green pixel lands at (5, 5)
    to.StretchCopy(0, 0, 4, 4, from, 0, 0, 2, 2);
    EXPECT_EQ(to.Select(nullptr), target.get());
    EXPECT_EQ(Pixel(*target, 5, 5), qRgb(10, 200, 30));
    EXPECT_EQ(Pixel(*target, 7, 7), qRgb(0x10, 0x20, 0x30)) << "outside every copy";
    EXPECT_EQ(Pixel(*target, 0, 0), qRgb(0, 0, 0)) << "the black corner stretched";

    // A context without a bitmap reads as black: a screen without a skin paints black.
    DrawingContext empty;
    to.Select(target.get());
    to.BlockCopy(0, 0, 8, 8, empty, 0, 0);
    to.Select(nullptr);
    EXPECT_EQ(Pixel(*target, 5, 5), qRgb(0, 0, 0));
    EXPECT_EQ(Pixel(*target, 7, 7), qRgb(0, 0, 0));
}

TEST(GraphicsTest, AJpegFromMemoryIsDrawnScaledIntoItsRectangle) {
    QImage red(64, 36, QImage::Format_RGB32);
    red.fill(qRgb(220, 20, 20));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(red.save(&buffer, "JPG", 95));
    const std::vector<uint8_t> jpeg(bytes.begin(), bytes.end());
    auto image = JpegImage::FromBuffer(jpeg);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->Width(), 64);
    auto canvas = CreateBitmap(480, 588);
    DrawingContext context;
    context.Select(canvas.get());
    image->Draw(context, {20, 28, 340, 208});
    context.Select(nullptr);
    const QRgb inside = Pixel(*canvas, 180, 118);
    EXPECT_GT(qRed(inside), 190);
    EXPECT_LT(qGreen(inside), 60);
    EXPECT_EQ(Pixel(*canvas, 19, 27), qRgb(0, 0, 0)) << "nothing drawn outside the rectangle";
    EXPECT_EQ(Pixel(*canvas, 340, 208), qRgb(0, 0, 0));
    EXPECT_EQ(JpegImage::FromBuffer(std::vector<uint8_t>{0xFF, 0xD8, 0x00}), nullptr);
    EXPECT_EQ(JpegImage::FromBuffer({}), nullptr);
}

TEST(WindowServicesTest, TheWaitCursorShowsOnceAndTheArrowComesBack) {
    Screen screen;
    screen.SetWaitCursor(1);
    screen.SetWaitCursor(1);  // a second call does not stack a second cursor
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    EXPECT_TRUE(IsWaitCursorShown());
    screen.SetWaitCursor(0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(IsWaitCursorShown());
    screen.SetWaitCursor(2);  // anything but 1 is the arrow
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
