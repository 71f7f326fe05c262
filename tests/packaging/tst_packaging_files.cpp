#include <QDirIterator>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

struct Outcome {
    int status = -1;
    QByteArray output;  // standard output
    QByteArray errors;  // standard error
};

Outcome Run(const QString& program, const QStringList& arguments,
            const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Outcome outcome;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return outcome;
    }
    outcome.output = process.readAllStandardOutput();
    outcome.errors = process.readAllStandardError();
    if (process.exitStatus() == QProcess::NormalExit) outcome.status = process.exitCode();
    return outcome;
}

QString Text(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The value of "Key=" in a desktop entry or a systemd unit.
QString Value(const QString& text, const QString& key) {
    const QRegularExpression line("^" + QRegularExpression::escape(key) + "=(.*)$",
                                  QRegularExpression::MultilineOption);
    return line.match(text).captured(1).trimmed();
}

}  // namespace

// "cmake --install" into a staging folder, as the Debian package does, and what lands there.
class InstalledFilesTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void installsOnlyTheProgramAndItsPageViewer();
    void desktopEntryValidatesAndHasItsIcon();
    void iconsHaveTheirSizes();
    void metainfoValidates();
    void manualPageRendersAndNamesInstalledFiles();
    void timerRunsTheInstalledProgramEveryQuarterHour();

  private:
    QString installed(const QString& path) const { return stage_.path() + path; }
    QString prefixed(const QString& path) const { return installed(prefix_ + "/" + path); }
    void requireTool(const QString& name);

    QTemporaryDir stage_;
    const QString prefix_ = KAVELON_INSTALL_PREFIX;
};

void InstalledFilesTest::initTestCase() {
    QVERIFY(stage_.isValid());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DESTDIR", stage_.path());
    const Outcome install = Run(KAVELON_CMAKE, {"--install", KAVELON_BUILD_DIR}, env);
    QVERIFY2(install.status == 0, install.output + install.errors);
}

void InstalledFilesTest::requireTool(const QString& name) {
    if (QStandardPaths::findExecutable(name).isEmpty())
        QSKIP(qPrintable(name + " is not installed (tools/setup.sh installs it)"));
}

void InstalledFilesTest::installsOnlyTheProgramAndItsPageViewer() {
    QStringList programs;
    QDirIterator it(stage_.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo file(it.next());
        if (file.isExecutable()) programs << file.absoluteFilePath().mid(stage_.path().size());
    }
    programs.sort();
    // No sandbox portal, NTLM helper, test or benchmark.
    QCOMPARE(programs,
             (QStringList{prefix_ + "/bin/kavelon", prefix_ + "/libexec/kavelon/kavelon-browser"}));
}

void InstalledFilesTest::desktopEntryValidatesAndHasItsIcon() {
    const QString entry = prefixed("share/applications/kavelon.desktop");
    const QString text = Text(entry);
    QVERIFY(!text.isEmpty());
    QVERIFY(QFileInfo(prefixed("bin/" + Value(text, "Exec"))).isExecutable());
    const QString icon = Value(text, "Icon");
    QVERIFY(QFileInfo::exists(prefixed("share/icons/hicolor/scalable/apps/" + icon + ".svg")));
    QVERIFY(QFileInfo::exists(prefixed("share/icons/hicolor/48x48/apps/" + icon + ".png")));

    requireTool("desktop-file-validate");
    const Outcome check = Run("desktop-file-validate", {entry});
    QVERIFY2(check.status == 0 && check.output.isEmpty(), check.output + check.errors);
}

void InstalledFilesTest::iconsHaveTheirSizes() {
    QStringList sizes;
    QDirIterator it(prefixed("share/icons/hicolor"), {"kavelon.png"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString folder = QFileInfo(path).dir().absolutePath().section('/', -2, -2);
        const QImage image(path);
        QVERIFY2(!image.isNull(), qPrintable(path));
        QCOMPARE(QString("%1x%2").arg(image.width()).arg(image.height()), folder);
        // Rounded corners: the theme draws whatever lies behind them.
        QVERIFY(image.hasAlphaChannel());
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        sizes << folder;
    }
    QCOMPARE(sizes.size(), 6);

    QFile svg(prefixed("share/icons/hicolor/scalable/apps/kavelon.svg"));
    QVERIFY(svg.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&svg);
    QVERIFY(xml.readNextStartElement());
    QCOMPARE(xml.name(), QStringLiteral("svg"));
    const QStringList box = xml.attributes().value("viewBox").toString().split(' ');
    QCOMPARE(box.size(), 4);
    QCOMPARE(box[2], box[3]);  // square
    while (!xml.atEnd()) xml.readNext();
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
}

void InstalledFilesTest::metainfoValidates() {
    const QStringList files = QDir(prefixed("share/metainfo")).entryList({"*.metainfo.xml"});
    QCOMPARE(files.size(), 1);
    const QString metainfo = prefixed("share/metainfo/" + files.first());
    const QRegularExpression launchable("<launchable type=\"desktop-id\">([^<]+)</launchable>");
    const QString desktopId = launchable.match(Text(metainfo)).captured(1);
    QVERIFY(QFileInfo::exists(prefixed("share/applications/" + desktopId)));

    requireTool("appstreamcli");
    const Outcome check = Run("appstreamcli", {"validate", "--no-net", metainfo});
    QVERIFY2(check.status == 0, check.output + check.errors);
}

void InstalledFilesTest::manualPageRendersAndNamesInstalledFiles() {
    requireTool("man");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MANWIDTH", "100");
    env.insert("MANPAGER", "cat");
    const Outcome page =
        Run("man", {"--warnings", "-l", prefixed("share/man/man1/kavelon.1")}, env);
    QVERIFY2(page.status == 0, page.errors);
    QVERIFY2(page.errors.isEmpty(), page.errors);
    const QString text = QString::fromUtf8(page.output);
    for (const char* heading :
         {"OVERZICHT", "ARGUMENTEN", "AFSLUITSTATUS", "BESTANDEN", "OMGEVING"})
        QVERIFY2(text.contains(heading), heading);
    // Every installed file the page names is there.
    const QRegularExpression path(QRegularExpression::escape(prefix_) + "/[^\\s,;:]+");
    int named = 0;
    for (const QRegularExpressionMatch& match : path.globalMatch(text)) {
        QVERIFY2(QFileInfo::exists(installed(match.captured())), qPrintable(match.captured()));
        ++named;
    }
    QVERIFY(named >= 3);
}

void InstalledFilesTest::timerRunsTheInstalledProgramEveryQuarterHour() {
    const QString units = prefixed("lib/systemd/user/");
    const QString service = Text(units + "kavelon-auto.service");
    const QStringList command = Value(service, "ExecStart").split(' ');
    QCOMPARE(command.size(), 2);
    QVERIFY2(QFileInfo(installed(command[0])).isExecutable(), qPrintable(command[0]));
    QCOMPARE(command[1], QStringLiteral("auto"));
    // A run with red lines is a run, not a failure of the unit.
    QVERIFY(Value(service, "SuccessExitStatus").split(' ').contains("1"));

    const QString timer = Text(units + "kavelon-auto.timer");
    QCOMPARE(Value(timer, "Persistent"), QStringLiteral("true"));
    requireTool("systemd-analyze");
    QProcessEnvironment utc = QProcessEnvironment::systemEnvironment();
    utc.insert("TZ", "UTC");
    const Outcome next =
        Run("systemd-analyze", {"calendar", "--iterations=3", Value(timer, "OnCalendar")}, utc);
    QVERIFY2(next.status == 0, next.errors);
    // The next elapse times come 15 minutes apart.
    QList<qint64> times;
    const QRegularExpression elapse("(?:Next elapse|Iter\\. #\\d+): \\w+ (\\S+ \\S+) UTC");
    for (const QRegularExpressionMatch& match :
         elapse.globalMatch(QString::fromUtf8(next.output))) {
        QDateTime time = QDateTime::fromString(match.captured(1), "yyyy-MM-dd HH:mm:ss");
        time.setTimeSpec(Qt::UTC);
        times << time.toSecsSinceEpoch();
    }
    QCOMPARE(times.size(), 3);
    QCOMPARE(times[1] - times[0], 900);
    QCOMPARE(times[2] - times[1], 900);
}

QTEST_GUILESS_MAIN(InstalledFilesTest)
#include "tst_packaging_files.moc"
