#include "tools/skinpainter/ContactSheet.h"

#include <QFont>
#include <QFontDatabase>
#include <QPainter>
#include <algorithm>
#include <cstdio>

namespace skinpainter {

bool AddLabelFonts() {
    for (const char* file : {"DejaVuSans.ttf", "DejaVuSans-Bold.ttf"}) {
        if (QFontDatabase::addApplicationFont(QStringLiteral("/usr/share/fonts/truetype/dejavu/") +
                                              QString::fromLatin1(file)) < 0) {
            std::fprintf(stderr, "skinpainter: font %s missing (fonts-dejavu-core)\n", file);
            return false;
        }
    }
    return true;
}

QImage ContactSheet(const std::vector<SkinBitmap>& skin) {
    constexpr int kWidth = 1500;
    constexpr int kMargin = 24;
    constexpr int kLabel = 40;
    // Lay out shelves first to learn the height.
    struct Spot {
        const SkinBitmap* bitmap;
        QPoint at;
    };
    std::vector<Spot> spots;
    int x = kMargin;
    int y = kMargin + 40;
    int shelf = 0;
    for (const auto& b : skin) {
        const int w = std::max(b.image.width(), 140);
        if (x + w > kWidth - kMargin) {
            x = kMargin;
            y += shelf + kLabel + kMargin;
            shelf = 0;
        }
        spots.push_back({&b, QPoint(x, y)});
        x += w + kMargin;
        shelf = std::max(shelf, b.image.height());
    }
    const int height = y + shelf + kLabel + kMargin;
    QImage sheet(kWidth, height, QImage::Format_RGB32);
    sheet.fill(QColor(0x8c, 0x90, 0x96));
    QPainter p(&sheet);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    QFont title(QStringLiteral("DejaVu Sans"));
    title.setPixelSize(22);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(kMargin, 10, kWidth, 36), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("CamoraController skin — every bitmap at its size"));
    QFont label(QStringLiteral("DejaVu Sans"));
    label.setPixelSize(13);
    for (const Spot& s : spots) {
        const QImage& img = s.bitmap->image;
        p.drawImage(s.at, img);
        p.setPen(QColor(0x20, 0x22, 0x25));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRect(s.at - QPoint(1, 1), img.size() + QSize(1, 1)));
        p.setPen(Qt::black);
        label.setBold(true);
        p.setFont(label);
        p.drawText(
            QRect(s.at.x(), s.at.y() + img.height() + 3, 300, 17), Qt::AlignLeft | Qt::AlignVCenter,
            QStringLiteral("%1  %2×%3").arg(s.bitmap->id).arg(img.width()).arg(img.height()));
        label.setBold(false);
        p.setFont(label);
        p.drawText(
            QRect(s.at.x(), s.at.y() + img.height() + 19, std::max(img.width(), 140) + 20, 17),
            Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf8(s.bitmap->what));
    }
    p.end();
    return sheet;
}

}  // namespace skinpainter
