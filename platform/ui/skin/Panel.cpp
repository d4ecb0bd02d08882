// The panel's body, its keys and bars, and the panel at rest.
#include "platform/ui/skin/SkinParts.h"

#include <QLinearGradient>

namespace skinpainter {
namespace {

// Each cell of the key grid is flat within its row band, so that one blank
// tile fits every cell of its band.
void PaintGridBand(QPainter& p, int top, bool lower) {
    if (!lower) {
        p.fillRect(QRect(0, top, kPanelWidth, 100), kGrid);
        return;
    }
    QLinearGradient g(0, top, 0, top + 100);
    g.setColorAt(0, kGrid);
    g.setColorAt(1, kGridLow);
    p.fillRect(QRect(0, top, kPanelWidth, 100), g);
}

void PaintBrandPlate(QPainter& p) {
    // The corner of the grid that holds no key carries the grille and name.
    const QRectF plate(368.5, 344.5, 104, 184);
    QLinearGradient g(0, plate.top(), 0, plate.bottom());
    g.setColorAt(0, QColor(0x16, 0x18, 0x1b));
    g.setColorAt(1, QColor(0x1b, 0x1e, 0x22));
    p.setPen(QPen(QColor(0x30, 0x35, 0x3c), 1));
    p.setBrush(g);
    p.drawRoundedRect(plate, 14, 14);
    p.setPen(Qt::NoPen);
    for (int row = 0; row < 7; ++row) {
        for (int col = 0; col < 6; ++col) {
            const QPointF c(plate.left() + 22 + col * 12, plate.top() + 22 + row * 12);
            p.setBrush(QColor(0x08, 0x09, 0x0a));
            p.drawEllipse(c, 3.2, 3.2);
            p.setBrush(QColor(0x3a, 0x3f, 0x46));
            p.drawEllipse(c + QPointF(0, 1.4), 1.6, 0.8);
        }
    }
    p.setPen(QColor(0xc8, 0xcd, 0xd3));
    p.setFont(Font(17, true));
    p.drawText(QRectF(plate.left(), plate.top() + 110, plate.width(), 24), Qt::AlignCenter,
               QStringLiteral("CAMORA"));
    p.setPen(kAccent);
    p.setFont(Font(11, true));
    p.drawText(QRectF(plate.left(), plate.top() + 134, plate.width(), 16), Qt::AlignCenter,
               QStringLiteral("HD REMOTE"));
    p.setPen(QPen(QColor(0x30, 0x35, 0x3c), 1));
    p.drawLine(QPointF(plate.left() + 24, plate.top() + 160),
               QPointF(plate.right() - 24, plate.top() + 160));
}

}  // namespace

void PaintBody(QPainter& p) {
    QLinearGradient top(0, 0, 0, 236);
    top.setColorAt(0, kBodyTop);
    top.setColorAt(1, kBodyMid);
    p.fillRect(QRect(0, 0, kPanelWidth, 236), top);
    // A fine highlight along the top edge, as on a moulded case.
    p.fillRect(QRect(0, 0, kPanelWidth, 1), QColor(0x55, 0x5b, 0x64));

    p.setPen(kLabelDim);
    p.setFont(Font(12, true));
    p.drawText(QRectF(18, 4, 200, 20), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("C A M O R A"));
    p.setFont(Font(10, false));
    p.drawText(QRectF(262, 4, 200, 20), Qt::AlignRight | Qt::AlignVCenter,
               QStringLiteral("BLUETOOTH REMOTE"));

    // Preview bezel around the black picture area.
    const QRectF bezel(13.5, 21.5, 333, 193);
    p.setPen(QPen(QColor(0x4a, 0x50, 0x58), 1));
    p.setBrush(QColor(0x0b, 0x0c, 0x0e));
    p.drawRoundedRect(bezel, 9, 9);
    p.fillRect(QRect(20, 28, 320, 180), Qt::black);

    // Status window behind the four indicators.
    const QRectF lcd(353.5, 21.5, 121, 193);
    p.setPen(QPen(QColor(0x4a, 0x50, 0x58), 1));
    p.setBrush(kLcd);
    p.drawRoundedRect(lcd, 9, 9);
    p.setPen(QPen(kLcdLine, 1));
    for (int y : {88, 124, 160}) {
        p.drawLine(QPointF(364, y + 0.5), QPointF(464, y + 0.5));
    }

    PaintGridBand(p, 236, false);
    PaintGridBand(p, 336, false);
    PaintGridBand(p, 436, true);
    // Seam between the case's upper part and the key grid.
    p.fillRect(QRect(0, 235, kPanelWidth, 1), QColor(0x12, 0x14, 0x16));

    p.fillRect(QRect(0, 536, kPanelWidth, 52), kBarArea);
    p.fillRect(QRect(0, 536, kPanelWidth, 1), QColor(0x0a, 0x0b, 0x0c));
    PaintBrandPlate(p);
}

void DrawKeyShape(QPainter& p, const QRectF& key, double radius, KeyLook look) {
    if (look == KeyLook::Rest) {
        // Drop shadow under a raised key.
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 110));
        p.drawRoundedRect(key.translated(0, 3), radius, radius);
        p.setBrush(QColor(0, 0, 0, 60));
        p.drawRoundedRect(key.adjusted(-1, 0, 1, 5), radius + 1, radius + 1);
    }
    QLinearGradient g(0, key.top(), 0, key.bottom());
    switch (look) {
        case KeyLook::Rest:
            g.setColorAt(0, kKeyTop);
            g.setColorAt(1, kKeyBottom);
            break;
        case KeyLook::Pressed:
            g.setColorAt(0, kKeyPressedTop);
            g.setColorAt(1, kKeyPressedBottom);
            break;
        case KeyLook::Blank:
            g.setColorAt(0, kBlankTop);
            g.setColorAt(1, kBlankBottom);
            break;
    }
    p.setPen(QPen(QColor(0x0c, 0x0d, 0x0f), 1.2));
    p.setBrush(g);
    p.drawRoundedRect(key, radius, radius);
    p.setBrush(Qt::NoBrush);
    if (look == KeyLook::Rest) {
        // Light catches the upper rim and fades down the sides.
        QLinearGradient fade(0, key.top(), 0, key.top() + key.height() * 0.6);
        fade.setColorAt(0, QColor(0x78, 0x80, 0x8b));
        fade.setColorAt(1, QColor(0x78, 0x80, 0x8b, 0));
        p.setPen(QPen(QBrush(fade), 1.2));
        p.drawRoundedRect(key.adjusted(1.2, 1.2, -1.2, -1.2), radius - 1, radius - 1);
    } else if (look == KeyLook::Pressed) {
        // Inner shadow along the top, and a lit rim: the key is held down.
        p.save();
        QPainterPath clip;
        clip.addRoundedRect(key, radius, radius);
        p.setClipPath(clip);
        QLinearGradient shade(0, key.top(), 0, key.top() + 10);
        shade.setColorAt(0, QColor(0, 0, 0, 150));
        shade.setColorAt(1, QColor(0, 0, 0, 0));
        p.fillRect(key, shade);
        p.restore();
        p.setPen(QPen(QColor(kAccent.red(), kAccent.green(), kAccent.blue(), 150), 1.6));
        p.drawRoundedRect(key.adjusted(1.5, 1.5, -1.5, -1.5), radius - 1.5, radius - 1.5);
    } else {
        p.setPen(QPen(QColor(0x2e, 0x32, 0x37), 1));
        p.drawRoundedRect(key.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
    }
}

void DrawKey(QPainter& p, const QRect& cell, int id, KeyLook look) {
    const double dy = look == KeyLook::Pressed ? 2 : 0;
    const QRectF key = QRectF(cell).adjusted(8, 7 + dy, -8, -9 + dy);
    DrawKeyShape(p, key, 14, look);
    if (look == KeyLook::Blank) {
        return;
    }
    const QColor color = look == KeyLook::Pressed ? kAccent : kGlyph;
    const QColor keyColor =
        look == KeyLook::Pressed ? QColor(0x27, 0x2b, 0x30) : kKeyTop.darker(112);
    DrawGlyph(p, id, key.center(), color, keyColor, look == KeyLook::Pressed);
}

void DrawBar(QPainter& p, const QRect& cell, const QString& label, KeyLook look) {
    const double dy = look == KeyLook::Pressed ? 2 : 0;
    const QRectF key = QRectF(cell).adjusted(10, 7 + dy, -10, -9 + dy);
    DrawKeyShape(p, key, 11, look);
    p.setPen(look == KeyLook::Pressed ? kAccent : kGlyph);
    p.setFont(Font(20, true));
    p.drawText(key, Qt::AlignCenter, label);
}

const std::vector<KeyPlace>& Keys() {
    static const std::vector<KeyPlace> keys = {
        {213, {0, 236, 120, 100}},   {214, {120, 236, 120, 100}}, {211, {240, 236, 120, 100}},
        {210, {360, 236, 120, 100}}, {212, {0, 336, 120, 100}},   {209, {120, 336, 120, 100}},
        {205, {240, 336, 120, 100}}, {207, {0, 436, 120, 100}},   {202, {120, 436, 120, 100}},
        {206, {240, 436, 120, 100}},
    };
    return keys;
}

void DrawPanelAtRest(QPainter& p) {
    PaintBody(p);
    for (const KeyPlace& key : Keys()) {
        DrawKey(p, key.cell, key.id, KeyLook::Rest);
    }
    DrawBar(p, kVerBar, QStringLiteral("Ver."), KeyLook::Rest);
    DrawBar(p, kExitBar, QStringLiteral("Exit"), KeyLook::Rest);
}

}  // namespace skinpainter
