#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kavelonrun.h"
#include "messagefiles.h"
#include "messages/messagelist.h"
#include "messages/orderpage.h"
#include "squidproxy.h"

using namespace kavelon;

namespace {

const QString kSendError = "Er is een fout opgetreden tijdens het verzenden van de order.\r\n";
const QString kCheckOnline = "Controleer online of de order verwerkt is!\r\n";

bool Link(const QString& target, const QString& link) {
    return ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) ==
           0;
}

// Waits, without blocking the test's own servers, until the program ends.
int FinishServing(QProcess& kavelon, int timeoutMs) {
    if (kavelon.state() != QProcess::NotRunning) {
        QSignalSpy finished(&kavelon, &QProcess::finished);
        if (!finished.wait(timeoutMs)) return PrivateKavelon::Finish(kavelon, 0);
    }
    return kavelon.exitStatus() == QProcess::NormalExit ? kavelon.exitCode() : -2;
}

}  // namespace

// The send as a careless neighbour or a hostile portal meets it: nothing posted that should
// not be, nothing lost, every refusal a red line.
class SendSafetyTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void init();
    void redirectsAreNotFollowed_data();
    void redirectsAreNotFollowed();
    void plainHttpSendsNothing();
    void orderReplacedDuringPostStays_data();
    void orderReplacedDuringPostStays();
    void specialFilesAndOutsideLinksAreNeverSent();
    void hiddenAndUndecodableNamesAreNotPassedOver();
    void ordersLeftBeingMovedComeBack();
    void hostileMessageFiles();
    void connectionFaultsLetTheNextOrderGoOn_data();
    void connectionFaultsLetTheNextOrderGoOn();
    void refusingProxyLetsTheNextOrderGoOn();
    void twoRunsAtOncePostEachOrderOnce();

  private:
    void addOrder(const QString& name, const QStringList& lines) {
        QVERIFY(WriteMessageFile(kavelon_->main() + "icm/" + name, lines));
    }
    bool waitForOrderPost(qsizetype before);

    std::unique_ptr<SandboxPortal> portal_;
    std::unique_ptr<SandboxPortal> elsewhere_;
    std::unique_ptr<PrivateKavelon> kavelon_;
};

void SendSafetyTest::initTestCase() {
    portal_ = std::make_unique<SandboxPortal>(KAVELON_PORTAL_PROGRAM);
    QVERIFY2(portal_->started(), "the sandbox portal did not start");
    // Another host with a certificate the program trusts: a redirect would be followed there.
    elsewhere_ = std::make_unique<SandboxPortal>(KAVELON_PORTAL_PROGRAM, 4000, portal_.get());
    QVERIFY2(elsewhere_->started(), "the second sandbox portal did not start");
}

void SendSafetyTest::init() {
    portal_->setFault(QString());
    kavelon_ = std::make_unique<PrivateKavelon>(KAVELON_BINARY);
    QVERIFY(kavelon_->ready());
}

void SendSafetyTest::redirectsAreNotFollowed_data() {
    QTest::addColumn<QString>("fault");
    for (const char* fault : {"redirect-301", "redirect-302", "redirect-307", "redirect-308"})
        QTest::newRow(fault) << QString(fault);
}

void SendSafetyTest::redirectsAreNotFollowed() {
    QFETCH(QString, fault);
    addOrder("order.icm", AcceptedOrder("Omleiding", "100200"));
    portal_->setRedirectLocation(elsewhere_->url() + "/icmpost.aspx");
    portal_->setFault(fault);
    QCOMPARE(kavelon_->run(*portal_), 1);
    QVERIFY(elsewhere_->requests().isEmpty());
    QCOMPARE(kavelon_->names("icm"), QStringList({"order.icm"}));
    QVERIFY(kavelon_->names("verzonden").isEmpty());
    QVERIFY(kavelon_->names("icb").isEmpty());
    const QString log = kavelon_->logs();
    QVERIFY2(log.contains(kSendError + kCheckOnline), qPrintable(log));
    QVERIFY(log.contains("Er is een fout opgetreden tijdens het ophalen van de ICB-brichten.\r\n"));
}

void SendSafetyTest::plainHttpSendsNothing() {
    QTcpServer plain;
    QVERIFY(plain.listen(QHostAddress::LocalHost, 0));
    addOrder("order.icm", AcceptedOrder("Onversleuteld", "100200"));
    const QString address = "http://127.0.0.1:" + QString::number(plain.serverPort());
    QCOMPARE(kavelon_->run(*portal_, {{"KAVELON_PORTAL_URL", address}}), 1);
    QVERIFY(!plain.hasPendingConnections() && !plain.waitForNewConnection(0));
    QCOMPARE(kavelon_->names("icm"), QStringList({"order.icm"}));
    QVERIFY(kavelon_->logs().contains(kSendError + kCheckOnline));
}

bool SendSafetyTest::waitForOrderPost(qsizetype before) {
    const QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        const QList<QJsonObject> records = portal_->requests();
        for (qsizetype i = before; i < records.size(); ++i)
            if (records[i].value("path").toString() == "/icmpost.aspx") return true;
        QThread::msleep(20);
    }
    return false;
}

void SendSafetyTest::orderReplacedDuringPostStays_data() {
    QTest::addColumn<QString>("change");
    QTest::newRow("replaced by a new file") << "replace";
    QTest::newRow("appended to") << "append";
    QTest::newRow("rewritten in place, same size") << "rewrite";
}

// The portal answers slowly; while it holds the post, the ordering software changes the order.
void SendSafetyTest::orderReplacedDuringPostStays() {
    QFETCH(QString, change);
    const QString order = kavelon_->main() + "icm/order.icm";
    addOrder("order.icm", AcceptedOrder("Versie 1", "100200"));
    portal_->setFault("slow");
    const qsizetype before = portal_->requests().size();
    QProcess run;
    kavelon_->start(run, *portal_);
    QVERIFY(waitForOrderPost(before));
    if (change == "replace") {
        QVERIFY(WriteMessageFile(order + ".tmp", AcceptedOrder("Versie 2", "100200")));
        QVERIFY(::rename(QFile::encodeName(order + ".tmp"), QFile::encodeName(order)) == 0);
    } else {
        QFile file(order);
        QVERIFY(file.open(change == "append" ? QIODevice::Append : QIODevice::ReadWrite));
        QVERIFY(file.write(change == "append" ? "1\r\n" : "\r\nVersie 2") > 0);
    }
    const QByteArray changed = Contents(order);
    QCOMPARE(PrivateKavelon::Finish(run), 1);
    QCOMPARE(kavelon_->names("icm"), QStringList({"order.icm"}));
    QCOMPARE(Contents(order), changed);
    QVERIFY(kavelon_->names("verzonden").isEmpty());
    const QString log = kavelon_->logs();
    QVERIFY2(log.contains("Het ICM-bericht is tijdens het verzenden gewijzigd en blijft staan voor "
                          "een volgende verzending.\r\n"),
             qPrintable(log));

    // The next send posts the changed order and moves it (an appended line makes it one
    // the portal refuses).
    if (change == "append") return;
    portal_->setFault(QString());
    kavelon_->run(*portal_);
    QCOMPARE(kavelon_->names("verzonden"), QStringList({"order.icm"}));
    QCOMPARE(Contents(kavelon_->main() + "verzonden/order.icm"), changed);
}

void SendSafetyTest::specialFilesAndOutsideLinksAreNeverSent() {
    const QString icm = kavelon_->main() + "icm/";
    // A file outside that reads like an order: only the refusal keeps it from the portal.
    QVERIFY(WriteMessageFile(kavelon_->path("secret.txt"), OrderLines("GEHEIM", "100200")));
    const QByteArray secret = Contents(kavelon_->path("secret.txt"));
    QVERIFY(::mkfifo(QFile::encodeName(kavelon_->path("pipe")), 0600) == 0);
    QVERIFY(::mkfifo(QFile::encodeName(icm + "pipe.icm"), 0600) == 0);
    QVERIFY(Link("/dev/zero", icm + "zero.icm"));
    QVERIFY(Link("/dev/urandom", icm + "random.icm"));
    QVERIFY(Link(kavelon_->path("pipe"), icm + "linkpipe.icm"));
    QVERIFY(Link(kavelon_->path("secret.txt"), icm + "secret.icm"));
    QVERIFY(Link(icm + "nergens", icm + "dangling.icm"));
    QVERIFY(QDir(icm).mkdir("map.icm"));
    QFile large(icm + "groot.icm");  // sparse, just over the cap
    QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(16 * 1024 * 1024 + 1));
    large.close();
    QVERIFY(QDir().mkpath(kavelon_->main() + "archief"));
    QVERIFY(
        WriteMessageFile(kavelon_->main() + "archief/echt.icm", AcceptedOrder("Binnen", "100200")));
    QVERIFY(Link("../archief/echt.icm", icm + "binnen.icm"));
    addOrder("gewoon.icm", AcceptedOrder("Gewoon", "300400"));

    QCOMPARE(kavelon_->run(*portal_), 1);
    const QHash<QByteArray, int> posts = OrderPostsByFile(*portal_);
    QCOMPARE(posts.value("binnen.icm"), 1);
    QCOMPARE(posts.value("gewoon.icm"), 1);
    for (const char* refused : {"pipe.icm", "zero.icm", "random.icm", "linkpipe.icm", "secret.icm",
                                "dangling.icm", "map.icm", "groot.icm"})
        QVERIFY2(!posts.contains(refused), refused);
    for (const QJsonObject& record : portal_->requests())
        QVERIFY(!SandboxPortal::BodyOf(record).contains("GEHEIM"));
    QCOMPARE(Contents(kavelon_->path("secret.txt")), secret);
    QCOMPARE(kavelon_->names("verzonden"), QStringList({"binnen.icm", "gewoon.icm"}));

    const QString log = kavelon_->logs();
    const QString notSent = "' wordt niet verzonden. ";
    for (const char* name : {"pipe.icm", "zero.icm", "random.icm", "dangling.icm", "map.icm"})
        QVERIFY2(log.contains(QString(name) + notSent + "Dit is geen gewoon bestand.\r\n") ||
                     log.contains(QString(name) + notSent +
                                  "Deze koppeling wijst naar een "
                                  "bestand buiten de hoofddirectory."),
                 name);
    QVERIFY(log.contains("'secret.icm" + notSent +
                         "Deze koppeling wijst naar een bestand buiten de hoofddirectory.\r\n"));
    QVERIFY(log.contains("'linkpipe.icm" + notSent));
    QVERIFY(log.contains("Het ICM-bericht is groter dan 16 MB en wordt niet verzonden.\r\n"));

    // The list shows the refused entries in red rows without a tick box, and the orders.
    const Listing listing = ListMessages(kavelon_->main(), MessageTab::Openstaand, nullptr);
    QStringList refusedRows;
    for (const ListedMessage& row : listing.rows)
        if (!row.refusal.isEmpty()) refusedRows << row.name;
    QCOMPARE(refusedRows, QStringList({"dangling.icm", "linkpipe.icm", "map.icm", "pipe.icm",
                                       "random.icm", "secret.icm", "zero.icm"}));
    // Its page, written into the shared temp folder, never holds the file outside.
    QVERIFY(CreateIcmHtml(kavelon_->path("secret.txt")).contains("GEHEIM"));
    QVERIFY(!CreateIcmHtml(icm + "secret.icm").contains("GEHEIM"));
    QVERIFY(CreateIcmHtml(icm + "groot.icm").size() < 100000);
}

void SendSafetyTest::hiddenAndUndecodableNamesAreNotPassedOver() {
    addOrder(".verborgen.icm", AcceptedOrder("Verborgen", "100200"));
    const QByteArray raw = QFile::encodeName(kavelon_->main() + "icm/") + "caf\xff.icm";
    const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT, 0600);
    QVERIFY(fd >= 0);
    ::close(fd);
    QCOMPARE(kavelon_->run(*portal_), 1);
    QCOMPARE(OrderPostsByFile(*portal_).value(".verborgen.icm"), 1);
    QCOMPARE(kavelon_->names("verzonden"), QStringList({".verborgen.icm"}));
    QVERIFY(::access(raw.constData(), F_OK) == 0);
    const QString log = kavelon_->logs();
    QVERIFY2(log.contains("' wordt niet verzonden. Deze bestandsnaam kan op dit systeem niet "
                          "worden gelezen.\r\n"),
             qPrintable(log));
    const Listing listing = ListMessages(kavelon_->main(), MessageTab::Openstaand, nullptr);
    QCOMPARE(listing.rows.size(), 1);
    QVERIFY(!listing.rows.first().refusal.isEmpty());
    QVERIFY(::unlink(raw.constData()) == 0);  // a name the temporary folder cannot remove
}

// A run killed while it moved an order leaves it under its private name: the next run puts
// it back among the pending orders, beside a new order of the same name if there is one.
void SendSafetyTest::ordersLeftBeingMovedComeBack() {
    const QString icm = kavelon_->main() + "icm/";
    QVERIFY(WriteMessageFile(icm + ".alleen.icm.verzenden", AcceptedOrder("Alleen", "100200")));
    QVERIFY(WriteMessageFile(icm + ".dubbel.icm.verzenden", AcceptedOrder("Oud", "100200")));
    addOrder("dubbel.icm", AcceptedOrder("Nieuw", "100200"));
    const QByteArray old = Contents(icm + ".dubbel.icm.verzenden");
    QCOMPARE(kavelon_->run(*portal_), 0);
    QCOMPARE(kavelon_->names("icm"), QStringList({"alleen.icm", "dubbel (2).icm"}));
    QCOMPARE(Contents(icm + "dubbel (2).icm"), old);
    QCOMPARE(kavelon_->names("verzonden"), QStringList({"dubbel.icm"}));
    QCOMPARE(kavelon_->run(*portal_), 0);  // and the next send sends them
    QVERIFY(kavelon_->names("icm").isEmpty());
}

// Files no ordering software writes: each gets its row, its page and its red line or the
// portal's refusal, nothing is read whole beyond the cap, and the good order is still sent.
void SendSafetyTest::hostileMessageFiles() {
    const QString icm = kavelon_->main() + "icm/";
    QByteArray garbage(4096, 0);
    for (char& byte : garbage) byte = char(QRandomGenerator::global()->bounded(256));
    QVERIFY(WriteBytes(icm + "garbage.icm", garbage));
    QFile huge(icm + "huge.icm");  // 100 MB, sparse
    QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(100LL * 1024 * 1024));
    huge.close();
    QFile line(icm + "oneline.icm");  // a single line of 50 MB
    QVERIFY(line.open(QIODevice::WriteOnly));
    const QByteArray block(1024 * 1024, 'A');
    for (int i = 0; i < 50; ++i) QVERIFY(line.write(block) == block.size());
    line.close();
    QStringList counted = OrderLines("Veel regels", "100200");
    counted[18] = "2000000000";
    addOrder("count.icm", counted);
    QByteArray nul = Contents(icm + "count.icm");
    nul.replace('e', '\0');
    QVERIFY(WriteBytes(icm + "nul.icm", nul));
    addOrder("unreadable.icm", AcceptedOrder("Geen toegang", "100200"));
    QVERIFY(QFile::setPermissions(icm + "unreadable.icm", {}));
    const bool canRefuseReading = ::geteuid() != 0;
    addOrder("zgoed.icm", AcceptedOrder("Goed", "100200"));

    for (const QString& name : QDir(icm).entryList(QDir::Files)) {
        const QString page = CreateIcmHtml(icm + name);  // returns, whatever the file holds
        QVERIFY(!page.isEmpty());
    }
    const Listing listing = ListMessages(kavelon_->main(), MessageTab::Openstaand, nullptr);
    QCOMPARE(listing.rows.size(), 7);

    QCOMPARE(kavelon_->run(*portal_), 1);
    const QHash<QByteArray, int> posts = OrderPostsByFile(*portal_);
    QCOMPARE(posts.value("zgoed.icm"), 1);
    QVERIFY(!posts.contains("huge.icm") && !posts.contains("oneline.icm"));
    if (canRefuseReading) QVERIFY(!posts.contains("unreadable.icm"));
    QStringList pending = {"count.icm", "garbage.icm", "huge.icm", "nul.icm", "oneline.icm"};
    if (canRefuseReading) pending << "unreadable.icm";
    QStringList left = kavelon_->names("icm");
    left.removeAll("unreadable.icm");
    pending.removeAll("unreadable.icm");
    QCOMPARE(left, pending);
    const QString log = kavelon_->logs();
    QCOMPARE(log.count("Het ICM-bericht is groter dan 16 MB en wordt niet verzonden.\r\n"), 2);
    if (canRefuseReading) QVERIFY(log.contains("'unreadable.icm'\r\n" + kSendError + kCheckOnline));
}

void SendSafetyTest::connectionFaultsLetTheNextOrderGoOn_data() {
    QTest::addColumn<QString>("fault");
    for (const char* fault :
         {"drop-before", "drop-after", "http500", "no-tags", "truncated", "oversized",
          "reversed-tags", "slow", "redirect-307", "unresolvable name", "silent portal",
          "dropping portal", "proxy port closed", "silent proxy", "dropping proxy"})
        QTest::newRow(fault) << QString(fault);
}

// Every order meets the fault and gets the error lines; the run ends within its time-outs.
void SendSafetyTest::connectionFaultsLetTheNextOrderGoOn() {
    QFETCH(QString, fault);
    addOrder("a.icm", AcceptedOrder("Eerste", "100200"));
    addOrder("b.icm", AcceptedOrder("Tweede", "300400"));
    QHash<QString, QString> env{{"KAVELON_REQUEST_TIMEOUT_MS", "2000"}};
    QTcpServer listener;  // stands for a portal or proxy that never answers, or hangs up
    QList<QTcpSocket*> held;
    QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
    const QString listenerUrl = "https://127.0.0.1:" + QString::number(listener.serverPort());
    connect(&listener, &QTcpServer::newConnection, &listener, [&] {
        while (QTcpSocket* socket = listener.nextPendingConnection()) {
            if (fault.startsWith("dropping"))
                socket->abort();
            else
                held << socket;
        }
    });
    if (fault == "unresolvable name")
        env.insert("KAVELON_PORTAL_URL", "https://portal.invalid");
    else if (fault == "silent portal" || fault == "dropping portal")
        env.insert("KAVELON_PORTAL_URL", listenerUrl);
    else if (fault == "proxy port closed") {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        kavelon_->setSetting("ProxyUsed", "1");
        kavelon_->setSetting("ProxyAdres", "127.0.0.1");
        kavelon_->setSetting("ProxyPort", QString::number(closed.serverPort()));
    } else if (fault.endsWith("proxy")) {
        kavelon_->setSetting("ProxyUsed", "1");
        kavelon_->setSetting("ProxyAdres", "127.0.0.1");
        kavelon_->setSetting("ProxyPort", QString::number(listener.serverPort()));
    } else
        portal_->setFault(fault);
    const qsizetype before = portal_->requests().size();
    QProcess run;
    kavelon_->start(run, *portal_, env);
    QCOMPARE(FinishServing(run, 120000), 1);
    if (fault.contains("proxy")) QCOMPARE(portal_->requests().size(), before);  // never direct
    QCOMPARE(kavelon_->names("icm"), QStringList({"a.icm", "b.icm"}));
    QVERIFY(kavelon_->names("verzonden").isEmpty());
    const QString log = kavelon_->logs();
    QCOMPARE(log.count(kSendError + kCheckOnline), 2);
    QVERIFY(log.contains("'b.icm'\r\n" + kSendError));
}

// A real proxy that refuses the login: no order goes around it, each gets its lines.
void SendSafetyTest::refusingProxyLetsTheNextOrderGoOn() {
    if (SquidProxy::Program().isEmpty())
        QSKIP("squid is not installed (tools/setup.sh installs it)");
    SquidProxy proxy(SquidProxy::Login::Basic, "klant", "juist");
    QVERIFY(proxy.started());
    kavelon_->setSetting("ProxyUsed", "1");
    kavelon_->setSetting("ProxyAdres", "127.0.0.1");
    kavelon_->setSetting("ProxyPort", QString::number(proxy.port()));
    kavelon_->setSetting("ProxyUser", "klant");
    kavelon_->setSetting("ProxyToegang", "onjuist");
    addOrder("a.icm", AcceptedOrder("Eerste", "100200"));
    addOrder("b.icm", AcceptedOrder("Tweede", "300400"));
    const qsizetype before = portal_->requests().size();
    QCOMPARE(kavelon_->run(*portal_, {{"KAVELON_REQUEST_TIMEOUT_MS", "5000"}}), 1);
    QCOMPARE(portal_->requests().size(), before);  // no direct connection instead
    QCOMPARE(kavelon_->names("icm"), QStringList({"a.icm", "b.icm"}));
    QCOMPARE(kavelon_->logs().count(kSendError + kCheckOnline), 2);
}

// A second "kavelon auto" makes its list, then waits for the first one's lock: it sends only
// what is still pending then, so no order is posted twice and no false alarm is raised.
void SendSafetyTest::twoRunsAtOncePostEachOrderOnce() {
    const int rounds = qEnvironmentVariableIsSet("KAVELON_TWO_RUNS_ROUNDS")
                           ? qEnvironmentVariableIntValue("KAVELON_TWO_RUNS_ROUNDS")
                           : 100;
    const quint32 seed = QRandomGenerator::system()->generate();
    QRandomGenerator random(seed);
    int overlapping = 0;
    for (int round = 0; round < rounds; ++round) {
        const QString prefix = "r" + QString::number(round);
        addOrder(prefix + "a.icm", AcceptedOrder("Eerste " + prefix, "100200"));
        addOrder(prefix + "b.icm", AcceptedOrder("Tweede " + prefix, "300400"));
        QProcess first;
        QProcess second;
        kavelon_->start(first, *portal_);
        QThread::msleep(random.bounded(400));
        if (!first.waitForFinished(0)) ++overlapping;
        kavelon_->start(second, *portal_);
        const int firstStatus = PrivateKavelon::Finish(first);
        const int secondStatus = PrivateKavelon::Finish(second);
        QVERIFY2(firstStatus == 0 && secondStatus == 0,
                 qPrintable(QString("round %1 (seed %2): %3 and %4\n%5")
                                .arg(round)
                                .arg(seed)
                                .arg(firstStatus)
                                .arg(secondStatus)
                                .arg(kavelon_->logs())));
        kavelon_->removeLogs();
    }
    const QHash<QByteArray, int> posts = OrderPostsByFile(*portal_);
    int twice = 0;
    for (int round = 0; round < rounds; ++round)
        for (const char* order : {"a.icm", "b.icm"})
            if (posts.value("r" + QByteArray::number(round) + order) != 1) ++twice;
    qInfo(
        "two runs at once: %d rounds (%d with the first still running when the second "
        "started), seed %u, %d orders not posted exactly once",
        rounds, overlapping, seed, twice);
    QCOMPARE(twice, 0);
    QVERIFY(kavelon_->names("icm").isEmpty());
}

QTEST_GUILESS_MAIN(SendSafetyTest)
#include "tst_portal_sendsafety.moc"
