// kavelon-browser: keeps the browser window that Kavelon shows its pages in. Started by the
// program when it is not running; serves the program's requests on a local socket.
//
//   kavelon-browser [--socket NAME] [--notify NAME]
//
// --socket overrides the socket name (default: KAVELON_BROWSER_SOCKET, else one per user);
// --notify names a socket that is told "ready" once this program listens, or "failed".

#include <QApplication>
#include <QLocalSocket>
#include <QLoggingCategory>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

#include "companion.h"
#include "core/browser.h"

namespace {

QString OptionValue(const QStringList& arguments, const QString& option) {
    const qsizetype at = arguments.indexOf(option);
    return at >= 0 && at + 1 < arguments.size() ? arguments.at(at + 1) : QString();
}

void Notify(const QString& name, bool ready) {
    if (name.isEmpty()) return;
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(2000)) return;
    if (!kavelon::companion::PeerIsThisUser(socket, kavelon::companion::Peer::Server)) return;
    socket.write(QByteArray(ready ? kavelon::companion::kReady : kavelon::companion::kFailed) +
                 '\n');
    socket.flush();
    if (socket.bytesToWrite() > 0) socket.waitForBytesWritten(2000);
    socket.disconnectFromServer();
}

// The web engine cannot keep its pages in its sandbox when it runs as root, and refuses to
// start then; so the sandbox is switched off for root, and for nobody else.
void ChooseSandbox() {
#ifdef Q_OS_UNIX
    if (::geteuid() == 0) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
#endif
}

// A normal start prints neither the engine's configuration nor Qt's warning that the system
// gives no runtime folder (the private folder of the sockets serves as one). Warnings and
// errors stay; QT_LOGGING_RULES still brings the configuration back.
void QuietStart() {
    QLoggingCategory::setFilterRules(QStringLiteral("qt.webenginecontext.info=false"));
    kavelon::companion::ProvideRuntimeFolder();
}

}  // namespace

int main(int argc, char** argv) {
    ChooseSandbox();
    QuietStart();
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kavelon-browser"));
    QApplication::setQuitOnLastWindowClosed(false);  // the companion decides when it ends

    const QStringList arguments = QApplication::arguments();
    QString socketName = OptionValue(arguments, kavelon::companion::kOptionSocket);
    if (socketName.isEmpty()) socketName = kavelon::companion::SocketName();
    const QString notifyName = OptionValue(arguments, kavelon::companion::kOptionNotify);

    kavelon::Companion companion;
    const kavelon::Companion::ListenResult result = companion.Listen(socketName);
    // Another companion already serves this socket: the caller talks to that one.
    Notify(notifyName, result != kavelon::Companion::ListenResult::Failed);
    if (result == kavelon::Companion::ListenResult::OtherRunning) return 0;
    if (result == kavelon::Companion::ListenResult::Failed) {
        qCritical("kavelon-browser: cannot listen on %s", qUtf8Printable(socketName));
        return 1;
    }
    return app.exec();
}
