// Many files replaced durably with one flush: each whole in place, nothing left beside it.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "core/durablebatch.h"
#include "filebytes.h"
#include "unwritable.h"

using namespace kavelon;

namespace {

QStringList Names(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

}  // namespace

class DurableBatchTest : public QObject {
    Q_OBJECT
  private slots:
    void commitPutsEveryFileInPlaceInOrder();
    void linksAreReplacedNotWrittenThrough();
    void anUncommittedBatchLeavesNothing();
    void aFolderThatRefusesFilesFailsOnlyItsFiles();
};

void DurableBatchTest::commitPutsEveryFileInPlaceInOrder() {
    QTemporaryDir dir;
    const QString a = dir.filePath("a.icb"), b = dir.filePath("b.icb");
    QFile old(a);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("oud") == 3);
    old.close();
    DurableBatch batch;
    QVERIFY(batch.add(a, "eerste a"));
    QVERIFY(batch.add(b, QByteArray(100000, 'b')));
    QVERIFY(batch.add(a, "tweede a"));  // added later: renamed in later, so it wins
    QCOMPARE(batch.size(), 3);
    QCOMPARE(Contents(a), QByteArray("oud"));  // nothing is in place before the commit
    QCOMPARE(Names(dir.path()).size(), 4);
    QCOMPARE(batch.commit(), QList<bool>({true, true, true}));
    QCOMPARE(batch.size(), 0);
    QCOMPARE(Contents(a), QByteArray("tweede a"));
    QCOMPARE(Contents(b), QByteArray(100000, 'b'));
    QCOMPARE(Names(dir.path()), QStringList({"a.icb", "b.icb"}));
    QCOMPARE(batch.commit(), QList<bool>());
}

void DurableBatchTest::linksAreReplacedNotWrittenThrough() {
    QTemporaryDir dir;
    const QString elsewhere = dir.filePath("elders.txt"), link = dir.filePath("c.icb");
    QFile target(elsewhere);
    QVERIFY(target.open(QIODevice::WriteOnly) && target.write("blijft") == 6);
    target.close();
    QVERIFY(QFile::link(elsewhere, link));
    DurableBatch batch;
    QVERIFY(batch.add(link, "nieuw"));
    QCOMPARE(batch.commit(), QList<bool>({true}));
    QVERIFY(!QFileInfo(link).isSymLink());
    QCOMPARE(Contents(link), QByteArray("nieuw"));
    QCOMPARE(Contents(elsewhere), QByteArray("blijft"));
}

void DurableBatchTest::anUncommittedBatchLeavesNothing() {
    QTemporaryDir dir;
    {
        DurableBatch batch;
        QVERIFY(batch.add(dir.filePath("d.icb"), "weg"));
        QCOMPARE(Names(dir.path()).size(), 1);
    }
    QCOMPARE(Names(dir.path()), QStringList());
}

void DurableBatchTest::aFolderThatRefusesFilesFailsOnlyItsFiles() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir("dicht"));
    const QString closed = dir.filePath("dicht");
    UnwritableFolder guard(closed);
    if (!guard.active()) QSKIP("this file system cannot refuse new files to this user");
    DurableBatch batch;
    bool noSpace = true;
    QVERIFY(!batch.add(closed + "/e.icb", "nee", &noSpace));
    QVERIFY(!noSpace);
    QVERIFY(batch.add(dir.filePath("f.icb"), "ja"));
    QCOMPARE(batch.commit(), QList<bool>({true}));
    QCOMPARE(Contents(dir.filePath("f.icb")), QByteArray("ja"));
    QCOMPARE(Names(closed), QStringList());
}

QTEST_GUILESS_MAIN(DurableBatchTest)
#include "tst_core_durablebatch.moc"
