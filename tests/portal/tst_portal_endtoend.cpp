#include <QDir>
#include <QtTest>

#include "kavelonrun.h"

using namespace kavelon;

namespace {

// An order of count order lines; the sandbox accepts it when line 19 counts the lines present.
QStringList Order(const QString& ref, const QString& debNr, int count, int linesPresent) {
    QStringList lines = OrderLines(ref, debNr);
    lines[18] = QString::number(count);
    for (int i = 1; i <= linesPresent; ++i)
        lines << QString::number(i) << "ART" + QString::number(i) << "Kraan \u00e9"
              << "12.50";
    return lines;
}

}  // namespace

// The real "kavelon auto" against the project's sandbox portal.
class EndToEndTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void init();
    void sendsFetchesAndReportsEveryOrder_data();
    void sendsFetchesAndReportsEveryOrder();
    void faultsLoseNothing_data();
    void faultsLoseNothing();
    void fetchFaultsAreReported_data();
    void fetchFaultsAreReported();
    void everyFaultEndsTheFetchAsItShould_data();
    void everyFaultEndsTheFetchAsItShould();
    void untrustedCertificatesSendNothing_data();
    void untrustedCertificatesSendNothing();

  private:
    int run(const QHash<QString, QString>& extraEnv = {}) {
        return kavelon_->run(*portal_, extraEnv);
    }
    void addOrder(const QString& name, const QStringList& lines) {
        QVERIFY(WriteMessageFile(main_ + "icm/" + name, lines));
    }
    QString log() const { return kavelon_->log(); }
    QStringList names(const QString& folder) const { return kavelon_->names(folder); }

    std::unique_ptr<SandboxPortal> portal_;
    std::unique_ptr<PrivateKavelon> kavelon_;
    QString main_;
};

void EndToEndTest::initTestCase() {
    portal_ = std::make_unique<SandboxPortal>(KAVELON_PORTAL_PROGRAM);
    QVERIFY2(portal_->started(), "the sandbox portal did not start");
}

void EndToEndTest::init() {
    portal_->setFault(QString());
    kavelon_ = std::make_unique<PrivateKavelon>(KAVELON_BINARY);
    QVERIFY(kavelon_->ready());
    main_ = kavelon_->main();
}

// Also with a portal that answers in chunks after an interim answer and hangs up after each
// answer, so every post needs a new connection.
void EndToEndTest::sendsFetchesAndReportsEveryOrder_data() {
    QTest::addColumn<QString>("fault");
    QTest::newRow("kept connection") << QString();
    QTest::newRow("chunks, connection closed") << QString("chunked");
}

void EndToEndTest::sendsFetchesAndReportsEveryOrder() {
    QFETCH(QString, fault);
    portal_->setFault(fault);
    const qsizetype requestsBefore = portal_->requests().size();
    addOrder("a.icm",
             Order("Week 49", "100200", 2, 2));  // found with the dash after the third digit
    addOrder("met spaties.icm", Order("Winkel", " 300400 ", 1, 1));
    addOrder("onbekend.icm", Order("X", "999999", 1, 1));
    addOrder("geweigerd.icm", Order("Telt niet", "100-200", 3, 2));
    addOrder("kort.icm", QStringList{"ICM", "Vier regels", "", ""});
    QFile lfOnly(main_ + "icm/lf.icm");
    QVERIFY(lfOnly.open(QIODevice::WriteOnly));
    lfOnly.write(Order("LF", "100200", 1, 1).join("\n").toLatin1());
    lfOnly.close();
    const QByteArray refusedBefore = Contents(main_ + "icm/geweigerd.icm");

    QCOMPARE(run(), 1);  // the refusals are red lines
    QCOMPARE(names("verzonden"), QStringList({"a.icm", "met spaties.icm"}));
    QCOMPARE(names("icm"), QStringList({"geweigerd.icm", "kort.icm", "lf.icm", "onbekend.icm"}));
    QCOMPARE(Contents(main_ + "icm/geweigerd.icm"), refusedBefore);
    QCOMPARE(names("icb"), QStringList({"a.icb", "met spaties.icb"}));

    const QString text = log();
    QVERIFY2(
        text.contains(
            "\r\nVerzenden ICM-berichten\r\nBezig met het verzenden van ICM-bericht 'a.icm'\r\n"
            "Order 'a.icm' is ontvangen"),
        qPrintable(text));
    QVERIFY(
        text.contains("Bezig met het verzenden van ICM-bericht 'onbekend.icm'\r\n"
                      "In het ICM-bericht is een onbekende debiteurennummer opgenomen.\r\n"
                      "\r\nOphalen ICB-berichten\r\n"));  // no empty line of its own
    QVERIFY(text.contains("Het ICM-bericht is niet verwerkt!\r\n\r\n"));
    QVERIFY(text.contains("\r\nOphalen ICB-berichten\r\n"));
    QVERIFY(text.contains("\r\na.icb\r\n"));

    // The exact bytes: the stored dashed number, the password's "&" and "+" escaped, spaces as xax.
    QByteArray winkelBody;
    for (const QJsonObject& record : portal_->requests())
        if (SandboxPortal::BodyOf(record).contains("file=metxaxspaties.icm"))
            winkelBody = SandboxPortal::BodyOf(record);
    QVERIFY2(winkelBody.startsWith("customerid=300400&username=winkel&password=p%26ss%2Bw0rd&file="
                                   "metxaxspaties.icm&icm=%0D%0AWinkel%0D%0A"),
             winkelBody.left(200).constData());
    QVERIFY(winkelBody.contains("Kraan+%E9"));

    // Each order's lines follow its own first line, in list order, though the next order is
    // already read while the portal works.
    QString sendPart = text.section("Verzenden ICM-berichten\r\n", 1).section("Ophalen", 0, 0);
    sendPart.replace(QRegularExpression("ordernummer \\d+"), "ordernummer N");
    const QString busy = "Bezig met het verzenden van ICM-bericht '%1'";
    const QString loginFailed =
        "Inloggen mislukt: het debiteurennummer, de gebruiker of het wachtwoord is onjuist.";
    const QString notDone = "Het ICM-bericht is niet verwerkt!";
    QCOMPARE(sendPart.split("\r\n"),
             QStringList({busy.arg("a.icm"),
                          "Order 'a.icm' is ontvangen onder ordernummer N.",
                          "",
                          busy.arg("geweigerd.icm"),
                          "Het aantal orderregels (3) klopt niet met de 8 regels na de kop.",
                          notDone,
                          "",
                          busy.arg("kort.icm"),
                          loginFailed,
                          notDone,
                          "",
                          busy.arg("lf.icm"),
                          loginFailed,
                          notDone,
                          "",
                          busy.arg("met spaties.icm"),
                          "Order 'met spaties.icm' is ontvangen onder ordernummer N.",
                          "",
                          busy.arg("onbekend.icm"),
                          "In het ICM-bericht is een onbekende debiteurennummer opgenomen.",
                          "",
                          ""}));
    QSet<QString> peers;
    qsizetype posts = 0;
    for (const QJsonObject& record : portal_->requests().mid(requestsBefore)) {
        peers.insert(record.value("peer").toString());
        ++posts;
    }
    QCOMPARE(peers.size(), fault.isEmpty() ? 1 : posts);
}

void EndToEndTest::faultsLoseNothing_data() {
    QTest::addColumn<QString>("fault");
    for (const char* fault : {"drop-before", "drop-after", "http500", "no-tags", "truncated",
                              "oversized", "reversed-tags", "slow"})
        QTest::newRow(fault) << QString(fault);
}

void EndToEndTest::faultsLoseNothing() {
    QFETCH(QString, fault);
    addOrder("order.icm", Order("Fout", "100200", 1, 1));
    const QByteArray before = Contents(main_ + "icm/order.icm");
    const auto orderPosts = [this] {
        int posts = 0;
        for (const QJsonObject& record : portal_->requests())
            posts += SandboxPortal::BodyOf(record).contains("file=order.icm") ? 1 : 0;
        return posts;
    };
    const int postsBefore = orderPosts();
    portal_->setFault(fault);
    QCOMPARE(run({{"KAVELON_REQUEST_TIMEOUT_MS", "2000"}}), 1);
    QCOMPARE(names("icm"), QStringList({"order.icm"}));
    QCOMPARE(Contents(main_ + "icm/order.icm"), before);
    QVERIFY(names("verzonden").isEmpty());
    QVERIFY(names("icb").isEmpty());
    QVERIFY2(log().contains("Controleer online of de order verwerkt is!\r\n"), qPrintable(log()));
    // A connection closed without an answer is a failed post, never a post made again.
    const int posts = orderPosts() - postsBefore;
    QVERIFY2(posts <= 1, qPrintable(QString("the order was posted %1 times").arg(posts)));
}

void EndToEndTest::fetchFaultsAreReported_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("line");
    QTest::newRow("bad element")
        << "bad-file-element"
        << "Het ICB-bericht 'short.icb' is onvolledig en is niet opgeslagen.";
    QTest::newRow("unsafe names")
        << "unsafe-names"
        << "Het ICB-bericht '../x.icb' heeft een ongeldige bestandsnaam en is niet opgeslagen.";
}

void EndToEndTest::fetchFaultsAreReported() {
    QFETCH(QString, fault);
    QFETCH(QString, line);
    portal_->setFault(fault);
    QCOMPARE(run(), 1);
    QVERIFY2(log().contains(line + "\r\n"), qPrintable(log()));
    QCOMPARE(QDir(main_).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList({"icb", "icm", "logfiles", "temp", "verzonden"}));
}

// A fetch alone (no order pending) under each fault of the portal: a failed request ends the
// fetch after the first account, an answer without its tags is reported per account.
void EndToEndTest::everyFaultEndsTheFetchAsItShould_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("lines");
    QTest::addColumn<int>("fetches");
    const QString ended =
        "Geen ICM-berichten verzonden\r\n\r\nOphalen ICB-berichten\r\nEr is een fout opgetreden "
        "tijdens het ophalen "
        "van de ICB-brichten.\r\n\r\n\r\n";
    const QString noTags = "Er is een fout opgetreden tijdens het ophalen van ICB-bericht.\r\n\r\n";
    for (const char* fault :
         {"slow", "slow-end", "drip", "drop-after", "truncated", "oversized", "reversed-tags"})
        QTest::newRow(fault) << QString(fault) << ended << 1;
    for (const char* fault : {"drop-before", "wrong-host"})
        QTest::newRow(fault) << QString(fault) << ended << 0;  // no request is ever read
    for (const char* fault : {"http500", "no-tags"})
        QTest::newRow(fault) << QString(fault)
                             << "verzonden\r\n\r\nOphalen ICB-berichten\r\n" + noTags + noTags << 2;
    QTest::newRow("bad-file-element")
        << "bad-file-element"
        << "Het ICB-bericht 'short.icb' is onvolledig en is niet opgeslagen.\r\nHet ICB-bericht "
           "'open.icb' is onvolledig en is niet opgeslagen.\r\n"
        << 2;
}

void EndToEndTest::everyFaultEndsTheFetchAsItShould() {
    QFETCH(QString, fault);
    QFETCH(QString, lines);
    QFETCH(int, fetches);
    portal_->setFault(fault);
    const qsizetype before = portal_->requests().size();
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(run({{"KAVELON_REQUEST_TIMEOUT_MS", "2000"}}), 1);
    qInfo("%s: %lld ms", qPrintable(fault), clock.elapsed());
    QVERIFY2(log().contains(lines), qPrintable(log()));
    QSet<QByteArray> accountsAsked;  // Qt posts again on a connection closed without an answer
    for (const QJsonObject& record : portal_->requests().mid(before))
        accountsAsked.insert(SandboxPortal::BodyOf(record));
    QCOMPARE(accountsAsked.size(), fetches);
    QVERIFY(names("icb").isEmpty());
}

void EndToEndTest::untrustedCertificatesSendNothing_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("trustSandbox");
    QTest::newRow("certificate for another host") << "wrong-host" << true;
    QTest::newRow("authority not trusted") << "" << false;
}

void EndToEndTest::untrustedCertificatesSendNothing() {
    QFETCH(QString, fault);
    QFETCH(bool, trustSandbox);
    addOrder("order.icm", Order("Veilig", "100200", 1, 1));
    portal_->setFault(fault);
    const qsizetype before = portal_->requests().size();
    QCOMPARE(run({{"KAVELON_CA_FILE", trustSandbox ? portal_->caFile() : QString()}}), 1);
    QCOMPARE(portal_->requests().size(), before);
    QCOMPARE(names("icm"), QStringList({"order.icm"}));
    QVERIFY(log().contains("Er is een fout opgetreden tijdens het verzenden van de order.\r\n"));
    QVERIFY(
        log().contains("Er is een fout opgetreden tijdens het ophalen van de ICB-brichten.\r\n"));
}

QTEST_GUILESS_MAIN(EndToEndTest)
#include "tst_portal_endtoend.moc"
