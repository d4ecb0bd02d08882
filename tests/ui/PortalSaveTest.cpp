// The save dialog where an XDG desktop portal runs: the portal's file chooser
// is asked (here a stand-in on a private session bus, tests/ui/data/
// mock-portal.py) with the proposed name, folder and filters, and its answer
// becomes the chosen handset path; a cancel is a cancel.
#include <gtest/gtest.h>

#include <unistd.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/fs/FileSystem.h"
#include "platform/ui/Application.h"
#include "platform/ui/FileDialog.h"
#include "testkit/ChildProcess.h"
#include "testkit/SessionBus.h"
#include "testkit/SourceDir.h"
#include "testkit/TempDeviceRoot.h"

namespace {

std::string g_record;  // where the stand-in writes what it was asked

// The last request the portal stand-in saw.
QJsonObject LastRequest() {
    QFile file(QString::fromStdString(g_record));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QList<QByteArray> lines = file.readAll().trimmed().split('\n');
    return QJsonDocument::fromJson(lines.back()).object();
}

struct PortalCase {
    const char* name;
    std::u16string proposed;
    bool chosen;
    std::string expectedName;  // the file the portal names, in the proposed folder
};

TEST(PortalSaveTest, ThePortalsChooserIsAskedAndItsAnswerTaken) {
    testsupport::TempDeviceRoot root;
    QDir().mkpath(QString::fromStdString(root.Host("My Documents")));
    const std::string folder =
        QDir(QString::fromStdString(root.Host("My Documents"))).absolutePath().toStdString();
    const std::vector<PortalCase> cases = {
        {"a proposed name gets the default extension", u"J090615003", true, "J090615003.jpg"},
        {"a name with an extension keeps it", u"J090615004.jpeg", true, "J090615004.jpeg"},
        {"cancelled", u"CANCEL-ME", false, ""},
    };
    for (const PortalCase& c : cases) {
        SCOPED_TRACE(c.name);
        platform::SaveFileRequest request;
        request.filters = {{u"jpeg files(*.jpg *.jpeg)", u"*.jpg"}, {u"All files(*.*)", u"*.*"}};
        request.fileName = c.proposed;
        request.initialFolder = u"\\My Documents";
        request.defaultExtension = u"jpg";
        std::u16string path;
        bool unnamable = true;
        // Qt's own dialog must not stand in for the portal's: a shown one
        // fails the case and is closed, so that the test goes on.
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                ADD_FAILURE() << "Qt's save dialog shown, not the portal's";
                dialog->reject();
            }
        });
        watch.start(50);
        EXPECT_EQ(platform::ShowSaveFileDialog(request, &path, &unnamable), c.chosen);
        watch.stop();
        const QJsonObject seen = LastRequest();
        EXPECT_TRUE(seen.value(QStringLiteral("modal")).toBool());
        EXPECT_EQ(seen.value(QStringLiteral("current_folder")).toString().toStdString(), folder);
        EXPECT_TRUE(seen.value(QStringLiteral("folder_nul_terminated")).toBool());
        const QJsonArray filters = seen.value(QStringLiteral("filters")).toArray();
        ASSERT_EQ(filters.size(), 2);
        EXPECT_EQ(filters[0].toArray()[0].toString(), QStringLiteral("jpeg files(*.jpg *.jpeg)"));
        EXPECT_EQ(QJsonDocument(filters[0].toArray()[1].toArray()).toJson(QJsonDocument::Compact),
                  QByteArray(R"([[0,"*.jpg"]])"));
        EXPECT_EQ(QJsonDocument(filters[1].toArray()[1].toArray()).toJson(QJsonDocument::Compact),
                  QByteArray(R"([[0,"*.*"]])"));
        if (c.chosen) {
            EXPECT_EQ(seen.value(QStringLiteral("current_name")).toString().toStdString(),
                      c.expectedName);
            EXPECT_EQ(path, platform::HandsetPathFor(folder + "/" + c.expectedName));
            EXPECT_EQ(path, u"\\My Documents\\" +
                                QString::fromStdString(c.expectedName).toStdU16String());
            EXPECT_FALSE(unnamable);
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QTemporaryDir dir;
    // A private session bus: the machine's own portal, if any, stays out of it.
    testsupport::PrivateSessionBus bus;
    g_record = dir.path().toStdString() + "/requests.jsonl";
    testsupport::ChildProcess portal = testsupport::ChildProcess::Spawn(
        {"/usr/bin/python3", testsupport::SourceDir() + "/tests/ui/data/mock-portal.py", g_record},
        testsupport::SpawnOptions().Out(testsupport::Stream::Null()));

    const QByteArray platform = "offscreen";
    setenv("QT_QPA_PLATFORM", platform.constData(), 1);
    int result = 2;
    {
        int qtArgc = 1;
        platform::GuiApplication app(qtArgc, argv);
        // Until the stand-in holds the portal's name on the bus.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        bool up = false;
        while (!up && std::chrono::steady_clock::now() < end) {
            up = QDBusConnection::sessionBus().interface()->isServiceRegistered(
                QStringLiteral("org.freedesktop.portal.Desktop"));
            if (!up) {
                usleep(20000);
            }
        }
        if (up) {
            result = RUN_ALL_TESTS();
        } else {
            std::fprintf(stderr, "the portal stand-in did not come up\n");
        }
    }
    portal.Stop(std::chrono::seconds(5));
    return result;
}
