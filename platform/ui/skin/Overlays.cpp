// The preview pictures and the status window's indicators.
#include "platform/ui/skin/SkinParts.h"

#include <QLinearGradient>
#include <QRadialGradient>

namespace skinpainter {

namespace {

void DrawPreviewKey(QPainter& p, const QRectF& key, bool light) {
    p.setPen(Qt::NoPen);
    QLinearGradient g(0, key.top(), 0, key.bottom());
    if (light) {
        g.setColorAt(0, QColor(0xe4, 0xe8, 0xec));
        g.setColorAt(1, QColor(0xa9, 0xb0, 0xb8));
    } else {
        g.setColorAt(0, kKeyTop);
        g.setColorAt(1, kKeyBottom);
    }
    p.setPen(QPen(light ? kAccent : QColor(0x5c, 0x63, 0x6d), light ? 2.5 : 1.2));
    p.setBrush(g);
    p.drawRoundedRect(key, 18, 18);
}

}  // namespace

void DrawLiveViewButton(QPainter& p, bool pressed) {
    const QRectF key =
        QRectF(kPreview).adjusted(10, 10 + (pressed ? 2 : 0), -10, -12 + (pressed ? 2 : 0));
    if (!pressed) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x2a, 0x2e, 0x34));
        p.drawRoundedRect(key.translated(0, 3), 18, 18);
    }
    DrawPreviewKey(p, key, pressed);
    const QColor glyph = pressed ? QColor(0x1a, 0x1d, 0x21) : kGlyph;
    const QPointF c = key.center();
    DrawCamcorder(p, c + QPointF(-78, -4), 1.6, glyph, kRecRed);
    p.setPen(glyph);
    p.setFont(Font(30, true));
    p.drawText(QRectF(c.x() - 20, c.y() - 40, 140, 40), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("LIVE"));
    p.drawText(QRectF(c.x() - 20, c.y() - 4, 140, 40), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("VIEW"));
    // A round play mark: the picture starts moving.
    const QPointF play(c.x() + 110, c.y() - 4);
    p.setPen(QPen(pressed ? QColor(0x1e, 0x6f, 0x96) : kAccent, 3));
    p.setBrush(pressed ? QBrush(kAccent) : QBrush(Qt::NoBrush));
    p.drawEllipse(play, 19, 19);
    FillPath(p, Triangle(play + QPointF(10, 0), 17, 20, true),
             pressed ? QColor(0x1a, 0x1d, 0x21) : kAccent);
    p.setPen(pressed ? QColor(0x1e, 0x6f, 0x96) : kLabelDim);
    p.setFont(Font(12, false));
    p.drawText(QRectF(key.left(), key.bottom() - 26, key.width(), 18), Qt::AlignCenter,
               pressed ? QStringLiteral("switching…") : QStringLiteral("tap to watch the camera"));
}

namespace {

void DrawHandset(QPainter& p, QPointF c, double s, const QColor& color) {
    QPainterPath body;
    body.setFillRule(Qt::OddEvenFill);
    body.addRoundedRect(QRectF(c.x() - 15 * s, c.y() - 27 * s, 30 * s, 54 * s), 5 * s, 5 * s);
    body.addRoundedRect(QRectF(c.x() - 11 * s, c.y() - 20 * s, 22 * s, 34 * s), 1.5 * s, 1.5 * s);
    FillPath(p, body, color);
    p.setBrush(color);
    p.drawEllipse(c + QPointF(0, 20.5 * s), 2.6 * s, 2.6 * s);
}

}  // namespace

void DrawLiveViewStarting(QPainter& p) {
    const QRectF area = QRectF(kPreview).adjusted(10, 10, -10, -12);
    p.setPen(QPen(QColor(0x3a, 0x40, 0x48), 1.2));
    p.setBrush(QColor(0x14, 0x17, 0x1a));
    p.drawRoundedRect(area, 18, 18);
    const QPointF c = area.center() + QPointF(0, -14);
    DrawCamcorder(p, c + QPointF(-82, 0), 1.5, kGlyph, kRecRed);
    DrawHandset(p, c + QPointF(92, 0), 1.15, kGlyph);
    // Pictures travel from the camera to the handset; commands go back.
    p.setPen(RoundPen(kAccent, 4));
    p.setBrush(kAccent);
    p.drawLine(QPointF(c.x() - 26, c.y() - 9), QPointF(c.x() + 46, c.y() - 9));
    FillPath(p, Triangle(QPointF(c.x() + 60, c.y() - 9), 15, 16, true), kAccent);
    p.setPen(RoundPen(kLabelDim, 4));
    p.drawLine(QPointF(c.x() - 6, c.y() + 11), QPointF(c.x() + 60, c.y() + 11));
    FillPath(p, Triangle(QPointF(c.x() - 22, c.y() + 11), 15, 16, false), kLabelDim);
    p.setPen(kGlyph);
    p.setFont(Font(17, true));
    p.drawText(QRectF(area.left(), area.bottom() - 46, area.width(), 24), Qt::AlignCenter,
               QStringLiteral("STARTING LIVE VIEW…"));
}

void DrawCaptureButton(QPainter& p, bool pressed) {
    const double dy = pressed ? 2 : 0;
    const QRectF key = QRectF(kCapture).adjusted(7, 6 + dy, -7, -9 + dy);
    if (!pressed) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x2a, 0x2e, 0x34));
        p.drawRoundedRect(key.translated(0, 3), 16, 16);
        DrawPreviewKey(p, key, false);
    } else {
        DrawKeyShape(p, key, 16, KeyLook::Pressed);
    }
    const QColor glyph = pressed ? kAccent : kGlyph;
    const QPointF c = key.center() + QPointF(-14, -12);
    FillPath(p, CameraPath(c, 0.8), glyph);
    // The arrow: the still goes down into the handset.
    p.setPen(RoundPen(glyph, 4));
    p.drawLine(QPointF(c.x() + 37, c.y() - 14), QPointF(c.x() + 37, c.y() + 8));
    QPainterPath head;
    head.moveTo(c.x() + 37, c.y() + 19);
    head.lineTo(c.x() + 28, c.y() + 7);
    head.lineTo(c.x() + 46, c.y() + 7);
    head.closeSubpath();
    FillPath(p, head, glyph);
    p.setPen(glyph);
    p.setFont(Font(15, true));
    p.drawText(QRectF(key.left(), key.bottom() - 30, key.width(), 22), Qt::AlignCenter,
               QStringLiteral("CAPTURE"));
}

// ---- indicators --------------------------------------------------------------

void DrawModeCaption(QPainter& p, const QString& kind, bool play) {
    const QRectF r(kModeCaption);
    const QColor tag = play ? kGreen : kRecRed;
    p.setPen(Qt::NoPen);
    p.setBrush(tag);
    p.setPen(kGlyph);
    p.setFont(Font(kind.size() > 6 ? 14 : 17, true));
    const double cx = kStatusCentreX;
    p.drawText(QRectF(cx - 56, r.top() + 8, 112, 22), Qt::AlignCenter, kind);
    // The second line names the mode; its colour tells recording from playback.
    QPainterPath pill;
    const QRectF box(cx - 46, r.top() + 33, 92, 19);
    pill.addRoundedRect(box, 9.5, 9.5);
    FillPath(p, pill, tag.darker(150));
    p.setPen(QPen(tag, 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(pill);
    p.setPen(QColor(0xff, 0xff, 0xff));
    p.setFont(Font(12, true));
    p.drawText(box, Qt::AlignCenter,
               play ? QStringLiteral("PLAY MODE") : QStringLiteral("REC MODE"));
}

void DrawRecordIndicator(QPainter& p, bool recording) {
    const QRectF r(kRecord);
    const double cy = r.center().y();
    const double cx = kStatusCentreX;
    if (recording) {
        QRadialGradient g(QPointF(cx - 34, cy - 3), 11);
        g.setColorAt(0, kRecRedLit.lighter(130));
        g.setColorAt(1, kRecRed);
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawEllipse(QPointF(cx - 30, cy), 9, 9);
        p.setPen(kRecRedLit);
        p.setFont(Font(18, true));
        p.drawText(QRectF(cx - 16, r.top(), 64, r.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("REC"));
    } else {
        p.setPen(Qt::NoPen);
        p.setBrush(kGreen);
        p.drawEllipse(QPointF(cx - 36, cy), 7, 7);
        p.setBrush(kGlyph);
        p.drawRect(QRectF(cx - 23, cy - 8, 4.5, 16));
        p.drawRect(QRectF(cx - 15, cy - 8, 4.5, 16));
        p.setPen(kGlyph);
        p.setFont(Font(15, true));
        p.drawText(QRectF(cx - 4, r.top(), 64, r.height()), Qt::AlignLeft | Qt::AlignVCenter,
                   QStringLiteral("STBY"));
    }
}

void DrawBattery(QPainter& p, int segments, const QColor& segment, bool emptyRed) {
    const QRectF r(kBattery);
    const double cx = kStatusCentreX;
    const QRectF shell(cx - 30, r.center().y() - 11, 56, 22);
    const QColor outline = emptyRed ? kRecRed : kGlyph;
    p.setPen(QPen(outline, 2.5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(shell, 4, 4);
    p.setPen(Qt::NoPen);
    p.setBrush(outline);
    p.drawRoundedRect(QRectF(shell.right() + 1.5, shell.center().y() - 5, 4.5, 10), 1.5, 1.5);
    for (int i = 0; i < 3; ++i) {
        const QRectF slot(shell.left() + 4.5 + i * 16.2, shell.top() + 4.5, 14, 13);
        if (i < segments) {
            p.setBrush(segment);
            p.drawRoundedRect(slot, 1.5, 1.5);
        } else {
            p.setBrush(QColor(0x22, 0x26, 0x2b));
            p.drawRoundedRect(slot, 1.5, 1.5);
        }
    }
}

void DrawMains(QPainter& p) {
    const QRectF r(kBattery);
    const double cx = kStatusCentreX;
    const double cy = r.center().y();
    p.setPen(Qt::NoPen);
    p.setBrush(kGlyph);
    // Plug body, two prongs to the right, cable to the left.
    p.drawRoundedRect(QRectF(cx - 24, cy - 9, 18, 18), 4, 4);
    p.drawRect(QRectF(cx - 7, cy - 6.5, 9, 13));
    p.drawRoundedRect(QRectF(cx + 2, cy - 7, 11, 3.6), 1.2, 1.2);
    p.drawRoundedRect(QRectF(cx + 2, cy + 3.4, 11, 3.6), 1.2, 1.2);
    p.setPen(RoundPen(kGlyph, 3.5));
    p.setBrush(Qt::NoBrush);
    QPainterPath cable;
    cable.moveTo(cx - 24, cy);
    cable.cubicTo(cx - 36, cy, cx - 32, cy + 12, cx - 44, cy + 10);
    p.drawPath(cable);
    p.setPen(kYellow);
    p.setFont(Font(13, true));
    p.drawText(QRectF(cx + 17, r.top(), 40, r.height()), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("AC"));
}

void DrawGpsIndicator(QPainter& p, bool located) {
    const QRectF r(kGps);
    const double cx = kStatusCentreX;
    const QPointF sat(cx - 30, r.center().y() + 4);
    DrawSatellite(p, sat, 0.66, kGlyph, kLcd);
    const QPointF dish = DishOf(sat, 0.66);
    if (located) {
        DrawWaves(p, dish, 0.95, kGreen);
    } else {
        p.setPen(RoundPen(kRecRedLit, 3.5));
        const QPointF x = dish + QPointF(9, -9);
        p.drawLine(x + QPointF(-6, -6), x + QPointF(6, 6));
        p.drawLine(x + QPointF(-6, 6), x + QPointF(6, -6));
    }
    p.setPen(located ? kGreen : kLabelDim);
    p.setFont(Font(15, true));
    p.drawText(QRectF(cx + 10, r.top(), 50, r.height()), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("GPS"));
}

}  // namespace skinpainter
