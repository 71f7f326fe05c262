#include "core/browser.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>

#include "version.h"

namespace kavelon {

Browser::~Browser() = default;

QUrl BrowserUrl(const QString& address) {
    const QString text = address.trimmed();
    if (text.isEmpty()) return {};
    // A path is never read as a URL, so "#" or "?" in a file name stay part of the name.
    if (QDir::isAbsolutePath(text)) return QUrl::fromLocalFile(QDir::cleanPath(text));
    return QUrl::fromUserInput(text, QDir::currentPath());
}

std::optional<BrowserWindowState> CompanionStatus::shared() const {
    for (const BrowserWindowState& window : windows) {
        if (window.shared) return window;
    }
    return std::nullopt;
}

namespace {

// Reads one line within the deadline; nothing when the line does not come.
std::optional<QByteArray> ReadLine(QLocalSocket& socket, const QDeadlineTimer& deadline) {
    while (!socket.canReadLine()) {
        if (socket.bytesAvailable() > companion::kMaxRequestBytes || deadline.hasExpired())
            return std::nullopt;
        if (!socket.waitForReadyRead(int(deadline.remainingTime())) && !socket.canReadLine())
            return std::nullopt;
    }
    return socket.readLine().trimmed();
}

QString ExecutableName() {
#ifdef Q_OS_WIN
    return QStringLiteral("kavelon-browser.exe");
#else
    return QStringLiteral("kavelon-browser");
#endif
}

}  // namespace

CompanionBrowser::CompanionBrowser(Fallback fallback)
    : fallback_(std::move(fallback)),
      program_(FindProgram()),
      socketName_(companion::SocketName()) {}

CompanionBrowser::~CompanionBrowser() = default;

QString CompanionBrowser::FindProgram() {
    const QString overridden = qEnvironmentVariable("KAVELON_BROWSER");
    if (!overridden.isEmpty()) return overridden;
    if (QCoreApplication::instance()) {
        const QFileInfo beside(QDir(QCoreApplication::applicationDirPath()), ExecutableName());
        if (beside.isFile() && beside.isExecutable()) return beside.absoluteFilePath();
    }
    // Installed, it lives where helper programs belong.
    const QFileInfo installed(QDir(QString::fromUtf8(kInstalledHelperFolder)), ExecutableName());
    if (installed.isFile() && installed.isExecutable()) return installed.absoluteFilePath();
    return QStandardPaths::findExecutable(ExecutableName());
}

void CompanionBrowser::OpenInBrowser(const QString& address) {
    Show(companion::kCommandOpen, address);
}

void CompanionBrowser::OpenInNewWindow(const QString& address) {
    Show(companion::kCommandOpenNew, address);
}

void CompanionBrowser::Show(const char* command, const QString& address) {
    const QUrl url = BrowserUrl(address);
    if (!url.isValid()) return;
    const QString encoded = url.toString(QUrl::FullyEncoded);
    if (!companion::CanShow(url)) {
        if (fallback_) fallback_(encoded);
        return;
    }
    const QJsonObject request{{QStringLiteral("command"), QLatin1String(command)},
                              {QStringLiteral("url"), encoded}};
    // No answer: the companion is not running, or is just ending; start a new one.
    std::optional<QJsonObject> reply = Exchange(request);
    if (!reply && StartCompanion()) reply = Exchange(request);
    if (reply && reply->value(QStringLiteral("ok")).toBool()) return;
    if (reply) {
        qWarning("kavelon-browser refused %s: %s", qUtf8Printable(encoded),
                 qUtf8Printable(reply->value(QStringLiteral("error")).toString()));
    } else {
        qWarning("kavelon-browser (%s) did not answer", qUtf8Printable(program_));
    }
    if (fallback_) fallback_(encoded);
}

std::optional<QJsonObject> CompanionBrowser::Exchange(const QJsonObject& request) const {
    QLocalSocket socket;
    socket.connectToServer(socketName_);
    if (!socket.waitForConnected(kConnectTimeoutMs)) return std::nullopt;
    socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    socket.flush();
    const std::optional<QByteArray> line = ReadLine(socket, QDeadlineTimer(kReplyTimeoutMs));
    socket.abort();
    if (!line) return std::nullopt;
    QJsonParseError error;
    const QJsonDocument reply = QJsonDocument::fromJson(*line, &error);
    if (error.error != QJsonParseError::NoError || !reply.isObject()) return std::nullopt;
    return reply.object();
}

bool CompanionBrowser::StartCompanion() const {
    if (program_.isEmpty()) return false;
    // The companion connects here once it listens on its own socket, or knows it cannot.
    QLocalServer notify;
    notify.setSocketOptions(QLocalServer::UserAccessOption);
    const QString notifyName = QStringLiteral("kavelon-browser-ready-%1-%2")
                                   .arg(QCoreApplication::applicationPid())
                                   .arg(QRandomGenerator::global()->generate());
    if (!notify.listen(notifyName)) return false;

    QProcess process;
    process.setProgram(program_);
    process.setArguments(
        {companion::kOptionSocket, socketName_, companion::kOptionNotify, notify.fullServerName()});
    process.setWorkingDirectory(QDir::homePath());
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    if (!process.startDetached()) return false;

    const QDeadlineTimer deadline(kStartTimeoutMs);
    if (!notify.waitForNewConnection(int(deadline.remainingTime()))) return false;
    QLocalSocket* socket = notify.nextPendingConnection();
    if (!socket) return false;
    const std::optional<QByteArray> line = ReadLine(*socket, deadline);
    return line && *line == companion::kReady;
}

std::optional<CompanionStatus> CompanionBrowser::Status() const {
    const std::optional<QJsonObject> reply =
        Exchange({{QStringLiteral("command"), QLatin1String(companion::kCommandStatus)}});
    if (!reply || !reply->value(QStringLiteral("ok")).toBool()) return std::nullopt;
    CompanionStatus status;
    status.pid = reply->value(QStringLiteral("pid")).toInteger();
    for (const QJsonValue& value : reply->value(QStringLiteral("windows")).toArray()) {
        const QJsonObject object = value.toObject();
        BrowserWindowState window;
        window.shared = object.value(QStringLiteral("shared")).toBool();
        window.width = object.value(QStringLiteral("width")).toInt();
        window.height = object.value(QStringLiteral("height")).toInt();
        window.url = QUrl(object.value(QStringLiteral("url")).toString());
        window.requested = QUrl(object.value(QStringLiteral("requested")).toString());
        window.title = object.value(QStringLiteral("title")).toString();
        window.visible = object.value(QStringLiteral("visible")).toBool();
        status.windows.append(window);
    }
    return status;
}

bool CompanionBrowser::CloseSharedWindow() const {
    const std::optional<QJsonObject> reply =
        Exchange({{QStringLiteral("command"), QLatin1String(companion::kCommandClose)}});
    return reply && reply->value(QStringLiteral("ok")).toBool() &&
           reply->value(QStringLiteral("closed")).toBool();
}

bool CompanionBrowser::Quit() const {
    const std::optional<QJsonObject> reply =
        Exchange({{QStringLiteral("command"), QLatin1String(companion::kCommandQuit)}});
    return reply && reply->value(QStringLiteral("ok")).toBool();
}

}  // namespace kavelon
