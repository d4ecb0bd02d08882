// Drawing for a screen finer than the layout: skin bitmaps drawn afresh for a
// scale, the painter's pieces meeting the panel without seams, regions that
// draw into their parent's pixels, JPEG pictures decoded at their shown size,
// and a still fitted into a rectangle with its proportions kept.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "platform/ui/Graphics.h"
#include "platform/ui/QtSupport.h"
#include "platform/ui/skin/SkinArt.h"
#include "platform/ui/skin/SkinPainter.h"
#include "resources/Dialogs.h"
#include "ui/CaptureConfirmDialog.h"
#include "ui/MainScreenLayout.h"

using namespace platform;

namespace {

std::vector<uint8_t> Jpeg(int width, int height, QRgb colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 95);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

int Round(double v) {
    return static_cast<int>(std::lround(v));
}

const ResourceModule* ArtModule() {
    return skinpainter::ModuleWithSkinArt(ui::ProgramModule());
}

// Every row the main screen draws, at the scales of a 1080-wide phone
// (2.25), a 720-wide one (1.5) and a 1440-wide one (3): drawn at its place's
// device size and matching the panel at rest around its edge, so the
// composed panel shows no seams and no part lands a pixel off.
TEST(DeviceScaleGraphicsTest, SkinRowsAreDrawnForTheScaleAndMeetThePanelWithoutSeams) {
    for (const double scale : {1.5, 2.25, 3.0}) {
        const auto panel = LoadBitmap(ArtModule(), 200, scale);
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(panel->Width(), Round(480 * scale)) << scale;
        EXPECT_EQ(panel->Height(), Round(588 * scale)) << scale;
        const QImage& rest = panel->impl().image;
        std::vector<ui::SkinPart> rows(std::begin(ui::PanelLayout), std::end(ui::PanelLayout));
        rows.insert(rows.end(), std::begin(ui::OverlayLayout), std::end(ui::OverlayLayout));
        for (const ui::SkinPart& row : rows) {
            if (row.bitmapId == 0) {
                continue;
            }
            const auto part = LoadBitmap(ArtModule(), row.bitmapId, scale);
            ASSERT_NE(part, nullptr) << row.bitmapId;
            const int x = Round(row.x * scale);
            const int y = Round(row.y * scale);
            // Indicator bitmaps are their own height (the GPS ones 48 of 60).
            const auto unscaled = LoadBitmap(ui::ProgramModule(), row.bitmapId);
            ASSERT_NE(unscaled, nullptr);
            EXPECT_EQ(part->Width(), Round((row.x + unscaled->Width()) * scale) - x)
                << row.bitmapId << " at " << scale;
            EXPECT_EQ(part->Height(), Round((row.y + unscaled->Height()) * scale) - y)
                << row.bitmapId << " at " << scale;
            EXPECT_LE(skinpainter::SeamAt(rest, part->impl().image, QPoint(x, y)), 2)
                << "bitmap " << row.bitmapId << " at (" << row.x << ", " << row.y << ") at "
                << scale;
        }
    }
}

TEST(DeviceScaleGraphicsTest, ScaledBitmapsAreDrawnAfreshOrScaledOnceWithoutArtwork) {
    // With the painter: its own drawing, sharp, not the PNG scaled.
    const auto drawn = LoadBitmap(ArtModule(), 210, 2.25);
    // Without: the embedded picture scaled once to the same size.
    const auto scaled = LoadBitmap(ui::ProgramModule(), 210, 2.25);
    ASSERT_NE(drawn, nullptr);
    ASSERT_NE(scaled, nullptr);
    EXPECT_EQ(scaled->Width(), 270);
    EXPECT_EQ(scaled->Height(), 225);
    EXPECT_EQ(drawn->Width(), 270);
    EXPECT_EQ(drawn->impl().image.format(), QImage::Format_RGB32);
    EXPECT_NE(drawn->impl().image, scaled->impl().image) << "the painter was not asked";
    // At 1 the embedded bitmap, whichever module.
    EXPECT_EQ(LoadBitmap(ArtModule(), 210, 1.0)->impl().image,
              LoadBitmap(ui::ProgramModule(), 210)->impl().image);
    EXPECT_EQ(LoadBitmap(ArtModule(), 0xFFFF, 2.25), nullptr);
    EXPECT_EQ(LoadBitmap(ArtModule(), 210, 0.0), nullptr);
    EXPECT_EQ(LoadBitmap(ArtModule(), 210, -2.0), nullptr);
    BitmapPixels none;
    EXPECT_FALSE(skinpainter::DrawSkinPixels(210, 100.0, none)) << "no screen needs that";
}

TEST(DeviceScaleGraphicsTest, ARegionDrawsIntoItsParentsPixelsAtItsOffset) {
    auto frame = CreateBitmap(100, 80);
    DrawingContext window;
    window.Select(frame.get());
    window.FillSolid({0, 0, 100, 80}, 0x102030);
    auto region = window.Region({30, 20, 70, 60});
    ASSERT_NE(region, nullptr);
    region->FillSolid({0, 0, 5, 5}, 0xFF0000);
    auto source = CreateBitmap(2, 2);
    source->impl().image.fill(qRgb(0, 255, 0));
    DrawingContext from;
    from.Select(source.get());
    region->BlockCopy(38, 38, 2, 2, from, 0, 0);
    // Past the region's edge: cut off, not drawn into the parent.
    region->FillSolid({35, 0, 60, 5}, 0x0000FF);
    region.reset();
    window.Select(nullptr);
    const QImage& pixels = frame->impl().image;
    EXPECT_EQ(pixels.pixel(30, 20) | 0xFF000000u, qRgb(255, 0, 0));
    EXPECT_EQ(pixels.pixel(34, 24) | 0xFF000000u, qRgb(255, 0, 0));
    EXPECT_EQ(pixels.pixel(35, 25) | 0xFF000000u, qRgb(0x10, 0x20, 0x30));
    EXPECT_EQ(pixels.pixel(29, 20) | 0xFF000000u, qRgb(0x10, 0x20, 0x30));
    EXPECT_EQ(pixels.pixel(69, 59) | 0xFF000000u, qRgb(0, 255, 0));
    EXPECT_EQ(pixels.pixel(69, 20) | 0xFF000000u, qRgb(0, 0, 255));
    EXPECT_EQ(pixels.pixel(70, 20) | 0xFF000000u, qRgb(0x10, 0x20, 0x30));
    DrawingContext empty;
    EXPECT_EQ(empty.Region({0, 0, 10, 10}), nullptr);
    window.Select(frame.get());
    EXPECT_EQ(window.Region({100, 80, 120, 90}), nullptr) << "outside the pixels";
    window.Select(nullptr);
}

TEST(DeviceScaleGraphicsTest, AJpegDecodesStraightToTheSizeItIsShown) {
    const auto jpeg = Jpeg(320, 180, qRgb(20, 40, 220));
    for (const auto& [w, h] : {std::pair{720, 405}, std::pair{960, 540}, std::pair{160, 90}}) {
        auto image = JpegImage::FromBuffer(jpeg, w, h);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->Width(), w);
        EXPECT_EQ(image->Height(), h);
        auto canvas = CreateBitmap(w, h);
        DrawingContext context;
        context.Select(canvas.get());
        image->Draw(context, {0, 0, w, h});
        context.Select(nullptr);
        const QRgb middle = canvas->impl().image.pixel(w / 2, h / 2);
        EXPECT_GT(qBlue(middle), 190) << w;
    }
    EXPECT_EQ(JpegImage::FromBuffer(jpeg, 0, 405), nullptr);
    EXPECT_EQ(JpegImage::FromBuffer(std::vector<uint8_t>{0xFF, 0xD8, 0x00}, 720, 405), nullptr);
}

// The confirmation screen's rectangle is 400 x 235; stills come in the
// camera's shapes.
TEST(DeviceScaleGraphicsTest, AStillKeepsItsProportionsCentredInItsRectangle) {
    struct Case {
        int width, height;
        Rect expected;
    };
    const Rect box{40, 140, 440, 375};
    for (const Case& c : {
             Case{640, 480, {83, 140, 396, 375}},   // 4:3: full height, 313 wide
             Case{1280, 720, {40, 145, 440, 370}},  // 16:9: full width, 225 high
             Case{400, 235, {40, 140, 440, 375}},   // the rectangle's own shape
             Case{100, 100, {122, 140, 357, 375}},  // square
             Case{4000, 10, {40, 257, 440, 258}},   // a sliver keeps a row
         }) {
        const auto jpeg = Jpeg(c.width, c.height, qRgb(230, 230, 30));
        auto image = JpegImage::FromBuffer(jpeg);
        ASSERT_NE(image, nullptr);
        const Rect fitted = image->FittedRect(box);
        EXPECT_EQ(fitted.left, c.expected.left) << c.width << "x" << c.height;
        EXPECT_EQ(fitted.top, c.expected.top) << c.width << "x" << c.height;
        EXPECT_EQ(fitted.right, c.expected.right) << c.width << "x" << c.height;
        EXPECT_EQ(fitted.bottom, c.expected.bottom) << c.width << "x" << c.height;
    }
    // Drawn: inside the fitted rectangle the still, beside it what was there.
    const auto jpeg = Jpeg(640, 480, qRgb(230, 230, 30));
    auto image = JpegImage::FromBuffer(jpeg);
    auto canvas = CreateBitmap(480, 640);
    DrawingContext context;
    context.Select(canvas.get());
    context.FillSolid({0, 0, 480, 640}, 0x0000FF);
    image->DrawFitted(context, box);
    context.Select(nullptr);
    const QImage& pixels = canvas->impl().image;
    EXPECT_GT(qRed(pixels.pixel(240, 257)), 190);
    EXPECT_GT(qRed(pixels.pixel(86, 142)), 190);
    EXPECT_EQ(pixels.pixel(60, 257) | 0xFF000000u, qRgb(0, 0, 255)) << "the still was stretched";
    EXPECT_EQ(pixels.pixel(420, 257) | 0xFF000000u, qRgb(0, 0, 255));
}

// The confirmation's preview rectangle on the windows of a handset and of a
// 1080 x 2340 phone at scales 2.25 and 3: always inside the window, below the
// question and above the buttons (which the template puts at 33 and 143 of
// its 183 units), and the handset's own on the handset.
TEST(DeviceScaleGraphicsTest, TheConfirmationsPreviewRectangleFollowsTheWindow) {
    struct Case {
        int width, height;
        Rect expected;
    };
    for (const Case& c : {
             Case{480, 640, {40, 140, 440, 375}},
             Case{480, 1040, {40, 227, 440, 609}},
             Case{360, 780, {30, 170, 330, 457}},
             Case{0, 0, {40, 140, 440, 375}},
         }) {
        const Rect r = CCaptureConfirmDialog::PreviewRectFor(c.width, c.height);
        EXPECT_EQ(r.left, c.expected.left) << c.width << "x" << c.height;
        EXPECT_EQ(r.top, c.expected.top) << c.width << "x" << c.height;
        EXPECT_EQ(r.right, c.expected.right) << c.width << "x" << c.height;
        EXPECT_EQ(r.bottom, c.expected.bottom) << c.width << "x" << c.height;
        if (c.width > 0) {
            EXPECT_LE(r.right, c.width);
            EXPECT_GT(r.top, 33 * c.height / 183) << "below the question";
            EXPECT_LT(r.bottom, 143 * c.height / 183) << "above the buttons";
        }
    }
}

}  // namespace
