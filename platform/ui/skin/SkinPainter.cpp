#include "platform/ui/skin/SkinPainter.h"

#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>

#include "platform/ui/skin/SkinParts.h"

namespace skinpainter {
namespace {

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

namespace {

// One bitmap of the skin: where the main screen puts it and how it is drawn.
struct Part {
    int id;
    QRect place;
    std::function<void(QPainter&)> draw;
    const char* what;
};

const std::vector<Part>& Parts() {
    static const std::vector<Part> parts = [] {
        std::vector<Part> out;
        const auto add = [&out](int id, QRect place, std::function<void(QPainter&)> draw,
                                const char* what) {
            out.push_back({id, place, std::move(draw), what});
        };
        add(200, QRect(0, 0, kPanelWidth, kPanelHeight), DrawPanelAtRest, "panel at rest");

        const char* pressedWhat[] = {
            "snapshot pressed",     "T (zoom in) pressed", "pause pressed",        "record pressed",
            "fast rewind pressed",  "play pressed",        "fast forward pressed", "index pressed",
            "W (zoom out) pressed", "GPS pressed"};
        int n = 0;
        for (const KeyPlace& key : Keys()) {
            const KeyPlace k = key;
            add(k.id, k.cell,
                OnBody([k](QPainter& p) { DrawKey(p, k.cell, k.id, KeyLook::Pressed); }),
                pressedWhat[n++]);
        }
        add(215, kVerBar, OnBody([](QPainter& p) {
                DrawBar(p, kVerBar, QStringLiteral("Ver."), KeyLook::Pressed);
            }),
            "Ver. bar pressed");
        add(204, kExitBar, OnBody([](QPainter& p) {
                DrawBar(p, kExitBar, QStringLiteral("Exit"), KeyLook::Pressed);
            }),
            "Exit bar pressed");

        const QRect upper(0, 236, 120, 100);
        const QRect lower(0, 436, 120, 100);
        add(217, upper, OnBody([upper](QPainter& p) { DrawKey(p, upper, 0, KeyLook::Blank); }),
            "blank tile, upper rows");
        add(216, lower, OnBody([lower](QPainter& p) { DrawKey(p, lower, 0, KeyLook::Blank); }),
            "blank tile, lower row");

        add(248, kCapture, OnBody([](QPainter& p) { DrawCaptureButton(p, false); }),
            "capture button");
        add(203, kCapture, OnBody([](QPainter& p) { DrawCaptureButton(p, true); }),
            "capture button pressed");
        add(247, kPreview, OnBody([](QPainter& p) { DrawLiveViewButton(p, false); }),
            "live view button");
        add(208, kPreview, OnBody([](QPainter& p) { DrawLiveViewButton(p, true); }),
            "live view button pressed");
        add(201, kPreview, OnBody(DrawLiveViewStarting), "live view starting");

        add(218, kModeCaption,
            OnBody([](QPainter& p) { DrawModeCaption(p, QStringLiteral("VIDEO"), false); }),
            "mode 0: video rec");
        add(232, kModeCaption,
            OnBody([](QPainter& p) { DrawModeCaption(p, QStringLiteral("VIDEO"), true); }),
            "mode 1: video play");
        add(229, kModeCaption,
            OnBody([](QPainter& p) { DrawModeCaption(p, QStringLiteral("STILL IMAGE"), false); }),
            "mode 2: still image rec");
        add(228, kModeCaption,
            OnBody([](QPainter& p) { DrawModeCaption(p, QStringLiteral("STILL IMAGE"), true); }),
            "mode 3: still image play");

        add(231, kRecord, OnBody([](QPainter& p) { DrawRecordIndicator(p, false); }), "standby");
        add(230, kRecord, OnBody([](QPainter& p) { DrawRecordIndicator(p, true); }), "recording");

        add(219, kBattery, OnBody(DrawMains), "mains power");
        add(225, kBattery, OnBody([](QPainter& p) { DrawBattery(p, 0, kRecRed, true); }),
            "battery empty");
        add(224, kBattery, OnBody([](QPainter& p) { DrawBattery(p, 1, kRecRed, false); }),
            "battery 1 red");
        add(223, kBattery, OnBody([](QPainter& p) { DrawBattery(p, 1, kYellow, false); }),
            "battery 1 yellow");
        add(222, kBattery, OnBody([](QPainter& p) { DrawBattery(p, 2, kYellow, false); }),
            "battery 2 yellow");
        add(221, kBattery, OnBody([](QPainter& p) { DrawBattery(p, 2, kGreen, false); }),
            "battery 2 green");
        add(220, kBattery, OnBody([](QPainter& p) { DrawBattery(p, 3, kGreen, false); }),
            "battery full");

        add(227, kGps, OnBody([](QPainter& p) { DrawGpsIndicator(p, true); }),
            "GPS, with position");
        add(226, kGps, OnBody([](QPainter& p) { DrawGpsIndicator(p, false); }), "GPS, no position");
        return out;
    }();
    return parts;
}

constexpr int kIconId = 233;
constexpr int kIconSize = 64;

// The device pixels a layout rectangle covers at `scale`: edges rounded, so
// that parts that meet in the layout meet on the device too.
QRect DeviceRect(const QRect& place, double scale) {
    const int left = static_cast<int>(std::lround(place.left() * scale));
    const int top = static_cast<int>(std::lround(place.top() * scale));
    const int right = static_cast<int>(std::lround((place.left() + place.width()) * scale));
    const int bottom = static_cast<int>(std::lround((place.top() + place.height()) * scale));
    return QRect(left, top, right - left, bottom - top);
}

// The part drawn for `scale` device pixels per layout pixel. At 1 it is the
// committed bitmap's drawing; otherwise only the part's own device pixels are
// painted, with the panel's geometry scaled, so nothing is stretched.
QImage DrawPart(const Part& part, double scale) {
    if (scale == 1.0) {
        return Cut(part.place, part.draw);
    }
    const QRect device = DeviceRect(part.place, scale);
    QImage canvas(device.size(), QImage::Format_RGB32);
    canvas.fill(Qt::black);
    QPainter p(&canvas);
    Antialias(p);
    p.translate(-device.left(), -device.top());
    p.scale(scale, scale);
    part.draw(p);
    p.end();
    return canvas;
}

}  // namespace

std::vector<SkinBitmap> DrawSkin(double scale) {
    std::vector<SkinBitmap> out;
    for (const Part& part : Parts()) {
        out.push_back({part.id, DrawPart(part, scale), part.what});
    }
    out.push_back(
        {kIconId, DrawIcon(static_cast<int>(std::lround(kIconSize * scale))), "program icon"});
    std::sort(out.begin(), out.end(),
              [](const SkinBitmap& a, const SkinBitmap& b) { return a.id < b.id; });
    return out;
}

QImage DrawSkinBitmap(int id, double scale) {
    if (id == kIconId) {
        return DrawIcon(static_cast<int>(std::lround(kIconSize * scale)));
    }
    for (const Part& part : Parts()) {
        if (part.id == id) {
            return DrawPart(part, scale);
        }
    }
    return QImage();
}

// Largest difference of any colour channel between the outermost ring of
// pixels of `overlay` and the panel under it at `at`: an overlay that does not
// fit its place shows a seam.
int SeamAt(const QImage& panel, const QImage& overlay, QPoint at) {
    int worst = 0;
    const auto compare = [&](int x, int y) {
        const QRgb a = panel.pixel(at.x() + x, at.y() + y);
        const QRgb b = overlay.pixel(x, y);
        worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                          std::abs(qBlue(a) - qBlue(b))});
    };
    for (int x = 0; x < overlay.width(); ++x) {
        compare(x, 0);
        compare(x, overlay.height() - 1);
    }
    for (int y = 0; y < overlay.height(); ++y) {
        compare(0, y);
        compare(overlay.width() - 1, y);
    }
    return worst;
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
