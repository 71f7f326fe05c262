#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include "core/settings.h"

using namespace kavelon;

class SettingsTest : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();
    void emptyStoreGivesDefaults();
    void writtenSettingsReadBack();
    void storedForms();
    void storedBooleans_data();
    void storedBooleans();
    void fileIsOwnerOnly();

  private:
    void writeRaw(const QString& key, const QString& value);
    std::unique_ptr<QTemporaryDir> home_;
};

void SettingsTest::init() {
    home_ = std::make_unique<QTemporaryDir>();
    QVERIFY(home_->isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home_->path());
}

void SettingsTest::cleanup() {
    home_.reset();
}

void SettingsTest::writeRaw(const QString& key, const QString& value) {
    SettingsStore().write("Local", key, value);
}

void SettingsTest::emptyStoreGivesDefaults() {
    const Settings s = ReadSettings(SettingsStore());
    QCOMPARE(s.Directory, QString());
    QCOMPARE(s.IcmDirect, false);
    QCOMPARE(s.OnlineCheck, true);
    QCOMPARE(s.ProxyUsed, false);
    QCOMPARE(s.ProxyExplorer, false);
    QCOMPARE(s.ProxyPort, QString());
    QCOMPARE(s.ProxyNtlm, false);
}

void SettingsTest::writtenSettingsReadBack() {
    Settings s;
    s.Directory = "  /data/rilvost ";
    s.IcmDirect = true;
    s.OnlineCheck = false;
    s.ProxyUsed = true;
    s.ProxyExplorer = true;
    s.ProxyAdres = "proxy.example.nl";
    s.ProxyPort = "geen poort";
    s.ProxyUser = "Jan, de Vries";
    s.ProxyToegang = "p=w;rd#1";
    s.ProxyNtlm = true;
    SettingsStore store;
    WriteSettings(store, s);

    const Settings back = ReadSettings(SettingsStore());
    QCOMPARE(back.Directory, s.Directory);
    QCOMPARE(back.IcmDirect, true);
    QCOMPARE(back.OnlineCheck, false);
    QCOMPARE(back.ProxyUsed, true);
    QCOMPARE(back.ProxyExplorer, true);
    QCOMPARE(back.ProxyAdres, s.ProxyAdres);
    QCOMPARE(back.ProxyPort, s.ProxyPort);
    QCOMPARE(back.ProxyUser, s.ProxyUser);
    QCOMPARE(back.ProxyToegang, s.ProxyToegang);
    QCOMPARE(back.ProxyNtlm, true);
}

void SettingsTest::storedForms() {
    Settings s;
    s.IcmDirect = true;
    SettingsStore store;
    WriteSettings(store, s);
    QVERIFY2(store.fileName().endsWith("/Kavelon/Kavelon.conf"), qPrintable(store.fileName()));
    QCOMPARE(store.read("Local", "IcmDirect", "x"), QString("1"));
    QCOMPARE(store.read("Local", "OnlineCheck", "x"), QString("1"));
    QCOMPARE(store.read("Local", "ProxyUsed", "x"), QString("0"));
    QCOMPARE(store.read("Local", "Onbekend", "standaard"), QString("standaard"));
    QFile file(store.fileName());
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("[Local]"));
}

void SettingsTest::storedBooleans_data() {
    QTest::addColumn<QString>("stored");
    QTest::addColumn<bool>("icmDirect");
    QTest::addColumn<bool>("onlineCheck");
    QTest::newRow("one") << "1" << true << true;
    QTest::newRow("minus one") << "-1" << true << true;
    QTest::newRow("zero") << "0" << false << false;
    QTest::newRow("not a number gives the default") << "ja" << false << true;
    QTest::newRow("empty gives the default") << "" << false << true;
    QTest::newRow("written as a word") << "True" << true << true;
}

void SettingsTest::storedBooleans() {
    QFETCH(QString, stored);
    QFETCH(bool, icmDirect);
    QFETCH(bool, onlineCheck);
    writeRaw("IcmDirect", stored);
    writeRaw("OnlineCheck", stored);
    const Settings s = ReadSettings(SettingsStore());
    QCOMPARE(s.IcmDirect, icmDirect);
    QCOMPARE(s.OnlineCheck, onlineCheck);
}

void SettingsTest::fileIsOwnerOnly() {
    Settings s;
    s.ProxyToegang = "geheim";
    SettingsStore store;
    WriteSettings(store, s);
    const auto permissions = QFile::permissions(store.fileName());
    QCOMPARE(permissions & ~(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser),
             QFile::ReadOwner | QFile::WriteOwner);

    // A file that others could read is narrowed at the next write.
    QFile::setPermissions(store.fileName(), permissions | QFile::ReadOther | QFile::ReadGroup);
    WriteSettings(store, s);
    QVERIFY(!(QFile::permissions(store.fileName()) & (QFile::ReadOther | QFile::ReadGroup)));
}

QTEST_GUILESS_MAIN(SettingsTest)
#include "tst_core_settings.moc"
