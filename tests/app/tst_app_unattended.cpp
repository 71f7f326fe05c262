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
    void onlyTheOneWordAutoRunsUnattended_data();
    void onlyTheOneWordAutoRunsUnattended();
    void missingMainDirectoryCannotWriteItsLog();
    void failedFolderCheckEndsWithRedLines();

  private:
    int run(QByteArray* standardError = nullptr, const QStringList& arguments = {"auto"});
    void configure(const QString& directory);
    QStringList logs() const;
    QByteArray log() const;

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

int UnattendedTest::run(QByteArray* standardError, const QStringList& arguments) {
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
    kavelon.setWorkingDirectory(home_->path());
    kavelon.start(program, arguments);
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

QByteArray UnattendedTest::log() const {
    const QStringList found = logs();
    if (found.size() != 1) return QByteArray();
    QFile file(main_ + "logfiles/" + found.first());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void UnattendedTest::emptyOrderFolderEndsWithoutRedLines() {
    configure(main_);
    QCOMPARE(run(), 0);
    QCOMPARE(logs().size(), 1);
    QVERIFY2(log().contains("\r\nGeen ICM-berichten verzonden\r\n"), log().constData());
    QVERIFY(QFileInfo(main_ + "icm").isDir());
}

void UnattendedTest::onlyTheOneWordAutoRunsUnattended_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("unattended");
    QTest::newRow("upper case") << QStringList{"AUTO"} << true;
    QTest::newRow("a further word") << QStringList{"auto", "nu"} << false;
    QTest::newRow("an empty further argument") << QStringList{"auto", ""} << false;
    QTest::newRow("a space before") << QStringList{" auto"} << false;
}

// Any other start opens the window, which needs a display that this run lacks: the program
// then ends without having sent or logged anything.
void UnattendedTest::onlyTheOneWordAutoRunsUnattended() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, unattended);
    QVERIFY(QDir(main_).mkdir("icm"));
    QFile order(main_ + "icm/order.icm");
    QVERIFY(order.open(QIODevice::WriteOnly));
    order.write("ICM\r\nRef\r\n\r\n\r\n100200\r\n");
    order.close();
    configure(main_);
    const int status = run(nullptr, arguments);
    if (unattended) {
        QCOMPARE(status, 1);  // the only portal it may reach does not answer
        QVERIFY(log().contains("order.icm"));
    } else {
        QVERIFY2(status < 0, qPrintable(QString::number(status)));
        QVERIFY(logs().isEmpty());
    }
    QVERIFY(QFileInfo::exists(main_ + "icm/order.icm"));
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
