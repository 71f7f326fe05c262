#include <QDir>
#include <QLockFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include "core/actionlock.h"
#include "core/paths.h"
#include "unwritable.h"

using namespace kavelon;

namespace {

QDateTime Modified(const QString& path) {
    return QFileInfo(path).lastModified();
}

bool SetModified(const QString& path, const QDateTime& when) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) &&
           file.setFileTime(when, QFileDevice::FileModificationTime);
}

QDateTime MinutesAgo(int minutes) {
    return QDateTime::currentDateTimeUtc().addSecs(-60 * minutes);
}

}  // namespace

// Run as "--hold DIR --stay|--die [RENEW-MS]" this program takes the action lock of main
// directory DIR, says "held", and then waits (or, with "--die", ends without letting go of it).
class ActionLockTest : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void anotherRunningActionKeepsTheLock();
    void aDeadProgramsLockIsTakenOver();
    void aHeldLockIsRenewed();
    void anotherComputersLockIsTakenOverOnceNotRenewed_data();
    void anotherComputersLockIsTakenOverOnceNotRenewed();
    void tempThatCannotHoldALockFallsBackToThisUsersRuntimeFolder_data();
    void tempThatCannotHoldALockFallsBackToThisUsersRuntimeFolder();

  private:
    void startHolder(QProcess& holder, bool die, int renewMs = 0);
    QString lockPath() const { return directory_ + "temp/kavelon.lock"; }
    std::unique_ptr<QTemporaryDir> main_;
    QString directory_;
};

void ActionLockTest::init() {
    main_ = std::make_unique<QTemporaryDir>();
    QVERIFY(main_->isValid());
    directory_ = main_->path() + kPathSep;
}

void ActionLockTest::startHolder(QProcess& holder, bool die, int renewMs) {
    QStringList arguments = {"--hold", directory_, die ? "--die" : "--stay"};
    if (renewMs > 0) arguments << QString::number(renewMs);
    holder.start(QCoreApplication::applicationFilePath(), arguments);
    QVERIFY(holder.waitForReadyRead(30000));
    QCOMPARE(holder.readLine().trimmed(), QByteArray("held"));
}

// On this computer the process id decides, however long ago the lock was renewed.
void ActionLockTest::anotherRunningActionKeepsTheLock() {
    QProcess holder;
    startHolder(holder, false);
    ActionLock lock;
    QVERIFY(!lock.acquire(directory_, nullptr, 300));
    QVERIFY(SetModified(lockPath(), MinutesAgo(60)));
    QVERIFY(!lock.acquire(directory_, nullptr, 300));
    holder.kill();
    holder.waitForFinished(10000);
}

void ActionLockTest::aDeadProgramsLockIsTakenOver() {
    QProcess holder;
    startHolder(holder, true);
    holder.waitForFinished(10000);
    QVERIFY(QFileInfo::exists(lockPath()));  // left behind
    ActionLock lock;
    QVERIFY(lock.acquire(directory_, nullptr, 5000));
    QVERIFY(lock.held());
}

void ActionLockTest::aHeldLockIsRenewed() {
    QProcess holder;
    startHolder(holder, false, 100);
    QVERIFY(SetModified(lockPath(), MinutesAgo(60)));
    QTRY_VERIFY(Modified(lockPath()) > MinutesAgo(1));
    holder.kill();
    holder.waitForFinished(10000);
    ActionLock lock;
    QVERIFY(lock.acquire(directory_, nullptr, 5000));
    QVERIFY(!lock.fileName().isEmpty());
}

void ActionLockTest::anotherComputersLockIsTakenOverOnceNotRenewed_data() {
    QTest::addColumn<int>("minutesAgo");
    QTest::addColumn<bool>("takenOver");
    QTest::newRow("renewed a minute ago") << 1 << false;
    QTest::newRow("renewed nine minutes ago") << 9 << false;
    QTest::newRow("not renewed for eleven minutes") << 11 << true;
    QTest::newRow("not renewed for a day") << 24 * 60 << true;
}

// A lock file as a program on the computer "werkplek-2" that shares the main directory
// leaves it.
void ActionLockTest::anotherComputersLockIsTakenOverOnceNotRenewed() {
    QFETCH(int, minutesAgo);
    QFETCH(bool, takenOver);
    QVERIFY(QDir(directory_).mkdir("temp"));
    {
        QFile other(lockPath());
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.write(
            "4242\nkavelon\nwerkplek-2\n0f1e2d3c4b5a69788796a5b4c3d2e1f0\n"
            "8c2f0e54-1b7a-4a57-9a3e-3d2a1c0b9f8e\n");
    }
    QVERIFY(QSysInfo::machineHostName() != "werkplek-2");
    QVERIFY(SetModified(lockPath(), MinutesAgo(minutesAgo)));
    ActionLock lock;
    QCOMPARE(lock.acquire(directory_, nullptr, 300), takenOver);
    QCOMPARE(lock.held(), takenOver);
    qint64 pid = 0;
    QVERIFY(QLockFile(lockPath()).getLockInfo(&pid, nullptr, nullptr));
    QCOMPARE(pid, takenOver ? QCoreApplication::applicationPid() : 4242);
}

void ActionLockTest::tempThatCannotHoldALockFallsBackToThisUsersRuntimeFolder_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("temp a plain file") << "file";
    QTest::newRow("temp missing, main directory refuses it") << "missing";
    QTest::newRow("temp read-only") << "read-only";
}

// The lock is then named after the main directory's canonical path, so a second way to the
// same folder finds it too; the body runs, and another program here still waits for it.
void ActionLockTest::tempThatCannotHoldALockFallsBackToThisUsersRuntimeFolder() {
    QFETCH(QString, kind);
    std::unique_ptr<UnwritableFolder> guard;
    if (kind == "file") {
        QFile plain(directory_ + "temp");
        QVERIFY(plain.open(QIODevice::WriteOnly));
    } else {
        if (kind == "read-only") QVERIFY(QDir(directory_).mkdir("temp"));
        guard = std::make_unique<UnwritableFolder>(kind == "read-only" ? directory_ + "temp"
                                                                       : main_->path());
        if (!guard->active()) QSKIP("this file system cannot refuse new entries to this user");
    }
    QTemporaryDir links;
    QVERIFY(QFile::link(main_->path(), links.filePath("link")));
    const QString sameFolder = links.filePath("link") + kPathSep;

    ActionLock lock;
    QVERIFY(lock.acquire(directory_, nullptr, 300));
    QCOMPARE(lock.fileName(), ActionLock::RuntimeLockPath(directory_));
    QCOMPARE(ActionLock::RuntimeLockPath(sameFolder), lock.fileName());
    QVERIFY(QFileInfo::exists(lock.fileName()));
    lock.release();

    QProcess holder;
    startHolder(holder, false);
    QVERIFY(!lock.acquire(sameFolder, nullptr, 300));
    holder.kill();
    holder.waitForFinished(10000);
    QVERIFY(lock.acquire(sameFolder, nullptr, 5000));
    QVERIFY(lock.held());
}

int main(int argc, char** argv) {
    if (argc >= 4 && qstrcmp(argv[1], "--hold") == 0) {
        QCoreApplication app(argc, argv);
        ActionLock lock;
        if (argc == 5) lock.setRenewInterval(atoi(argv[4]));
        if (!lock.acquire(QString::fromLocal8Bit(argv[2]), nullptr, 0)) return 1;
        fputs("held\n", stdout);
        fflush(stdout);
        if (qstrcmp(argv[3], "--die") == 0) std::raise(SIGKILL);
        return app.exec();
    }
    // The runtime folder of this run, inherited by the holders it starts.
    QTemporaryDir runtime;
    if (!runtime.isValid()) return 2;
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QCoreApplication app(argc, argv);
    ActionLockTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_core_actionlock.moc"
