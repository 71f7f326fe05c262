#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "core/browser.h"

using namespace kavelon;

// Drives the real kavelon-browser, started by CompanionBrowser as the program starts it, on a
// socket of its own per test. Every companion a test starts is ended in cleanup().
class BrowserTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void init();
    void cleanup();

    void addressesBecomeUrls();
    void programFromEnvironment();
    void programBesideOrOnPath();
    void socketNameFromEnvironment();
    void twoCallsShareOneWindow();
    void closedWindowIsReplacedByNewOne();
    void callRightAfterCloseGetsNewWindow();
    void newWindowOpensWindowOfItsOwn();
    void sharedWindowReopensBesideOtherWindows();
    void fileNameWithSpecialCharacters();
    void staleSocketIsReplaced();
    void secondCompanionLeavesFirstAlone();
    void fallbackWhenProgramIsMissing();
    void fallbackForOtherAddresses();
    void blankAddressShowsNothing();
    void companionRefusesBadRequests();
    void rootCompanionShowsPage();
    void otherUsersCompanionKeepsSandbox();
    void quietOnNormalStart();
    void listenerOfAnotherUserGetsNothing();
    void companionAnswersOnlyItsUser();
    void socketFolderIsPrivate();
    void reportWhenNothingShowsPage();

  private:
    QString WritePage(const QString& name, const QString& title);
    // The status of the running companion; remembers its process for cleanup().
    CompanionStatus RequireStatus();
    // The shared window of that status; empty values when there is none.
    BrowserWindowState Shared() { return RequireStatus().shared().value_or(BrowserWindowState{}); }
    CompanionBrowser& browser() { return *browser_; }

    QTemporaryDir dir_;
    QString pageA_;
    QString pageB_;
    QString pageC_;
    int run_ = 0;
    std::unique_ptr<CompanionBrowser> browser_;
    QStringList fallbackCalls_;
    bool fallbackOpens_ = true;
    QStringList reports_;
    QSet<qint64> pids_;
};

namespace {

// Gone, or a zombie that nobody has reaped yet.
bool ProcessGone(qint64 pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return true;
    const QByteArray line = stat.readAll();
    const qsizetype close = line.lastIndexOf(')');
    return close < 0 || close + 2 >= line.size() || line.at(close + 2) == 'Z' ||
           line.at(close + 2) == 'X';
}

QUrl FileUrl(const QString& path) {
    return QUrl::fromLocalFile(path);
}

}  // namespace

void BrowserTest::initTestCase() {
    QVERIFY(dir_.isValid());
    QVERIFY(QFileInfo(QStringLiteral(KAVELON_BROWSER_PATH)).isExecutable());
    pageA_ = WritePage(QStringLiteral("a.html"), QStringLiteral("Pagina A"));
    pageB_ = WritePage(QStringLiteral("b.html"), QStringLiteral("Pagina B"));
    pageC_ = WritePage(QStringLiteral("order 12 #3.html"), QStringLiteral("Pagina C"));
}

QString BrowserTest::WritePage(const QString& name, const QString& title) {
    const QString path = dir_.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return {};
    file.write(QStringLiteral("<html><head><title>%1</title></head><body><p>%1</p></body></html>")
                   .arg(title)
                   .toUtf8());
    return path;
}

void BrowserTest::init() {
    fallbackCalls_.clear();
    fallbackOpens_ = true;
    reports_.clear();
    browser_ = std::make_unique<CompanionBrowser>([this](const QString& url) {
        fallbackCalls_.append(url);
        return fallbackOpens_;
    });
    browser_->setReport([this](const QString& message) { reports_.append(message); });
    browser_->setProgram(QStringLiteral(KAVELON_BROWSER_PATH));
    browser_->setSocketName(dir_.filePath(QStringLiteral("socket-%1").arg(++run_)));
}

void BrowserTest::cleanup() {
    if (const std::optional<CompanionStatus> status = browser_->Status()) pids_.insert(status->pid);
    browser_->Quit();
    for (const qint64 pid : std::as_const(pids_)) {
        if (QTest::qWaitFor([pid] { return ProcessGone(pid); }, 10000)) continue;
        ::kill(pid_t(pid), SIGKILL);
        QVERIFY2(QTest::qWaitFor([pid] { return ProcessGone(pid); }, 10000),
                 "a companion did not end");
    }
    pids_.clear();
}

CompanionStatus BrowserTest::RequireStatus() {
    const std::optional<CompanionStatus> status = browser_->Status();
    if (!status) {
        QTest::qFail("the companion does not answer", __FILE__, __LINE__);
        return {};
    }
    pids_.insert(status->pid);
    return *status;
}

void BrowserTest::addressesBecomeUrls() {
    QCOMPARE(BrowserUrl(pageC_), FileUrl(pageC_));
    QCOMPARE(BrowserUrl(QStringLiteral("  ") + pageA_ + QStringLiteral(" ")), FileUrl(pageA_));
    QCOMPARE(BrowserUrl(QStringLiteral("https://portal.example.nl/orders.aspx?nr=1&u=a b")),
             QUrl(QStringLiteral("https://portal.example.nl/orders.aspx?nr=1&u=a%20b")));
    QCOMPARE(BrowserUrl(QStringLiteral("www.example.nl")),
             QUrl(QStringLiteral("http://www.example.nl")));
    QVERIFY(!BrowserUrl(QString()).isValid());
    QVERIFY(!BrowserUrl(QStringLiteral("   ")).isValid());

    // A relative path that exists is a file of the current folder.
    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(dir_.path()));
    const QUrl relative = BrowserUrl(QStringLiteral("b.html"));
    QVERIFY(QDir::setCurrent(previous));
    QCOMPARE(relative, FileUrl(pageB_));
}

void BrowserTest::programFromEnvironment() {
    const QByteArray previous = qgetenv("KAVELON_BROWSER");
    qputenv("KAVELON_BROWSER", "/opt/elders/kavelon-browser");
    const QString found = CompanionBrowser::FindProgram();
    const QString constructed = CompanionBrowser().program();
    if (previous.isNull()) {
        qunsetenv("KAVELON_BROWSER");
    } else {
        qputenv("KAVELON_BROWSER", previous);
    }
    QCOMPARE(found, QStringLiteral("/opt/elders/kavelon-browser"));
    QCOMPARE(constructed, found);
}

// Runs a copy of this test program in another folder; it prints what FindProgram answers.
static QString FindProgramFrom(const QString& folder, const QString& path) {
    const QString copy = QDir(folder).filePath(QStringLiteral("tst_core_browser"));
    if (!QFile::exists(copy) && !QFile::copy(QCoreApplication::applicationFilePath(), copy))
        return QStringLiteral("(no copy)");
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("KAVELON_BROWSER"));
    environment.insert(QStringLiteral("PATH"), path);
    probe.setProcessEnvironment(environment);
    probe.start(copy, {QStringLiteral("--find-program")});
    if (!probe.waitForFinished(30000)) return QStringLiteral("(no answer)");
    return QString::fromUtf8(probe.readAllStandardOutput()).trimmed();
}

void BrowserTest::programBesideOrOnPath() {
    const QString beside = dir_.filePath(QStringLiteral("beside"));
    const QString onPath = dir_.filePath(QStringLiteral("onpath"));
    QVERIFY(QDir().mkpath(beside));
    QVERIFY(QDir().mkpath(onPath));
    for (const QString& folder : {beside, onPath}) {
        QFile program(QDir(folder).filePath(QStringLiteral("kavelon-browser")));
        QVERIFY(program.open(QIODevice::WriteOnly));
        program.write("#!/bin/sh\n");
        program.close();
        QVERIFY(program.setPermissions(program.permissions() | QFile::ExeOwner));
    }
    QCOMPARE(FindProgramFrom(beside, onPath), QDir(beside).filePath("kavelon-browser"));

    const QString alone = dir_.filePath(QStringLiteral("alone"));
    QVERIFY(QDir().mkpath(alone));
    QCOMPARE(FindProgramFrom(alone, onPath), QDir(onPath).filePath("kavelon-browser"));
    QCOMPARE(FindProgramFrom(alone, dir_.filePath(QStringLiteral("nowhere"))), QString());
}

void BrowserTest::socketNameFromEnvironment() {
    const QByteArray previous = qgetenv("KAVELON_BROWSER_SOCKET");
    qunsetenv("KAVELON_BROWSER_SOCKET");
    const QString perUser = companion::SocketName();
    qputenv("KAVELON_BROWSER_SOCKET", "/tmp/elders.sock");
    const QString overridden = companion::SocketName();
    const QString constructed = CompanionBrowser().socketName();
    if (previous.isNull()) {
        qunsetenv("KAVELON_BROWSER_SOCKET");
    } else {
        qputenv("KAVELON_BROWSER_SOCKET", previous);
    }
    QVERIFY(perUser.contains(QStringLiteral("kavelon-browser")));
    QCOMPARE(overridden, QStringLiteral("/tmp/elders.sock"));
    QCOMPARE(constructed, overridden);
}

void BrowserTest::twoCallsShareOneWindow() {
    QVERIFY(!browser().Status());
    browser().OpenInBrowser(pageA_);
    const CompanionStatus first = RequireStatus();
    QCOMPARE(first.windows.size(), 1);
    QVERIFY(first.shared());
    QCOMPARE(first.shared()->width, 750);
    QCOMPARE(first.shared()->height, 500);
    QVERIFY(first.shared()->visible);
    QCOMPARE(first.shared()->requested, FileUrl(pageA_));
    QTRY_COMPARE_WITH_TIMEOUT(Shared().title, QStringLiteral("Pagina A"), 30000);

    browser().OpenInBrowser(pageB_);
    const CompanionStatus second = RequireStatus();
    QCOMPARE(second.pid, first.pid);
    QCOMPARE(second.windows.size(), 1);
    QVERIFY(second.shared());
    QCOMPARE(second.shared()->requested, FileUrl(pageB_));
    QTRY_COMPARE_WITH_TIMEOUT(Shared().url, FileUrl(pageB_), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(Shared().title, QStringLiteral("Pagina B"), 30000);
    QVERIFY(fallbackCalls_.isEmpty());
}

void BrowserTest::closedWindowIsReplacedByNewOne() {
    browser().OpenInBrowser(pageA_);
    const CompanionStatus first = RequireStatus();
    QCOMPARE(first.windows.size(), 1);

    // With its last window closed the companion ends.
    QVERIFY(browser().CloseSharedWindow());
    QVERIFY(QTest::qWaitFor([&] { return ProcessGone(first.pid); }, 10000));
    QVERIFY(!browser().Status());

    browser().OpenInBrowser(pageB_);
    const CompanionStatus second = RequireStatus();
    QVERIFY(second.pid != first.pid);
    QCOMPARE(second.windows.size(), 1);
    QVERIFY(second.shared());
    QCOMPARE(second.shared()->width, 750);
    QCOMPARE(second.shared()->height, 500);
    QCOMPARE(second.shared()->requested, FileUrl(pageB_));
    QVERIFY(fallbackCalls_.isEmpty());
}

void BrowserTest::callRightAfterCloseGetsNewWindow() {
    browser().OpenInBrowser(pageA_);
    const CompanionStatus first = RequireStatus();
    QVERIFY(browser().CloseSharedWindow());
    // No waiting for the old companion to end: the call must still get a window.
    browser().OpenInBrowser(pageB_);
    const CompanionStatus second = RequireStatus();
    QVERIFY(second.pid != first.pid);
    QCOMPARE(second.windows.size(), 1);
    QCOMPARE(second.shared()->width, 750);
    QCOMPARE(second.shared()->height, 500);
    QCOMPARE(second.shared()->requested, FileUrl(pageB_));
    QVERIFY(fallbackCalls_.isEmpty());
}

void BrowserTest::newWindowOpensWindowOfItsOwn() {
    browser().OpenInBrowser(pageA_);
    browser().OpenInNewWindow(pageB_);
    CompanionStatus status = RequireStatus();
    QCOMPARE(status.windows.size(), 2);
    QCOMPARE(status.shared()->requested, FileUrl(pageA_));
    const BrowserWindowState own = status.windows.at(1);
    QVERIFY(!own.shared);
    QVERIFY(own.visible);
    QCOMPARE(own.width, 750);
    QCOMPARE(own.height, 500);
    QCOMPARE(own.requested, FileUrl(pageB_));

    // Each call opens another window; the shared one keeps its page.
    browser().OpenInNewWindow(pageC_);
    status = RequireStatus();
    QCOMPARE(status.windows.size(), 3);
    QCOMPARE(status.shared()->requested, FileUrl(pageA_));
    QCOMPARE(status.windows.at(2).requested, FileUrl(pageC_));

    browser().OpenInBrowser(pageC_);
    status = RequireStatus();
    QCOMPARE(status.windows.size(), 3);
    QCOMPARE(status.shared()->requested, FileUrl(pageC_));
    QCOMPARE(status.windows.at(1).requested, FileUrl(pageB_));
    QVERIFY(fallbackCalls_.isEmpty());
}

void BrowserTest::sharedWindowReopensBesideOtherWindows() {
    // A window of its own keeps the companion running after the shared window is closed.
    browser().OpenInNewWindow(pageA_);
    browser().OpenInBrowser(pageB_);
    const CompanionStatus first = RequireStatus();
    QCOMPARE(first.windows.size(), 2);
    QVERIFY(browser().CloseSharedWindow());
    const CompanionStatus closed = RequireStatus();
    QCOMPARE(closed.pid, first.pid);
    QCOMPARE(closed.windows.size(), 1);
    QVERIFY(!closed.shared());
    QVERIFY(!browser().CloseSharedWindow());

    browser().OpenInBrowser(pageC_);
    const CompanionStatus reopened = RequireStatus();
    QCOMPARE(reopened.pid, first.pid);
    QCOMPARE(reopened.windows.size(), 2);
    QVERIFY(reopened.shared());
    QCOMPARE(reopened.shared()->width, 750);
    QCOMPARE(reopened.shared()->height, 500);
    QCOMPARE(reopened.shared()->requested, FileUrl(pageC_));
}

void BrowserTest::fileNameWithSpecialCharacters() {
    browser().OpenInBrowser(pageC_);
    QCOMPARE(Shared().requested, FileUrl(pageC_));
    QTRY_COMPARE_WITH_TIMEOUT(Shared().title, QStringLiteral("Pagina C"), 30000);
    QVERIFY(fallbackCalls_.isEmpty());
}

void BrowserTest::staleSocketIsReplaced() {
    // A socket file that nobody listens on, as a killed companion leaves it.
    const QByteArray path = QFile::encodeName(browser().socketName());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    QVERIFY(size_t(path.size()) < sizeof(address.sun_path));
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
    QVERIFY(QFileInfo::exists(browser().socketName()));
    QVERIFY(!browser().Status());

    browser().OpenInBrowser(pageA_);
    const CompanionStatus status = RequireStatus();
    QCOMPARE(status.windows.size(), 1);
    QCOMPARE(status.shared()->requested, FileUrl(pageA_));
    QVERIFY(fallbackCalls_.isEmpty());
}

void BrowserTest::secondCompanionLeavesFirstAlone() {
    browser().OpenInBrowser(pageA_);
    const CompanionStatus first = RequireStatus();

    QProcess second;
    second.start(QStringLiteral(KAVELON_BROWSER_PATH),
                 {companion::kOptionSocket, browser().socketName()});
    QVERIFY(second.waitForFinished(30000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);

    const CompanionStatus after = RequireStatus();
    QCOMPARE(after.pid, first.pid);
    QCOMPARE(after.windows.size(), 1);
    QCOMPARE(after.shared()->requested, FileUrl(pageA_));
}

void BrowserTest::fallbackWhenProgramIsMissing() {
    browser().setProgram(dir_.filePath(QStringLiteral("missing/kavelon-browser")));
    browser().OpenInBrowser(pageA_);
    QCOMPARE(fallbackCalls_, QStringList{FileUrl(pageA_).toString(QUrl::FullyEncoded)});
    browser().OpenInNewWindow(QStringLiteral("https://www.example.nl/contact"));
    QCOMPARE(fallbackCalls_.size(), 2);
    QCOMPARE(fallbackCalls_.at(1), QStringLiteral("https://www.example.nl/contact"));
    QVERIFY(!browser().Status());

    // No program at all: the fallback too.
    browser().setProgram(QString());
    browser().OpenInBrowser(pageB_);
    QCOMPARE(fallbackCalls_.size(), 3);
    QCOMPARE(fallbackCalls_.at(2), FileUrl(pageB_).toString(QUrl::FullyEncoded));
}

void BrowserTest::fallbackForOtherAddresses() {
    // The companion shows web pages and files only; the desktop gets the rest.
    browser().OpenInBrowser(QStringLiteral("mailto:verkoop@rilvost.nl"));
    QCOMPARE(fallbackCalls_, QStringList{QStringLiteral("mailto:verkoop@rilvost.nl")});
    QVERIFY(!browser().Status());
    browser().OpenInNewWindow(QStringLiteral("ftp://ftp.example.nl/"));
    QCOMPARE(fallbackCalls_.size(), 2);
    QCOMPARE(fallbackCalls_.at(1), QStringLiteral("ftp://ftp.example.nl/"));
    QVERIFY(!browser().Status());
}

void BrowserTest::blankAddressShowsNothing() {
    browser().OpenInBrowser(QStringLiteral("   "));
    browser().OpenInNewWindow(QString());
    QVERIFY(fallbackCalls_.isEmpty());
    QVERIFY(!browser().Status());
}

// One raw request line to the companion and its reply.
static QJsonObject Exchange(const QString& socketName, const QByteArray& line) {
    QLocalSocket socket;
    socket.connectToServer(socketName);
    if (!socket.waitForConnected(5000)) return {};
    socket.write(line);
    while (!socket.canReadLine() && socket.waitForReadyRead(10000)) {
    }
    return QJsonDocument::fromJson(socket.readLine()).object();
}

void BrowserTest::companionRefusesBadRequests() {
    browser().OpenInBrowser(pageA_);
    const QString name = browser().socketName();
    const QJsonObject ftp = Exchange(name, R"({"command":"open","url":"ftp://ftp.example.nl/"})"
                                           "\n");
    QCOMPARE(ftp.value("ok"), QJsonValue(false));
    QVERIFY(!ftp.value("error").toString().isEmpty());
    QCOMPARE(Exchange(name, "{\"command\":\"open-new\",\"url\":\"http://\"}\n").value("ok"),
             QJsonValue(false));
    QCOMPARE(Exchange(name, "{\"command\":\"reload\"}\n").value("ok"), QJsonValue(false));
    QCOMPARE(Exchange(name, "[1, 2]\n").value("ok"), QJsonValue(false));
    QCOMPARE(Exchange(name, "open file:///etc/passwd\n").value("ok"), QJsonValue(false));

    const CompanionStatus status = RequireStatus();
    QCOMPARE(status.windows.size(), 1);
    QCOMPARE(status.shared()->requested, FileUrl(pageA_));
}

namespace {

struct User {
    uid_t uid = 0;
    gid_t gid = 0;
};

std::optional<User> Nobody() {
    const passwd* entry = ::getpwnam("nobody");
    if (!entry || entry->pw_uid == 0) return std::nullopt;
    return User{entry->pw_uid, entry->pw_gid};
}

// Runs the call with the effective ids of another user, then as root again.
template <typename Call>
auto AsUser(const User& user, Call call) {
    const bool switched = ::setegid(user.gid) == 0 && ::seteuid(user.uid) == 0;
    Q_ASSERT(switched);
    auto result = call();
    [[maybe_unused]] const bool back = ::seteuid(0) == 0 && ::setegid(0) == 0;
    Q_ASSERT(back);
    return result;
}

sockaddr_un UnixAddress(const QString& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    std::memcpy(address.sun_path, name.constData(),
                std::min(size_t(name.size()), sizeof(address.sun_path) - 1));
    return address;
}

// A listener on the path that carries another user's ids, as one that user planted there
// first would. Bound as root (the folder is root's), listening as the other user.
int ListenAs(const QString& path, const User& user) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const sockaddr_un address = UnixAddress(path);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return -1;
    if (AsUser(user, [fd] { return ::listen(fd, 16); }) != 0) return -1;
    return fd;
}

// What the listener got: the connections waiting on it and the bytes sent on them.
struct Received {
    int connections = 0;
    QByteArray bytes;
};

Received Drain(int listener) {
    Received received;
    int connection = -1;
    while ((connection = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK)) >= 0 ||
           (errno == EINTR)) {
        if (connection < 0) continue;
        ++received.connections;
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::read(connection, buffer, sizeof buffer)) > 0)
            received.bytes.append(buffer, got);
        ::close(connection);
    }
    return received;
}

mode_t Mode(const QString& path) {
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// Sets (or with a null value removes) an environment variable until the end of the scope.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const QByteArray& value)
        : name_(name), previous_(qgetenv(name)), wasSet_(qEnvironmentVariableIsSet(name)) {
        if (value.isNull()) {
            qunsetenv(name);
        } else {
            qputenv(name, value);
        }
    }
    ~ScopedVariable() {
        if (wasSet_) {
            qputenv(name_, previous_);
        } else {
            qunsetenv(name_);
        }
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

  private:
    const char* name_;
    QByteArray previous_;
    bool wasSet_;
};

}  // namespace

void BrowserTest::rootCompanionShowsPage() {
    if (::geteuid() != 0) QSKIP("runs as root only");
    // Nothing from outside switches the sandbox off: the companion does it for root itself.
    QVERIFY(!qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"));
    browser().OpenInBrowser(pageB_);
    QTRY_COMPARE_WITH_TIMEOUT(Shared().title, QStringLiteral("Pagina B"), 30000);
    QCOMPARE(Shared().url, FileUrl(pageB_));
    QVERIFY(!RequireStatus().sandbox);
    QVERIFY(fallbackCalls_.isEmpty());
    QVERIFY(reports_.isEmpty());
}

void BrowserTest::otherUsersCompanionKeepsSandbox() {
    const std::optional<User> nobody = Nobody();
    if (::geteuid() != 0 || !nobody) QSKIP("needs root and the user nobody");
    // A folder of the other user's own, outside root's private folders.
    QByteArray folder = QFile::encodeName(QDir::tempPath()) + "/tst_core_browser-nobody-XXXXXX";
    QVERIFY(::mkdtemp(folder.data()));
    const QString home = QFile::decodeName(folder);
    const auto removeFolder = qScopeGuard([&home] { QDir(home).removeRecursively(); });
    QCOMPARE(::chown(folder.constData(), nobody->uid, nobody->gid), 0);

    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home);
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(home);
    const User user = *nobody;
    process.setChildProcessModifier([user] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0)
            ::_exit(127);
    });
    const QString socket = QDir(home).filePath(QStringLiteral("s"));
    process.start(QStringLiteral(KAVELON_BROWSER_PATH), {companion::kOptionSocket, socket});
    QVERIFY(process.waitForStarted());

    CompanionBrowser other;
    other.setSocketName(socket);
    std::optional<CompanionStatus> status;
    QVERIFY(QTest::qWaitFor(
        [&] {
            status = AsUser(user, [&] { return other.Status(); });
            return status.has_value() || process.state() == QProcess::NotRunning;
        },
        30000));
    QVERIFY(status);
    QVERIFY(status->sandbox);
    QVERIFY(AsUser(user, [&] { return other.Quit(); }));
    QVERIFY(process.waitForFinished(10000));
}

void BrowserTest::quietOnNormalStart() {
    // Started by hand on a system without a runtime folder: the engine's configuration and
    // Qt's warning about the missing folder stay out of the output.
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    environment.remove(QStringLiteral("QT_LOGGING_RULES"));
    environment.insert(QStringLiteral("TMPDIR"), dir_.path());
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KAVELON_BROWSER_PATH),
                  {companion::kOptionSocket, browser().socketName()});
    QVERIFY(process.waitForStarted());
    QVERIFY(QTest::qWaitFor([&] { return browser().Status().has_value(); }, 30000));
    browser().OpenInBrowser(pageA_);
    QTRY_COMPARE_WITH_TIMEOUT(Shared().title, QStringLiteral("Pagina A"), 30000);
    QVERIFY(browser().Quit());
    QVERIFY(process.waitForFinished(10000));
    const QString output = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(!output.contains(QStringLiteral("XDG_RUNTIME_DIR")), qPrintable(output));
    QVERIFY2(!output.contains(QStringLiteral("Init Parameters")), qPrintable(output));
    QVERIFY2(!output.contains(QStringLiteral("qt.webenginecontext")), qPrintable(output));
    QCOMPARE(process.exitCode(), 0);
}

void BrowserTest::listenerOfAnotherUserGetsNothing() {
    const std::optional<User> nobody = Nobody();
    if (::geteuid() != 0 || !nobody) QSKIP("needs root and the user nobody");
    const int listener = ListenAs(browser().socketName(), *nobody);
    QVERIFY(listener >= 0);
    const auto closeListener = qScopeGuard([listener] { ::close(listener); });

    // An address with a password in it, as the order history's has.
    browser().OpenInBrowser(FileUrl(pageB_).toString() + QStringLiteral("?wachtwoord=geheim"));
    browser().OpenInBrowser(pageA_);
    const Received received = Drain(listener);
    QVERIFY(received.connections > 0);
    QCOMPARE(received.bytes, QByteArray());

    // The companion took the name over and shows the pages.
    const CompanionStatus status = RequireStatus();
    QCOMPARE(status.windows.size(), 1);
    QCOMPARE(status.shared()->requested, FileUrl(pageA_));
    QVERIFY(fallbackCalls_.isEmpty());
    QCOMPARE(Drain(listener).connections, 0);
}

void BrowserTest::companionAnswersOnlyItsUser() {
    const std::optional<User> nobody = Nobody();
    if (::geteuid() != 0 || !nobody) QSKIP("needs root and the user nobody");
    browser().OpenInBrowser(pageA_);
    RequireStatus();
    // Open the way to the socket, as a system whose file modes do not guard sockets would.
    const QString socket = browser().socketName();
    QCOMPARE(::chmod(QFile::encodeName(dir_.path()).constData(), 0711), 0);
    const auto closeFolder =
        qScopeGuard([this] { ::chmod(QFile::encodeName(dir_.path()).constData(), 0700); });
    QCOMPARE(::chmod(QFile::encodeName(socket).constData(), 0777), 0);

    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    QVERIFY(fd >= 0);
    const auto closeSocket = qScopeGuard([fd] { ::close(fd); });
    const sockaddr_un address = UnixAddress(socket);
    QCOMPARE(AsUser(*nobody,
                    [&] {
                        return ::connect(fd, reinterpret_cast<const sockaddr*>(&address),
                                         sizeof address);
                    }),
             0);
    const QByteArray request = R"({"command":"open","url":"file:///etc/passwd"})"
                               "\n";
    [[maybe_unused]] const ssize_t sent = ::write(fd, request.constData(), request.size());
    // The companion closes the connection without an answer.
    const timeval wait{10, 0};
    QCOMPARE(::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait), 0);
    char reply[64];
    const ssize_t got = ::read(fd, reply, sizeof reply);
    QVERIFY2(got == 0 || (got < 0 && errno == ECONNRESET), qPrintable(QString::number(got)));

    const CompanionStatus status = RequireStatus();
    QCOMPARE(status.windows.size(), 1);
    QCOMPARE(status.shared()->requested, FileUrl(pageA_));
}

void BrowserTest::socketFolderIsPrivate() {
    const QString base = dir_.filePath(QStringLiteral("tmp"));
    QVERIFY(QDir().mkpath(base));
    const ScopedVariable tmp("TMPDIR", QFile::encodeName(base));
    const ScopedVariable noRuntime("XDG_RUNTIME_DIR", QByteArray());
    const ScopedVariable noSocket("KAVELON_BROWSER_SOCKET", QByteArray());
    const QString own = QDir(base).filePath(QStringLiteral("kavelon-%1").arg(::geteuid()));
    const QByteArray ownPath = QFile::encodeName(own);

    // Made when missing, and made private again when others got rights.
    QCOMPARE(companion::PrivateFolder(), own);
    QCOMPARE(Mode(own), mode_t(0700));
    QCOMPARE(companion::SocketName(), QDir(own).filePath(QStringLiteral("kavelon-browser")));
    QCOMPARE(::chmod(ownPath.constData(), 0777), 0);
    QCOMPARE(companion::PrivateFolder(), own);
    QCOMPARE(Mode(own), mode_t(0700));
    {
        // Qt gets it as the runtime folder where the system names none.
        const ScopedVariable restore("XDG_RUNTIME_DIR", QByteArray());
        companion::ProvideRuntimeFolder();
        QCOMPARE(qEnvironmentVariable("XDG_RUNTIME_DIR"), own);
        const ScopedVariable system("XDG_RUNTIME_DIR", "/run/user/elders");
        companion::ProvideRuntimeFolder();
        QCOMPARE(qEnvironmentVariable("XDG_RUNTIME_DIR"), QStringLiteral("/run/user/elders"));
    }

    // The system's runtime folder when it is private; left as it is when it is not.
    const QString runtime = dir_.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime));
    QCOMPARE(::chmod(QFile::encodeName(runtime).constData(), 0700), 0);
    {
        const ScopedVariable system("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        QCOMPARE(companion::PrivateFolder(), runtime);
        QCOMPARE(::chmod(QFile::encodeName(runtime).constData(), 0755), 0);
        QCOMPARE(companion::PrivateFolder(), own);
        QCOMPARE(Mode(runtime), mode_t(0755));
    }

    // A plain file, a folder of another user or a link in its place is refused, and then no
    // address goes anywhere but to the desktop.
    QVERIFY(QDir(own).removeRecursively());
    QFile plain(own);
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    QCOMPARE(companion::PrivateFolder(), QString());
    QVERIFY(plain.remove());
    if (const std::optional<User> nobody = Nobody(); nobody && ::geteuid() == 0) {
        QCOMPARE(::mkdir(ownPath.constData(), 0700), 0);
        QCOMPARE(::chown(ownPath.constData(), nobody->uid, nobody->gid), 0);
        QCOMPARE(companion::PrivateFolder(), QString());
        QCOMPARE(::rmdir(ownPath.constData()), 0);
    }
    QCOMPARE(::chmod(QFile::encodeName(runtime).constData(), 0700), 0);
    QCOMPARE(::symlink(QFile::encodeName(runtime).constData(), ownPath.constData()), 0);
    QCOMPARE(companion::PrivateFolder(), QString());
    QCOMPARE(companion::SocketName(), QString());
    CompanionBrowser desktopOnly([this](const QString& url) {
        fallbackCalls_.append(url);
        return true;
    });
    desktopOnly.setProgram(QStringLiteral(KAVELON_BROWSER_PATH));
    QCOMPARE(desktopOnly.socketName(), QString());
    QStringList reports;
    desktopOnly.setReport([&reports](const QString& message) { reports.append(message); });
    desktopOnly.OpenInBrowser(pageA_);
    QCOMPARE(fallbackCalls_, QStringList{FileUrl(pageA_).toString(QUrl::FullyEncoded)});
    QVERIFY(reports.isEmpty());
}

void BrowserTest::reportWhenNothingShowsPage() {
    fallbackOpens_ = false;
    const QString prefix = QStringLiteral("De pagina kan niet getoond worden: ");
    browser().setProgram(dir_.filePath(QStringLiteral("missing/kavelon-browser")));
    browser().OpenInBrowser(pageA_);
    QCOMPARE(reports_.size(), 1);
    QVERIFY2(reports_.at(0).startsWith(prefix + QStringLiteral("het programma kavelon-browser "
                                                               "is niet gevonden")),
             qPrintable(reports_.at(0)));
    // The page file is named, so the user can open it by hand.
    QVERIFY(reports_.at(0).endsWith(QStringLiteral("'") + pageA_ + QStringLiteral("'.")));

    // A web address may hold a password: it is never named.
    browser().OpenInNewWindow(QStringLiteral("https://portal.example.nl/inlog.aspx?ww=geheim"));
    QCOMPARE(reports_.size(), 2);
    QVERIFY(reports_.at(1).startsWith(prefix));
    QVERIFY(!reports_.at(1).contains(QStringLiteral("geheim")));

    // A companion that cannot be started, an address for another program.
    const QString notAProgram = WritePage(QStringLiteral("not-a-program"), QStringLiteral("x"));
    browser().setProgram(notAProgram);
    browser().OpenInBrowser(pageB_);
    QCOMPARE(reports_.size(), 3);
    QVERIFY(reports_.at(2).startsWith(prefix + QStringLiteral("het programma kavelon-browser "
                                                              "start niet")));
    browser().OpenInBrowser(QStringLiteral("mailto:verkoop@rilvost.nl"));
    QCOMPARE(reports_.size(), 4);
    QVERIFY(reports_.at(3).startsWith(prefix));
    QCOMPARE(fallbackCalls_.size(), 4);

    // The desktop's browser opens it: nothing to tell.
    fallbackOpens_ = true;
    browser().OpenInBrowser(pageB_);
    QCOMPARE(fallbackCalls_.size(), 5);
    QCOMPARE(reports_.size(), 4);
}

int main(int argc, char** argv) {
    // The companion inherits these: no display, and no sandbox setting from outside (as root
    // the companion switches the sandbox off itself).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qunsetenv("QTWEBENGINE_DISABLE_SANDBOX");
    qunsetenv("KAVELON_BROWSER");
    qunsetenv("KAVELON_BROWSER_SOCKET");
    QCoreApplication app(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], "--find-program") == 0) {
        fputs(qPrintable(CompanionBrowser::FindProgram() + u'\n'), stdout);
        return 0;
    }
    BrowserTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_core_browser.moc"
