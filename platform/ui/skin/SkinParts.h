// Inside the skin painter only: the palette, the panel's layout and the
// drawing steps that the bitmap groups share. Panel.cpp draws the body and the
// keys, Glyphs.cpp the keys' pictures, Overlays.cpp the preview pictures and
// the indicators, Icon.cpp the program icon; SkinPainter.cpp cuts the bitmaps.
#pragma once

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QString>
#include <vector>

namespace skinpainter {

inline constexpr int kPanelWidth = 480;
inline constexpr int kPanelHeight = 588;

// One palette for the whole remote.
inline const QColor kBodyTop(0x34, 0x38, 0x3f);
inline const QColor kBodyMid(0x25, 0x28, 0x2d);
inline const QColor kGrid(0x1d, 0x20, 0x24);
inline const QColor kGridLow(0x17, 0x19, 0x1c);
inline const QColor kBarArea(0x12, 0x14, 0x17);
inline const QColor kKeyTop(0x4d, 0x53, 0x5c);
inline const QColor kKeyBottom(0x2c, 0x30, 0x36);
inline const QColor kKeyPressedTop(0x1f, 0x22, 0x26);
inline const QColor kKeyPressedBottom(0x2e, 0x33, 0x39);
inline const QColor kBlankTop(0x26, 0x29, 0x2e);
inline const QColor kBlankBottom(0x22, 0x25, 0x29);
inline const QColor kGlyph(0xee, 0xf0, 0xf3);
inline const QColor kAccent(0x6c, 0xd0, 0xff);
inline const QColor kRecRed(0xe5, 0x39, 0x35);
inline const QColor kRecRedLit(0xff, 0x5a, 0x4f);
inline const QColor kGreen(0x43, 0xc8, 0x5a);
inline const QColor kYellow(0xf2, 0xc2, 0x2e);
inline const QColor kLcd(0x0f, 0x12, 0x15);
inline const QColor kLcdLine(0x2a, 0x2f, 0x36);
inline const QColor kLabelDim(0x9a, 0xa1, 0xab);

enum class KeyLook { Rest, Pressed, Blank };

inline QFont Font(int pixels, bool bold = true, int stretch = QFont::Unstretched) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setStretch(stretch);
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

inline void Antialias(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
}

inline QPen RoundPen(const QColor& color, double width) {
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// ---- layout ------------------------------------------------------------------

struct KeyPlace {
    int id;
    QRect cell;
};

// The ten keys in the grid, each with its cell.
const std::vector<KeyPlace>& Keys();

inline const QRect kVerBar(0, 536, 240, 52);
inline const QRect kExitBar(240, 536, 240, 52);
inline const QRect kPreview(20, 28, 320, 180);
inline const QRect kCapture(115, 69, 130, 110);
inline const QRect kModeCaption(360, 28, 120, 60);
inline const QRect kRecord(360, 88, 120, 36);
inline const QRect kBattery(360, 124, 120, 36);
inline const QRect kGps(360, 160, 120, 48);

// Content of the status window is centred on its middle, not the bitmap's.
inline constexpr double kStatusCentreX = 414;

// ---- the panel body and the keys (Panel.cpp) ---------------------------------

void PaintBody(QPainter& p);
void DrawKeyShape(QPainter& p, const QRectF& key, double radius, KeyLook look);
void DrawKey(QPainter& p, const QRect& cell, int id, KeyLook look);
void DrawBar(QPainter& p, const QRect& cell, const QString& label, KeyLook look);
void DrawPanelAtRest(QPainter& p);

// ---- glyphs, drawn about a centre, at key scale (Glyphs.cpp) -----------------

void FillPath(QPainter& p, const QPainterPath& path, const QColor& color);
// A still camera with its lens cut out.
QPainterPath CameraPath(QPointF c, double s);
// A camcorder: body with the lens hood to the right and a finder on top.
QPainterPath CamcorderPath(QPointF c, double s);
void DrawCamcorder(QPainter& p, QPointF c, double s, const QColor& color, const QColor& dot);
QPainterPath Triangle(QPointF tip, double w, double h, bool right);
// A satellite: body and two solar wings on the diagonal, its dish turned to
// the upper right, where the signal waves (or the cross) go.
void DrawSatellite(QPainter& p, QPointF c, double s, const QColor& color, const QColor& background);
// Where DrawSatellite's dish points, for the waves or the cross.
QPointF DishOf(QPointF c, double s);
void DrawWaves(QPainter& p, QPointF from, double s, const QColor& color);
// The picture on key `id`.
void DrawGlyph(QPainter& p, int id, QPointF c, const QColor& color, const QColor& keyColor,
               bool pressed);

// ---- preview pictures and indicators (Overlays.cpp) --------------------------

void DrawLiveViewButton(QPainter& p, bool pressed);
void DrawLiveViewStarting(QPainter& p);
void DrawCaptureButton(QPainter& p, bool pressed);
void DrawModeCaption(QPainter& p, const QString& kind, bool play);
void DrawRecordIndicator(QPainter& p, bool recording);
void DrawBattery(QPainter& p, int segments, const QColor& segment, bool emptyRed);
void DrawMains(QPainter& p);
void DrawGpsIndicator(QPainter& p, bool located);

}  // namespace skinpainter
