// camora-skinpainter ROOT: draws the skin into ROOT/resources/skin, the
// program icons into ROOT/resources/icons and the contact sheet and example
// screens into ROOT/docs/screenshots.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/ui/skin/SkinPainter.h"
#include "tools/skinpainter/ContactSheet.h"

namespace {

bool Save(const QImage& image, const QString& path) {
    QDir().mkpath(QFileInfo(path).path());
    if (!image.save(path, "PNG", 9)) {
        std::fprintf(stderr, "skinpainter: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// The panel as a 480 × 640 screen shows it: centred, black above and below.
QImage OnScreen(const QImage& panel) {
    QImage screen(480, 640, QImage::Format_RGB32);
    screen.fill(Qt::black);
    QPainter p(&screen);
    p.drawImage(QPoint(0, 26), panel);
    p.end();
    return screen;
}

// Every place where the main screen draws an overlay: the pressed keys and
// bars, the blank tiles over each key, the indicators and preview pictures.
bool CheckSeams(const std::vector<skinpainter::SkinBitmap>& skin) {
    const QImage* panel = nullptr;
    for (const auto& b : skin) {
        if (b.id == 200) {
            panel = &b.image;
        }
    }
    bool ok = true;
    const auto check = [&](const skinpainter::SkinBitmap& b, QPoint at) {
        const int seam = skinpainter::SeamAt(*panel, b.image, at);
        if (seam > 0) {
            std::printf("skinpainter: %d at (%d, %d) differs from the panel by %d on its edge\n",
                        b.id, at.x(), at.y(), seam);
            ok = false;
        }
    };
    const std::vector<QPoint> upper = {{0, 236}, {120, 236}, {240, 236}, {360, 236},
                                       {0, 336}, {120, 336}, {240, 336}};
    const std::vector<QPoint> lower = {{0, 436}, {120, 436}, {240, 436}};
    for (const auto& b : skin) {
        if (b.id == 217 || b.id == 216) {
            for (QPoint at : b.id == 217 ? upper : lower) {
                check(b, at);
            }
        } else if (b.id != 200 && b.id != 233) {
            check(b, skinpainter::PlaceOf(b.id).topLeft());
        }
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: camora-skinpainter REPOSITORY_ROOT\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (!skinpainter::AddLabelFonts()) {
        return 1;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    const auto skin = skinpainter::DrawSkin();
    bool ok = true;
    for (const auto& b : skin) {
        ok &= Save(b.image, QStringLiteral("%1/resources/skin/%2.png").arg(root).arg(b.id));
    }
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        ok &= Save(skinpainter::DrawIcon(size),
                   QStringLiteral("%1/resources/icons/hicolor/%2x%2/apps/camora-controller.png")
                       .arg(root)
                       .arg(size));
    }
    ok &= CheckSeams(skin);
    {
        const QString path =
            root + QStringLiteral("/resources/icons/hicolor/scalable/apps/camora-controller.svg");
        QDir().mkpath(QFileInfo(path).path());
        QFile svg(path);
        if (!svg.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            svg.write(skinpainter::IconSvg().toUtf8()) < 0) {
            std::fprintf(stderr, "skinpainter: cannot write %s\n", qPrintable(path));
            ok = false;
        }
    }
    const QString shots = root + QStringLiteral("/docs/screenshots/");
    ok &= Save(skinpainter::ContactSheet(skin), shots + QStringLiteral("skin-contact-sheet.png"));
    // Three screens that put every overlay where the main screen puts it.
    ok &= Save(OnScreen(skinpainter::ComposeExample(skin, 210, 218, 230, 220, 227, 247, {213})),
               shots + QStringLiteral("skin-video-rec.png"));
    ok &= Save(OnScreen(skinpainter::ComposeExample(skin, 214, 228, 0, 223, 226, 248, {206})),
               shots + QStringLiteral("skin-still-play.png"));
    ok &=
        Save(OnScreen(skinpainter::ComposeExample(
                 skin, 215, 229, 0, 219, 0, 0, {213, 214, 211, 210, 212, 209, 205, 207, 202, 206})),
             shots + QStringLiteral("skin-busy.png"));
    std::printf("skinpainter: %zu skin bitmaps drawn\n", skin.size());
    return ok ? 0 : 1;
}
