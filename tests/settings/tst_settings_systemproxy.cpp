#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <stdexcept>

#include "settings/systemproxy.h"

using namespace kavelon;

// The system proxy as the desktop holds it: GNOME's settings through the real gsettings on
// its keyfile store, KDE's kioslaverc and the environment, all in a temporary home.
class SystemProxyTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void init();
    void cleanup() { ClearProxyVariables(); }
    void splitsServerText_data();
    void splitsServerText();
    void desktopSources_data();
    void desktopSources();
    void missingGsettingsMovesOn();
    void readsAfreshEachCall();

  private:
    static void ClearProxyVariables();
    void WriteKioslaverc(const QString& text);
    bool Gsettings(const QString& arguments);

    std::unique_ptr<QTemporaryDir> home_;
    QString gsettings_;
    QByteArray path_;
};

namespace {

// A source with fixed values, or one whose every read fails.
class FixedSource : public SystemProxySource {
  public:
    FixedSource(int enable, const QString& server, bool fails)
        : enable_(enable), server_(server.toStdString()), fails_(fails) {}
    int ProxyEnable() override { return fails_ ? throw std::runtime_error("no") : enable_; }
    std::string ProxyServer() override { return fails_ ? throw std::runtime_error("no") : server_; }

  private:
    int enable_;
    std::string server_;
    bool fails_;
};

QString Str(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

void SystemProxyTest::initTestCase() {
    qputenv("GSETTINGS_BACKEND", "keyfile");
    path_ = qgetenv("PATH");
    gsettings_ = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
}

void SystemProxyTest::init() {
    home_ = std::make_unique<QTemporaryDir>();
    QVERIFY(home_->isValid());
    qputenv("XDG_CONFIG_HOME", home_->path().toLocal8Bit());
    qputenv("PATH", path_);
    ClearProxyVariables();
}

// Every proxy variable, in whatever letter case the environment spells it.
void SystemProxyTest::ClearProxyVariables() {
    for (const QString& key : QProcessEnvironment::systemEnvironment().keys())
        if (key.toLower() == u"http_proxy" || key.toLower() == u"https_proxy")
            qunsetenv(key.toLocal8Bit());
}

void SystemProxyTest::WriteKioslaverc(const QString& text) {
    QFile file(QDir(home_->path()).filePath(QStringLiteral("kioslaverc")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text.toUtf8());
}

bool SystemProxyTest::Gsettings(const QString& arguments) {
    QProcess process;
    process.start(gsettings_, QStringList{QStringLiteral("set")} + arguments.split(u' '));
    return process.waitForFinished(30000) && process.exitCode() == 0;
}

void SystemProxyTest::splitsServerText_data() {
    QTest::addColumn<int>("enable");
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("fails");
    QTest::addColumn<int>("switchRead");
    QTest::addColumn<QString>("adres");
    QTest::addColumn<QString>("poort");
    QTest::newRow("host and port")
        << 1 << "proxy.example.nl:8080" << false << 1 << "proxy.example.nl"
        << "8080";
    QTest::newRow("switch off, server kept") << 0 << "p:8080" << false << 0 << "p"
                                             << "8080";
    QTest::newRow("trailing colon") << 7 << "proxy.example.nl:" << false << 7 << "proxy.example.nl"
                                    << "";
    QTest::newRow("protocol list") << 1 << "http=web.example.nl:80;https=secure.example.nl:443"
                                   << false << 1 << "http=web.example.nl"
                                   << "80;https=secure.example.nl:443";
    QTest::newRow("several colons, untrimmed") << 1 << " Proxy:8080:9090 " << false << 1 << " Proxy"
                                               << "8080:9090 ";
    QTest::newRow("host without port")
        << 1 << "proxy.example.nl" << false << 1 << "proxy.example.nl"
        << "";
    QTest::newRow("unreadable") << 1 << "proxy:1" << true << 0 << ""
                                << "";
}

void SystemProxyTest::splitsServerText() {
    QFETCH(int, enable);
    QFETCH(QString, server);
    QFETCH(bool, fails);
    FixedSource source(enable, server, fails);
    QTEST(GetIeProxyEnable(source), "switchRead");
    QTEST(Str(GetIeProxyAdres(source)), "adres");
    QTEST(Str(GetIeProxyPoort(source)), "poort");
}

void SystemProxyTest::desktopSources_data() {
    QTest::addColumn<QStringList>("gnome");  // arguments of "gsettings set"
    QTest::addColumn<QString>("kioslaverc");
    QTest::addColumn<QStringList>("environment");
    QTest::addColumn<QString>("server");

    const QString schema = QStringLiteral("org.gnome.system.proxy");
    const QString manual = schema + QStringLiteral(" mode manual");
    const QString kde = QStringLiteral(
        "[Proxy Settings]\nProxyType=1\nhttpsProxy=http://kde:8443\n"
        "httpProxy=http://kde-plain:80\n");
    QTest::newRow("environment, http")
        << QStringList() << QString() << QStringList{"http_proxy=http://proxy.example.nl:3128/"}
        << "proxy.example.nl:3128";
    QTest::newRow("environment, https first, user stripped")
        << QStringList() << QString()
        << QStringList{"http_proxy=http://plain:80", "HTTPS_PROXY=https://jan:ge:heim@secure:8443"}
        << "secure:8443";
    QTest::newRow("environment, mixed case, no port")
        << QStringList() << QString() << QStringList{"Http_Proxy=proxy.example.nl"}
        << "proxy.example.nl";
    QTest::newRow("nothing set") << QStringList() << QString() << QStringList() << "";
    QTest::newRow("KDE before environment")
        << QStringList() << kde << QStringList{"https_proxy=env:1"} << "kde:8443";
    QTest::newRow("KDE http, host and port apart")
        << QStringList()
        << "[Other]\nhttpsProxy=x:1\n[Proxy Settings]\nProxyType=1\nhttpsProxy=\n"
           "httpProxy=http://kde 3128\n"
        << QStringList() << "kde:3128";
    QTest::newRow("KDE not manual") << QStringList()
                                    << "[Proxy Settings]\nProxyType=0\n"
                                       "httpProxy=http://kde:1\n"
                                    << QStringList{"http_proxy=env:2"} << "env:2";
    QTest::newRow("GNOME https before KDE")
        << QStringList{manual, schema + ".https host gnome", schema + ".https port 8443",
                       schema + ".http host plain"}
        << kde << QStringList() << "gnome:8443";
    QTest::newRow("GNOME http") << QStringList{manual, schema + ".http host gnome",
                                               schema + ".http port 3128"}
                                << QString() << QStringList() << "gnome:3128";
    QTest::newRow("GNOME host without port") << QStringList{manual, schema + ".https host gnome"}
                                             << QString() << QStringList() << "gnome";
    QTest::newRow("GNOME not manual")
        << QStringList{schema + " mode auto", schema + ".https host gnome",
                       schema + ".https port 8443"}
        << QString() << QStringList{"http_proxy=env:2"} << "env:2";
}

void SystemProxyTest::desktopSources() {
    QFETCH(QStringList, gnome);
    QFETCH(QString, kioslaverc);
    QFETCH(QStringList, environment);
    QFETCH(QString, server);
    if (!gnome.isEmpty() && gsettings_.isEmpty()) QSKIP("gsettings is not installed");
    for (const QString& setting : gnome) QVERIFY2(Gsettings(setting), qPrintable(setting));
    if (!kioslaverc.isEmpty()) WriteKioslaverc(kioslaverc);
    for (const QString& assignment : environment)
        qputenv(assignment.section(u'=', 0, 0).toLocal8Bit(),
                assignment.section(u'=', 1).toLocal8Bit());

    QCOMPARE(GetIeProxyEnable(), server.isEmpty() ? 0 : 1);
    QCOMPARE(Str(GetIeProxyServer()), server);
    QCOMPARE(Str(GetIeProxyAdres()), server.section(u':', 0, 0));
    QCOMPARE(Str(GetIeProxyPoort()), server.section(u':', 1));
}

void SystemProxyTest::missingGsettingsMovesOn() {
    if (gsettings_.isEmpty()) QSKIP("gsettings is not installed");
    QVERIFY(Gsettings(QStringLiteral("org.gnome.system.proxy mode manual")));
    QVERIFY(Gsettings(QStringLiteral("org.gnome.system.proxy.http host gnome")));
    qputenv("http_proxy", "env:2");
    QCOMPARE(Str(GetIeProxyServer()), QStringLiteral("gnome:8080"));  // GNOME's default port
    qputenv("PATH", home_->path().toLocal8Bit());
    QCOMPARE(Str(GetIeProxyServer()), QStringLiteral("env:2"));
}

void SystemProxyTest::readsAfreshEachCall() {
    WriteKioslaverc(QStringLiteral("[Proxy Settings]\nProxyType=1\nhttpProxy=first:1\n"));
    QCOMPARE(Str(GetIeProxyAdres()), QStringLiteral("first"));
    WriteKioslaverc(QStringLiteral("[Proxy Settings]\nProxyType=1\nhttpProxy=second:2\n"));
    QCOMPARE(Str(GetIeProxyPoort()), QStringLiteral("2"));
    WriteKioslaverc(QStringLiteral("[Proxy Settings]\nProxyType=0\n"));
    QCOMPARE(GetIeProxyEnable(), 0);
}

QTEST_GUILESS_MAIN(SystemProxyTest)
#include "tst_settings_systemproxy.moc"
