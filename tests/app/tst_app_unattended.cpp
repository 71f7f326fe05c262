#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "core/paths.h"
#include "unwritable.h"

// Runs the real program as a scheduler would: "kavelon auto" without any display.
class UnattendedTest : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void emptyOrderFolderEndsWithoutRedLines();
    void missingMainDirectoryCannotWriteItsLog();
    void failedFolderCheckEndsWithRedLines();

  private:
    int run(QByteArray* standardError = nullptr);
    void configure(const QString& directory);
    QStringList logs() const;

    std::unique_ptr<QTemporaryDir> home_;
    QString main_;
};

void UnattendedTest::init() {
    home_ = std::make_unique<QTemporaryDir>();
    QVERIFY(home_->isValid());
    main_ = home_->filePath("rilvost") + kavelon::kPathSep;
    QVERIFY(QDir().mkpath(main_));
}

void UnattendedTest::configure(const QString& directory) {
    QSettings settings(home_->filePath("config/Kavelon/Kavelon.conf"), QSettings::IniFormat);
    settings.setValue("Local/Directory", directory);
    settings.setValue("Local/OnlineCheck", "0");
}

int UnattendedTest::run(QByteArray* standardError) {
    QProcess kavelon;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
    env.insert("HOME", home_->path());
    env.insert("XDG_CONFIG_HOME", home_->filePath("config"));
    env.insert("XDG_DATA_HOME", home_->filePath("data"));
    env.insert("KAVELON_PORTAL_URL", "https://127.0.0.1:1");  // never any portal but this machine
    kavelon.setProcessEnvironment(env);
    // A copy of the program in a folder of its own starts with an account file of its own.
    const QString program = home_->filePath("program/kavelon");
    if (!QFileInfo::exists(program) &&
        !(QDir().mkpath(home_->filePath("program")) && QFile::copy(KAVELON_BINARY, program)))
        return -3;
    kavelon.start(program, {"auto"});
    if (!kavelon.waitForFinished(120000)) {
        kavelon.kill();
        return -1;
    }
    if (standardError) *standardError = kavelon.readAllStandardError();
    return kavelon.exitStatus() == QProcess::NormalExit ? kavelon.exitCode() : -2;
}

QStringList UnattendedTest::logs() const {
    return QDir(main_ + "logfiles").entryList({"Log*.txt"}, QDir::Files);
}

void UnattendedTest::emptyOrderFolderEndsWithoutRedLines() {
    configure(main_);
    QCOMPARE(run(), 0);
    QCOMPARE(logs().size(), 1);
    QVERIFY(QFileInfo(main_ + "icm").isDir());
}

void UnattendedTest::missingMainDirectoryCannotWriteItsLog() {
    configure(home_->filePath("nergens"));
    QByteArray standardError;
    QCOMPARE(run(&standardError), 2);
    // The warning a person would have seen goes to standard error instead of waiting.
    QVERIFY2(standardError.contains("Deze directory is incorrect"), standardError.constData());
    QVERIFY(!QFileInfo::exists(home_->filePath("nergens")));
}

void UnattendedTest::failedFolderCheckEndsWithRedLines() {
    QVERIFY(QDir(main_).mkdir("logfiles"));
    configure(main_);
    UnwritableFolder guard(home_->filePath("rilvost"));
    if (!guard.active()) QSKIP("this file system cannot refuse new folders to this user");
    QCOMPARE(run(), 1);
    QCOMPARE(logs().size(), 1);
    QFile log(main_ + "logfiles/" + logs().first());
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().contains("icm' niet aanwezig.\r\n\r\n\r\n"));
}

QTEST_GUILESS_MAIN(UnattendedTest)
#include "tst_app_unattended.moc"
