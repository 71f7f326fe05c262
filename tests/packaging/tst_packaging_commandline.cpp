#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// "kavelon --version" and "kavelon --help", as a user types them.
class CommandLineTest : public QObject {
    Q_OBJECT
  private slots:
    void answersWithoutStarting_data();
    void answersWithoutStarting();
};

void CommandLineTest::answersWithoutStarting_data() {
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("expected");
    QTest::newRow("version") << "--version" << QString("Kavelon %1\n").arg(KAVELON_VERSION_TEXT);
    QTest::newRow("help") << "--help"
                          << "Gebruik: kavelon [auto]\n";
}

void CommandLineTest::answersWithoutStarting() {
    QFETCH(QString, argument);
    QFETCH(QString, expected);
    QTemporaryDir root;
    QVERIFY(root.isValid());
    // A private copy of the program: an account file would appear beside it.
    const QString program = root.filePath("program/kavelon");
    QVERIFY(QDir().mkpath(root.filePath("program")) && QFile::copy(KAVELON_BINARY, program));
    QVERIFY(QDir().mkpath(root.filePath("home")));

    QProcess kavelon;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Without a display a window could not start: the program would end with a failure.
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
    env.insert("HOME", root.filePath("home"));
    env.insert("XDG_CONFIG_HOME", root.filePath("home/config"));
    env.insert("XDG_DATA_HOME", root.filePath("home/data"));
    env.insert("KAVELON_PORTAL_URL", "https://127.0.0.1:1");
    kavelon.setProcessEnvironment(env);
    kavelon.start(program, {argument});
    QVERIFY(kavelon.waitForFinished(60000));
    QCOMPARE(kavelon.exitStatus(), QProcess::NormalExit);
    QCOMPARE(kavelon.exitCode(), 0);
    const QString output = QString::fromUtf8(kavelon.readAllStandardOutput());
    QVERIFY2(output.startsWith(expected), qPrintable(output));
    QCOMPARE(kavelon.readAllStandardError(), QByteArray());
    // No settings and no account file were made.
    QCOMPARE(QDir(root.filePath("program")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{"kavelon"});
    QVERIFY(QDir(root.filePath("home")).isEmpty());
}

QTEST_GUILESS_MAIN(CommandLineTest)
#include "tst_packaging_commandline.moc"
