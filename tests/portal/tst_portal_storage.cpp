#include <QDir>
#include <QtTest>

#include "kavelonrun.h"
#include "portal/exchange.h"
#include "unwritable.h"

#include <sched.h>
#include <sys/mount.h>

using namespace kavelon;

// The real "kavelon auto" storing confirmations where the medium refuses them: a full file
// system, an unwritable confirmations folder, an unwritable folder of sent orders.
class StorageTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void fullMediumLosesNothing();
    void unwritableConfirmationsFolderLosesNothing();
    void unwritableSentFolderLosesNothing();
    void cleanupTestCase();

  private:
    // Every stored confirmation is byte for byte what the portal handed out, plus CR LF;
    // gives how many are stored.
    int checkStoredAreWhole(const QString& main);
    int storedCount(const QString& main) const;

    std::unique_ptr<SandboxPortal> portal_;
    QTemporaryDir mounts_;
    QString mounted_;
    bool privateMounts_ = false;
};

void StorageTest::initTestCase() {
    portal_ = std::make_unique<SandboxPortal>(KAVELON_PORTAL_PROGRAM);
    QVERIFY2(portal_->started(), "the sandbox portal did not start");
    // Mounts made from here on are this test's own and vanish with it.
    privateMounts_ =
        unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

int StorageTest::checkStoredAreWhole(const QString& main) {
    const QHash<QString, QByteArray> handedOut = HandedOut(*portal_);
    QHash<QString, QByteArray> expected;
    for (auto it = handedOut.begin(); it != handedOut.end(); ++it)
        expected.insert(StoredConfirmationName(it.key()), it.value());
    const QStringList stored = QDir(main + "icb").entryList(QDir::Files | QDir::Hidden);
    for (const QString& name : stored) {
        if (!expected.contains(name)) return -1;  // a half-written file under another name
        if (Contents(main + "icb/" + name) != expected.value(name)) return -1;
    }
    return int(stored.size());
}

int StorageTest::storedCount(const QString& main) const {
    return int(QDir(main + "icb").entryList(QDir::Files | QDir::Hidden).size());
}

// 100 confirmations on a 200 KB file system: those that fit are stored whole, the others are
// reported and kept; the fetch asks no further account; once there is room, nothing is lost.
void StorageTest::fullMediumLosesNothing() {
    if (!privateMounts_) QSKIP("no private mount namespace here (needs root and CAP_SYS_ADMIN)");
    const QString main = mounts_.filePath("klein/");
    QVERIFY(QDir().mkpath(main));
    if (mount("tmpfs", QFile::encodeName(main).constData(), "tmpfs", 0, "size=200k") != 0)
        QSKIP("a small tmpfs cannot be mounted here");
    mounted_ = main;
    PrivateKavelon kavelon(KAVELON_BINARY, main);
    QVERIFY(kavelon.ready());
    const qsizetype handedBefore = HandedOut(*portal_).size();
    QVERIFY(QueueConfirmations(*portal_, 50, "vol-a"));
    QVERIFY(QueueConfirmations(*portal_, 50, "vol-b", true));

    QCOMPARE(kavelon.run(*portal_), 1);
    const QString log = kavelon.log();
    const int stored = checkStoredAreWhole(main);
    qInfo("full medium: %d of 100 stored, %lld handed out", stored,
          HandedOut(*portal_).size() - handedBefore);
    QVERIFY2(stored >= 0, "a stored confirmation is not whole");
    QVERIFY2(stored < 50, qPrintable(log));
    QVERIFY2(log.contains("' kon niet worden opgeslagen; het wordt bij het volgende ophalen "
                          "opnieuw opgeslagen.\r\n"),
             qPrintable(log));
    QVERIFY2(log.contains("Er is een fout opgetreden tijdens het ophalen van de ICB-brichten.\r\n"),
             qPrintable(log));
    QCOMPARE(HandedOut(*portal_).size() - handedBefore, 50);  // the second account waits

    QVERIFY(mount("tmpfs", QFile::encodeName(main).constData(), "tmpfs", MS_REMOUNT, "size=4m") ==
            0);
    kavelon.removeLogs();
    QCOMPARE(kavelon.run(*portal_), 0);
    QVERIFY2(kavelon.log().contains("Opslaan van eerder ontvangen ICB-berichten"),
             qPrintable(kavelon.log()));
    QCOMPARE(checkStoredAreWhole(main), 100);
    QCOMPARE(QDir(main + "temp").entryList({"icbantwoord-*"}, QDir::Files), QStringList());
}

void StorageTest::unwritableConfirmationsFolderLosesNothing() {
    PrivateKavelon kavelon(KAVELON_BINARY);
    QVERIFY(kavelon.ready());
    const QString main = kavelon.main();
    QVERIFY(QDir(main).mkdir("icb"));
    QVERIFY(QueueConfirmations(*portal_, 3, "ro-icb"));
    {
        UnwritableFolder icb(main + "icb");
        if (!icb.active()) QSKIP("this file system cannot refuse new entries");
        QCOMPARE(kavelon.run(*portal_), 1);
    }
    const QString log = kavelon.log();
    QCOMPARE(log.count("' kon niet worden opgeslagen; het wordt bij het volgende ophalen "
                       "opnieuw opgeslagen.\r\n"),
             3);
    QVERIFY2(log.contains("Er zijn 0 orderbevestigingen voor debiteur 300400."), qPrintable(log));
    QCOMPARE(storedCount(main), 0);
    kavelon.removeLogs();
    QCOMPARE(kavelon.run(*portal_), 0);
    QCOMPARE(QDir(main + "icb").entryList(QDir::Files),
             QStringList({"ro-icb0.icb", "ro-icb1.icb", "ro-icb2.icb"}));
    QCOMPARE(checkStoredAreWhole(main), 3);
}

// The accepted order stays pending (the move is refused); its confirmation is stored.
void StorageTest::unwritableSentFolderLosesNothing() {
    PrivateKavelon kavelon(KAVELON_BINARY);
    QVERIFY(kavelon.ready());
    const QString main = kavelon.main();
    QVERIFY(QDir(main).mkdir("verzonden"));
    QVERIFY(WriteMessageFile(main + "icm/dicht.icm", AcceptedOrder("Verzonden dicht", "100200")));
    const QByteArray before = Contents(main + "icm/dicht.icm");
    {
        UnwritableFolder verzonden(main + "verzonden");
        if (!verzonden.active()) QSKIP("this file system cannot refuse new entries");
        QCOMPARE(kavelon.run(*portal_), 1);
    }
    const QString log = kavelon.log();
    QVERIFY2(log.contains("Het is niet mogelijk om het ICM-bericht te verplaatsen naar de "
                          "verzonden directory.\r\n"),
             qPrintable(log));
    QCOMPARE(Contents(main + "icm/dicht.icm"), before);
    QCOMPARE(QDir(main + "verzonden").entryList(QDir::Files), QStringList());
    QCOMPARE(QDir(main + "icb").entryList(QDir::Files), QStringList({"dicht.icb"}));
    QCOMPARE(checkStoredAreWhole(main), 1);
}

void StorageTest::cleanupTestCase() {
    if (!mounted_.isEmpty()) umount2(QFile::encodeName(mounted_).constData(), MNT_DETACH);
}

QTEST_GUILESS_MAIN(StorageTest)
#include "tst_portal_storage.moc"
