#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

#include "accounts/accountstore.h"
#include "core/browser.h"
#include "messagefiles.h"
#include "sandboxportal.h"

using namespace kavelon;

namespace {

const QString kProgram = QStringLiteral(KAVELON_INSTALL_BINDIR "/kavelon");
// Where a program that took itself for not installed would put its account file.
const QString kBesideProgram = QStringLiteral(KAVELON_INSTALL_BINDIR "/Kavelon.kvd");

struct Outcome {
    int status = -1;
    QByteArray output;  // standard output and standard error
};

Outcome Run(const QString& program, const QStringList& arguments,
            const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    Outcome outcome;
    if (!process.waitForFinished(300000)) {
        process.kill();
        process.waitForFinished();
    } else if (process.exitStatus() == QProcess::NormalExit) {
        outcome.status = process.exitCode();
    }
    outcome.output = process.readAll();
    return outcome;
}

Outcome PackageManager(const QString& program, const QStringList& arguments) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DEBIAN_FRONTEND", "noninteractive");
    return Run(program, QStringList{"-y", "-q", "-o", "DPkg::Lock::Timeout=120"} + arguments, env);
}

// True while apt or dpkg holds the package database's lock.
bool PackageDatabaseLocked() {
    for (const char* path : {"/var/lib/dpkg/lock-frontend", "/var/lib/dpkg/lock"}) {
        const int fd = ::open(path, O_RDWR | O_CLOEXEC);
        if (fd < 0) continue;
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        const bool held = ::fcntl(fd, F_GETLK, &lock) == 0 && lock.l_type != F_UNLCK;
        ::close(fd);
        if (held) return true;
    }
    return false;
}

QSet<QString> InstalledPackages() {
    QSet<QString> packages;
    const Outcome list = Run("dpkg-query", {"-W", "-f", "${db:Status-Abbrev}${binary:Package}\\n"});
    for (const QByteArray& line : list.output.split('\n'))
        if (line.startsWith("ii ")) packages.insert(QString::fromUtf8(line.mid(3)));
    return packages;
}

bool KavelonInstalled() {
    return InstalledPackages().contains("kavelon") || QFileInfo::exists(kProgram);
}

}  // namespace

// The Debian package built from this build folder, installed on this machine, run unattended
// against the sandbox portal with a private home, and removed again.
class DebianPackageTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void packageNamesItsDependencies();
    void installedProgramRunsUnattended();
    void removalLeavesNothingBehind();
    void cleanupTestCase();

  private:
    void removePackage();

    QTemporaryDir work_;
    QString package_;
    QSet<QString> packagesBefore_;
    QStringList packageFiles_;
    bool installed_ = false;
};

void DebianPackageTest::initTestCase() {
    if (geteuid() != 0) QSKIP("installing a package takes root");
    for (const char* tool : {"apt-get", "dpkg", "dpkg-query", "dpkg-deb", "dpkg-shlibdeps"})
        if (QStandardPaths::findExecutable(tool).isEmpty()) QSKIP("no Debian package tools here");
    if (PackageDatabaseLocked()) QSKIP("apt or dpkg is busy; the package database is locked");
    // A Kavelon the machine already has stays as it is.
    if (KavelonInstalled() || QFileInfo::exists(kBesideProgram))
        QSKIP("Kavelon is installed on this machine already");
    QVERIFY(work_.isValid());
    packagesBefore_ = InstalledPackages();
}

void DebianPackageTest::packageNamesItsDependencies() {
    const Outcome build = Run(KAVELON_CPACK, {"--config", KAVELON_BUILD_DIR "/CPackConfig.cmake",
                                              "-G", "DEB", "-B", work_.filePath("package")});
    QVERIFY2(build.status == 0, build.output);
    const QStringList debs = QDir(work_.filePath("package")).entryList({"*.deb"}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    package_ = work_.filePath("package/" + debs.first());

    const Outcome fields = Run("dpkg-deb", {"-f", package_, "Package", "Version", "Depends"});
    QVERIFY2(fields.status == 0, fields.output);
    QVERIFY2(fields.output.contains("Package: kavelon\n"), fields.output);
    QVERIFY2(fields.output.contains("Version: " KAVELON_VERSION_TEXT "\n"), fields.output);
    // The font of the windows and the SQLite driver, plus what the library scan found.
    for (const char* dependency :
         {"fonts-liberation2", "libqt6sql6-sqlite", "libqt6widgets6", "libqt6webenginewidgets6"})
        QVERIFY2(fields.output.contains(dependency), dependency);
}

void DebianPackageTest::installedProgramRunsUnattended() {
    QVERIFY(!package_.isEmpty());
    const Outcome install =
        PackageManager("apt-get", {"install", "--no-install-recommends", package_});
    installed_ = true;
    QVERIFY2(install.status == 0, install.output);
    packageFiles_ = QString::fromUtf8(Run("dpkg", {"-L", "kavelon"}).output).split('\n');
    QVERIFY(QFileInfo(kProgram).isExecutable());
    QCOMPARE(CompanionBrowser::FindProgram(),
             QStringLiteral(KAVELON_INSTALL_HELPERDIR "/kavelon-browser"));
    QCOMPARE(Run(kProgram, {"--version"}).output, QByteArray("Kavelon " KAVELON_VERSION_TEXT "\n"));
    if (!QStandardPaths::findExecutable("systemd-analyze").isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", work_.path());
        const QStringList units = packageFiles_.filter(QRegularExpression("/systemd/user/.+\\."));
        QCOMPARE(units.size(), 2);
        const Outcome verify = Run("systemd-analyze", QStringList{"--user", "verify"} + units, env);
        QVERIFY2(verify.status == 0 && verify.output.isEmpty(), verify.output);
    }

    SandboxPortal portal(KAVELON_PORTAL_PROGRAM);
    QVERIFY2(portal.started(), "the sandbox portal did not start");
    const QString main = work_.filePath("home/rilvost/");
    QVERIFY(QDir().mkpath(main + "icm"));
    QSettings settings(work_.filePath("home/config/Kavelon/Kavelon.conf"), QSettings::IniFormat);
    settings.setValue("Local/Directory", main);
    settings.setValue("Local/OnlineCheck", "0");
    settings.sync();
    QStringList order = OrderLines("Week 49", "100200");
    order[18] = "1";
    order << "1"
          << "ART-1"
          << "Kraan"
          << "12.50";
    QVERIFY(WriteMessageFile(main + "icm/bestelling.icm", order));

    // The first start makes the account file in the home's data folder, with no account yet.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "http_proxy",
                             "https_proxy", "XDG_CONFIG_DIRS", "XDG_DATA_DIRS"})
        env.remove(name);
    env.insert("HOME", work_.filePath("home"));
    env.insert("XDG_CONFIG_HOME", work_.filePath("home/config"));
    env.insert("XDG_DATA_HOME", work_.filePath("home/data"));
    env.insert("XDG_RUNTIME_DIR", work_.path());
    portal.addTo(env);
    const Outcome unknownCustomer = Run(kProgram, {"auto"}, env);
    QVERIFY2(unknownCustomer.status == 1, unknownCustomer.output);
    const QString accounts = work_.filePath("home/data/Kavelon/Kavelon/Kavelon.kvd");
    QVERIFY(QFileInfo::exists(accounts));
    QVERIFY(!QFileInfo::exists(kBesideProgram));
    QVERIFY(QFileInfo::exists(main + "icm/bestelling.icm"));

    {
        AccountStore store;
        QString error;
        Debiteur demo{0, "100-200", "demo", "demo"};
        QVERIFY2(store.open(accounts, error) && store.addNew(demo, error), qPrintable(error));
    }
    const Outcome sent = Run(kProgram, {"auto"}, env);
    QVERIFY2(sent.status == 0, sent.output);
    QVERIFY(QFileInfo::exists(main + "verzonden/bestelling.icm"));
    QVERIFY(!QFileInfo::exists(main + "icm/bestelling.icm"));
    QVERIFY(!QDir(main + "logfiles").entryList({"Log*.txt"}).isEmpty());
}

void DebianPackageTest::removalLeavesNothingBehind() {
    QVERIFY(installed_);
    removePackage();
    QVERIFY(!KavelonInstalled());
    for (const QString& path : packageFiles_) {
        const QFileInfo file(path);
        if (!path.isEmpty() && !file.isDir()) QVERIFY2(!file.exists(), qPrintable(path));
    }
    QVERIFY(!QFileInfo::exists(KAVELON_INSTALL_HELPERDIR));
    QCOMPARE(InstalledPackages(), packagesBefore_);
}

void DebianPackageTest::cleanupTestCase() {
    if (installed_) removePackage();
    // The machine had none before.
    if (!packagesBefore_.isEmpty()) QFile::remove(kBesideProgram);
}

// Removes the package and whatever its installation pulled in.
void DebianPackageTest::removePackage() {
    installed_ = false;
    if (InstalledPackages().contains("kavelon")) {
        const Outcome removal = PackageManager("apt-get", {"remove", "kavelon"});
        if (removal.status != 0) qWarning("%s", removal.output.constData());
    }
    const QSet<QString> pulledIn = InstalledPackages() - packagesBefore_;
    if (!pulledIn.isEmpty()) PackageManager("apt-get", QStringList{"purge"} + pulledIn.values());
}

QTEST_GUILESS_MAIN(DebianPackageTest)
#include "tst_packaging_deb.moc"
