#include <QDir>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include "core/actionlock.h"
#include "core/paths.h"

using namespace kavelon;

// Run as "--hold DIR" this program takes the action lock of main directory DIR, says
// "held", and then waits (or, with "--die", ends without letting go of it).
class ActionLockTest : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void anotherRunningActionKeepsTheLock();
    void aDeadProgramsLockIsTakenOver();

  private:
    void startHolder(QProcess& holder, bool die);
    std::unique_ptr<QTemporaryDir> main_;
    QString directory_;
};

void ActionLockTest::init() {
    main_ = std::make_unique<QTemporaryDir>();
    QVERIFY(main_->isValid());
    directory_ = main_->path() + kPathSep;
}

void ActionLockTest::startHolder(QProcess& holder, bool die) {
    holder.start(QCoreApplication::applicationFilePath(),
                 {"--hold", directory_, die ? "--die" : "--stay"});
    QVERIFY(holder.waitForReadyRead(30000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));
}

void ActionLockTest::anotherRunningActionKeepsTheLock() {
    QProcess holder;
    startHolder(holder, false);
    ActionLock lock;
    QVERIFY(!lock.acquire(directory_, nullptr, 300));
    holder.kill();
    holder.waitForFinished(10000);
}

void ActionLockTest::aDeadProgramsLockIsTakenOver() {
    QProcess holder;
    startHolder(holder, true);
    holder.waitForFinished(10000);
    QVERIFY(QFileInfo::exists(directory_ + "temp/kavelon.lock"));  // left behind
    ActionLock lock;
    QVERIFY(lock.acquire(directory_, nullptr, 5000));
    QVERIFY(lock.held());
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "--hold") == 0) {
        ActionLock lock;
        if (!lock.acquire(QString::fromLocal8Bit(argv[2]), nullptr, 0)) return 1;
        fputs("held\n", stdout);
        fflush(stdout);
        if (qstrcmp(argv[3], "--die") == 0) std::raise(SIGKILL);
        return app.exec();
    }
    ActionLockTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_core_actionlock.moc"
