#include <QDir>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include "accounts/accountstore.h"
#include "core/paths.h"
#include "core/settings.h"
#include "core/textutil.h"
#include "filebytes.h"
#include "messagefiles.h"
#include "portal/exchange.h"
#include "portal/portalclient.h"
#include "recordingsink.h"
#include "unwritable.h"

#include <sys/stat.h>
#include <unistd.h>

using namespace kavelon;

namespace {
struct NoPump : EventPump {
    void ProcessPendingEvents() override {}
};

const QString kOk = "<IcmStatus>Correct</IcmStatus><Message>m</Message>";

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
    void contentKeepsEveryCharacter_data();
    void contentKeepsEveryCharacter();
    void portalTextsAreShownEscaped();
    void linksAndSpecialFilesAreReplaced();
    void unwritableConfirmationIsKeptForTheNextFetch();
    void keptAnswerStoresOnlyWhatIsMissing();
    void laterConfirmationIsNotOverwrittenByAKeptOne();
    void answerLeftByACrashIsStoredAndLeftoversRemoved();
    void formValues_data();
    void formValues();
    void proxyPorts();
    void answerCharsets();
    void orderWrittenWhileReadIsNotSent();

  private:
    std::unique_ptr<QTemporaryDir> root_;
    QString main_;
    Settings settings_;
    RecordingSink sink_;
    NoPump pump_;
};

void PortalAnswersTest::init() {
    root_ = std::make_unique<QTemporaryDir>();
    QVERIFY(root_->isValid());
    main_ = root_->path() + kPathSep;
    QVERIFY(QDir(main_).mkdir("icb"));
    QVERIFY(QDir(main_).mkdir("temp"));
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
    PortalClient client(settings_);
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
    QTest::newRow("element without its end is reported")
        << ok + "<file a.icb>\r\nA\r\n</file><file b.icb>\r\nB" << true
        << QStringList{"2 bevestigingen", "a.icb",
                       "Het ICB-bericht 'b.icb' is onvolledig en is niet opgeslagen."}
        << QStringList{"a.icb"};
    QTest::newRow("element without its tag end is reported")
        << ok + "<file c.icb\r\nC" << true
        << QStringList{"2 bevestigingen",
                       "Het ICB-bericht 'c.icb' is onvolledig en is niet opgeslagen."}
        << QStringList{};
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
    QStringList windowsNames;
    QStringList refusals{"2 bevestigingen"};
    for (const char* name : {"CON", "NUL.icb", "com1", "Lpt9.ICM", "aux .txt", "a.icb.", "a.icbxax",
                             "a<b.icb", "wat?.icb", "a|b.icb", "ster*.icb", "\"q\".icb",
                             "/etc/x.icb", "\\\\server\\x.icb", "../../x.icb", "c:\\x.icb"}) {
        windowsNames << QString("<file %1>\r\nX\r\n</file>").arg(name);
        refusals << QString(
                        "Het ICB-bericht '%1' heeft een ongeldige bestandsnaam en is niet "
                        "opgeslagen.")
                        .arg(name);
    }
    QTest::newRow("names Windows refuses are refused")
        << ok + windowsNames.join("") + "<file console.icb>\r\nC\r\n</file>" << true
        << refusals + QStringList{"console.icb"} << QStringList{"console.icb"};
}

void PortalAnswersTest::confirmationAnswers() {
    QFETCH(QString, answer);
    QFETCH(bool, goesOn);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, files);
    PortalClient client(settings_);
    PortalExchange exchange(main_, nullptr, client, sink_, pump_);
    QCOMPARE(exchange.VerwerkIcb(answer), goesOn);
    QCOMPARE(sink_.texts(), lines);
    QCOMPARE(QDir(main_ + "icb").entryList(QDir::Files | QDir::Hidden, QDir::Name), files);
    QCOMPARE(QDir(main_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList({"icb", "temp"}));
    QCOMPARE(QDir(main_ + "temp").entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList());
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
    PortalClient client(settings_);
    PortalExchange exchange(main_, nullptr, client, sink_, pump_);
    const QString ok = "<IcmStatus>Correct</IcmStatus><Message></Message>";
    QVERIFY(exchange.VerwerkIcb(ok + "<file a.icb>\r\neerste versie, langer\r\n</file>"));
    QVERIFY(exchange.VerwerkIcb(ok + "<file A.ICB>\r\ntweede \u00e9\r\n</file>"));
    QFile file(main_ + "icb/a.icb");
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("tweede \xE9\r\n"));
}

// Exactly one line break is skipped after the tag and before "</file>", whichever the portal
// uses; the stored file ends in CR LF.
void PortalAnswersTest::contentKeepsEveryCharacter_data() {
    QTest::addColumn<QString>("element");
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("CR LF") << "<file a.icb>\r\nregel 1\r\nregel 2\r\n</file>"
                           << QByteArray("regel 1\r\nregel 2\r\n");
    QTest::newRow("LF") << "<file a.icb>\nregel 1\nregel 2\n</file>\n"
                        << QByteArray("regel 1\nregel 2\r\n");
    QTest::newRow("empty lines kept")
        << "<file a.icb>\r\n\r\nX\r\n\r\n</file>" << QByteArray("\r\nX\r\n\r\n");
    QTest::newRow("empty content") << "<file a.icb>\n\n</file>" << QByteArray("\r\n");
    QTest::newRow("one character") << "<file a.icb>\nZ\n</file>" << QByteArray("Z\r\n");
}

void PortalAnswersTest::contentKeepsEveryCharacter() {
    QFETCH(QString, element);
    QFETCH(QByteArray, stored);
    PortalClient client(settings_);
    PortalExchange exchange(main_, nullptr, client, sink_, pump_);
    QVERIFY(exchange.VerwerkIcb(kOk + "\n" + element));
    QCOMPARE(Contents(main_ + "icb/a.icb"), stored);
}

// A portal's text can never write a line of its own into the box and the log, and markup in
// it stays text.
void PortalAnswersTest::portalTextsAreShownEscaped() {
    PortalClient client(settings_);
    PortalExchange exchange(main_, nullptr, client, sink_, pump_);
    exchange.VerwerkIcb(
        QString("<IcmStatus>Correct</IcmStatus><Message>3 stuks\r\nb.icb<script>x()</script>"
                "</Message>") +
        "<file a\r\nb.icb" + QChar(0) + ">\r\nA\r\n</file><file c\u0085.icb\n");
    exchange.VerwerkIcb("<IcmStatus>Fout</IcmStatus><Message>Mis\tlukt<p>opnieuw\r\n</Message>");
    exchange.VerwerkBevestiging(
        "<IcmStatus>Correct</IcmStatus><Message>Order a.icm is ontvangen\r\nnep</Message>");
    exchange.VerwerkBevestiging("<IcmStatus>Fout</IcmStatus><Message>Fout\u2028nep</Message>");
    QCOMPARE(
        sink_.texts(),
        QStringList({"3 stuks\\x0d\\x0ab.icb<script>x()</script>",
                     "Het ICB-bericht 'a\\x0d\\x0ab.icb\\x00' heeft een ongeldige "
                     "bestandsnaam en is niet opgeslagen.",
                     "Het ICB-bericht 'c\\x85.icb' is onvolledig en is niet opgeslagen.",
                     "Mis\\x09lukt\r\nopnieuw\\x0d\\x0a", "Order a.icm is ontvangen\\x0d\\x0anep",
                     "Fout\\u2028nep", "Het ICM-bericht is niet verwerkt!"}));
    const QString longName(100000, u'n');
    exchange.VerwerkIcb(kOk + "<file " + longName + "\r\n");
    QVERIFY(sink_.lines.last().text.size() < 400);
}

// A link or special file planted under a confirmation's name is replaced, never written
// through.
void PortalAnswersTest::linksAndSpecialFilesAreReplaced() {
    const QString outside = root_->filePath("buiten.txt");
    QVERIFY(WriteBytes(outside, "blijft"));
    QVERIFY(QFile::link(outside, main_ + "icb/a.icb"));
    QVERIFY(mkfifo(QFile::encodeName(main_ + "icb/b.icb").constData(), 0600) == 0);
    PortalClient client(settings_);
    PortalExchange exchange(main_, nullptr, client, sink_, pump_);
    QVERIFY(exchange.VerwerkIcb(kOk + "<file a.icb>\r\nA\r\n</file><file b.icb>\r\nB\r\n</file>"));
    QCOMPARE(sink_.texts(), QStringList({"m", "a.icb", "b.icb"}));
    QCOMPARE(Contents(outside), QByteArray("blijft"));
    for (const char* name : {"a.icb", "b.icb"}) {
        const QFileInfo stored(main_ + "icb/" + name);
        QVERIFY2(stored.isFile() && !stored.isSymLink(), name);
    }
    QCOMPARE(Contents(main_ + "icb/b.icb"), QByteArray("B\r\n"));
}

// An unwritable confirmations folder: each confirmation is reported, the answer is kept and
// the next fetch stores it.
void PortalAnswersTest::unwritableConfirmationIsKeptForTheNextFetch() {
    PortalClient client(settings_);
    const QString answer = kOk + "<file a.icb>\r\nA\r\n</file><file b.icb>\r\nB\r\n</file>";
    {
        UnwritableFolder icb(main_ + "icb");
        if (!icb.active()) QSKIP("this file system cannot refuse new entries");
        PortalExchange exchange(main_, nullptr, client, sink_, pump_);
        QVERIFY(exchange.VerwerkIcb(answer));
    }
    const QString kept =
        "' kon niet worden opgeslagen; het wordt bij het volgende ophalen "
        "opnieuw opgeslagen.";
    QCOMPARE(sink_.texts(),
             QStringList({"m", "Het ICB-bericht 'a.icb" + kept, "Het ICB-bericht 'b.icb" + kept}));
    QCOMPARE(sink_.lines[1].colour, kRood);
    QVERIFY(QDir(main_ + "icb").isEmpty());
    sink_.lines.clear();
    PortalExchange next(main_, nullptr, client, sink_, pump_);
    next.VerwerkBewaardeAntwoorden();
    next.VerwerkBewaardeAntwoorden();  // once per action
    QCOMPARE(sink_.texts(),
             QStringList({"Opslaan van eerder ontvangen ICB-berichten", "a.icb", "b.icb", ""}));
    QCOMPARE(Contents(main_ + "icb/b.icb"), QByteArray("B\r\n"));
    QVERIFY(QDir(main_ + "temp").isEmpty());
}

// A folder in the way of one confirmation: the others are stored once, only the missing one
// later, and a confirmation removed meanwhile is not brought back.
void PortalAnswersTest::keptAnswerStoresOnlyWhatIsMissing() {
    QVERIFY(QDir(main_ + "icb").mkdir("b.icb"));
    PortalClient client(settings_);
    {
        PortalExchange exchange(main_, nullptr, client, sink_, pump_);
        QVERIFY(exchange.VerwerkIcb(
            kOk +
            "<file a.icb>\r\nA\r\n</file><file b.icb>\r\nB\r\n</file><file c.icb>\r\nC\r\n"
            "</file>"));
    }
    QCOMPARE(sink_.texts().size(), 4);
    QCOMPARE(sink_.lines[2].colour, kRood);
    QVERIFY(QFile::remove(main_ + "icb/a.icb"));  // the user handled it meanwhile
    QVERIFY(QDir(main_ + "icb").rmdir("b.icb"));
    sink_.lines.clear();
    PortalExchange next(main_, nullptr, client, sink_, pump_);
    next.VerwerkBewaardeAntwoorden();
    QCOMPARE(sink_.texts(),
             QStringList({"Opslaan van eerder ontvangen ICB-berichten", "b.icb", ""}));
    QCOMPARE(QDir(main_ + "icb").entryList(QDir::Files), QStringList({"b.icb", "c.icb"}));
    QVERIFY(QDir(main_ + "temp").isEmpty());
}

void PortalAnswersTest::laterConfirmationIsNotOverwrittenByAKeptOne() {
    QVERIFY(QDir(main_ + "icb").mkdir("x.icb"));
    PortalClient client(settings_);
    PortalExchange exchange(main_, nullptr, client, sink_, pump_);
    QVERIFY(exchange.VerwerkIcb(kOk + "<file x.icb>\r\noud\r\n</file>"));
    QVERIFY(QDir(main_ + "icb").rmdir("x.icb"));
    QVERIFY(exchange.VerwerkIcb(kOk + "<file X.ICB>\r\nnieuw\r\n</file>"));
    PortalExchange next(main_, nullptr, client, sink_, pump_);
    next.VerwerkBewaardeAntwoorden();
    QCOMPARE(Contents(main_ + "icb/x.icb"), QByteArray("nieuw\r\n"));
    QVERIFY(QDir(main_ + "temp").isEmpty());
}

// What a run killed in the middle of an answer leaves: the answer with the list of elements
// done, a half-written confirmation under a temporary name.
void PortalAnswersTest::answerLeftByACrashIsStoredAndLeftoversRemoved() {
    const QString answer = kOk + "<file a.icb>\r\nA\r\n</file><file b.icb>\r\nB\r\n</file>";
    QVERIFY(WriteBytes(main_ + "temp/icbantwoord-20261208101010123-001.txt", answer.toUtf8()));
    QVERIFY(WriteBytes(main_ + "temp/icbantwoord-20261208101010123-001.klaar", "[0]\n[1"));
    QVERIFY(WriteBytes(main_ + "temp/icbantwoord-20261208090000000-001.klaar", "[0]\n"));
    QVERIFY(WriteBytes(main_ + "temp/icbantwoord-20261208090000000-002.txt.Xy12ab", "half"));
    QVERIFY(WriteBytes(main_ + "temp/Temp.html", "pagina"));
    QVERIFY(WriteBytes(main_ + "icb/b.icb.Q7abcd", "hal"));
    QVERIFY(WriteBytes(main_ + "icb/oud.icb.abcdef", "van de portal"));
    PortalClient client(settings_);
    PortalExchange exchange(main_, nullptr, client, sink_, pump_);
    exchange.VerwerkBewaardeAntwoorden();
    QCOMPARE(sink_.texts(),
             QStringList({"Opslaan van eerder ontvangen ICB-berichten", "b.icb", ""}));
    QCOMPARE(QDir(main_ + "icb").entryList(QDir::Files), QStringList({"b.icb", "oud.icb.abcdef"}));
    QCOMPARE(QDir(main_ + "temp").entryList(QDir::Files), QStringList({"Temp.html"}));
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
    PortalClient client(settings_);
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
