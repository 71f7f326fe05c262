#include <QDir>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include "accounts/accountstore.h"
#include "core/paths.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "messagefiles.h"
#include "portal/exchange.h"
#include "portal/portalclient.h"
#include "recordingsink.h"

#include <sys/stat.h>

using namespace kavelon;

namespace {
struct NoPump : EventPump {
    void ProcessPendingEvents() override {}
};
}  // namespace

// How the program reads the portal's answers: what it reports and what it stores.
class PortalAnswersTest : public QObject {
    Q_OBJECT
  private slots:
    void init();
    void orderAnswers_data();
    void orderAnswers();
    void confirmationAnswers_data();
    void confirmationAnswers();
    void storedNames_data();
    void storedNames();
    void confirmationReplacesAnEarlierOne();
    void formValues_data();
    void formValues();
    void proxyPorts();
    void answerCharsets();
    void orderWrittenWhileReadIsNotSent();

  private:
    std::unique_ptr<QTemporaryDir> root_;
    QString main_;
    QNetworkAccessManager network_;
    Settings settings_;
    RecordingSink sink_;
    NoPump pump_;
};

void PortalAnswersTest::init() {
    root_ = std::make_unique<QTemporaryDir>();
    QVERIFY(root_->isValid());
    main_ = root_->path() + kPathSep;
    QVERIFY(QDir(main_).mkdir("icb"));
    sink_.lines.clear();
}

void PortalAnswersTest::orderAnswers_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QList<int>>("colours");
    const QString error = "Er is een fout opgetreden tijdens het verzenden van de order.";
    const QString check = "Controleer online of de order verwerkt is!";
    QTest::newRow("accepted")
        << "x<IcmStatus>Correct</IcmStatus><Message>Order <b>12</b> ontvangen</Message>" << true
        << QStringList{"Order <b>12</b> ontvangen"} << QList<int>{kBlauw};
    QTest::newRow("refused") << "<Message> Onbekende klant </Message><IcmStatus>Fout</IcmStatus>"
                             << false
                             << QStringList{" Onbekende klant ",
                                            "Het ICM-bericht is niet verwerkt!"}
                             << QList<int>{kRood, kRood};
    QTest::newRow("status in lower case is a refusal")
        << "<IcmStatus>correct</IcmStatus><Message>m</Message>" << false
        << QStringList{"m", "Het ICM-bericht is niet verwerkt!"} << QList<int>{kRood, kRood};
    QTest::newRow("no tags") << "<html>Server Error</html>" << false << QStringList{error, check}
                             << QList<int>{kRood, kRood};
    QTest::newRow("closing tag first")
        << "</IcmStatus>Correct<IcmStatus><Message>m</Message>" << false
        << QStringList{error, check} << QList<int>{kRood, kRood};
}

void PortalAnswersTest::orderAnswers() {
    QFETCH(QString, answer);
    QFETCH(bool, accepted);
    QFETCH(QStringList, lines);
    QFETCH(QList<int>, colours);
    PortalClient client(network_, settings_);
    PortalExchange exchange(main_, nullptr, client, sink_, pump_);
    exchange.VerwerkBevestiging(answer);
    QCOMPARE(exchange.OrderAccepted, accepted);
    QCOMPARE(sink_.texts(), lines);
    for (int i = 0; i < colours.size(); ++i) QCOMPARE(sink_.lines[i].colour, colours[i]);
}

void PortalAnswersTest::confirmationAnswers_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("goesOn");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("files");
    const QString ok = "<IcmStatus>Correct</IcmStatus><Message>2 bevestigingen</Message>";
    QTest::newRow("two files") << ok + "<file ORDERxax1.ICM>\r\nregel 1\r\nregel "
                                       "2\r\n</file>\r\n<file b.icb>\r\nB\r\n</file>"
                               << true << QStringList{"2 bevestigingen", "order 1.icb", "b.icb"}
                               << QStringList{"b.icb", "order 1.icb"};
    QTest::newRow("no files") << ok << true << QStringList{"2 bevestigingen"} << QStringList{};
    QTest::newRow("refusal strips its markup")
        << "<IcmStatus>Fout</IcmStatus><Message><b>Inloggen</b> mislukt<p>Probeer opnieuw</Message>"
        << true << QStringList{"Inloggen mislukt\r\nProbeer opnieuw"} << QStringList{};
    QTest::newRow("tags missing")
        << "<Message>m</Message>" << true
        << QStringList{"Er is een fout opgetreden tijdens het ophalen van ICB-bericht."}
        << QStringList{};
    QTest::newRow("closing status tag first")
        << "</IcmStatus><IcmStatus><Message>m</Message>" << false << QStringList{} << QStringList{};
    QTest::newRow("element without its end is skipped")
        << ok + "<file a.icb>\r\nA\r\n</file><file b.icb>\r\nB" << true
        << QStringList{"2 bevestigingen", "a.icb"} << QStringList{"a.icb"};
    QTest::newRow("too short an element is reported, the rest stored")
        << ok + "<file kort.icb>\r\n</file><file c.icb>\r\nC\r\n</file>" << true
        << QStringList{"2 bevestigingen",
                       "Het ICB-bericht 'kort.icb' is onvolledig en is niet opgeslagen.", "c.icb"}
        << QStringList{"c.icb"};
    QTest::newRow("unsafe names are reported, the rest stored")
        << ok +
               "<file ../x.icb>\r\nX\r\n</file><file c:y.icb>\r\nY\r\n</file><file "
               "..>\r\nZ\r\n</file>" +
               "<file d.icb>\r\nD\r\n</file>"
        << true
        << QStringList{"2 bevestigingen",
                       "Het ICB-bericht '../x.icb' heeft een ongeldige bestandsnaam en is niet "
                       "opgeslagen.",
                       "Het ICB-bericht 'c:y.icb' heeft een ongeldige bestandsnaam en is niet "
                       "opgeslagen.",
                       "Het ICB-bericht '..' heeft een ongeldige bestandsnaam en is niet "
                       "opgeslagen.",
                       "d.icb"}
        << QStringList{"d.icb"};
}

void PortalAnswersTest::confirmationAnswers() {
    QFETCH(QString, answer);
    QFETCH(bool, goesOn);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, files);
    PortalClient client(network_, settings_);
    PortalExchange exchange(main_, nullptr, client, sink_, pump_);
    QCOMPARE(exchange.VerwerkIcb(answer), goesOn);
    QCOMPARE(sink_.texts(), lines);
    QCOMPARE(QDir(main_ + "icb").entryList(QDir::Files | QDir::Hidden, QDir::Name), files);
    QCOMPARE(QDir(main_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList({"icb"}));
}

void PortalAnswersTest::storedNames_data() {
    QTest::addColumn<QString>("element");
    QTest::addColumn<QString>("stored");
    QTest::newRow("order name") << "ORDERxax12.ICM"
                                << "order 12.icb";
    QTest::newRow("without .icm") << "Bevestiging.TXT"
                                  << "bevestiging.txt";
    QTest::newRow("marker in upper case") << "AXAXB.icm"
                                          << "a b.icb";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("folder separator") << "a/b.icb"
                                      << "";
    QTest::newRow("backslash") << "a\\b.icb"
                               << "";
    QTest::newRow("control character") << "a\tb.icb"
                                       << "";
    QTest::newRow("parent") << ".."
                            << "";
}

void PortalAnswersTest::storedNames() {
    QFETCH(QString, element);
    QFETCH(QString, stored);
    QCOMPARE(StoredConfirmationName(element), stored);
}

void PortalAnswersTest::confirmationReplacesAnEarlierOne() {
    PortalClient client(network_, settings_);
    PortalExchange exchange(main_, nullptr, client, sink_, pump_);
    const QString ok = "<IcmStatus>Correct</IcmStatus><Message></Message>";
    QVERIFY(exchange.VerwerkIcb(ok + "<file a.icb>\r\neerste versie, langer\r\n</file>"));
    QVERIFY(exchange.VerwerkIcb(ok + "<file A.ICB>\r\ntweede \u00e9\r\n</file>"));
    QFile file(main_ + "icb/a.icb");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("tweede \xE9\r\n"));
}

void PortalAnswersTest::formValues_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("encoded");
    QTest::newRow("ordinary") << "ABC-123_x.y*~!"
                              << "ABC-123_x.y*~!";
    QTest::newRow("form characters") << "a&b+c=d#e%f g"
                                     << "a%26b%2Bc%3Dd%23e%25f%20g";
    QTest::newRow("controls and accents") << "\t\u00e9\u20ac"
                                          << "%09%E9%80";
}

void PortalAnswersTest::formValues() {
    QFETCH(QString, value);
    QFETCH(QString, encoded);
    QCOMPARE(FormValue(value), encoded);
}

void PortalAnswersTest::proxyPorts() {
    QCOMPARE(ProxyPortNumber("8080"), quint16(8080));
    QCOMPARE(ProxyPortNumber(" 3128 "), quint16(3128));
    for (const char* bad : {"", "poort", "0", "65536", "-1", "80.5"})
        QCOMPARE(ProxyPortNumber(bad), quint16(0));
}

void PortalAnswersTest::answerCharsets() {
    QCOMPARE(DecodeAnswer("caf\xC3\xA9", "text/html; charset=utf-8"), QString("caf\u00e9"));
    QCOMPARE(DecodeAnswer("caf\xE9 \x80", "text/html"), QString("caf\u00e9 \u20ac"));
    QCOMPARE(DecodeAnswer("caf\xE9", "text/plain; charset=\"ISO-8859-1\""), QString("caf\u00e9"));
}

// The ordering software still writing the order through a pipe in its place: the pipe is
// never opened (nothing waits for its writer), nothing is sent and the order stays.
void PortalAnswersTest::orderWrittenWhileReadIsNotSent() {
    QTcpServer portal;  // stands where the portal would be: nothing may reach it
    QVERIFY(portal.listen(QHostAddress::LocalHost, 0));
    qputenv("KAVELON_PORTAL_URL", "https://127.0.0.1:" + QByteArray::number(portal.serverPort()));
    QVERIFY(QDir(main_).mkdir("icm"));
    const QString order = main_ + "icm/order.icm";
    QVERIFY(mkfifo(QFile::encodeName(order).constData(), 0600) == 0);
    QVERIFY(WriteMessageFile(root_->filePath("source.icm"), OrderLines("Week 49", "100")));
    QProcess writer;
    writer.start("sh", {"-c", "cat \"$0\" > \"$1\"", root_->filePath("source.icm"), order});
    AccountStore database;
    QString error;
    QVERIFY(database.open(root_->filePath("Kavelon.kvd"), error));
    Debiteur account{0, "100", "klant", "geheim"};
    QVERIFY(database.addNew(account, error));
    PortalClient client(network_, settings_);
    client.setTimeouts(2000, 3000);
    PortalExchange exchange(main_, &database, client, sink_, pump_);
    exchange.VerzendICM("order.icm");
    QVERIFY(!portal.hasPendingConnections() && !portal.waitForNewConnection(0));
    QVERIFY(!writer.waitForFinished(200));  // still waiting for someone to read the pipe
    writer.kill();
    writer.waitForFinished(10000);
    QCOMPARE(sink_.texts(),
             QStringList({"Bezig met het verzenden van ICM-bericht 'order.icm'",
                          "Er is een fout opgetreden tijdens het verzenden van de order.",
                          "Controleer online of de order verwerkt is!", ""}));
    QVERIFY(QFileInfo::exists(order));
}

QTEST_GUILESS_MAIN(PortalAnswersTest)
#include "tst_portal_answers.moc"
