#include "core/browser.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>

#include "version.h"

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

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

namespace companion {

#ifdef Q_OS_WIN

// Not built here (the Windows build holds the Qt-free parts only); kept to the two calls
// that name the process at the other end of the pipe and the user owning a process.
namespace {

std::optional<QByteArray> ProcessUser(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return std::nullopt;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    QByteArray buffer(qsizetype(size), '\0');
    const bool read = size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
    CloseHandle(token);
    if (!read) return std::nullopt;
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer.constData())->User.Sid;
    return QByteArray(static_cast<const char*>(sid), qsizetype(GetLengthSid(sid)));
}

}  // namespace

bool IsPrivateFolder(const QString& path) {
    return QFileInfo(path).isDir();
}

QString PrivateFolder() {
    return {};
}

void ProvideRuntimeFolder() {}

QString SocketName() {
    const QString overridden = qEnvironmentVariable("KAVELON_BROWSER_SOCKET");
    if (!overridden.isEmpty()) return overridden;
    const QString user = qEnvironmentVariable("USERNAME");
    return user.isEmpty() ? QStringLiteral("kavelon-browser")
                          : QStringLiteral("kavelon-browser-") + user;
}

bool PeerIsThisUser(const QLocalSocket& socket, Peer peer) {
    const auto pipe = reinterpret_cast<HANDLE>(socket.socketDescriptor());
    ULONG pid = 0;
    const BOOL named = peer == Peer::Server ? GetNamedPipeServerProcessId(pipe, &pid)
                                            : GetNamedPipeClientProcessId(pipe, &pid);
    if (!named) return false;
    const HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) return false;
    const std::optional<QByteArray> theirs = ProcessUser(process);
    CloseHandle(process);
    const std::optional<QByteArray> ours = ProcessUser(GetCurrentProcess());
    return theirs && ours && *theirs == *ours;
}

#else

namespace {

// Checks the folder through a descriptor, so a link swapped in is never followed; with
// repair, a folder of this user that others may enter is made private.
bool CheckFolder(const QString& path, bool repair) {
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat status {};
    bool private_ =
        ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == ::geteuid();
    if (private_ && (status.st_mode & 077) != 0) private_ = repair && ::fchmod(fd, 0700) == 0;
    ::close(fd);
    return private_;
}

}  // namespace

bool IsPrivateFolder(const QString& path) {
    return !path.isEmpty() && CheckFolder(path, false);
}

QString PrivateFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (IsPrivateFolder(runtime)) return QDir::cleanPath(runtime);
    const QString own =
        QDir(QDir::tempPath()).filePath(QStringLiteral("kavelon-%1").arg(::geteuid()));
    if (::mkdir(QFile::encodeName(own).constData(), 0700) != 0 && errno != EEXIST) return {};
    return CheckFolder(own, true) ? own : QString();
}

void ProvideRuntimeFolder() {
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) return;
    const QString folder = PrivateFolder();
    if (!folder.isEmpty()) qputenv("XDG_RUNTIME_DIR", QFile::encodeName(folder));
}

QString SocketName() {
    const QString overridden = qEnvironmentVariable("KAVELON_BROWSER_SOCKET");
    if (!overridden.isEmpty()) return overridden;
    const QString folder = PrivateFolder();
    return folder.isEmpty() ? QString() : QDir(folder).filePath(QStringLiteral("kavelon-browser"));
}

bool PeerIsThisUser(const QLocalSocket& socket, Peer) {
    ucred peer{};
    socklen_t length = sizeof peer;
    return ::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &length) ==
               0 &&
           length == sizeof peer && peer.uid == ::geteuid();
}

#endif

}  // namespace companion

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
    if (!companion::CanShow(url)) {
        ShowElsewhere(url, QStringLiteral("er is geen programma ingesteld dat dit adres opent"));
        return;
    }
    const QString encoded = url.toString(QUrl::FullyEncoded);
    const QJsonObject request{{QStringLiteral("command"), QLatin1String(command)},
                              {QStringLiteral("url"), encoded}};
    // No answer: the companion is not running, or is just ending; start a new one.
    std::optional<QJsonObject> reply = Exchange(request);
    if (!reply && StartCompanion()) reply = Exchange(request);
    if (reply && reply->value(QStringLiteral("ok")).toBool()) return;
    QString reason;
    if (reply) {
        qWarning("kavelon-browser refused %s: %s", qUtf8Printable(encoded),
                 qUtf8Printable(reply->value(QStringLiteral("error")).toString()));
        reason = QStringLiteral("het programma kavelon-browser weigert het adres");
    } else if (program_.isEmpty() ||
               (QDir::isAbsolutePath(program_) && !QFileInfo::exists(program_))) {
        reason = QStringLiteral("het programma kavelon-browser is niet gevonden");
    } else if (socketName_.isEmpty()) {
        qWarning("kavelon-browser: no folder that only this user may enter");
        reason = QStringLiteral(
            "het programma kavelon-browser heeft geen map die alleen deze gebruiker kan openen");
    } else {
        qWarning("kavelon-browser (%s) did not answer", qUtf8Printable(program_));
        reason = QStringLiteral("het programma kavelon-browser start niet of antwoordt niet");
    }
    ShowElsewhere(url, reason);
}

void CompanionBrowser::ShowElsewhere(const QUrl& url, const QString& reason) {
    if (fallback_ && fallback_(url.toString(QUrl::FullyEncoded))) return;
    if (!report_) return;
    // A web address may hold a password, so only a file is named.
    QString message = QStringLiteral("De pagina kan niet getoond worden: ") + reason +
                      QStringLiteral(", en er is geen standaardbrowser die de pagina opent.");
    if (url.isLocalFile()) {
        message += QStringLiteral("\n\nDe pagina staat in het bestand '") +
                   QDir::toNativeSeparators(url.toLocalFile()) + QStringLiteral("'.");
    }
    report_(message);
}

std::optional<QJsonObject> CompanionBrowser::Exchange(const QJsonObject& request) const {
    if (socketName_.isEmpty()) return std::nullopt;
    QLocalSocket socket;
    socket.connectToServer(socketName_);
    if (!socket.waitForConnected(kConnectTimeoutMs)) return std::nullopt;
    // A listener of another user gets nothing, least of all an address with a password.
    if (!companion::PeerIsThisUser(socket, companion::Peer::Server)) {
        qWarning("kavelon-browser: %s is held by another user", qUtf8Printable(socketName_));
        socket.abort();
        return std::nullopt;
    }
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
    if (program_.isEmpty() || socketName_.isEmpty()) return false;
    // The companion connects here once it listens on its own socket, or knows it cannot. The
    // socket lies beside the companion's, in the folder only this user may enter.
    QLocalServer notify;
    notify.setSocketOptions(QLocalServer::UserAccessOption);
    const QString notifyName = socketName_ + QStringLiteral("-ready-%1-%2")
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
    while (notify.waitForNewConnection(int(deadline.remainingTime()))) {
        QLocalSocket* socket = notify.nextPendingConnection();
        if (!socket || !companion::PeerIsThisUser(*socket, companion::Peer::Client)) continue;
        const std::optional<QByteArray> line = ReadLine(*socket, deadline);
        return line && *line == companion::kReady;
    }
    return false;
}

std::optional<CompanionStatus> CompanionBrowser::Status() const {
    const std::optional<QJsonObject> reply =
        Exchange({{QStringLiteral("command"), QLatin1String(companion::kCommandStatus)}});
    if (!reply || !reply->value(QStringLiteral("ok")).toBool()) return std::nullopt;
    CompanionStatus status;
    status.pid = reply->value(QStringLiteral("pid")).toInteger();
    status.sandbox = reply->value(QStringLiteral("sandbox")).toBool(true);
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
