#include "tools/skinpainter/SkinPainter.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

namespace skinpainter {
namespace {

constexpr int kPanelWidth = 480;
constexpr int kPanelHeight = 588;

// One palette for the whole remote.
const QColor kBodyTop(0x34, 0x38, 0x3f);
const QColor kBodyMid(0x25, 0x28, 0x2d);
const QColor kGrid(0x1d, 0x20, 0x24);
const QColor kGridLow(0x17, 0x19, 0x1c);
const QColor kBarArea(0x12, 0x14, 0x17);
const QColor kKeyTop(0x4d, 0x53, 0x5c);
const QColor kKeyBottom(0x2c, 0x30, 0x36);
const QColor kKeyPressedTop(0x1f, 0x22, 0x26);
const QColor kKeyPressedBottom(0x2e, 0x33, 0x39);
const QColor kBlankTop(0x26, 0x29, 0x2e);
const QColor kBlankBottom(0x22, 0x25, 0x29);
const QColor kGlyph(0xee, 0xf0, 0xf3);
const QColor kAccent(0x6c, 0xd0, 0xff);
const QColor kRecRed(0xe5, 0x39, 0x35);
const QColor kRecRedLit(0xff, 0x5a, 0x4f);
const QColor kGreen(0x43, 0xc8, 0x5a);
const QColor kYellow(0xf2, 0xc2, 0x2e);
const QColor kLcd(0x0f, 0x12, 0x15);
const QColor kLcdLine(0x2a, 0x2f, 0x36);
const QColor kLabelDim(0x9a, 0xa1, 0xab);

enum class KeyLook { Rest, Pressed, Blank };

QFont Font(int pixels, bool bold = true, int stretch = QFont::Unstretched) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setStretch(stretch);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

void Antialias(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
}

QPen RoundPen(const QColor& color, double width) {
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// ---- the panel body -------------------------------------------------------

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

// ---- glyphs, drawn about a centre, at key scale ---------------------------

void FillPath(QPainter& p, const QPainterPath& path, const QColor& color) {
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawPath(path);
}

// A still camera with its lens cut out.
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

// A camcorder: body with the lens hood to the right and a finder on top.
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

// A satellite: body and two solar wings on the diagonal, its dish turned to
// the upper right, where the signal waves (or the cross) go.
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

// Where DrawSatellite's dish points, for the waves or the cross.
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

// ---- keys --------------------------------------------------------------------

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

// ---- layout -------------------------------------------------------------

struct KeyPlace {
    int id;
    QRect cell;
};

const std::vector<KeyPlace>& Keys() {
    static const std::vector<KeyPlace> keys = {
        {213, {0, 236, 120, 100}},   {214, {120, 236, 120, 100}}, {211, {240, 236, 120, 100}},
        {210, {360, 236, 120, 100}}, {212, {0, 336, 120, 100}},   {209, {120, 336, 120, 100}},
        {205, {240, 336, 120, 100}}, {207, {0, 436, 120, 100}},   {202, {120, 436, 120, 100}},
        {206, {240, 436, 120, 100}},
    };
    return keys;
}

const QRect kVerBar(0, 536, 240, 52);
const QRect kExitBar(240, 536, 240, 52);
const QRect kPreview(20, 28, 320, 180);
const QRect kCapture(115, 69, 130, 110);
const QRect kModeCaption(360, 28, 120, 60);
const QRect kRecord(360, 88, 120, 36);
const QRect kBattery(360, 124, 120, 36);
const QRect kGps(360, 160, 120, 48);

// Content of the status window is centred on its middle, not the bitmap's.
constexpr double kStatusCentreX = 414;

void DrawPanelAtRest(QPainter& p) {
    PaintBody(p);
    for (const KeyPlace& key : Keys()) {
        DrawKey(p, key.cell, key.id, KeyLook::Rest);
    }
    DrawBar(p, kVerBar, QStringLiteral("Ver."), KeyLook::Rest);
    DrawBar(p, kExitBar, QStringLiteral("Exit"), KeyLook::Rest);
}

// ---- preview pictures ------------------------------------------------------

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

void DrawHandset(QPainter& p, QPointF c, double s, const QColor& color) {
    QPainterPath body;
    body.setFillRule(Qt::OddEvenFill);
    body.addRoundedRect(QRectF(c.x() - 15 * s, c.y() - 27 * s, 30 * s, 54 * s), 5 * s, 5 * s);
    body.addRoundedRect(QRectF(c.x() - 11 * s, c.y() - 20 * s, 22 * s, 34 * s), 1.5 * s, 1.5 * s);
    FillPath(p, body, color);
    p.setBrush(color);
    p.drawEllipse(c + QPointF(0, 20.5 * s), 2.6 * s, 2.6 * s);
}

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

// ---- cutting ---------------------------------------------------------------

QImage PanelCanvas() {
    QImage canvas(kPanelWidth, kPanelHeight, QImage::Format_RGB32);
    canvas.fill(Qt::black);
    return canvas;
}

// The part at `place` of a panel drawn by `draw`, as a 24-bit picture.
QImage Cut(const QRect& place, const std::function<void(QPainter&)>& draw) {
    QImage canvas = PanelCanvas();
    {
        QPainter p(&canvas);
        Antialias(p);
        draw(p);
    }
    return canvas.copy(place).convertToFormat(QImage::Format_RGB888);
}

// The panel without keys and bars, with `extra` drawn on it.
std::function<void(QPainter&)> OnBody(std::function<void(QPainter&)> extra) {
    return [extra](QPainter& p) {
        PaintBody(p);
        extra(p);
    };
}

}  // namespace

QRect PlaceOf(int id) {
    for (const KeyPlace& key : Keys()) {
        if (key.id == id) {
            return key.cell;
        }
    }
    static const std::map<int, QRect> others = {
        {215, kVerBar},
        {204, kExitBar},
        {248, kCapture},
        {203, kCapture},
        {247, kPreview},
        {208, kPreview},
        {201, kPreview},
        {217, {0, 236, 120, 100}},
        {216, {0, 436, 120, 100}},
        {218, kModeCaption},
        {232, kModeCaption},
        {229, kModeCaption},
        {228, kModeCaption},
        {231, kRecord},
        {230, kRecord},
        {219, kBattery},
        {220, kBattery},
        {221, kBattery},
        {222, kBattery},
        {223, kBattery},
        {224, kBattery},
        {225, kBattery},
        {226, kGps},
        {227, kGps},
        {200, {0, 0, kPanelWidth, kPanelHeight}},
    };
    const auto it = others.find(id);
    return it == others.end() ? QRect() : it->second;
}

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

std::vector<SkinBitmap> DrawSkin() {
    std::vector<SkinBitmap> out;
    const auto add = [&out](int id, QImage image, const char* what) {
        out.push_back({id, std::move(image), what});
    };

    add(200, Cut(QRect(0, 0, kPanelWidth, kPanelHeight), DrawPanelAtRest), "panel at rest");

    const char* pressedWhat[] = {
        "snapshot pressed",     "T (zoom in) pressed", "pause pressed",        "record pressed",
        "fast rewind pressed",  "play pressed",        "fast forward pressed", "index pressed",
        "W (zoom out) pressed", "GPS pressed"};
    int n = 0;
    for (const KeyPlace& key : Keys()) {
        const KeyPlace k = key;
        add(k.id,
            Cut(k.cell, OnBody([k](QPainter& p) { DrawKey(p, k.cell, k.id, KeyLook::Pressed); })),
            pressedWhat[n++]);
    }
    add(215, Cut(kVerBar, OnBody([](QPainter& p) {
                     DrawBar(p, kVerBar, QStringLiteral("Ver."), KeyLook::Pressed);
                 })),
        "Ver. bar pressed");
    add(204, Cut(kExitBar, OnBody([](QPainter& p) {
                     DrawBar(p, kExitBar, QStringLiteral("Exit"), KeyLook::Pressed);
                 })),
        "Exit bar pressed");

    const QRect upper(0, 236, 120, 100);
    const QRect lower(0, 436, 120, 100);
    add(217, Cut(upper, OnBody([upper](QPainter& p) { DrawKey(p, upper, 0, KeyLook::Blank); })),
        "blank tile, upper rows");
    add(216, Cut(lower, OnBody([lower](QPainter& p) { DrawKey(p, lower, 0, KeyLook::Blank); })),
        "blank tile, lower row");

    add(248, Cut(kCapture, OnBody([](QPainter& p) { DrawCaptureButton(p, false); })),
        "capture button");
    add(203, Cut(kCapture, OnBody([](QPainter& p) { DrawCaptureButton(p, true); })),
        "capture button pressed");
    add(247, Cut(kPreview, OnBody([](QPainter& p) { DrawLiveViewButton(p, false); })),
        "live view button");
    add(208, Cut(kPreview, OnBody([](QPainter& p) { DrawLiveViewButton(p, true); })),
        "live view button pressed");
    add(201, Cut(kPreview, OnBody(DrawLiveViewStarting)), "live view starting");

    add(218, Cut(kModeCaption, OnBody([](QPainter& p) {
                     DrawModeCaption(p, QStringLiteral("VIDEO"), false);
                 })),
        "mode 0: video rec");
    add(232, Cut(kModeCaption, OnBody([](QPainter& p) {
                     DrawModeCaption(p, QStringLiteral("VIDEO"), true);
                 })),
        "mode 1: video play");
    add(229, Cut(kModeCaption, OnBody([](QPainter& p) {
                     DrawModeCaption(p, QStringLiteral("STILL IMAGE"), false);
                 })),
        "mode 2: still image rec");
    add(228, Cut(kModeCaption, OnBody([](QPainter& p) {
                     DrawModeCaption(p, QStringLiteral("STILL IMAGE"), true);
                 })),
        "mode 3: still image play");

    add(231, Cut(kRecord, OnBody([](QPainter& p) { DrawRecordIndicator(p, false); })), "standby");
    add(230, Cut(kRecord, OnBody([](QPainter& p) { DrawRecordIndicator(p, true); })), "recording");

    add(219, Cut(kBattery, OnBody(DrawMains)), "mains power");
    add(225, Cut(kBattery, OnBody([](QPainter& p) { DrawBattery(p, 0, kRecRed, true); })),
        "battery empty");
    add(224, Cut(kBattery, OnBody([](QPainter& p) { DrawBattery(p, 1, kRecRed, false); })),
        "battery 1 red");
    add(223, Cut(kBattery, OnBody([](QPainter& p) { DrawBattery(p, 1, kYellow, false); })),
        "battery 1 yellow");
    add(222, Cut(kBattery, OnBody([](QPainter& p) { DrawBattery(p, 2, kYellow, false); })),
        "battery 2 yellow");
    add(221, Cut(kBattery, OnBody([](QPainter& p) { DrawBattery(p, 2, kGreen, false); })),
        "battery 2 green");
    add(220, Cut(kBattery, OnBody([](QPainter& p) { DrawBattery(p, 3, kGreen, false); })),
        "battery full");

    add(227, Cut(kGps, OnBody([](QPainter& p) { DrawGpsIndicator(p, true); })),
        "GPS, with position");
    add(226, Cut(kGps, OnBody([](QPainter& p) { DrawGpsIndicator(p, false); })),
        "GPS, no position");

    add(233, DrawIcon(64), "program icon");

    std::sort(out.begin(), out.end(),
              [](const SkinBitmap& a, const SkinBitmap& b) { return a.id < b.id; });
    return out;
}

QImage ComposeExample(const std::vector<SkinBitmap>& skin, int pressedId, int modeId, int recordId,
                      int batteryId, int gpsId, int previewId, const std::vector<int>& coverIds) {
    std::map<int, const QImage*> byId;
    for (const SkinBitmap& b : skin) {
        byId[b.id] = &b.image;
    }
    QImage canvas = byId.at(200)->convertToFormat(QImage::Format_RGB32);
    QPainter p(&canvas);
    const auto put = [&](int id, QPoint at) {
        if (id != 0) {
            p.drawImage(at, *byId.at(id));
        }
    };
    put(modeId, kModeCaption.topLeft());
    put(recordId, kRecord.topLeft());
    put(batteryId, kBattery.topLeft());
    put(gpsId, kGps.topLeft());
    if (pressedId != 0) {
        put(pressedId, PlaceOf(pressedId).topLeft());
    }
    put(previewId, PlaceOf(previewId).topLeft());
    for (int cell : coverIds) {
        // Covers name the key they lie over.
        const QRect r = PlaceOf(cell);
        put(r.top() == 436 ? 216 : 217, r.topLeft());
    }
    p.end();
    return canvas;
}

}  // namespace skinpainter
