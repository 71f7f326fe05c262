#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QThread>
#include <QtTest>

#include "core/actionlock.h"
#include "kavelonrun.h"
#include "messagefiles.h"

using namespace kavelon;

namespace {

constexpr int kKills = 55;
constexpr int kSlowMs = 150;
const QString kMovingSuffix = ".verzenden";  // the name an order has while it is moved

}  // namespace

// The real "kavelon auto", killed (SIGKILL) at moments spread over a send to a portal that
// answers slowly: no order is ever lost or changed, and the next run takes over.
class CrashSendTest : public QObject {
    Q_OBJECT
  private slots:
    void killsDuringSendsLoseNothing();

  private:
    void writeOrders(int count);
    void checkEveryOrderOnce(const QString& moment);
    void checkAccounts();

    std::unique_ptr<SandboxPortal> portal_;
    std::unique_ptr<PrivateKavelon> kavelon_;
    QHash<QString, QByteArray> written_;  // every order written, by name
    int next_ = 0;
};

void CrashSendTest::writeOrders(int count) {
    for (int i = 0; i < count; ++i) {
        const QString name = QString("order%1.icm").arg(next_, 3, 10, QChar('0'));
        const QString debNr = next_ % 2 ? "100200" : "300400";
        const QString path = kavelon_->main() + "icm/" + name;
        QVERIFY(WriteMessageFile(path, AcceptedOrder("Order " + QString::number(next_), debNr)));
        written_.insert(name, Contents(path));
        ++next_;
    }
}

// Each order is in icm (or, after a kill, under its private name there) or in verzonden,
// never in both, never gone, and byte for byte as written.
void CrashSendTest::checkEveryOrderOnce(const QString& moment) {
    const QString main = kavelon_->main();
    for (auto it = written_.begin(); it != written_.end(); ++it) {
        const QStringList places = {main + "icm/" + it.key(),
                                    main + "icm/." + it.key() + kMovingSuffix,
                                    main + "verzonden/" + it.key()};
        int found = 0;
        for (const QString& place : places) {
            if (!QFileInfo::exists(place)) continue;
            ++found;
            QVERIFY2(Contents(place) == it.value(), qPrintable(moment + ": " + place + " changed"));
        }
        QVERIFY2(found == 1,
                 qPrintable(QString("%1: %2 found %3 times").arg(moment, it.key()).arg(found)));
    }
}

void CrashSendTest::checkAccounts() {
    AccountStore store;
    QString error;
    QVERIFY2(store.open(kavelon_->accountFile(), error), qPrintable(error));
    const auto accounts = store.selectAll(error);
    QVERIFY2(accounts && accounts->size() == 2, qPrintable(error));
}

void CrashSendTest::killsDuringSendsLoseNothing() {
    const quint32 seed = qEnvironmentVariableIsSet("KAVELON_CRASH_SEED")
                             ? quint32(qEnvironmentVariableIntValue("KAVELON_CRASH_SEED"))
                             : QRandomGenerator::system()->generate();
    qInfo("KAVELON_CRASH_SEED=%u", seed);
    QRandomGenerator random(seed);
    portal_ = std::make_unique<SandboxPortal>(KAVELON_PORTAL_PROGRAM, kSlowMs);
    QVERIFY(portal_->started());
    portal_->setFault("slow");
    kavelon_ = std::make_unique<PrivateKavelon>(KAVELON_BINARY);
    QVERIFY(kavelon_->ready());

    // How long a whole send of three orders takes: the kills fall within it.
    writeOrders(3);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(kavelon_->run(*portal_), 0);
    const int sendMs = int(clock.elapsed());
    checkEveryOrderOnce("after the first run");

    int kills = 0;
    int endedFirst = 0;
    while (kills < kKills) {
        if (kavelon_->names("icm").size() < 3) writeOrders(3);
        QProcess run;
        kavelon_->start(run, *portal_);
        QVERIFY(run.waitForStarted(10000));
        QThread::msleep(random.bounded(sendMs));
        if (run.waitForFinished(0)) {
            ++endedFirst;
        } else {
            run.kill();
            QVERIFY(run.waitForFinished(10000));
            ++kills;
        }
        checkEveryOrderOnce(QString("after kill %1").arg(kills));
        checkAccounts();
        if (QTest::currentTestFailed()) return;
    }

    kavelon_->removeLogs();
    QCOMPARE(kavelon_->run(*portal_), 0);  // takes over the lock of the killed run
    QVERIFY(!kavelon_->logs().contains(ActionLock::kBusyText));
    checkEveryOrderOnce("after the normal run");
    checkAccounts();
    for (const QString& name : kavelon_->names("icm"))
        QVERIFY2(!name.endsWith(kMovingSuffix), qPrintable(name + " was not brought back"));

    int postedAgain = 0;
    for (const int posts : OrderPostsByFile(*portal_)) postedAgain += posts > 1 ? 1 : 0;
    qInfo(
        "send crash harness: %d kills within %d ms of a send, %d runs ended before their "
        "kill, %d orders written, %d posted again after an answer that never arrived, %d "
        "still pending",
        kills, sendMs, endedFirst, int(written_.size()), postedAgain,
        int(kavelon_->names("icm").size()));
}

QTEST_GUILESS_MAIN(CrashSendTest)
#include "tst_portal_crash_send.moc"
