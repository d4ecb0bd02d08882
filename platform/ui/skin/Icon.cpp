// The program icon, as a picture at any size and as vector graphics.
#include <QImage>
#include <QLinearGradient>
#include <algorithm>

#include "platform/ui/skin/SkinPainter.h"
#include "platform/ui/skin/SkinParts.h"

namespace skinpainter {

QImage DrawIcon(int size) {
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter p(&icon);
    Antialias(p);
    const double s = size / 64.0;
    // Small icons keep whole pixels for the tile's edge and a bigger glyph.
    const bool small = size <= 32;
    const double inset = small ? 0.5 : 1.5 * s;
    const QRectF tile(inset, inset, size - 2 * inset, size - 2 * inset);
    QLinearGradient g(0, tile.top(), 0, tile.bottom());
    g.setColorAt(0, QColor(0x4a, 0x50, 0x59));
    g.setColorAt(1, QColor(0x1c, 0x1f, 0x23));
    p.setPen(QPen(QColor(0x0c, 0x0d, 0x0f), small ? 1.0 : std::max(1.0, 1.2 * s)));
    p.setBrush(g);
    p.drawRoundedRect(tile, 13 * s, 13 * s);
    if (size >= 48) {
        // The moulded rim catches the light along the top.
        QLinearGradient fade(0, 0, 0, size * 0.5);
        fade.setColorAt(0, QColor(0x86, 0x8e, 0x99));
        fade.setColorAt(1, QColor(0x86, 0x8e, 0x99, 0));
        p.setPen(QPen(QBrush(fade), std::max(1.0, 0.9 * s)));
        p.setBrush(Qt::NoBrush);
        const double rim = std::max(1.0, 1.2 * s);
        p.drawRoundedRect(tile.adjusted(rim, rim, -rim, -rim), 12 * s, 12 * s);
    }
    const double scale = (small ? 0.86 : 0.78) * s;
    const QPointF centre(32 * s, (small ? 33.5 : 34) * s);
    if (size >= 128) {
        // Large sizes get a shaded body, as the keys have.
        QLinearGradient body(0, centre.y() - 21 * scale, 0, centre.y() + 14 * scale);
        body.setColorAt(0, QColor(0xff, 0xff, 0xff));
        body.setColorAt(1, QColor(0xc9, 0xcf, 0xd6));
        FillPath(p, CamcorderPath(centre, scale), QColor(0, 0, 0, 90));
        p.setBrush(body);
        p.setPen(Qt::NoPen);
        p.drawPath(CamcorderPath(centre + QPointF(0, -1.5 * s), scale));
        p.setBrush(kRecRed);
        p.drawEllipse(centre + QPointF(-19 * scale, -5 * scale - 1.5 * s), 3.6 * scale,
                      3.6 * scale);
    } else {
        DrawCamcorder(p, centre, scale, kGlyph, kRecRed);
    }
    p.end();
    return icon;
}

QString IconSvg() {
    // The geometry of DrawIcon at 64 units, with CamcorderPath written out.
    const double k = 0.78;
    const double cx = 32;
    const double cy = 34;
    const auto x = [&](double v) { return QString::number(cx + v * k, 'f', 2); };
    const auto y = [&](double v) { return QString::number(cy + v * k, 'f', 2); };
    const auto len = [&](double v) { return QString::number(v * k, 'f', 2); };
    QString svg;
    svg += QStringLiteral(
        "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"64\" height=\"64\" "
        "viewBox=\"0 0 64 64\">\n"
        "  <defs>\n"
        "    <linearGradient id=\"tile\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">\n"
        "      <stop offset=\"0\" stop-color=\"#4a5059\"/>\n"
        "      <stop offset=\"1\" stop-color=\"#1c1f23\"/>\n"
        "    </linearGradient>\n"
        "    <linearGradient id=\"rim\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">\n"
        "      <stop offset=\"0\" stop-color=\"#868e99\"/>\n"
        "      <stop offset=\"0.5\" stop-color=\"#868e99\" stop-opacity=\"0\"/>\n"
        "    </linearGradient>\n"
        "  </defs>\n"
        "  <rect x=\"1.5\" y=\"1.5\" width=\"61\" height=\"61\" rx=\"13\" "
        "fill=\"url(#tile)\" stroke=\"#0c0d0f\" stroke-width=\"1.2\"/>\n"
        "  <rect x=\"2.7\" y=\"2.7\" width=\"58.6\" height=\"58.6\" rx=\"12\" "
        "fill=\"none\" stroke=\"url(#rim)\" stroke-width=\"0.9\"/>\n");
    svg += QStringLiteral("  <g fill=\"#eef0f3\">\n");
    svg += QStringLiteral("    <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\"/>\n")
               .arg(x(-28), y(-14), len(38), len(28), len(5));
    svg += QStringLiteral("    <rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" rx=\"%5\"/>\n")
               .arg(x(-24), y(-21), len(14), len(9), len(2));
    svg += QStringLiteral("    <polygon points=\"%1,%2 %3,%4 %5,%6 %7,%8\"/>\n")
               .arg(x(12), y(-5), x(28), y(-14), x(28), y(14), x(12), y(5));
    svg += QStringLiteral("  </g>\n");
    svg += QStringLiteral("  <circle cx=\"%1\" cy=\"%2\" r=\"%3\" fill=\"#e53935\"/>\n")
               .arg(x(-19), y(-5), len(3.6));
    svg += QStringLiteral("</svg>\n");
    return svg;
}

}  // namespace skinpainter
