// The engine's link-lost handler with real windows: the box is owned by the
// main screen's window, and the process ends with 0 once it is answered.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>

#include "app/LinkLost.h"
#include "core/AppRegistry.h"
#include "ctp/CtpEngine.h"
#include "platform/serial/SerialPort.h"
#include "platform/ui/Dialog.h"
#include "resources/Dialogs.h"
#include "resources/ResourceIds.h"
#include "testkit/PtyPair.h"

namespace {

// Never freed: the engine's threads use them until the process ends.
testsupport::PtyPair* g_pty = nullptr;
CCtpEngine* g_engine = nullptr;

intptr_t MainProcedure(platform::WindowHandle w, uint32_t m, uintptr_t, intptr_t) {
    if (m != platform::kMsgInitDialog) {
        return 0;
    }
    AppRegistry.mainWindow = w;
    g_pty = new testsupport::PtyPair;
    g_engine = new CCtpEngine;
    app::InstallLinkLostHandler(*g_engine);
    auto* port = new platform::PortHandle(platform::SerialPort::Adopt(g_pty->OpenSlave()));
    if (g_engine->Start(*port) != 1) {
        std::fprintf(stderr, "start failed\n");
        return 0;
    }
    g_engine->SetConnecting(0);
    // Once the main window shows, the link drops and the box must come up over it.
    QTimer::singleShot(0, [] {
        QWidget* mainWidget = QApplication::activeModalWidget();
        auto* poll = new QTimer(QCoreApplication::instance());
        QObject::connect(poll, &QTimer::timeout, [poll, mainWidget] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                auto* box = qobject_cast<QMessageBox*>(top);
                if (box == nullptr || !box->isVisible()) {
                    continue;
                }
                poll->stop();
                QString text = box->text();
                text.replace(QLatin1Char('\n'), QLatin1Char('|'));
                std::fprintf(
                    stderr, "box owned by the main window: %s, caption %s, text %s\n",
                    mainWidget != nullptr && box->parentWidget() == mainWidget ? "yes" : "no",
                    box->windowTitle().toUtf8().constData(), text.toUtf8().constData());
                box->button(QMessageBox::Ok)->click();
                return;
            }
        });
        poll->start(5);
        g_pty->HangUp();
    });
    return 0;
}

TEST(LinkLostTest, TheRealBoxIsOwnedByTheMainWindowAndTheProcessEndsWithZero) {
    EXPECT_EXIT(
        {
            platform::RunModalDialog(ui::ProgramModule(), ui::res::kDlgMain, &MainProcedure);
            std::fprintf(stderr, "the main screen ended instead\n");
        },
        ::testing::ExitedWithCode(0),
        "box owned by the main window: yes, caption ERROR, text BLUETOOTH DISCONNECTED \\|WILL "
        "CLOSE APPLICATION NOW");
}

}  // namespace
