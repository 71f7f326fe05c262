// kavelon-portal: a sandbox of the wholesaler's portal on 127.0.0.1 for development and tests.
//
//   kavelon-portal [--port N] [--state DIR] [--accounts FILE] [--fault NAME] [--slow-ms N]
//                  [--idle-exit-ms N]
//
// At start it prints, one per line on stdout, the variables that point the program at it:
//   KAVELON_PORTAL_URL=https://127.0.0.1:PORT
//   KAVELON_SITE_URL=https://127.0.0.1:PORT
//   KAVELON_CA_FILE=<state>/ca.pem
// It stops after --idle-exit-ms without requests, and on SIGTERM or SIGINT.

#include <sys/socket.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QStandardPaths>

#include "certificates.h"
#include "portalserver.h"
#include "portalstate.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

int Fail(const QString& message) {
    fprintf(stderr, "kavelon-portal: %s\n", qPrintable(message));
    return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kavelon-portal"));
    QCoreApplication::setOrganizationName(QStringLiteral("Kavelon"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Sandbox of the order portal, on 127.0.0.1."));
    parser.addHelpOption();
    const QCommandLineOption port(QStringLiteral("port"),
                                  QStringLiteral("Port to listen on; 0 lets the system pick."),
                                  QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption state(QStringLiteral("state"),
                                   QStringLiteral("State folder (certificates, orders, log)."),
                                   QStringLiteral("DIR"));
    const QCommandLineOption accounts(
        QStringLiteral("accounts"),
        QStringLiteral("Account file (JSON); made with demo accounts when missing."),
        QStringLiteral("FILE"));
    const QCommandLineOption fault(QStringLiteral("fault"),
                                   QStringLiteral("Fault for every request: slow, drop-before, "
                                                  "drop-after, http500, no-tags, truncated, "
                                                  "oversized, reversed-tags, bad-file-element, "
                                                  "unsafe-names, wrong-host, chunked."),
                                   QStringLiteral("NAME"));
    const QCommandLineOption slowMs(QStringLiteral("slow-ms"),
                                    QStringLiteral("Delay of the slow fault in ms."),
                                    QStringLiteral("N"), QStringLiteral("3000"));
    const QCommandLineOption idleMs(QStringLiteral("idle-exit-ms"),
                                    QStringLiteral("Stop after N ms without requests; 0 never."),
                                    QStringLiteral("N"), QStringLiteral("600000"));
    parser.addOptions({port, state, accounts, fault, slowMs, idleMs});
    parser.process(app);

    bool ok = false;
    const uint portNumber = parser.value(port).toUInt(&ok);
    if (!ok || portNumber > 65535) return Fail(QStringLiteral("bad --port"));
    kavelon::PortalOptions options;
    options.stateDir = parser.isSet(state)
                           ? QDir(parser.value(state)).absolutePath()
                           : QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    options.accountsFile = parser.isSet(accounts)
                               ? QDir(parser.value(accounts)).absolutePath()
                               : QDir(options.stateDir).filePath(QStringLiteral("accounts.json"));
    options.fault = kavelon::FaultFromName(parser.value(fault));
    if (options.fault == kavelon::Fault::Unknown) return Fail(QStringLiteral("unknown --fault"));
    options.slowMs = parser.value(slowMs).toInt(&ok);
    if (!ok || options.slowMs < 0) return Fail(QStringLiteral("bad --slow-ms"));
    options.idleExitMs = parser.value(idleMs).toInt(&ok);
    if (!ok || options.idleExitMs < 0) return Fail(QStringLiteral("bad --idle-exit-ms"));

    QString error;
    if (!QDir().mkpath(options.stateDir))
        return Fail(QStringLiteral("cannot create %1").arg(options.stateDir));
    if (!kavelon::EnsureCertificates(options.stateDir, error)) return Fail(error);
    QSslConfiguration good, wrongHost;
    if (!kavelon::LoadServerConfiguration(options.stateDir, false, good, error) ||
        !kavelon::LoadServerConfiguration(options.stateDir, true, wrongHost, error))
        return Fail(error);
    kavelon::PortalState portalState(options.stateDir, options.accountsFile);
    if (!portalState.open(error)) return Fail(error);

    // SIGTERM and SIGINT reach the event loop through a pipe.
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return Fail(QStringLiteral("socketpair failed"));
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [] {
        char byte;
        [[maybe_unused]] const auto got = ::read(signalPipe[0], &byte, 1);
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    kavelon::PortalServer server(options, portalState, good, wrongHost);
    if (!server.listen(QHostAddress::LocalHost, static_cast<quint16>(portNumber)))
        return Fail(QStringLiteral("cannot listen: %1").arg(server.errorString()));
    const QString url = QStringLiteral("https://127.0.0.1:%1").arg(server.serverPort());
    printf("KAVELON_PORTAL_URL=%s\nKAVELON_SITE_URL=%s\nKAVELON_CA_FILE=%s\n", qPrintable(url),
           qPrintable(url), qPrintable(QDir(options.stateDir).filePath(QStringLiteral("ca.pem"))));
    fflush(stdout);
    fprintf(stderr, "kavelon-portal: listening on 127.0.0.1:%u, state %s\n", server.serverPort(),
            qPrintable(options.stateDir));
    const int rc = app.exec();
    server.close();
    fprintf(stderr, "kavelon-portal: stopped\n");
    return rc;
}
