#include <QtTest>

#include "core/settings.h"
#include "portal/portalclient.h"
#include "sandboxportal.h"
#include "squidproxy.h"

using namespace kavelon;

namespace {

// Settings that send every request through the proxy on 127.0.0.1 at that port.
Settings ThroughProxy(const QString& port, const QString& user = {}, const QString& password = {},
                      bool ntlm = false) {
    Settings settings;
    settings.ProxyUsed = true;
    settings.ProxyNtlm = ntlm;
    settings.ProxyAdres = "127.0.0.1";
    settings.ProxyPort = port;
    settings.ProxyUser = user;
    settings.ProxyToegang = password;
    return settings;
}

}  // namespace

// The portal client through a real proxy (Debian's squid) to the sandbox portal.
class ProxyTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void basicLogin_data();
    void basicLogin();
    void ntlmLogin();
    void refusedNtlmHandshakeEndsSoon();
    void switchingTheProxyOffTakesEffectAtOnce();
    void badPortSendsNothing();

  private:
    PostResult fetch(Settings& settings);
    std::unique_ptr<SandboxPortal> portal_;
};

void ProxyTest::initTestCase() {
    if (SquidProxy::Program().isEmpty())
        QSKIP("squid is not installed (tools/setup.sh installs it)");
    portal_ = std::make_unique<SandboxPortal>(KAVELON_PORTAL_PROGRAM);
    QVERIFY(portal_->started());
    qputenv("KAVELON_PORTAL_URL", portal_->url().toUtf8());
    qputenv("KAVELON_CA_FILE", portal_->caFile().toUtf8());
}

PostResult ProxyTest::fetch(Settings& settings) {
    PortalClient client(settings);
    client.setTimeouts(10000, 20000);
    return client.post("/icbpost.aspx", "debnr=100-200&dept=demo&password=demo");
}

void ProxyTest::basicLogin_data() {
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("passes");
    QTest::newRow("right password") << "ge&heim+1" << true;
    QTest::newRow("wrong password") << "fout" << false;
}

void ProxyTest::basicLogin() {
    QFETCH(QString, password);
    QFETCH(bool, passes);
    SquidProxy squid(SquidProxy::Login::Basic, "klant", "ge&heim+1");
    QVERIFY(squid.started());
    Settings settings = ThroughProxy(QString::number(squid.port()), "klant", password);
    const qsizetype before = portal_->requests().size();
    const PostResult result = fetch(settings);
    QCOMPARE(result.ok, passes);
    QCOMPARE(portal_->requests().size(), before + (passes ? 1 : 0));
    if (passes) {
        QVERIFY(result.answer.contains("<IcmStatus>Correct</IcmStatus>"));
        QTRY_VERIFY(squid.accessLog().contains("CONNECT 127.0.0.1"));
    }
}

void ProxyTest::ntlmLogin() {
    SquidProxy squid(SquidProxy::Login::Ntlm, QString(), QString(), KAVELON_NTLM_HELPER);
    QVERIFY(squid.started());
    Settings settings =
        ThroughProxy(QString::number(squid.port()), "KANTOOR\\klant", "wachtwoord", true);
    const PostResult result = fetch(settings);
    QVERIFY2(result.ok, qPrintable(result.error));
    QTRY_VERIFY(squid.accessLog().contains("CONNECT 127.0.0.1"));
}

// Squid's own fake helper sends a challenge Qt cannot use; Qt would try again without end.
void ProxyTest::refusedNtlmHandshakeEndsSoon() {
    SquidProxy squid(SquidProxy::Login::Ntlm, QString(), QString(),
                     "/usr/lib/squid/ntlm_fake_auth");
    QVERIFY(squid.started());
    Settings settings = ThroughProxy(QString::number(squid.port()), "klant", "wachtwoord", true);
    const PostResult result = fetch(settings);  // the time-outs of this test are 10 s and 20 s
    QVERIFY(!result.ok);
    QVERIFY2(result.error.contains("did not complete its login"), qPrintable(result.error));
}

void ProxyTest::switchingTheProxyOffTakesEffectAtOnce() {
    Settings settings = ThroughProxy(QString());
    {
        SquidProxy squid(SquidProxy::Login::Basic, "klant", "geheim");
        QVERIFY(squid.started());
        settings.ProxyPort = QString::number(squid.port());
    }  // the proxy is gone
    PortalClient client(settings);
    client.setTimeouts(10000, 20000);
    QVERIFY(!client.post("/icbpost.aspx", "debnr=100-200&dept=demo&password=demo").ok);
    settings.ProxyUsed = false;  // the same client goes direct at its next request
    QVERIFY(client.post("/icbpost.aspx", "debnr=100-200&dept=demo&password=demo").ok);
}

void ProxyTest::badPortSendsNothing() {
    Settings settings = ThroughProxy(QString());
    for (const char* port : {"", "poort", "70000"}) {
        settings.ProxyPort = port;
        const qsizetype before = portal_->requests().size();
        QVERIFY(!fetch(settings).ok);
        QCOMPARE(portal_->requests().size(), before);
    }
}

QTEST_GUILESS_MAIN(ProxyTest)
#include "tst_portal_proxy.moc"
