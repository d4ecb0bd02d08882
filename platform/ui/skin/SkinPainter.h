// Draws the remote control's skin: the panel at rest and every picture the
// main screen lays over it, each cut from a panel drawn with that one part
// changed, so that an overlay always matches the panel around it.
#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <vector>

namespace skinpainter {

struct SkinBitmap {
    int id;
    QImage image;
    const char* what;  // one line for the contact sheet and the listing
};

// Every skin bitmap, in id order, each at its catalogued size times `scale`
// (device pixels per layout pixel): drawn from the geometry at that size.
std::vector<SkinBitmap> DrawSkin(double scale = 1.0);

// Skin bitmap `id` alone, as DrawSkin draws it; a null image when there is none.
QImage DrawSkinBitmap(int id, double scale);

// The program icon (a camcorder on a dark rounded tile) drawn for `size`
// pixels square, with alpha.
QImage DrawIcon(int size);

// The same icon as scalable vector graphics, for the desktop's hicolor theme.
QString IconSvg();

// The panel as the main screen shows it in one state, for checking the
// artwork: `pressedId` pressed, the given indicators and preview picture.
QImage ComposeExample(const std::vector<SkinBitmap>& skin, int pressedId, int modeId, int recordId,
                      int batteryId, int gpsId, int previewId, const std::vector<int>& coverIds);

// Largest difference of any colour channel between the outermost ring of
// pixels of `overlay` and the panel under it at `at`: an overlay that does not
// fit its place shows a seam.
int SeamAt(const QImage& panel, const QImage& overlay, QPoint at);

// Where the main screen draws bitmap `id` on the panel (first place only for
// tiles used in several), or an empty rectangle when it has no fixed place.
QRect PlaceOf(int id);

}  // namespace skinpainter
