// The sandbox portal as a program: orders, confirmations, the request record and faults.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QtTest>

#include "core/codec.h"
#include "core/textutil.h"

using namespace kavelon;

namespace {

struct Answer {
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QList<QSslError> sslErrors;
    QString text;
};

// An order of the demo account 100-200 with two order lines, CR LF after every line.
QString OrderText() {
    QStringList lines(19);
    lines[0] = QStringLiteral("ICM");
    lines[1] = QStringLiteral("Proef caf\u00e9");
    lines[4] = QStringLiteral("100200");
    lines[14] = QStringLiteral("morgen");
    lines[18] = QStringLiteral("2");
    lines << "3"
          << "A100"
          << "Kraan"
          << "12.50"
          << "1"
          << "B200"
          << "Buis"
          << "4";
    return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

QByteArray OrderBody(const QString& password) {
    return "customerid=100-200&username=demo&password=" + password.toLatin1() +
           "&file=proefxaxorder.icm&icm=" + UrlEncode(OrderText()).value().toLatin1();
}

}  // namespace

class TstToolsPortal : public QObject {
    Q_OBJECT

  private:
    Answer post(const QString& path, const QByteArray& body, const QByteArray& fault = {});
    QList<QJsonObject> records() const;
    void startPortal();

    QTemporaryDir state_;
    QProcess portal_;
    QUrl url_;
    QSslConfiguration ssl_;

  private slots:
    void initTestCase();
    void orderCycle();
    void recordHoldsExactBody();
    void http500Fault();
    void wrongHostFailsVerification();
    void stateSurvivesRestart();
    void cleanupTestCase();
};

Answer TstToolsPortal::post(const QString& path, const QByteArray& body, const QByteArray& fault) {
    QNetworkAccessManager nam;  // a fresh one: no connection or session outlives a test
    nam.setProxy(QNetworkProxy::NoProxy);
    QUrl url = url_;
    url.setPath(path);
    QNetworkRequest request(url);
    request.setSslConfiguration(ssl_);
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
    if (!fault.isEmpty()) request.setRawHeader("X-Kavelon-Fault", fault);
    QNetworkReply* reply = nam.post(request, body);
    Answer answer;
    connect(reply, &QNetworkReply::sslErrors, this,
            [&answer](const QList<QSslError>& errors) { answer.sslErrors = errors; });
    QSignalSpy finished(reply, &QNetworkReply::finished);
    if (!reply->isFinished()) finished.wait(30000);
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.error = reply->error();
    answer.text = DecodeCp1252(reply->readAll());
    delete reply;
    return answer;
}

QList<QJsonObject> TstToolsPortal::records() const {
    QFile log(state_.filePath(QStringLiteral("requests.log")));
    QList<QJsonObject> list;
    if (!log.open(QIODevice::ReadOnly)) return list;
    for (const QByteArray& line : log.readAll().split('\n'))
        if (!line.isEmpty()) list.append(QJsonDocument::fromJson(line).object());
    return list;
}

void TstToolsPortal::initTestCase() {
    QVERIFY(state_.isValid());
    startPortal();
}

void TstToolsPortal::startPortal() {
    portal_.start(QStringLiteral(KAVELON_PORTAL_PROGRAM),
                  {"--port", "0", "--state", state_.path(), "--idle-exit-ms", "120000"});
    QVERIFY(portal_.waitForStarted());
    QByteArray out;
    const auto readVariables = [&] {
        out += portal_.readAllStandardOutput();
        return out.count('\n') >= 3;
    };
    QTRY_VERIFY_WITH_TIMEOUT(readVariables(), 60000);
    QMap<QString, QString> vars;
    for (const QByteArray& line : out.split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0)
            vars.insert(QString::fromUtf8(line.left(eq)), QString::fromUtf8(line.mid(eq + 1)));
    }
    url_ = QUrl(vars.value(QStringLiteral("KAVELON_PORTAL_URL")));
    QCOMPARE(url_.scheme(), QStringLiteral("https"));
    QCOMPARE(url_.host(), QStringLiteral("127.0.0.1"));
    QVERIFY(url_.port() > 0);
    QCOMPARE(vars.value(QStringLiteral("KAVELON_SITE_URL")), url_.toString());
    const auto ca = QSslCertificate::fromPath(vars.value(QStringLiteral("KAVELON_CA_FILE")));
    QCOMPARE(ca.size(), 1);
    ssl_ = QSslConfiguration::defaultConfiguration();
    ssl_.setCaCertificates(ca);
    ssl_.setPeerVerifyMode(QSslSocket::VerifyPeer);
}

void TstToolsPortal::orderCycle() {
    const Answer accepted =
        post(QStringLiteral("/icmpost.aspx"), OrderBody(QStringLiteral("demo")));
    QCOMPARE(accepted.error, QNetworkReply::NoError);
    QVERIFY2(accepted.text.contains(QStringLiteral("<IcmStatus>Correct</IcmStatus>")),
             qPrintable(accepted.text));
    QVERIFY(accepted.text.contains(QStringLiteral("<Message>Order 'proef order.icm'")));

    const Answer refused = post(QStringLiteral("/icmpost.aspx"), OrderBody(QStringLiteral("fout")));
    QCOMPARE(refused.error, QNetworkReply::NoError);
    QVERIFY(refused.text.contains(QStringLiteral("<IcmStatus>Error</IcmStatus>")));
    QVERIFY(refused.text.contains(QStringLiteral("<Message>Inloggen mislukt")));

    const QByteArray login = "debnr=100-200&dept=demo&password=demo";
    const Answer fetched = post(QStringLiteral("/icbpost.aspx"), login);
    QVERIFY(fetched.text.contains(QStringLiteral("<IcmStatus>Correct</IcmStatus>")));
    QCOMPARE(fetched.text.count(QStringLiteral("<file ")), 1);
    const QString open = QStringLiteral("<file proefxaxorder.icm>\r\n");
    const qsizetype start = fetched.text.indexOf(open) + open.size();
    const qsizetype end = fetched.text.indexOf(QStringLiteral("\r\n</file>"));
    QVERIFY(start >= open.size() && end > start);
    const QStringList icb = fetched.text.mid(start, end - start).split(QStringLiteral("\r\n"));
    QCOMPARE(icb.size(), 20 + 2 * 6);
    QCOMPARE(icb[1], QStringLiteral("Proef caf\u00e9"));
    QCOMPARE(icb[7], QStringLiteral("morgen"));
    QVERIFY(!icb[13].isEmpty());  // the order number
    QCOMPARE(icb[19], QStringLiteral("2"));
    QCOMPARE(icb[20 + 5], QStringLiteral("33.75"));  // 3 x 12.50 less 10 percent

    // Delivered once: the queue is empty now.
    QCOMPARE(post(QStringLiteral("/icbpost.aspx"), login).text.count(QStringLiteral("<file ")), 0);
    const Answer wrong =
        post(QStringLiteral("/icbpost.aspx"), "debnr=100-200&dept=demo&password=x");
    QVERIFY(!wrong.text.contains(QStringLiteral("Correct")));
    QVERIFY(wrong.text.contains(QStringLiteral("<Message><p>")));
}

void TstToolsPortal::recordHoldsExactBody() {
    const QList<QJsonObject> list = records();
    QVERIFY(!list.isEmpty());
    const QJsonObject first = list.first();  // the accepted order of orderCycle
    QCOMPARE(first.value(QStringLiteral("method")).toString(), QStringLiteral("POST"));
    QCOMPARE(first.value(QStringLiteral("path")).toString(), QStringLiteral("/icmpost.aspx"));
    QCOMPARE(QByteArray::fromBase64(first.value(QStringLiteral("body")).toString().toLatin1()),
             OrderBody(QStringLiteral("demo")));
    bool typed = false;
    for (const QJsonValue& h : first.value(QStringLiteral("headers")).toArray())
        typed = typed ||
                h.toArray().at(1).toString() == QStringLiteral("application/x-www-form-urlencoded");
    QVERIFY(typed);
}

void TstToolsPortal::http500Fault() {
    const Answer answer =
        post(QStringLiteral("/icmpost.aspx"), OrderBody(QStringLiteral("demo")), "http500");
    QCOMPARE(answer.status, 500);
    QCOMPARE(answer.error, QNetworkReply::InternalServerError);
    QCOMPARE(records().last().value(QStringLiteral("fault")).toString(), QStringLiteral("http500"));
    // The order was not taken: nothing waits for the account.
    const Answer fetched =
        post(QStringLiteral("/icbpost.aspx"), "debnr=100-200&dept=demo&password=demo");
    QCOMPARE(fetched.text.count(QStringLiteral("<file ")), 0);
}

void TstToolsPortal::wrongHostFailsVerification() {
    QFile fault(state_.filePath(QStringLiteral("fault")));
    QVERIFY(fault.open(QIODevice::WriteOnly));
    fault.write("wrong-host\n");
    fault.close();
    const qsizetype before = records().size();
    const Answer answer = post(QStringLiteral("/icmpost.aspx"), OrderBody(QStringLiteral("demo")));
    QVERIFY(fault.remove());
    QCOMPARE(answer.error, QNetworkReply::SslHandshakeFailedError);
    QVERIFY(std::any_of(answer.sslErrors.begin(), answer.sslErrors.end(), [](const QSslError& e) {
        return e.error() == QSslError::HostNameMismatch;
    }));
    QCOMPARE(records().size(), before);  // nothing reached the portal
}

// The portal keeps its state in memory and its journal on disk: a new start goes on where the
// last one stopped, with the deliveries made and the order numbers given.
void TstToolsPortal::stateSurvivesRestart() {
    const QByteArray login = "debnr=100-200&dept=demo&password=demo";
    post(QStringLiteral("/icbpost.aspx"), login);  // whatever earlier cases left
    post(QStringLiteral("/icmpost.aspx"), OrderBody(QStringLiteral("demo")));
    QCOMPARE(post(QStringLiteral("/icbpost.aspx"), login).text.count(QStringLiteral("<file ")), 1);
    const QString kept =
        post(QStringLiteral("/icmpost.aspx"), OrderBody(QStringLiteral("demo"))).text;
    const QRegularExpression number(QStringLiteral("ordernummer (\\d+)"));
    const int keptNumber = number.match(kept).captured(1).toInt();
    QVERIFY(keptNumber > 0);

    portal_.terminate();
    QVERIFY(portal_.waitForFinished(30000));
    startPortal();

    const QString fetched = post(QStringLiteral("/icbpost.aspx"), login).text;
    QCOMPARE(fetched.count(QStringLiteral("<file ")), 1);
    QVERIFY(fetched.contains(QString::number(keptNumber)));
    const QString next =
        post(QStringLiteral("/icmpost.aspx"), OrderBody(QStringLiteral("demo"))).text;
    QCOMPARE(number.match(next).captured(1).toInt(), keptNumber + 1);
}

void TstToolsPortal::cleanupTestCase() {
    if (portal_.state() == QProcess::NotRunning) return;
    portal_.terminate();
    QVERIFY(portal_.waitForFinished(30000));
    QCOMPARE(portal_.exitStatus(), QProcess::NormalExit);
    QCOMPARE(portal_.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TstToolsPortal)
#include "tst_tools_portal.moc"
