#include <unistd.h>
#include <QApplication>
#include <QCryptographicHash>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QWidget>
#include <future>
#include <memory>
#include <mutex>

#include "platform/fs/DeviceRoot.h"
#include "platform/ui/Application.h"
#include "platform/ui/QtSupport.h"

namespace platform {
namespace {

constexpr int kConnectMs = 1000;
constexpr int kAnswerMs = 3000;

// One name per user and device root, so test runs and users never meet.
QString ServerName() {
    const QByteArray root = QByteArray::fromStdString(DeviceRoot());
    const QByteArray hash = QCryptographicHash::hash(root, QCryptographicHash::Sha1).toHex();
    return QStringLiteral("camora-controller-%1-%2")
        .arg(static_cast<qulonglong>(::getuid()))
        .arg(QString::fromLatin1(hash.left(16)));
}

// Answers on the GUI thread: is a window of that title shown, and raise it.
bool FindAndRaise(const QString& title, bool raise) {
    bool found = false;
    qt::RunOnGui([&] {
        // The screen in front first: every screen carries the title, the
        // backdrop behind them too, and that one must not come forward.
        QList<QWidget*> candidates = QApplication::topLevelWidgets();
        if (QWidget* front = QApplication::activeModalWidget()) {
            candidates.prepend(front);
        }
        for (QWidget* w : candidates) {
            if (w->isVisible() && w->windowTitle() == title) {
                found = true;
                if (raise) {
                    if (w->isMinimized()) {
                        w->showNormal();
                    }
                    w->raise();
                    w->activateWindow();
                }
                break;
            }
        }
    });
    return found;
}

// The listening side runs on a thread of its own, so that the GUI thread is
// never needed to accept a question (it is only asked for the answer).
class InstanceServer : public QThread {
public:
    // Whether the server listens; waits until it has tried, so that a second
    // start made right after this one's already finds it.
    bool Listening() { return listening_.get_future().get(); }

protected:
    void run() override {
        QLocalServer server;
        server.setSocketOptions(QLocalServer::UserAccessOption);
        if (!server.listen(ServerName())) {
            // A running instance keeps its socket; only one left by an
            // instance that ended without closing it is taken over.
            QLocalSocket probe;
            probe.connectToServer(ServerName());
            if (probe.waitForConnected(kConnectMs)) {
                listening_.set_value(false);
                return;
            }
            QLocalServer::removeServer(ServerName());
            if (!server.listen(ServerName())) {
                listening_.set_value(false);
                return;
            }
        }
        QObject::connect(&server, &QLocalServer::newConnection, &server, [&server] {
            while (QLocalSocket* socket = server.nextPendingConnection()) {
                QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket] {
                    if (!socket->canReadLine()) {
                        return;
                    }
                    const QString line = QString::fromUtf8(socket->readLine()).trimmed();
                    const bool raise = line.startsWith(QLatin1Char('R'));
                    const bool found = FindAndRaise(line.mid(2), raise);
                    socket->write(found ? "1\n" : "0\n");
                    socket->flush();
                    socket->disconnectFromServer();
                });
                QObject::connect(socket, &QLocalSocket::disconnected, socket,
                                 &QObject::deleteLater);
            }
        });
        listening_.set_value(true);
        exec();
    }

private:
    std::promise<bool> listening_;
};

}  // namespace

bool ListenForOtherInstances() {
    static std::once_flag once;
    static bool listening = false;
    std::call_once(once, [] {
        auto* server = new InstanceServer;  // lives as long as the process
        server->start();
        listening = server->Listening();
    });
    return listening;
}

bool FindOtherInstanceWindow(std::u16string_view title, bool bringToFront) {
    QLocalSocket socket;
    socket.connectToServer(ServerName());
    if (!socket.waitForConnected(kConnectMs)) {
        return false;
    }
    const QString question = QString(bringToFront ? QStringLiteral("R ") : QStringLiteral("F ")) +
                             QString::fromUtf16(title.data(), static_cast<qsizetype>(title.size()));
    socket.write(question.toUtf8() + '\n');
    socket.flush();
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(kAnswerMs)) {
            return false;
        }
    }
    return socket.readLine().startsWith('1');
}

}  // namespace platform
