// The UI tests' main: Qt's offscreen platform with the handset's 480 x 640
// screen (CAMORA_TEST_SCREEN=WIDTHxHEIGHT for another, as a phone's tests
// ask), the GUI thread being the test thread.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "platform/ui/Application.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Death tests run in a fresh process that sets up the same screen.
    ::testing::GTEST_FLAG(death_test_style) = "threadsafe";
    int width = 480;
    int height = 640;
    if (const char* screen = std::getenv("CAMORA_TEST_SCREEN");
        screen == nullptr || std::sscanf(screen, "%dx%d", &width, &height) != 2 || width <= 0 ||
        height <= 0) {
        width = 480;
        height = 640;
    }
    QTemporaryDir dir;
    const QString config = dir.path() + QStringLiteral("/screen.json");
    {
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly)) {
            return 2;
        }
        file.write(QStringLiteral(R"({"screens":[{"name":"handset","x":0,"y":0,"width":%1,)"
                                  R"("height":%2,"logicalDpiX":96,"logicalDpiY":96}]})")
                       .arg(width)
                       .arg(height)
                       .toUtf8());
    }
    const QByteArray platform = "offscreen:configfile=" + config.toLocal8Bit();
    setenv("QT_QPA_PLATFORM", platform.constData(), 1);
    int qtArgc = 1;
    platform::GuiApplication app(qtArgc, argv);
    return RUN_ALL_TESTS();
}
