#include "platform/ui/Application.h"

#include <QApplication>
#include <QFont>
#include <QPalette>
#include <QPointer>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "platform/kernel/Kernel.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/QtSupport.h"
#include "platform/ui/WindowMessages.h"

namespace platform {
namespace {

// The long-lived object on the GUI thread through which other threads reach it.
std::atomic<QObject*> g_dispatcher{nullptr};
std::atomic<bool> g_haveGui{false};

// Ends the process on the GUI thread: its windows are never torn down under it.
void ExitOnGuiThread(int code) {
    if (IsGuiThread() || !g_haveGui.load()) {
        std::fflush(nullptr);
        // The runtime's exit work without tearing Qt's objects down under the
        // other threads, which keep running until the process is gone.
        std::quick_exit(code);
    }
    qt::PostToGui([code] {
        std::fflush(nullptr);
        std::quick_exit(code);
    });
}

void UseHandsetLook(QApplication& app) {
    // The screens were drawn for the handset's Tahoma; DejaVu Sans stands in
    // wherever Tahoma is missing, so that screenshots match on every machine.
    QFont::insertSubstitution(QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"));
    QFont::insertSubstitution(QStringLiteral("MS Shell Dlg"), QStringLiteral("DejaVu Sans"));
    QApplication::setStyle(QStringLiteral("Fusion"));
    // Light text on the black of the skin, as every screen is black behind its controls.
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::white);
    palette.setColor(QPalette::Base, QColor(24, 24, 24));
    palette.setColor(QPalette::AlternateBase, QColor(40, 40, 40));
    palette.setColor(QPalette::Text, Qt::white);
    palette.setColor(QPalette::Button, QColor(52, 52, 56));
    palette.setColor(QPalette::ButtonText, Qt::white);
    palette.setColor(QPalette::Highlight, QColor(38, 110, 200));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(120, 120, 120));
    palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 120));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(120, 120, 120));
    QApplication::setPalette(palette);
    app.setFont(QFont(QStringLiteral("DejaVu Sans")));
}

// While the windowing platform starts: Qt's messages are held back, and a
// fatal one (no display to open) ends the process with one line of our own
// instead of Qt's advice to reinstall and an abort.
struct StartupMessages {
    std::mutex lock;
    std::vector<std::pair<QtMsgType, std::string>> held;
    std::string program = "camora-controller";
    QtMessageHandler previous = nullptr;
};
StartupMessages& Startup() {
    static auto* startup = new StartupMessages;
    return *startup;
}

void HoldStartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    StartupMessages& s = Startup();
    if (type == QtFatalMsg) {
        const std::string line =
            s.program +
            ": no display to show the screens on (is DISPLAY or WAYLAND_DISPLAY set?)\n";
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
        std::_Exit(kExitNoDisplay);
    }
    std::lock_guard guard(s.lock);
    const std::string category = context.category != nullptr ? context.category : "";
    s.held.emplace_back(
        type, (category.empty() || category == "default" ? std::string() : category + ": ") +
                  text.toStdString());
}

std::unique_ptr<QApplication> StartQt(int& argc, char** argv) {
    StartupMessages& s = Startup();
    if (argc > 0 && argv[0] != nullptr) {
        const std::string path = argv[0];
        s.program = path.substr(path.rfind('/') + 1);
    }
    s.previous = qInstallMessageHandler(&HoldStartupMessage);
    auto app = std::make_unique<QApplication>(argc, argv);
    qInstallMessageHandler(s.previous);
    std::vector<std::pair<QtMsgType, std::string>> held;
    {
        std::lock_guard guard(s.lock);
        held.swap(s.held);
    }
    // A started platform's notices go where they would have gone.
    for (const auto& [type, text] : held) {
        s.previous(type, QMessageLogContext(), QString::fromStdString(text));
    }
    return app;
}

}  // namespace

struct GuiApplication::Impl {
    std::unique_ptr<QApplication> app;
    std::unique_ptr<QObject> dispatcher;
};

GuiApplication::GuiApplication(int& argc, char** argv) : impl_(std::make_unique<Impl>()) {
    impl_->app = StartQt(argc, argv);
    UseHandsetLook(*impl_->app);
    impl_->dispatcher = std::make_unique<QObject>();
    g_dispatcher.store(impl_->dispatcher.get());
    g_haveGui.store(true);
    QObject* dispatcher = impl_->dispatcher.get();
    // Sends from other threads to this thread's windows run from its event
    // loop, nested modal loops included.
    SetSendWakerForThisThread([dispatcher] {
        QMetaObject::invokeMethod(
            dispatcher, [] { PumpWindowMessages(0); }, Qt::QueuedConnection);
    });
    ForbidUnboundedWaitsOnThisThread();
    qt::InstallMessageBoxes();
    SetExitHook(&ExitOnGuiThread);
}

GuiApplication::~GuiApplication() {
    SetExitHook(nullptr);
    qt::RemoveMessageBoxes();
    SetSendWakerForThisThread({});
    g_haveGui.store(false);
    g_dispatcher.store(nullptr);
    impl_->dispatcher.reset();
    impl_->app.reset();
}

bool IsGuiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

void ProcessGuiEvents() {
    QCoreApplication::processEvents();
}

int RunApplication(int argc, char** argv, const ResourceModule* module, ApplicationEntry entry) {
    GuiApplication app(argc, argv);
    QGuiApplication::setDesktopFileName(QStringLiteral("camora-controller"));
    // The entry asks for a running instance first and then listens itself
    // (ListenForOtherInstances), so that a second start never takes the
    // first one's place.
    return entry(module);
}

namespace qt {

bool HaveGui() {
    return g_haveGui.load();
}

void PostToGui(std::function<void()> fn) {
    QObject* dispatcher = g_dispatcher.load();
    if (dispatcher != nullptr) {
        QMetaObject::invokeMethod(dispatcher, std::move(fn), Qt::QueuedConnection);
    }
}

bool RunOnGui(const std::function<void()>& fn) {
    if (IsGuiThread()) {
        fn();
        return true;
    }
    if (!HaveGui()) {
        return false;
    }
    struct Completion {
        std::mutex lock;
        std::condition_variable done;
        bool finished = false;
        bool ran = false;
        void Finish(bool didRun) {
            {
                std::lock_guard guard(lock);
                finished = true;
                ran = ran || didRun;
            }
            done.notify_all();
        }
    };
    // Released also when the queued call is dropped unrun (the GUI ended).
    struct Releaser {
        explicit Releaser(std::shared_ptr<Completion> c) : completion(std::move(c)) {}
        Releaser(const Releaser&) = delete;
        Releaser& operator=(const Releaser&) = delete;
        ~Releaser() { completion->Finish(false); }
        std::shared_ptr<Completion> completion;
    };
    auto completion = std::make_shared<Completion>();
    auto releaser = std::make_shared<Releaser>(completion);
    PostToGui([releaser, &fn] {
        fn();
        releaser->completion->Finish(true);
    });
    releaser.reset();
    std::unique_lock lock(completion->lock);
    completion->done.wait(lock, [&] { return completion->finished; });
    return completion->ran;
}

QString ToQString(std::u16string_view text) {
    QString s = QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return s;
}

}  // namespace qt
}  // namespace platform
