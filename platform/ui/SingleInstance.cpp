#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <future>
#include <memory>
#include <mutex>

#include "platform/fs/DeviceRoot.h"
#include "platform/sys/Syscall.h"
#include "platform/ui/Application.h"
#include "platform/ui/QtSupport.h"

namespace platform {
namespace {

// A second start that gets no answer within this long runs as the only
// instance: a socket that accepts and never answers must not hold it up.
constexpr int kAnswerMs = 300;

// What the listening side allows one question: its size, its time, and how
// many may be open at once.
constexpr qint64 kMaxQuestion = 1024;
constexpr int kQuestionMs = 2000;
constexpr int kMaxConnections = 8;

// One socket per device root, in a folder only its user can create entries
// in: the session's runtime folder, else a private folder of the device root.
// A name under /tmp could be taken first by anyone.
QString ServerName() {
    const QByteArray root = QByteArray::fromStdString(DeviceRoot());
    const QByteArray hash = QCryptographicHash::hash(root, QCryptographicHash::Sha1).toHex();
    const QString leaf =
        QStringLiteral("camora-controller-%1").arg(QString::fromLatin1(hash.left(16)));
    const std::string runtime = sys::Environment("XDG_RUNTIME_DIR");
    struct stat st {};
    if (!runtime.empty() && runtime.front() == '/' && ::stat(runtime.c_str(), &st) == 0 &&
        S_ISDIR(st.st_mode) && st.st_uid == ::getuid()) {
        return QString::fromStdString(runtime) + QLatin1Char('/') + leaf;
    }
    const std::string folder = DeviceRootPath("run");
    EnsureDeviceRoot();
    ::mkdir(folder.c_str(), 0700);
    // A folder left wider by an older start is narrowed; one of another user is not used.
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
        ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0)) {
        return {};
    }
    return QString::fromStdString(folder) + QLatin1Char('/') + leaf;
}

// True when the process at the other end of a connected local socket runs as
// this user: only such an answer is believed, only such a question answered.
bool PeerIsThisUser(const QLocalSocket& socket) {
    struct ucred cred {};
    socklen_t size = sizeof cred;
    const int fd = static_cast<int>(socket.socketDescriptor());
    const sys::Outcome got = sys::Call(
        "getsockopt", [&] { return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size); });
    return !got.Failed() && size == sizeof cred && cred.uid == ::getuid();
}

// Connects to a running instance of this user, within the answer time.
bool ConnectToInstance(QLocalSocket* socket, const QString& name) {
    if (name.isEmpty()) {
        return false;
    }
    socket->connectToServer(name);
    return socket->waitForConnected(kAnswerMs) && PeerIsThisUser(*socket);
}

// The longest activation token passed on; compositors make them a few dozen
// characters long.
constexpr qsizetype kMaxToken = 256;

// A token as a compositor makes them: printable, without spaces.
bool PlausibleToken(const QByteArray& token) {
    return !token.isEmpty() && token.size() <= kMaxToken &&
           std::all_of(token.begin(), token.end(), [](char c) { return c > ' ' && c < 127; });
}

// Answers on the GUI thread: is a window of that title shown, and raise it.
// On Wayland only the compositor raises a window, and only for a token it
// made: the one its launcher gave the second start (Qt's Wayland platform
// hands XDG_ACTIVATION_TOKEN to the compositor when a window asks to be
// activated). Without one the request may be refused, which changes nothing.
bool FindAndRaise(const QString& title, bool raise, const QByteArray& token) {
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
                    if (PlausibleToken(token)) {
                        qputenv("XDG_ACTIVATION_TOKEN", token);
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
        const QString name = ServerName();
        if (name.isEmpty()) {
            listening_.set_value(false);
            return;
        }
        if (!server.listen(name)) {
            // A running instance keeps its socket; only one left by an
            // instance that ended without closing it is taken over.
            QLocalSocket probe;
            if (ConnectToInstance(&probe, name)) {
                listening_.set_value(false);
                return;
            }
            QLocalServer::removeServer(name);
            if (!server.listen(name)) {
                listening_.set_value(false);
                return;
            }
        }
        // A question is one short line asked at once; a stranger's socket,
        // one that sends more, or keeps its connection idle, is closed.
        auto open = std::make_shared<int>(0);
        QObject::connect(&server, &QLocalServer::newConnection, &server, [&server, open] {
            while (QLocalSocket* socket = server.nextPendingConnection()) {
                if (*open >= kMaxConnections || !PeerIsThisUser(*socket)) {
                    socket->abort();
                    socket->deleteLater();
                    continue;
                }
                ++*open;
                socket->setReadBufferSize(kMaxQuestion);
                QTimer::singleShot(kQuestionMs, socket, [socket] { socket->abort(); });
                QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket] {
                    if (!socket->canReadLine()) {
                        if (socket->bytesAvailable() >= kMaxQuestion) {
                            socket->abort();
                        }
                        return;
                    }
                    // "R TITLE" or "F TITLE", then a tab and the asker's
                    // activation token when it has one.
                    const QByteArray line = socket->readLine().trimmed();
                    const qsizetype tab = line.indexOf('\t');
                    const bool raise = line.startsWith('R');
                    const QString title = QString::fromUtf8(line.mid(2, tab < 0 ? -1 : tab - 2));
                    const QByteArray token = tab < 0 ? QByteArray() : line.mid(tab + 1);
                    const bool found = FindAndRaise(title, raise, token);
                    socket->write(found ? "1\n" : "0\n");
                    socket->flush();
                    socket->disconnectFromServer();
                });
                QObject::connect(socket, &QLocalSocket::disconnected, socket, [socket, open] {
                    --*open;
                    socket->deleteLater();
                });
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

std::string InstanceSocketPath() {
    return ServerName().toStdString();
}

bool FindOtherInstanceWindow(std::u16string_view title, bool bringToFront) {
    QLocalSocket socket;
    QElapsedTimer clock;
    clock.start();
    if (!ConnectToInstance(&socket, ServerName())) {
        return false;
    }
    const QString question = QString(bringToFront ? QStringLiteral("R ") : QStringLiteral("F ")) +
                             QString::fromUtf16(title.data(), static_cast<qsizetype>(title.size()));
    QByteArray line = question.toUtf8();
    // The launcher's activation token lets the running instance come to the
    // front where the compositor decides (Wayland); this start shows nothing.
    const QByteArray token = QByteArray::fromStdString(sys::Environment("XDG_ACTIVATION_TOKEN"));
    if (bringToFront && PlausibleToken(token)) {
        line += '\t' + token;
    }
    socket.write(line + '\n');
    socket.flush();
    while (!socket.canReadLine()) {
        const qint64 left = kAnswerMs - clock.elapsed();
        if (left <= 0 || !socket.waitForReadyRead(static_cast<int>(left))) {
            return false;
        }
    }
    return socket.readLine().startsWith('1');
}

}  // namespace platform
