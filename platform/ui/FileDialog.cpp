#include "platform/ui/FileDialog.h"

#include <QComboBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/fs/DeviceRoot.h"
#include "platform/fs/FileSystem.h"
#include "platform/text/Text.h"
#include "platform/ui/Application.h"
#include "platform/ui/QtSupport.h"

namespace platform {
namespace {

std::mutex g_hookLock;
using Hook = std::function<void(SaveFileDialogView&)>;
Hook* g_hook = nullptr;  // guarded by g_hookLock
// Every hook ever set stays reachable: a dialog may be showing through an old one.
std::vector<std::unique_ptr<Hook>>* g_hooks = nullptr;  // guarded by g_hookLock

Hook CurrentHook() {
    std::lock_guard lock(g_hookLock);
    return g_hook != nullptr ? *g_hook : nullptr;
}

// "jpeg files(*.jpg *.jpeg)" showing, "*.jpg" filtering: Qt reads the
// patterns from the last parentheses, and hides them when told to.
QString NameFilter(const std::u16string& description, const std::u16string& patterns) {
    QString list = qt::ToQString(patterns);
    list.replace(QLatin1Char(';'), QLatin1Char(' '));
    return qt::ToQString(description) + QStringLiteral(" (") + list + QLatin1Char(')');
}

// The nearest folder that exists, from `host` up.
QString ExistingFolder(const std::string& host) {
    QDir dir(QString::fromStdString(host));
    while (!dir.exists() && !dir.isRoot()) {
        if (!dir.cdUp()) {
            break;
        }
    }
    return dir.absolutePath();
}

// The places a desktop user saves to: home, pictures, desktop, documents,
// downloads, and mounted removable media.
QList<QUrl> Places() {
    QList<QUrl> urls;
    const auto add = [&urls](const QString& path) {
        if (!path.isEmpty() && QDir(path).exists() && !urls.contains(QUrl::fromLocalFile(path))) {
            urls << QUrl::fromLocalFile(path);
        }
    };
    add(QDir::homePath());
    add(QString::fromStdString(PicturesFolder()));
    for (const auto location : {QStandardPaths::DesktopLocation, QStandardPaths::DocumentsLocation,
                                QStandardPaths::DownloadLocation}) {
        add(QStandardPaths::writableLocation(location));
    }
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        if (volume.isValid() && volume.isReady() &&
            (root.startsWith(QStringLiteral("/media/")) ||
             root.startsWith(QStringLiteral("/run/media/")))) {
            add(root);
        }
    }
    return urls;
}

// Below this width (device-independent pixels) a row holds the name field and
// the buttons beside it only by squeezing both combo boxes to their arrows.
constexpr int kNarrowDialogWidth = 600;

// A narrow dialog: the buttons get a row of their own under the type list, so
// that the name and the type take the whole width. The history arrows go (the
// Look in list keeps the folders visited) and so do the view switches (the
// detailed list stays, its names first), which leaves that list room for a
// folder's name.
void ArrangeNarrow(QFileDialog& dialog) {
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    if (grid == nullptr || buttons == nullptr) {
        return;
    }
    dialog.setViewMode(QFileDialog::Detail);
    for (const char* name : {"backButton", "forwardButton", "listModeButton", "detailModeButton"}) {
        if (auto* w = dialog.findChild<QWidget*>(QString::fromLatin1(name))) {
            w->hide();
        }
    }
    const int columns = grid->columnCount();
    const auto spanRest = [&](QWidget* w) {
        int row = 0;
        int column = 0;
        int rowSpan = 0;
        int columnSpan = 0;
        const int at = grid->indexOf(w);
        if (at < 0) {
            return;
        }
        grid->getItemPosition(at, &row, &column, &rowSpan, &columnSpan);
        grid->removeWidget(w);
        grid->addWidget(w, row, column, 1, columns - column);
    };
    grid->removeWidget(buttons);
    spanRest(dialog.findChild<QWidget*>(QStringLiteral("fileNameEdit")));
    spanRest(dialog.findChild<QWidget*>(QStringLiteral("fileTypeCombo")));
    buttons->setOrientation(Qt::Horizontal);
    grid->addWidget(buttons, grid->rowCount(), 0, 1, columns);
    // The labels keep their width; the fields and the folder list take the rest.
    for (int c = 0; c < columns; ++c) {
        grid->setColumnStretch(c, c == 0 ? 0 : 1);
    }
}

// Sizes the dialog to its screen: full screen on a handset or where the
// screen is smaller than the dialog wants, else its own size, centred; the
// places column as wide as its longest name (up to half the dialog), so that
// every button, the toolbar and the places are on the screen; a narrow screen
// gets the narrow arrangement above.
void FitToScreen(QFileDialog& dialog) {
    const QWidget* owner = dialog.parentWidget();
    QScreen* screen = owner != nullptr && owner->screen() != nullptr
                          ? owner->screen()
                          : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QRect available = screen->availableGeometry();
    // Every child may give way: the screen, not the widgets' wishes, is the limit.
    for (const char* name :
         {"lookInCombo", "fileNameEdit", "fileTypeCombo", "sidebar", "listView", "treeView"}) {
        if (auto* w = dialog.findChild<QWidget*>(QString::fromLatin1(name))) {
            w->setMinimumWidth(0);
        }
    }
    if (auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("lookInCombo"))) {
        combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        combo->setMinimumContentsLength(4);
    }
    if (auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"))) {
        combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        combo->setMinimumContentsLength(4);
    }
    if (available.width() < kNarrowDialogWidth) {
        ArrangeNarrow(dialog);
    }
    dialog.setMinimumSize(0, 0);
    const QSize wanted = dialog.sizeHint().expandedTo(QSize(640, 480));
    const bool handset = available.width() <= 540;
    QRect placed;
    if (handset || wanted.width() > available.width() || wanted.height() > available.height()) {
        placed = available;
    } else {
        placed = QRect(QPoint(0, 0), wanted);
        placed.moveCenter(available.center());
    }
    dialog.setGeometry(placed);
    if (handset) {
        dialog.setWindowState(Qt::WindowFullScreen);
    }
    if (auto* places = dialog.findChild<QListView*>(QStringLiteral("sidebar"))) {
        const QFontMetrics metrics(places->font());
        int longest = 0;
        for (int i = 0; i < places->model()->rowCount(); ++i) {
            longest = std::max(
                longest, metrics.horizontalAdvance(places->model()->index(i, 0).data().toString()));
        }
        const int column =
            std::min(placed.width() / 2, longest + places->iconSize().width() + 28 +
                                             places->verticalScrollBar()->sizeHint().width());
        if (auto* splitter = dialog.findChild<QSplitter*>(QStringLiteral("splitter"))) {
            splitter->setSizes({column, std::max(1, placed.width() - column)});
        }
    }
}

class View final : public SaveFileDialogView {
public:
    explicit View(QFileDialog& dialog) : dialog_(dialog) {}
    std::string Folder() const override { return dialog_.directory().absolutePath().toStdString(); }
    std::u16string FileName() const override {
        const auto* edit = dialog_.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        return edit != nullptr ? edit->text().toStdU16String() : std::u16string();
    }
    std::vector<std::u16string> Filters() const override {
        std::vector<std::u16string> out;
        for (const QString& f : dialog_.nameFilters()) {
            out.push_back(f.toStdU16String());
        }
        return out;
    }
    std::u16string DefaultExtension() const override {
        return dialog_.defaultSuffix().toStdU16String();
    }
    void Save(const std::u16string& name) override {
        if (auto* edit = dialog_.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
            edit->setText(qt::ToQString(name));
        }
        Press(QDialogButtonBox::Save);
    }
    void Cancel() override { Press(QDialogButtonBox::Cancel); }

private:
    void Press(QDialogButtonBox::StandardButton which) {
        auto* box = dialog_.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        QPushButton* button = box != nullptr ? box->button(which) : nullptr;
        if (button != nullptr) {
            button->click();
        }
    }
    QFileDialog& dialog_;
};

// The chosen host file's handset path; whether its name holds a backslash.
void TakeChosen(const std::string& chosen, std::u16string* path, bool* unnamable) {
    if (unnamable != nullptr) {
        *unnamable = chosen.substr(chosen.rfind('/') + 1).find('\\') != std::string::npos;
    }
    *path = HandsetPathFor(chosen);
}

// ---- The desktop's own save dialog through the XDG desktop portal (a phone
// shell's adaptive one), where a portal runs on the session bus.

constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kPortalChooser = "org.freedesktop.portal.FileChooser";
constexpr const char* kPortalRequest = "org.freedesktop.portal.Request";

// The portal's filter list: a(sa(us)), 0 standing for a glob pattern.
using PortalPatterns = QList<QPair<uint, QString>>;
using PortalFilter = QPair<QString, PortalPatterns>;

// What a portal answers, read by the signal's receiver.
class PortalAnswer final : public QObject {
    Q_OBJECT
public:
    uint response = 2;
    QStringList uris;
    bool answered = false;
    QEventLoop loop;

public Q_SLOTS:
    void Response(uint code, const QVariantMap& results) {
        response = code;
        uris = results.value(QStringLiteral("uris")).toStringList();
        answered = true;
        loop.quit();
    }
};

bool PortalRuns(QDBusConnection& bus) {
    if (!bus.isConnected() || bus.interface() == nullptr) {
        return false;
    }
    return bus.interface()->isServiceRegistered(QString::fromLatin1(kPortalService)).value();
}

// Shows the portal's dialog; nullopt when there is no portal or it failed
// (Qt's dialog then stands in), else whether a file was chosen.
std::optional<bool> ShowPortal(const SaveFileRequest& request, std::u16string* path,
                               bool* unnamable) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!PortalRuns(bus)) {
        return std::nullopt;
    }
    static const bool registered = [] {
        qDBusRegisterMetaType<QPair<uint, QString>>();
        qDBusRegisterMetaType<PortalPatterns>();
        qDBusRegisterMetaType<PortalFilter>();
        qDBusRegisterMetaType<QList<PortalFilter>>();
        return true;
    }();
    (void)registered;
    static unsigned serial = 0;
    const QString token = QStringLiteral("camora%1").arg(++serial);
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString requestPath =
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    PortalAnswer answer;
    // Listening before the call: the answer may come before the call returns.
    bus.connect(QString::fromLatin1(kPortalService), requestPath,
                QString::fromLatin1(kPortalRequest), QStringLiteral("Response"), &answer,
                SLOT(Response(uint, QVariantMap)));

    QList<PortalFilter> filters;
    for (const auto& [description, patterns] : request.filters) {
        PortalPatterns globs;
        for (const QString& glob :
             qt::ToQString(patterns).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            globs << qMakePair(0u, glob.trimmed());
        }
        filters << qMakePair(qt::ToQString(description), globs);
    }
    QString name = qt::ToQString(request.fileName);
    if (!request.defaultExtension.empty() && !name.contains(QLatin1Char('.'))) {
        name += QLatin1Char('.') + qt::ToQString(request.defaultExtension);
    }
    QByteArray folder = QFile::encodeName(ExistingFolder(HostPathFor(request.initialFolder)));
    folder.append('\0');
    QVariantMap options;
    options.insert(QStringLiteral("handle_token"), token);
    options.insert(QStringLiteral("modal"), true);
    options.insert(QStringLiteral("current_name"), name);
    options.insert(QStringLiteral("current_folder"), folder);
    options.insert(QStringLiteral("filters"), QVariant::fromValue(filters));
    if (!filters.isEmpty()) {
        options.insert(QStringLiteral("current_filter"), QVariant::fromValue(filters.front()));
    }
    QWidget* owner = qt::WidgetOf(request.owner);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kPortalService), QString::fromLatin1(kPortalPath),
        QString::fromLatin1(kPortalChooser), QStringLiteral("SaveFile"));
    call << QString() << (owner != nullptr ? owner->window()->windowTitle() : QString()) << options;
    const QDBusMessage reply = bus.call(call);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        bus.disconnect(QString::fromLatin1(kPortalService), requestPath,
                       QString::fromLatin1(kPortalRequest), QStringLiteral("Response"), &answer,
                       SLOT(Response(uint, QVariantMap)));
        return std::nullopt;
    }
    // The portal's window is another program's: the screens wait, as under
    // a modal dialog of their own, and take no presses meanwhile.
    QWidget* blocked = owner != nullptr ? owner->window() : nullptr;
    if (blocked != nullptr) {
        blocked->setEnabled(false);
    }
    if (!answer.answered) {
        answer.loop.exec();
    }
    if (blocked != nullptr) {
        blocked->setEnabled(true);
    }
    bus.disconnect(QString::fromLatin1(kPortalService), requestPath,
                   QString::fromLatin1(kPortalRequest), QStringLiteral("Response"), &answer,
                   SLOT(Response(uint, QVariantMap)));
    if (answer.response != 0 || answer.uris.isEmpty()) {
        return false;  // cancelled (1) or ended otherwise (2)
    }
    const QUrl chosen(answer.uris.constFirst());
    if (!chosen.isLocalFile()) {
        return false;
    }
    TakeChosen(chosen.toLocalFile().toStdString(), path, unnamable);
    return true;
}

bool ShowOnGui(const SaveFileRequest& request, std::u16string* path, bool* unnamable) {
    // A test that answers Qt's dialog through its hook gets Qt's dialog.
    if (!CurrentHook()) {
        if (const std::optional<bool> chosen = ShowPortal(request, path, unnamable)) {
            return *chosen;
        }
    }
    QFileDialog dialog(qt::WidgetOf(request.owner));
    // Qt's own dialog everywhere, so that it looks and behaves the same on
    // every desktop and tests can drive it; the program asks its own
    // overwrite question.
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite |
                      QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    QStringList filters;
    for (const auto& [description, patterns] : request.filters) {
        filters << NameFilter(description, patterns);
    }
    dialog.setNameFilters(filters);
    dialog.setDefaultSuffix(qt::ToQString(request.defaultExtension));
    dialog.setSidebarUrls(Places());
    dialog.setDirectory(ExistingFolder(HostPathFor(request.initialFolder)));
    dialog.selectFile(qt::ToQString(request.fileName));

    FitToScreen(dialog);
    if (auto hook = CurrentHook()) {
        QTimer::singleShot(0, &dialog, [&dialog, hook] {
            View view(dialog);
            hook(view);
        });
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return false;
    }
    TakeChosen(dialog.selectedFiles().constFirst().toStdString(), path, unnamable);
    return true;
}

}  // namespace

bool ShowSaveFileDialog(const SaveFileRequest& request, std::u16string* path, bool* unnamable) {
    bool chosen = false;
    if (IsGuiThread()) {
        return ShowOnGui(request, path, unnamable);
    }
    qt::RunOnGui([&] { chosen = ShowOnGui(request, path, unnamable); });
    return chosen;
}

void SetSaveFileDialogHook(std::function<void(SaveFileDialogView&)> hook) {
    std::lock_guard lock(g_hookLock);
    if (!hook) {
        g_hook = nullptr;
        return;
    }
    if (g_hooks == nullptr) {
        g_hooks = new std::vector<std::unique_ptr<Hook>>;
    }
    g_hooks->push_back(std::make_unique<Hook>(std::move(hook)));
    g_hook = g_hooks->back().get();
}

}  // namespace platform

#include "FileDialog.moc"
