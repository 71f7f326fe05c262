#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include "core/paths.h"
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

QTEST_GUILESS_MAIN(WorkDirsTest)
#include "tst_core_workdirs.moc"
