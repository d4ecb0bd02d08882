#include "platform/ui/skin/SkinArt.h"

#include <QFontDatabase>
#include <QImage>
#include <cstring>
#include <mutex>

#include "platform/ui/skin/SkinPainter.h"

namespace skinpainter {
namespace {

// The labels are set in DejaVu Sans, as the committed bitmaps are; where the
// faces are missing the system's fallback sets them.
void AddSkinFonts() {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const char* file : {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf"}) {
            QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/fonts/truetype/dejavu/") +
                                              QString::fromLatin1(file));
        }
    });
}

// A scale beyond this would draw bitmaps larger than any screen needs.
constexpr double kLargestScale = 8.0;

}  // namespace

bool DrawSkinPixels(uint32_t id, double scale, platform::BitmapPixels& out) {
    if (!(scale > 0.0 && scale <= kLargestScale)) {
        return false;
    }
    AddSkinFonts();
    QImage image = DrawSkinBitmap(static_cast<int>(id), scale);
    if (image.isNull()) {
        return false;
    }
    image = image.convertToFormat(QImage::Format_RGB32);
    out.width = image.width();
    out.height = image.height();
    out.pixels.resize(static_cast<size_t>(out.width) * static_cast<size_t>(out.height));
    for (int y = 0; y < out.height; ++y) {
        std::memcpy(&out.pixels[static_cast<size_t>(y) * static_cast<size_t>(out.width)],
                    image.constScanLine(y), static_cast<size_t>(out.width) * sizeof(uint32_t));
    }
    return true;
}

const platform::ResourceModule* ModuleWithSkinArt(const platform::ResourceModule* module) {
    static platform::ResourceModule withArt{};
    if (module == nullptr) {
        return nullptr;
    }
    withArt = *module;
    withArt.drawBitmap = &DrawSkinPixels;
    return &withArt;
}

}  // namespace skinpainter
