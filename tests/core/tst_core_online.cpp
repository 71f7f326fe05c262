#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

#include <unistd.h>

#include "core/textutil.h"

using namespace kavelon;

// Run with the argument "--probe" this program prints what IsOnline answers.
class OnlineTest : public QObject {
    Q_OBJECT
  private slots:
    void offlineWithOnlyLoopback();
};

void OnlineTest::offlineWithOnlyLoopback() {
    if (geteuid() != 0) QSKIP("a network namespace of its own needs root (unshare -n)");
    const QString unshare = QStandardPaths::findExecutable("unshare");
    if (unshare.isEmpty()) QSKIP("unshare is not installed");
    QProcess probe;
    probe.start(unshare, {"-n", "--", QCoreApplication::applicationFilePath(), "--probe"});
    QVERIFY(probe.waitForFinished(60000));
    QCOMPARE(probe.exitCode(), 0);
    QCOMPARE(probe.readAllStandardOutput().trimmed(), QByteArray("offline"));
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], "--probe") == 0) {
        fputs(IsOnline() ? "online\n" : "offline\n", stdout);
        return 0;
    }
    OnlineTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_core_online.moc"
