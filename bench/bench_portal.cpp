// Sends 1,000 orders to the sandbox portal and fetches their 1,000 confirmations, printing
// orders per second and the time of the fetch, beside curl posting the same 1,000 bodies
// over one connection to the same sandbox.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

#include "core/settings.h"
#include "core/textutil.h"
#include "portal/portalclient.h"

using namespace kavelon;

namespace {

QByteArray OrderBody(int i) {
    QStringList lines(19);
    lines[1] = QStringLiteral("Bench %1").arg(i);
    lines[4] = QStringLiteral("100200");
    lines[18] = QStringLiteral("3");
    for (int n = 1; n <= 3; ++n)
        lines << QString::number(n) << QStringLiteral("ART%1").arg(n) << QStringLiteral("Kraan")
              << QStringLiteral("12.50");
    const QString text = lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
    return "customerid=100-200&username=demo&password=demo&file=bench" + QByteArray::number(i) +
           ".icm&icm=" + UrlEncode(text).value_or(QString()).toLatin1();
}

bool StartPortal(QProcess& portal, const QString& program, const QString& state) {
    portal.start(program, {"--port", "0", "--state", state, "--idle-exit-ms", "600000"});
    int found = 0;
    while (found < 3 && portal.waitForReadyRead(60000)) {
        while (portal.canReadLine()) {
            const QByteArray line = portal.readLine().trimmed();
            const qsizetype equals = line.indexOf('=');
            if (!line.startsWith("KAVELON_") || equals < 0) continue;
            qputenv(line.left(equals).constData(), line.mid(equals + 1));
            ++found;
        }
    }
    return found == 3;
}

double CurlSeconds(const QList<QByteArray>& bodies, const QString& folder) {
    QFile config(folder + QStringLiteral("/curl.conf"));
    if (!config.open(QIODevice::WriteOnly)) return -1;
    const QByteArray url = qgetenv("KAVELON_PORTAL_URL") + "/icmpost.aspx";
    for (int i = 0; i < bodies.size(); ++i) {
        const QString path = folder + QStringLiteral("/body%1").arg(i);
        QFile body(path);
        if (!body.open(QIODevice::WriteOnly)) return -1;
        body.write(bodies[i]);
        if (i > 0) config.write("next\n");
        config.write("cacert = \"" + qgetenv("KAVELON_CA_FILE") + "\"\nurl = \"" + url +
                     "\"\ndata-binary = \"@" + path.toUtf8() + "\"\noutput = /dev/null\n");
    }
    config.close();
    QElapsedTimer timer;
    timer.start();
    QProcess curl;
    curl.start(QStringLiteral("curl"), {"--silent", "--show-error", "--config", config.fileName()});
    if (!curl.waitForFinished(600000) || curl.exitCode() != 0) {
        std::fprintf(stderr, "curl failed (%d): %s\n", curl.exitCode(),
                     curl.readAllStandardError().split('\n').value(0).constData());
        return -1;
    }
    return timer.elapsed() / 1000.0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 1000;
    QTemporaryDir state;
    QProcess portal;
    if (argc < 2 || !StartPortal(portal, QString::fromLocal8Bit(argv[1]), state.path())) {
        std::fprintf(stderr,
                     "usage: bench_portal <kavelon-portal> [orders]; the portal did not start\n");
        return 2;
    }
    QList<QByteArray> bodies;
    for (int i = 0; i < count; ++i) bodies.append(OrderBody(i));

    Settings settings;
    PortalClient client(settings);
    QElapsedTimer timer;
    timer.start();
    int accepted = 0;
    for (const QByteArray& body : bodies) {
        const PostResult result = client.post(QStringLiteral("/icmpost.aspx"), body);
        if (result.ok && result.answer.contains(QStringLiteral("<IcmStatus>Correct</IcmStatus>")))
            ++accepted;
    }
    const double sendSeconds = timer.elapsed() / 1000.0;
    timer.restart();
    const PostResult fetched =
        client.post(QStringLiteral("/icbpost.aspx"), "debnr=100-200&dept=demo&password=demo");
    const double fetchSeconds = timer.elapsed() / 1000.0;
    const qsizetype files = fetched.answer.count(QStringLiteral("<file "));

    std::printf("kavelon: %d of %d orders accepted in %.2f s: %.0f orders/s\n", accepted, count,
                sendSeconds, count / sendSeconds);
    std::printf("kavelon: one fetch of %lld confirmations (%lld bytes) in %.3f s\n",
                static_cast<long long>(files), static_cast<long long>(fetched.answer.size()),
                fetchSeconds);
    const double curlSeconds = CurlSeconds(bodies, state.path());
    if (curlSeconds > 0)
        std::printf("curl:    %d orders over one connection in %.2f s: %.0f orders/s\n", count,
                    curlSeconds, count / curlSeconds);
    portal.terminate();
    portal.waitForFinished(10000);
    return 0;
}
