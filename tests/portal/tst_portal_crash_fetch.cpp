#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>
#include <QtTest>

#include "core/durablefile.h"
#include "kavelonrun.h"
#include "portal/exchange.h"

#include <signal.h>

using namespace kavelon;

namespace {

constexpr int kKills = 52;
constexpr int kHeldBackMs = 250;     // how long the sandbox holds back the end of each answer
constexpr int kLatestKillMs = 650;   // the kill comes this long after the first fetch at most
constexpr qint64 kInFlightMs = 250;  // an answer this fresh may still be on its way when killed
constexpr int kQueuedPerAccount = 8;
constexpr int kBatchTemporaries =
    1000;  // the program flushes up to this many confirmations at once

quint32 CrashSeed() {
    bool ok = false;
    const quint32 seed = qEnvironmentVariable("KAVELON_CRASH_SEED").toUInt(&ok);
    return ok ? seed : QRandomGenerator::system()->generate();
}

}  // namespace

// Kills the real "kavelon auto" with SIGKILL at many moments inside a fetch, against a portal
// that hands each confirmation out once and holds back the end of every answer.
class CrashFetchTest : public QObject {
    Q_OBJECT
  private slots:
    void killsDuringTheFetchLoseNothing();

  private:
    void checkMainDirectory(const QString& when, int mostTemporaries);
    bool waitForFetch(qsizetype requestsBefore, int timeoutMs) const;
    int fetchRequests() const;

    std::unique_ptr<SandboxPortal> portal_;
    PrivateKavelon kavelon_{KAVELON_BINARY};
    QString main_;
};

int CrashFetchTest::fetchRequests() const {
    int count = 0;
    for (const QJsonObject& record : portal_->requests())
        if (record.value("path").toString() == "/icbpost.aspx") ++count;
    return count;
}

bool CrashFetchTest::waitForFetch(qsizetype requestsBefore, int timeoutMs) const {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (fetchRequests() > requestsBefore) return true;
        QThread::msleep(2);
    }
    return false;
}

// Every stored confirmation is whole, the accounts are all there, leftovers do not pile up:
// a killed run leaves at most the temporary files of the batch it was writing, and the next
// run removes them before it writes.
void CrashFetchTest::checkMainDirectory(const QString& when, int mostTemporaries) {
    QHash<QString, QByteArray> expected;
    const QHash<QString, QByteArray> handedOut = HandedOut(*portal_);
    for (auto it = handedOut.begin(); it != handedOut.end(); ++it)
        expected.insert(StoredConfirmationName(it.key()), it.value());
    int temporaries = 0;
    for (const QString& name : QDir(main_ + "icb").entryList(QDir::Files | QDir::Hidden)) {
        if (name.endsWith(".icb")) {
            QVERIFY2(Contents(main_ + "icb/" + name) == expected.value(name, "<not handed out>"),
                     qPrintable(when + ": " + name + " is not whole"));
        } else {
            QVERIFY2(IsDurableTemporaryName(name), qPrintable(when + ": stray file " + name));
            ++temporaries;
        }
    }
    QVERIFY2(temporaries <= mostTemporaries, qPrintable(when + ": temporary files pile up"));
    QVERIFY2(QDir(main_ + "temp").entryList({"icbantwoord-*.txt.*"}, QDir::Files).size() <= 1,
             qPrintable(when + ": temporary answers pile up"));
    AccountStore store;
    QString error;
    QVERIFY2(store.open(kavelon_.accountFile(), error), qPrintable(error));
    const auto accounts = store.selectAll(error);
    QVERIFY2(accounts && accounts->size() == 2, qPrintable(when + ": accounts lost " + error));
}

void CrashFetchTest::killsDuringTheFetchLoseNothing() {
    const quint32 seed = CrashSeed();
    qInfo("KAVELON_CRASH_SEED=%u", seed);
    QRandomGenerator random(seed);
    portal_ = std::make_unique<SandboxPortal>(KAVELON_PORTAL_PROGRAM, kHeldBackMs);
    QVERIFY2(portal_->started(), "the sandbox portal did not start");
    QVERIFY(kavelon_.ready());
    main_ = kavelon_.main();
    portal_->setFault("slow-end");

    int queued = 0, killed = 0, killedWhileHeldBack = 0, killedWithAnswerKept = 0,
        killedInFlight = 0;
    QSet<QString> mayBeLost;  // handed out just before a kill: possibly never arrived
    QElapsedTimer clock;
    clock.start();
    for (int kill = 0; kill < kKills; ++kill) {
        QVERIFY(QueueConfirmations(*portal_, kQueuedPerAccount, QString("k%1-a").arg(kill)));
        QVERIFY(QueueConfirmations(*portal_, kQueuedPerAccount, QString("k%1-b").arg(kill), true));
        queued += 2 * kQueuedPerAccount;
        const qsizetype handedBefore = HandedOut(*portal_).size();
        const int fetchesBefore = fetchRequests();
        QProcess process;
        kavelon_.start(process, *portal_);
        QVERIFY2(waitForFetch(fetchesBefore, 30000),
                 "the run never fetched: the lock of the killed run was not taken over");
        QThread::msleep(random.bounded(kLatestKillMs));
        const qint64 killedAt = QDateTime::currentMSecsSinceEpoch();
        ::kill(pid_t(process.processId()), SIGKILL);
        QVERIFY(process.waitForFinished(10000));
        if (process.exitStatus() != QProcess::CrashExit) continue;  // it had finished
        ++killed;

        QThread::msleep(50);  // the portal sees the connection go
        const bool answerKept =
            !QDir(main_ + "temp").entryList({"icbantwoord-*.txt"}, QDir::Files).isEmpty();
        killedWithAnswerKept += answerKept;
        killedWhileHeldBack += HandedOut(*portal_).size() == handedBefore;
        // The portal writes its record of hand-outs with the first one.
        QFile log(portal_->stateFile("handed-out.log"));
        QVERIFY(!log.exists() || log.open(QIODevice::ReadOnly));
        // An answer handed out just before the kill (or as the portal had not yet seen it)
        // may never have arrived: then none of it is stored and nothing of it is kept.
        QHash<qint64, QList<QString>> recentAnswers;
        for (const QByteArray& line : (log.isOpen() ? log.readAll() : QByteArray()).split('\n')) {
            const QJsonObject entry = QJsonDocument::fromJson(line).object();
            const qint64 handedOutAt = entry.value("time").toInteger();
            if (!entry.isEmpty() && killedAt - handedOutAt <= kInFlightMs)
                recentAnswers[handedOutAt].append(
                    StoredConfirmationName(entry.value("name").toString()));
        }
        bool inFlight = false;
        for (auto it = recentAnswers.begin(); it != recentAnswers.end(); ++it) {
            int storedOfIt = 0;
            for (const QString& name : it.value())
                storedOfIt += QFileInfo::exists(main_ + "icb/" + name);
            if (answerKept || storedOfIt == it.value().size()) continue;
            QVERIFY2(storedOfIt == 0, "an answer partly stored and not kept");
            for (const QString& name : it.value()) mayBeLost.insert(name);
            inFlight = true;
            qInfo("kill %d: an answer handed out %lld ms before it, %s", kill, killedAt - it.key(),
                  QDir(main_ + "temp").entryList({"icbantwoord-*.txt.*"}, QDir::Files).isEmpty()
                      ? "not yet being kept"
                      : "killed while it was written to temp");
        }
        killedInFlight += inFlight;
        checkMainDirectory(QString("after kill %1").arg(kill), kBatchTemporaries);
        if (QTest::currentTestFailed()) return;
    }

    portal_->setFault(QString());
    kavelon_.removeLogs();
    QCOMPARE(kavelon_.run(*portal_), 0);
    checkMainDirectory("after the normal run", 0);
    const QStringList stored = QDir(main_ + "icb").entryList({"*.icb"}, QDir::Files);
    int lost = 0;
    for (const QString& name : HandedOut(*portal_).keys())
        if (!stored.contains(StoredConfirmationName(name))) {
            QVERIFY2(mayBeLost.contains(StoredConfirmationName(name)),
                     qPrintable(name + " was handed out and lost"));
            ++lost;
        }
    QCOMPARE(HandedOut(*portal_).size(), queued);
    QVERIFY(QDir(main_ + "icb").entryList(QDir::Files | QDir::Hidden).size() == stored.size());
    QCOMPARE(QDir(main_ + "temp").entryList({"icbantwoord-*"}, QDir::Files), QStringList());
    qInfo(
        "kills: %d inside the fetch (%d while an answer was held back, %d with an answer kept "
        "in temp, %d with an answer on its way); confirmations: %d handed out, %lld stored, "
        "%d lost on the way; %lld ms",
        kKills, killedWhileHeldBack, killedWithAnswerKept, killedInFlight, queued, stored.size(),
        lost, clock.elapsed());
}

QTEST_GUILESS_MAIN(CrashFetchTest)
#include "tst_portal_crash_fetch.moc"
