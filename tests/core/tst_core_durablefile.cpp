#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "core/durablefile.h"
#include "core/logfile.h"
#include "filebytes.h"

#include <sched.h>
#include <sys/mount.h>

using namespace kavelon;

// Files written so that their name holds either the old or the whole new content.
class DurableFileTest : public QObject {
    Q_OBJECT
  private slots:
    void replacesLinksAndRefusesFolders();
    void fullMediumLeavesTheOldFileAndNoLog();
    void temporaryNames();
};

void DurableFileTest::replacesLinksAndRefusesFolders() {
    QTemporaryDir dir;
    const QString outside = dir.filePath("buiten");
    QVERIFY(WriteFileDurably(outside, "blijft"));
    QVERIFY(QFile::link(outside, dir.filePath("link")));
    QVERIFY(WriteFileDurably(dir.filePath("link"), "nieuw"));
    QCOMPARE(Contents(outside), QByteArray("blijft"));
    QVERIFY(!QFileInfo(dir.filePath("link")).isSymLink());
    QVERIFY(QDir(dir.path()).mkdir("map"));
    QVERIFY(!WriteFileDurably(dir.filePath("map"), "x"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList({"buiten", "link", "map"}));
}

// The write or the sync fails for want of room: reported, the old content stays, nothing is
// left under a temporary name, and the log says it was not written.
void DurableFileTest::fullMediumLeavesTheOldFileAndNoLog() {
    QTemporaryDir dir;
    const QString main = dir.filePath("klein/");
    QVERIFY(QDir().mkpath(main + "logfiles"));
    if (unshare(CLONE_NEWNS) != 0 ||
        mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", QFile::encodeName(main).constData(), "tmpfs", 0, "size=64k") != 0)
        QSKIP("no private mount namespace with a small tmpfs here (needs root)");
    QVERIFY(QDir(main).mkdir("logfiles"));
    QVERIFY(WriteFileDurably(main + "oud", "oude inhoud"));
    const DurableWrite filler = WriteFileDurably(main + "vol", QByteArray(200 * 1024, 'x'));
    QVERIFY(!filler && filler.noSpace);
    QFile fill(main + "vulsel");
    QVERIFY(fill.open(QIODevice::WriteOnly));
    while (fill.write(QByteArray(4096, 'x')) > 0 && fill.flush()) {
    }
    fill.close();
    const DurableWrite replaced = WriteFileDurably(main + "oud", QByteArray(8192, 'n'));
    QVERIFY(!replaced && replaced.noSpace);
    QCOMPARE(Contents(main + "oud"), QByteArray("oude inhoud"));
    QString directory = main;
    QVERIFY(!WriteLogFile(directory, QStringList(500, "regel van het logboek"), nullptr));
    QCOMPARE(QDir(main + "logfiles").entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(QDir(main).entryList(QDir::Files | QDir::Hidden), QStringList({"oud", "vulsel"}));
    umount2(QFile::encodeName(main).constData(), MNT_DETACH);
}

void DurableFileTest::temporaryNames() {
    QVERIFY(IsDurableTemporaryName("a.icb.Xy12ab"));
    QVERIFY(!IsDurableTemporaryName("a.icb.xy12ab"));  // a stored name is all lower case
    QVERIFY(!IsDurableTemporaryName("a.icb"));
    QVERIFY(!IsDurableTemporaryName(".ABCDEF"));
    QVERIFY(!IsDurableTemporaryName("a.icb.Xy12a!"));
}

QTEST_GUILESS_MAIN(DurableFileTest)
#include "tst_core_durablefile.moc"
