#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/paths.h"
#include "core/regularfile.h"
#include "core/workdirs.h"
#include "recordingsink.h"
#include "unwritable.h"

using namespace kavelon;

class WorkDirsTest : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void blankDirectoryCreatesNothing();
    void missingMainDirectoryIsNeverCreated();
    void createsTheMissingFolders();
    void unwritableMainDirectoryIsPassedOver();
    void checkBlankDirectory();
    void checkMissingMainDirectory();
    void checkCreatesSentAndConfirmationFolders();
    void checkReportsBothUncreatableFolders();
    void listsExtensionInAnyCase();
    void listsRegularFilesAndLinksInsideOnly();
    void readsRegularFilesUpToTheCap();

  private:
    void touch(const QString& path);
    std::unique_ptr<QTemporaryDir> root_;
    QString main_;  // ends with the separator
};

void WorkDirsTest::init() {
    root_ = std::make_unique<QTemporaryDir>();
    QVERIFY(root_->isValid());
    main_ = root_->path() + kPathSep;
}

void WorkDirsTest::touch(const QString& path) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

void WorkDirsTest::blankDirectoryCreatesNothing() {
    QString directory = "   ";
    CreateWorkDirs(directory);
    QCOMPARE(directory, QString("   "));
}

void WorkDirsTest::missingMainDirectoryIsNeverCreated() {
    QString directory = root_->filePath("nergens");
    CreateWorkDirs(directory);
    QCOMPARE(directory, root_->filePath("nergens") + kPathSep);
    QVERIFY(!QFileInfo::exists(root_->filePath("nergens")));
}

void WorkDirsTest::createsTheMissingFolders() {
    QVERIFY(QDir(root_->path()).mkdir("icm"));
    touch(main_ + "icm/order.icm");
    QString directory = root_->path();  // without a trailing separator
    CreateWorkDirs(directory);
    QCOMPARE(directory, main_);
    QStringList folders = QDir(root_->path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    folders.sort();
    QCOMPARE(folders, QStringList({"icb", "icm", "logfiles", "temp", "verzonden"}));
    QVERIFY(QFileInfo::exists(main_ + "icm/order.icm"));
}

void WorkDirsTest::unwritableMainDirectoryIsPassedOver() {
    QVERIFY(QDir(root_->path()).mkdir("icm"));
    UnwritableFolder guard(root_->path());
    if (!guard.active()) QSKIP("this file system cannot refuse new folders to this user");
    QString directory = main_;
    CreateWorkDirs(directory);  // reports nothing and does not stop at the first failure
    QCOMPARE(QDir(root_->path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
             QStringList({"icm"}));
}

void WorkDirsTest::checkBlankDirectory() {
    RecordingSink sink;
    QVERIFY(!InlogControle("", sink));
    QCOMPARE(sink.texts(),
             QStringList({"Om ICM-oders te versturen moet u in het instellingen scherm "
                          "uw ICM directory opgegeven."}));
    QCOMPARE(sink.lines[0].colour, kRood);
}

void WorkDirsTest::checkMissingMainDirectory() {
    RecordingSink sink;
    const QString missing = main_ + "nergens" + kPathSep;
    QVERIFY(!InlogControle(missing, sink));
    QCOMPARE(sink.texts(),
             QStringList({"Op uw systeem is de directory '" + missing + "icm' niet aanwezig."}));
    QVERIFY(!QFileInfo::exists(missing));
}

void WorkDirsTest::checkCreatesSentAndConfirmationFolders() {
    QVERIFY(QDir(root_->path()).mkdir("icm"));
    RecordingSink sink;
    QVERIFY(InlogControle(main_, sink));
    QVERIFY(sink.lines.isEmpty());
    QVERIFY(QFileInfo(main_ + "verzonden").isDir());
    QVERIFY(QFileInfo(main_ + "icb").isDir());
}

void WorkDirsTest::checkReportsBothUncreatableFolders() {
    QVERIFY(QDir(root_->path()).mkdir("icm"));
    UnwritableFolder guard(root_->path());
    if (!guard.active()) QSKIP("this file system cannot refuse new folders to this user");
    RecordingSink sink;
    QVERIFY(!InlogControle(main_, sink));
    QCOMPARE(sink.texts(), QStringList({"Voor het verzenden van ICM-berichten moet de directory '" +
                                            main_ + "verzonden' aanwezig zijn.",
                                        "Voor het verzenden van ICM-berichten moet de directory '" +
                                            main_ + "icb' aanwezig zijn."}));
    QCOMPARE(sink.lines[1].colour, kRood);
}

void WorkDirsTest::listsExtensionInAnyCase() {
    QVERIFY(QDir(root_->path()).mkdir("icm"));
    for (const char* name : {"a.icm", "B.ICM", "c.Icm", "d.icb", "e.icm.bak", "icm"})
        touch(main_ + "icm/" + name);
    QVERIFY(QDir(main_ + "icm").mkdir("map.icm"));
    QStringList names = ListMessageFiles(main_ + "icm", "icm");
    names.sort();
    QCOMPARE(names, QStringList({"B.ICM", "a.icm", "c.Icm"}));
}

// Hidden orders and links to files inside the main directory are orders; pipes, links that
// lead outside or nowhere, and names the system cannot give back are not.
void WorkDirsTest::listsRegularFilesAndLinksInsideOnly() {
    QVERIFY(QDir(root_->path()).mkdir("icm"));
    const QString icm = main_ + "icm/";
    const auto link = [](const QString& target, const QString& name) {
        return symlink(QFile::encodeName(target).constData(),
                       QFile::encodeName(name).constData()) == 0;
    };
    touch(icm + ".verborgen.icm");
    touch(main_ + "elders.icm");
    QTemporaryDir outside;
    touch(outside.filePath("buiten.icm"));
    QVERIFY(link(main_ + "elders.icm", icm + "binnen.icm"));
    QVERIFY(link(outside.filePath("buiten.icm"), icm + "buiten.icm"));
    QVERIFY(link(icm + "nergens", icm + "nergens.icm"));
    QVERIFY(mkfifo(QFile::encodeName(icm + "pijp.icm").constData(), 0600) == 0);
    const QByteArray undecodable = QFile::encodeName(icm) + "caf\xff.icm";
    const int fd = ::open(undecodable.constData(), O_WRONLY | O_CREAT, 0600);
    QVERIFY(fd >= 0);
    ::close(fd);
    QCOMPARE(ListMessageFiles(main_ + "icm", "icm"), QStringList({".verborgen.icm", "binnen.icm"}));
    QMap<QString, EntryKind> kinds;
    for (const FolderEntry& entry : ScanMessageFolder(main_ + "icm", "icm"))
        kinds.insert(entry.name.startsWith("caf") ? "caf" : entry.name, entry.kind);
    QCOMPARE(kinds.value("buiten.icm"), EntryKind::LinkOutside);
    QCOMPARE(kinds.value("nergens.icm"), EntryKind::NotRegular);
    QCOMPARE(kinds.value("pijp.icm"), EntryKind::NotRegular);
    QCOMPARE(kinds.value("caf"), EntryKind::UndecodableName);
    QVERIFY(::unlink(undecodable.constData()) == 0);
}

// Reading never waits on a pipe and stops at the cap.
void WorkDirsTest::readsRegularFilesUpToTheCap() {
    const QString pipe = main_ + "pijp";
    QVERIFY(mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
    QCOMPARE(ReadRegularFile(pipe).status, ReadStatus::NotRegular);
    QCOMPARE(ReadRegularFile("/dev/zero").status, ReadStatus::NotRegular);
    touch(main_ + "klein");
    QFile file(main_ + "klein");
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("12345") == 5);
    file.close();
    QCOMPARE(ReadRegularFile(main_ + "klein", 4).status, ReadStatus::TooLarge);
    const FileRead read = ReadRegularFile(main_ + "klein", 5);
    QCOMPARE(read.status, ReadStatus::Ok);
    QCOMPARE(read.bytes, QByteArray("12345"));
    QCOMPARE(read.stamp, StampOf(main_ + "klein"));
    QCOMPARE(ReadRegularFile(main_ + "weg").status, ReadStatus::CannotOpen);
}

QTEST_GUILESS_MAIN(WorkDirsTest)
#include "tst_core_workdirs.moc"
