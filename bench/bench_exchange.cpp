// The send and the fetch of the whole program: "kavelon auto" against the sandbox portal,
// each beside its baseline and at two sizes.
//
//   bench_exchange <kavelon> <kavelon-portal> [send orders] [fetch confirmations]
//
// Send: the pace of the orders as the sandbox records their arrival, beside curl posting the
// same bodies over one connection to the same sandbox; and the connections the program
// opened (one TLS handshake for the whole run). Fetch: the time a run with N confirmations
// waiting takes over a run with none, beside curl fetching the same answer (over an empty
// one) plus a plain loop writing the same files with the same durability (each under a
// temporary name, its data on disk before it is renamed into place, the folder synced at the
// end).
#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSet>

#include "benchsupport.h"
#include "core/textutil.h"

using namespace bench;

namespace {

const QString kOrders = QStringLiteral("/icmpost.aspx");

// The requests to a path from record `from` on: their spacing and their bodies.
struct Pace {
    int requests = 0;
    double msPerRequest = -1;
    QList<QByteArray> bodies;
};

Pace PaceOf(const QList<QJsonObject>& records, qsizetype from, const QString& path) {
    Pace pace;
    qint64 first = 0, last = 0;
    for (qsizetype i = from; i < records.size(); ++i) {
        if (records[i].value(QStringLiteral("path")).toString() != path) continue;
        const qint64 time = RecordTime(records[i]);
        if (pace.requests++ == 0) first = time;
        last = time;
        pace.bodies.append(RecordBody(records[i]));
    }
    if (pace.requests > 1) pace.msPerRequest = double(last - first) / (pace.requests - 1);
    return pace;
}

int ConnectionsOf(const QList<QJsonObject>& records, qsizetype from, qsizetype to) {
    QSet<QString> peers;
    for (qsizetype i = from; i < to; ++i)
        peers.insert(records[i].value(QStringLiteral("peer")).toString());
    return int(peers.size());
}

int FilesIn(const QString& folder, const QString& pattern) {
    return int(QDir(folder).entryList({pattern}, QDir::Files).size());
}

// Sends `count` orders; returns the program's time per order, or a negative value.
double Send(const QString& kavelon, const QString& portal, int count, double& totalMs) {
    Installation installation(kavelon);
    Sandbox sandbox(portal, installation.path(QStringLiteral("state")));
    if (!installation.ok() || !sandbox.started()) return -1;
    for (int i = 0; i < count; ++i)
        WriteFile(installation.main() +
                      QStringLiteral("icm/order %1.icm").arg(i, 5, 10, QLatin1Char('0')),
                  OrderFile(i, 3));
    totalMs = installation.runAuto(sandbox);
    const QList<QJsonObject> program = sandbox.requests();
    const Pace kavelonPace = PaceOf(program, 0, kOrders);
    const int sent =
        FilesIn(installation.main() + QStringLiteral("verzonden"), QStringLiteral("*.icm"));
    if (totalMs < 0 || kavelonPace.requests != count || sent != count) {
        std::fprintf(stderr, "send: %d of %d orders posted, %d moved\n", kavelonPace.requests,
                     count, sent);
        return -1;
    }
    if (!CurlPost(sandbox, kOrders, kavelonPace.bodies, installation.path(QStringLiteral("curl"))))
        return -1;
    const QList<QJsonObject> all = sandbox.requests();
    const Pace curlPace = PaceOf(all, program.size(), kOrders);
    const QString size = QStringLiteral("%1 orders").arg(count);
    PrintFigure("send, per order", size, kavelonPace.msPerRequest, curlPace.msPerRequest, 1.25,
                "curl, one connection");
    std::printf("%-30s %-13s %10d     curl %d  target 1\n", "send, TLS connections",
                qPrintable(size), ConnectionsOf(program, 0, program.size()),
                ConnectionsOf(all, program.size(), all.size()));
    return kavelonPace.msPerRequest;
}

QList<QByteArray> OrderBodies(int count) {
    QList<QByteArray> bodies;
    for (int i = 0; i < count; ++i) {
        const QString text = kavelon::DecodeCp1252(OrderFile(i, 3));
        bodies.append("customerid=100-200&username=demo&password=demo&file=bevestigingxax" +
                      QByteArray::number(i) +
                      ".icm&icm=" + kavelon::UrlEncode(text).value_or(QString()).toLatin1());
    }
    return bodies;
}

// Files deleted within the last minute make the file system slower to create new ones (it
// skips their inodes), so neither side of the fetch figure deletes anything before it is
// timed: each run writes into a folder of its own, and the one before is only moved aside.
void MoveAside(const QString& folder) {
    static int moved = 0;
    QDir().rename(folder, folder + QStringLiteral("-old-%1").arg(++moved));
    QDir().mkpath(folder);
}

// The plain loop: every file under a temporary name, the data of all on disk, each renamed
// into place, the folder synced.
double PlainWrites(const QList<std::pair<QString, QByteArray>>& files, const QString& folder) {
    MoveAside(folder);
    QElapsedTimer timer;
    timer.start();
    for (const auto& [name, bytes] : files) {
        const QByteArray temp = QFile::encodeName(folder + u'/' + name + QStringLiteral(".tmp"));
        const int fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::write(fd, bytes.constData(), bytes.size()) != bytes.size()) return -1;
        ::close(fd);
    }
    const int dir = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    ::syncfs(dir);
    for (const auto& [name, bytes] : files) {
        const QByteArray path = QFile::encodeName(folder + u'/' + name);
        if (::rename((path + ".tmp").constData(), path.constData()) != 0) return -1;
    }
    ::fsync(dir);
    ::close(dir);
    return timer.nsecsElapsed() / 1e6;
}

QList<std::pair<QString, QByteArray>> FilesOf(const QString& folder) {
    QList<std::pair<QString, QByteArray>> files;
    for (const QString& name : QDir(folder).entryList({QStringLiteral("*.icb")}, QDir::Files)) {
        QFile file(folder + u'/' + name);
        if (file.open(QIODevice::ReadOnly)) files.append({name, file.readAll()});
    }
    return files;
}

const QByteArray kFetchBody = "debnr=100-200&dept=demo&password=demo";

// curl fetching one answer with `count` confirmations, over the time of fetching an empty one:
// the portal's and the connection's share of the fetch, which the program's figure holds too.
double CurlFetchMs(const Installation& installation, const Sandbox& sandbox,
                   const QList<QByteArray>& bodies) {
    const QString folder = installation.path(QStringLiteral("curl"));
    const auto fetch = [&] {
        QElapsedTimer timer;
        timer.start();
        return CurlPost(sandbox, QStringLiteral("/icbpost.aspx"), {kFetchBody}, folder)
                   ? timer.nsecsElapsed() / 1e6
                   : 1e300;
    };
    const double empty = fetch();
    if (!CurlPost(sandbox, kOrders, bodies, folder)) return 1e300;
    return fetch() - empty;
}

// Fetches `count` confirmations; returns the time the fetch added to the run.
double Fetch(Installation& installation, Sandbox& sandbox, double emptyRunMs, int count, int runs,
             double& plainMs) {
    const QList<QByteArray> bodies = OrderBodies(count);
    const QString icb = installation.main() + QStringLiteral("icb");
    const double ms = MedianOf(runs, [&] {
        MoveAside(icb);
        if (!CurlPost(sandbox, kOrders, bodies, installation.path(QStringLiteral("curl"))))
            return 1e300;
        ::sync();  // the bodies just written for curl are not the program's to flush
        const double run = installation.runAuto(sandbox);
        return run < 0 || FilesIn(icb, QStringLiteral("*.icb")) != count ? 1e300 : run - emptyRunMs;
    });
    const auto files = FilesOf(icb);
    const QString plainFolder = installation.path(QStringLiteral("plain"));
    const double plain = MedianOf(runs, [&] {
        const double answer = CurlFetchMs(installation, sandbox, bodies);
        ::sync();
        return answer + PlainWrites(files, plainFolder);
    });
    if (ms > 1e299) {
        std::fprintf(stderr, "fetch: the run did not store %d confirmations\n", count);
        return -1;
    }
    PrintFigure("fetch, one answer", QStringLiteral("%1 files").arg(count), ms, plain, 2.0,
                "curl fetching it, plain write loop");
    plainMs = plain;
    return ms;
}

// Half the orders and all of them; 1 when a run failed.
int SendFigures(const QString& kavelon, const QString& portal, int orders) {
    double smallTotal = 0, largeTotal = 0;
    const double small = Send(kavelon, portal, orders / 2, smallTotal);
    const double large = Send(kavelon, portal, orders, largeTotal);
    if (small <= 0 || large <= 0) return 1;
    PrintFigure("send, growth (whole run)", QStringLiteral("%1/%2").arg(orders).arg(orders / 2),
                largeTotal, smallTotal, 2.2, "half the orders");
    return 0;
}

// The files and twice as many; 1 when a run failed.
int FetchFigures(const QString& kavelon, const QString& portal, int files) {
    Installation installation(kavelon);
    Sandbox sandbox(portal, installation.path(QStringLiteral("state")));
    if (!installation.ok() || !sandbox.started()) return 1;
    const double emptyRun = BestOf(3, [&] { return installation.runAuto(sandbox); });
    double plainSmall = 0, plainLarge = 0;
    const double small = Fetch(installation, sandbox, emptyRun, files, 3, plainSmall);
    const double large = Fetch(installation, sandbox, emptyRun, 2 * files, 3, plainLarge);
    if (small <= 0 || large <= 0) return 1;
    const QString sizes = QStringLiteral("%1/%2").arg(2 * files).arg(files);
    PrintFigure("fetch, growth", sizes, large, small, 2.2, "half the files");
    // Files deleted on the machine within the last minutes make every file creation slower,
    // the more files the more so: the baseline shows how much of the growth that is.
    PrintFigure("fetch, growth, baseline", sizes, plainLarge, plainSmall, 0, "half the files");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_exchange <kavelon> <kavelon-portal> [orders] [files]\n");
        return 2;
    }
    const QString kavelon = QString::fromLocal8Bit(argv[1]);
    const QString portal = QString::fromLocal8Bit(argv[2]);
    const int orders = argc > 3 ? QString::fromLocal8Bit(argv[3]).toInt() : 1000;
    const int files = argc > 4 ? QString::fromLocal8Bit(argv[4]).toInt() : 2000;
    int failures = 0;

    // The fetch first: the send's installations delete their files when they are done.
    if (files > 0) failures += FetchFigures(kavelon, portal, files);
    if (orders > 0) failures += SendFigures(kavelon, portal, orders);
    return failures == 0 ? 0 : 1;
}
