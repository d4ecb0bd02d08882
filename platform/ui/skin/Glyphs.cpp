// The pictures on the keys and the shapes they are made of.
#include "platform/ui/skin/SkinParts.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QRadialGradient>

namespace skinpainter {

void FillPath(QPainter& p, const QPainterPath& path, const QColor& color) {
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPath(path);
}

QPainterPath CameraPath(QPointF c, double s) {
    QPainterPath body;
    body.setFillRule(Qt::OddEvenFill);
    body.addRoundedRect(QRectF(c.x() - 24 * s, c.y() - 13 * s, 48 * s, 32 * s), 6 * s, 6 * s);
    QPainterPath bump;
    bump.addRoundedRect(QRectF(c.x() - 10 * s, c.y() - 19 * s, 20 * s, 10 * s), 3 * s, 3 * s);
    QPainterPath lens;
    lens.addEllipse(c + QPointF(0, 3 * s), 10 * s, 10 * s);
    QPainterPath inner;
    inner.addEllipse(c + QPointF(0, 3 * s), 5.5 * s, 5.5 * s);
    QPainterPath shape = body.united(bump).subtracted(lens).united(inner);
    return shape;
}

QPainterPath CamcorderPath(QPointF c, double s) {
    QPainterPath body;
    body.addRoundedRect(QRectF(c.x() - 28 * s, c.y() - 14 * s, 38 * s, 28 * s), 5 * s, 5 * s);
    QPainterPath hood;
    hood.moveTo(c.x() + 12 * s, c.y() - 5 * s);
    hood.lineTo(c.x() + 28 * s, c.y() - 14 * s);
    hood.lineTo(c.x() + 28 * s, c.y() + 14 * s);
    hood.lineTo(c.x() + 12 * s, c.y() + 5 * s);
    hood.closeSubpath();
    QPainterPath finder;
    finder.addRoundedRect(QRectF(c.x() - 24 * s, c.y() - 21 * s, 14 * s, 9 * s), 2 * s, 2 * s);
    return body.united(hood).united(finder);
}

void DrawCamcorder(QPainter& p, QPointF c, double s, const QColor& color, const QColor& dot) {
    FillPath(p, CamcorderPath(c, s), color);
    p.setBrush(dot);
    p.drawEllipse(c + QPointF(-19 * s, -5 * s), 3.6 * s, 3.6 * s);
}

QPainterPath Triangle(QPointF tip, double w, double h, bool right) {
    QPainterPath t;
    const double dir = right ? 1 : -1;
    t.moveTo(tip);
    t.lineTo(tip.x() - dir * w, tip.y() - h / 2);
    t.lineTo(tip.x() - dir * w, tip.y() + h / 2);
    t.closeSubpath();
    return t;
}

namespace {

void DrawChevron(QPainter& p, QPointF c, double s, bool up, const QColor& color) {
    const double dir = up ? -1 : 1;
    p.setPen(RoundPen(color, 5.5 * s));
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    path.moveTo(c.x() - 10 * s, c.y() - dir * 6 * s);
    path.lineTo(c.x(), c.y() + dir * 6 * s);
    path.lineTo(c.x() + 10 * s, c.y() - dir * 6 * s);
    p.drawPath(path);
}

// The zoom letter with its chevron beside it, centred as one group.
void DrawZoom(QPainter& p, QPointF c, const QString& letter, bool up, const QColor& color) {
    const QFont font = Font(42, true);
    const QFontMetricsF metrics(font);
    const QRectF ink = metrics.tightBoundingRect(letter);
    constexpr double kGap = 9;
    constexpr double kChevron = 20;
    const double left = c.x() - (ink.width() + kGap + kChevron) / 2;
    p.setPen(color);
    p.setFont(font);
    // Place the letter by its ink, so that caps sit in the middle of the key.
    p.drawText(QPointF(left - ink.left(), c.y() - ink.top() - ink.height() / 2), letter);
    DrawChevron(p, QPointF(left + ink.width() + kGap + kChevron / 2, c.y()), 1.0, up, color);
}

}  // namespace

void DrawSatellite(QPainter& p, QPointF c, double s, const QColor& color,
                   const QColor& background) {
    p.save();
    p.translate(c);
    p.rotate(45);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawRoundedRect(QRectF(-6.5 * s, -8 * s, 13 * s, 16 * s), 2.5 * s, 2.5 * s);
    for (double side : {-1.0, 1.0}) {
        const double x0 = side < 0 ? -27 * s : 10 * s;
        p.setBrush(color);
        p.drawRect(QRectF(side < 0 ? -10.5 * s : 6 * s, -1.5 * s, 4.5 * s, 3 * s));
        p.drawRect(QRectF(x0, -6.5 * s, 17 * s, 13 * s));
        p.setPen(QPen(background, 1.5 * s));
        p.drawLine(QPointF(x0 + 17 * s / 3, -6.5 * s), QPointF(x0 + 17 * s / 3, 6.5 * s));
        p.drawLine(QPointF(x0 + 34 * s / 3, -6.5 * s), QPointF(x0 + 34 * s / 3, 6.5 * s));
        p.setPen(Qt::NoPen);
    }
    p.setBrush(color);
    p.drawRect(QRectF(-1.5 * s, -12 * s, 3 * s, 5 * s));
    QPainterPath dish;
    dish.moveTo(-7 * s, -16 * s);
    dish.quadTo(0, -8 * s, 7 * s, -16 * s);
    dish.closeSubpath();
    p.drawPath(dish);
    p.restore();
}

QPointF DishOf(QPointF c, double s) {
    return c + QPointF(11 * s, -11 * s);
}

void DrawWaves(QPainter& p, QPointF from, double s, const QColor& color) {
    p.setPen(RoundPen(color, 3 * s));
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i) {
        const double r = (6 + 5.5 * i) * s;
        p.drawArc(QRectF(from.x() - r, from.y() - r, 2 * r, 2 * r), 12 * 16, 66 * 16);
    }
}

void DrawGlyph(QPainter& p, int id, QPointF c, const QColor& color, const QColor& keyColor,
               bool pressed) {
    p.setPen(Qt::NoPen);
    switch (id) {
        case 213:  // snapshot
            FillPath(p, CameraPath(c + QPointF(0, 1), 1.0), color);
            break;
        case 214:
            DrawZoom(p, c, QStringLiteral("T"), true, color);
            break;
        case 202:
            DrawZoom(p, c, QStringLiteral("W"), false, color);
            break;
        case 211:  // pause
            p.setBrush(color);
            p.drawRoundedRect(QRectF(c.x() - 14, c.y() - 17, 10, 34), 2.5, 2.5);
            p.drawRoundedRect(QRectF(c.x() + 4, c.y() - 17, 10, 34), 2.5, 2.5);
            break;
        case 210: {  // record
            const QColor red = pressed ? kRecRedLit : kRecRed;
            QRadialGradient g(c + QPointF(-5, -6), 24);
            g.setColorAt(0, red.lighter(135));
            g.setColorAt(1, red.darker(pressed ? 105 : 115));
            p.setBrush(g);
            p.setPen(QPen(pressed ? kAccent : QColor(0x15, 0x17, 0x1a), 2.5));
            p.drawEllipse(c, 18, 18);
            break;
        }
        case 209:  // play
            FillPath(p, Triangle(c + QPointF(17, 0), 30, 36, true), color);
            break;
        case 205:  // fast forward
            FillPath(p, Triangle(c + QPointF(1, 0), 23, 32, true), color);
            FillPath(p, Triangle(c + QPointF(24, 0), 23, 32, true), color);
            break;
        case 212:  // fast rewind
            FillPath(p, Triangle(c + QPointF(-1, 0), 23, 32, false), color);
            FillPath(p, Triangle(c + QPointF(-24, 0), 23, 32, false), color);
            break;
        case 207: {  // index: a chequered square
            const double cell = 9;
            const QRectF sq(c.x() - 2 * cell, c.y() - 2 * cell, 4 * cell, 4 * cell);
            p.setBrush(color);
            for (int r = 0; r < 4; ++r) {
                for (int k = 0; k < 4; ++k) {
                    if ((r + k) % 2 == 0) {
                        p.drawRect(QRectF(sq.left() + k * cell, sq.top() + r * cell, cell, cell));
                    }
                }
            }
            p.setPen(QPen(color, 2.5));
            p.setBrush(Qt::NoBrush);
            p.drawRect(sq.adjusted(-2.5, -2.5, 2.5, 2.5));
            break;
        }
        case 206:  // GPS
            DrawSatellite(p, c + QPointF(0, -8), 0.95, color, keyColor);
            p.setPen(color);
            p.setFont(Font(13, true));
            p.drawText(QRectF(c.x() - 40, c.y() + 14, 80, 18), Qt::AlignCenter,
                       QStringLiteral("GPS"));
            break;
        default:
            break;
    }
}

}  // namespace skinpainter
