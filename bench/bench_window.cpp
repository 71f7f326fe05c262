// The window side of the program at scale, each figure beside its baseline:
//   - the progress box and the log of an unattended run with many lines, at two sizes;
//   - start-up with many pending orders (window shown, list filled) in a child process,
//     beside a plain loop reading the files' first 14 lines, and the child's peak memory;
//   - the fills of the pending and the confirmations list, beside the same plain loop;
//   - the page of an order with many lines, at two sizes.
//
//   bench_window [progress lines] [pending orders] [page order lines]
//   bench_window --startup <main directory>   (the child of the start-up figure)
#include <QApplication>
#include <QEventLoop>
#include <QSaveFile>
#include <QTabBar>
#include <QToolButton>
#include <QTreeWidget>

#include "app/frmsendicm.h"
#include "app/progressbox.h"
#include "benchsupport.h"
#include "core/logfile.h"
#include "core/workdirs.h"
#include "messages/orderpage.h"

using namespace bench;
using namespace kavelon;

namespace {

QString MainDirectory(const QTemporaryDir& root) {
    QString main = root.filePath(QStringLiteral("rilvost")) + u'/';
    QDir().mkpath(main);
    CreateWorkDirs(main);
    return main;
}

// An unattended run whose send writes `lines` progress lines, three per order as a send
// does, letting events be processed after each order (and, with showEveryOrder, putting the
// lines into the box's document after each order, as on a machine where every order takes
// longer than the box waits). The time from showing the window to the log written.
double UnattendedRunMs(int lines, bool showEveryOrder) {
    QTemporaryDir root;
    Settings settings;
    settings.Directory = MainDirectory(root);
    settings.OnlineCheck = false;
    MainWindowParts parts;
    parts.settings = &settings;
    FrmSendIcm* shown = nullptr;
    parts.verzenden = [lines, showEveryOrder, &shown](const QStringList&, ProgressSink& progress,
                                                      EventPump& pump) {
        for (int i = 0; i < lines; ++i) {
            const int kind = i % 3;
            progress.SchrijfVoortgang(
                kind == 2
                    ? QString()
                    : QStringLiteral("Order 'bestelling %1.icm' is ontvangen onder ordernummer %2.")
                          .arg(i)
                          .arg(700000 + i),
                kind == 1 ? kBlauw : kZwart, false);
            if (kind != 2) continue;
            if (showEveryOrder) shown->progressBox()->ShowPendingLines();
            pump.ProcessPendingEvents();
        }
    };
    QElapsedTimer timer;
    timer.start();
    FrmSendIcm window(parts, {QStringLiteral("kavelon"), QStringLiteral("auto")});
    shown = &window;
    // Timed as with a screen: the box's document takes every line.
    window.progressBox()->setLinesOnly(false);
    QEventLoop loop;
    double ms = -1;
    QObject::connect(&window, &FrmSendIcm::unattendedRunFinished, &loop, [&](int status) {
        ms = status == 0 ? timer.nsecsElapsed() / 1e6 : -1;
        loop.quit();
    });
    window.show();
    loop.exec();
    return ms;
}

// The plain loop: the same lines kept in a list and written as one file.
double PlainLogMs(int lines) {
    QTemporaryDir root;
    QElapsedTimer timer;
    timer.start();
    QStringList kept;
    for (int i = 0; i < lines; ++i)
        kept.append(i % 3 == 2 ? QString()
                               : QStringLiteral("Order 'bestelling %1.icm' is ontvangen onder "
                                                "ordernummer %2.")
                                     .arg(i)
                                     .arg(700000 + i));
    QSaveFile file(root.filePath(QStringLiteral("log.txt")));
    file.open(QIODevice::WriteOnly);
    file.write(EncodeCp1252(kept.join(QStringLiteral("\r\n"))));
    file.commit();
    return timer.nsecsElapsed() / 1e6;
}

void ProgressFigures(int lines, bool showEveryOrder) {
    const char* name = showEveryOrder ? "progress box, shown per order" : "progress box and log";
    const double empty = BestOf(5, [&] { return UnattendedRunMs(0, showEveryOrder); });
    double ms[2];
    for (int i = 0; i < 2; ++i) {
        const int count = lines << i;
        ms[i] = BestOf(3, [&] { return UnattendedRunMs(count, showEveryOrder); }) - empty;
        const double plain = BestOf(3, [&] { return PlainLogMs(count); });
        PrintFigure(name, QStringLiteral("%1 lines").arg(count), ms[i], plain, 0,
                    "plain list and file");
    }
    PrintFigure(showEveryOrder ? "progress box, shown, growth" : "progress box and log, growth",
                QStringLiteral("%1/%2").arg(2 * lines).arg(lines), ms[1], ms[0], 2.2,
                "half the lines");
}

// The child: the window of a program started with this main directory, shown, its list filled.
int StartUpChild(const QString& main) {
    QElapsedTimer timer;
    timer.start();
    Settings settings;
    settings.Directory = main;
    settings.OnlineCheck = false;
    AccountStore database;
    QString error;
    database.open(QDir(main).filePath(QStringLiteral("../Kavelon.kvd")), error);
    MainWindowParts parts;
    parts.settings = &settings;
    parts.database = &database;
    FrmSendIcm window(parts, {QStringLiteral("kavelon")});
    window.show();
    QCoreApplication::processEvents();
    const int rows =
        window.findChild<QTreeWidget*>(QStringLiteral("lstBerichten"))->topLevelItemCount();
    std::printf("%f %d\n", timer.nsecsElapsed() / 1e6, rows);
    return 0;
}

// Runs the child; its time, and its peak memory in MB through `peakMb`.
double StartUpMs(const QString& main, int expectedRows) {
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--startup"), main});
    if (!child.waitForFinished(600000) || child.exitCode() != 0) return -1;
    const QList<QByteArray> out = child.readAllStandardOutput().trimmed().split(' ');
    if (out.value(1).toInt() != expectedRows) {
        std::fprintf(stderr, "start-up: %s rows, expected %d\n", out.value(1).constData(),
                     expectedRows);
        return -1;
    }
    return out.value(0).toDouble();
}

void WriteOrders(const QString& folder, int count, const char* extension) {
    for (int i = 0; i < count; ++i)
        WriteFile(
            folder +
                QStringLiteral("/bestelling %1.%2").arg(i, 5, 10, QLatin1Char('0')).arg(extension),
            OrderFile(i, 3));
}

void StartUpFigures(int orders) {
    QTemporaryDir empty, full;
    const QString emptyMain = MainDirectory(empty), fullMain = MainDirectory(full);
    WriteOrders(fullMain + kFolderIcm, orders, "icm");
    const double bare = BestOf(3, [&] { return StartUpMs(emptyMain, 0); });
    const double loaded = BestOf(3, [&] { return StartUpMs(fullMain, orders); });
    const double peak = ChildrenPeakMb();
    const double plain =
        BestOf(3, [&] { return ReadHeadersMs(fullMain + kFolderIcm, QStringLiteral("*.icm")); });
    const QString size = QStringLiteral("%1 pending").arg(orders);
    PrintFigure("start-up, extra", size, loaded - bare, plain, 1.5, "plain 14-line reads");
    PrintLimit("start-up, peak memory", size, peak, "MB", 120);
}

// The fill of a tab with `count` files, through the window's own tab strip or refresh.
void ListFillFigures(int count) {
    QTemporaryDir root;
    const QString main = MainDirectory(root);
    WriteOrders(main + kFolderIcm, count, "icm");
    WriteOrders(main + kFolderIcb, count, "icb");
    Settings settings;
    settings.Directory = main;
    settings.OnlineCheck = false;
    MainWindowParts parts;
    parts.settings = &settings;
    FrmSendIcm window(parts, {QStringLiteral("kavelon")});
    window.show();
    QCoreApplication::processEvents();
    auto* tabs = window.findChild<QTabBar*>(QStringLiteral("tabDir"));
    auto* refresh = window.findChild<QToolButton*>(QStringLiteral("cmdRefresh"));
    const auto fill = [&](int tab) {
        QElapsedTimer timer;
        timer.start();
        if (tabs->currentIndex() == tab)
            refresh->click();
        else
            tabs->setCurrentIndex(tab);
        return timer.nsecsElapsed() / 1e6;
    };
    const QString size = QStringLiteral("%1 files").arg(count);
    const double pending = BestOf(3, [&] { return fill(0); });
    PrintFigure(
        "list fill, pending", size, pending,
        BestOf(3, [&] { return ReadHeadersMs(main + kFolderIcm, QStringLiteral("*.icm")); }), 1.5,
        "plain 14-line reads");
    const double confirmations = BestOf(3, [&] {
        tabs->setCurrentIndex(0);
        return fill(1);
    });
    PrintFigure(
        "list fill, confirmations", size, confirmations,
        BestOf(3, [&] { return ReadHeadersMs(main + kFolderIcb, QStringLiteral("*.icb")); }), 1.5,
        "plain 14-line reads");
}

// The order page: the page built and written as the window does.
double PageMs(const QString& main, const QString& order) {
    QElapsedTimer timer;
    timer.start();
    const QString page = CreateIcmHtml(order);
    if (!WritePageFile(main, page, nullptr) || !page.endsWith(QStringLiteral("</html>"))) return -1;
    return timer.nsecsElapsed() / 1e6;
}

// The plain loop: the order's lines read and the same number of bytes written the same way.
double PlainPageMs(const QString& main, const QString& order, qint64 pageBytes) {
    QElapsedTimer timer;
    timer.start();
    QFile in(order);
    in.open(QIODevice::ReadOnly);
    QByteArray text;
    while (!in.atEnd()) text += in.readLine();
    QSaveFile out(main + kFolderTemp + QStringLiteral("/Plain.html"));
    out.open(QIODevice::WriteOnly);
    out.write(QByteArray(pageBytes, 'x'));
    out.commit();
    return timer.nsecsElapsed() / 1e6 + (text.isEmpty() ? 1 : 0);
}

void PageFigures(int orderLines) {
    QTemporaryDir root;
    const QString main = MainDirectory(root);
    double ms[2];
    for (int i = 0; i < 2; ++i) {
        const int count = orderLines << i;
        const QString order = main + kFolderIcm + QStringLiteral("/groot.icm");
        WriteFile(order, OrderFile(1, count));
        ms[i] = BestOf(3, [&] { return PageMs(main, order); });
        const qint64 bytes = QFileInfo(main + kFolderTemp + QStringLiteral("/Temp.html")).size();
        const double plain = BestOf(3, [&] { return PlainPageMs(main, order, bytes); });
        PrintFigure("order page", QStringLiteral("%1 lines").arg(count), ms[i], plain, 0,
                    "plain read and write");
        if (i == 0)
            PrintLimit("order page, time", QStringLiteral("%1 lines").arg(count), ms[i], "ms", 100);
    }
    PrintFigure("order page, growth", QStringLiteral("%1/%2").arg(2 * orderLines).arg(orderLines),
                ms[1], ms[0], 2.2, "half the lines");
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.value(1) == QStringLiteral("--startup")) return StartUpChild(arguments.value(2));
    const int lines = arguments.size() > 1 ? arguments[1].toInt() : 10000;
    const int orders = arguments.size() > 2 ? arguments[2].toInt() : 10000;
    const int pageLines = arguments.size() > 3 ? arguments[3].toInt() : 5000;
    // A size of 0 leaves its figures out.
    if (lines > 0) {
        ProgressFigures(lines, false);
        ProgressFigures(lines, true);
    }
    if (orders > 0) {
        StartUpFigures(orders);
        ListFillFigures(orders);
    }
    if (pageLines > 0) PageFigures(pageLines);
    return 0;
}
