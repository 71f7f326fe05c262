#pragma once

// What the benchmarks share: the figure lines they print, order files, the sandbox portal and
// a private installation of the program.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

#include "accounts/accountstore.h"
#include "core/codec.h"

namespace bench {

// One line per figure: name, size, the time measured, its baseline, their ratio and the
// target the ratio is held to (none when maxRatio is 0).
inline void PrintFigure(const char* name, const QString& size, double ms, double baselineMs,
                        double maxRatio, const char* baselineName) {
    const double ratio = baselineMs > 0 ? ms / baselineMs : 0;
    const QString target = maxRatio > 0 ? QStringLiteral("target <= %1  %2")
                                              .arg(maxRatio, 0, 'f', 2)
                                              .arg(ratio <= maxRatio ? "ok" : "MISSED")
                                        : QStringLiteral("target -");
    std::printf("%-30s %-13s %10.3f ms  baseline %10.3f ms  ratio %6.2f  %s  (baseline: %s)\n",
                name, qPrintable(size), ms, baselineMs, ratio, qPrintable(target), baselineName);
    std::fflush(stdout);
}

// A figure held to a limit of its own, such as peak memory or a time.
inline void PrintLimit(const char* name, const QString& size, double value, const char* unit,
                       double limit) {
    std::printf("%-30s %-13s %10.3f %-2s  limit %.1f %s  %s\n", name, qPrintable(size), value, unit,
                limit, unit, value < limit ? "ok" : "MISSED");
    std::fflush(stdout);
}

// The best of a few runs: the least disturbed by the other work on the machine.
// The middle of the runs: for figures whose flush to disk swings both ways with the rest of
// the machine, where the best run would be an outlier.
inline double MedianOf(int runs, const std::function<double()>& once) {
    std::vector<double> times;
    for (int i = 0; i < runs; ++i) times.push_back(once());
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

inline double BestOf(int runs, const std::function<double()>& once) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) best = std::min(best, once());
    return best;
}

// An order of account 100-200 with the given number of order lines, CR LF after every line.
inline QByteArray OrderFile(int number, int orderLines) {
    QStringList lines(19);
    lines[0] = QStringLiteral("ICM");
    lines[1] = QStringLiteral("Referentie %1").arg(number);
    lines[4] = QStringLiteral("100200");
    lines[5] = QStringLiteral("Bezorgen");
    lines[6] = QStringLiteral("A%1").arg(number % 97);
    lines[7] = QStringLiteral("Installatiebedrijf Proef");
    lines[8] = QStringLiteral("Dorpsstraat %1").arg(number % 200 + 1);
    lines[9] = QStringLiteral("1234 AB");
    lines[12] = QStringLiteral("Proefdorp");
    lines[14] = QStringLiteral("2026-12-%1").arg(number % 28 + 1, 2, 10, QLatin1Char('0'));
    lines[18] = QString::number(orderLines);
    for (int n = 1; n <= orderLines; ++n)
        lines << QString::number(n % 9 + 1)
              << QStringLiteral("ART%1").arg(n, 5, 10, QLatin1Char('0'))
              << QStringLiteral("Kraan caf\u00e9 %1").arg(n) << QStringLiteral("12.50");
    return kavelon::EncodeCp1252(lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"));
}

inline bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The plain loop the list fill and the start-up are held to: the first 14 lines of each file.
inline double ReadHeadersMs(const QString& folder, const QString& pattern) {
    QElapsedTimer timer;
    timer.start();
    qint64 bytes = 0;
    for (const QString& name : QDir(folder).entryList({pattern}, QDir::Files)) {
        QFile file(folder + u'/' + name);
        if (!file.open(QIODevice::ReadOnly)) continue;
        for (int i = 0; i < 14 && !file.atEnd(); ++i) bytes += file.readLine().size();
    }
    return timer.nsecsElapsed() / 1e6 + (bytes < 0 ? 1 : 0);
}

// Peak memory of the children waited for so far, in MB.
inline double ChildrenPeakMb() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_maxrss / 1024.0;
}

// The sandbox portal, started for real on a port the system picks.
class Sandbox {
  public:
    Sandbox(const QString& program, const QString& stateDir) : state_(stateDir) {
        portal_.setStandardErrorFile(QProcess::nullDevice());
        portal_.start(program, {"--port", "0", "--state", stateDir, "--idle-exit-ms", "900000"});
        while (variables_.size() < 3 && portal_.waitForReadyRead(60000)) {
            while (portal_.canReadLine()) {
                const QString line = QString::fromUtf8(portal_.readLine()).trimmed();
                const qsizetype equals = line.indexOf(u'=');
                if (line.startsWith(QStringLiteral("KAVELON_")) && equals > 0)
                    variables_.insert(line.left(equals), line.mid(equals + 1));
            }
        }
    }
    ~Sandbox() {
        portal_.terminate();
        if (!portal_.waitForFinished(10000)) portal_.kill();
    }
    bool started() const { return variables_.size() == 3; }
    QString url() const { return variables_.value(QStringLiteral("KAVELON_PORTAL_URL")); }
    QString caFile() const { return variables_.value(QStringLiteral("KAVELON_CA_FILE")); }
    void addTo(QProcessEnvironment& env) const {
        for (auto it = variables_.begin(); it != variables_.end(); ++it)
            env.insert(it.key(), it.value());
    }
    // The requests recorded so far, oldest first.
    QList<QJsonObject> requests() const {
        QList<QJsonObject> records;
        QFile log(state_ + QStringLiteral("/requests.log"));
        if (!log.open(QIODevice::ReadOnly)) return records;
        for (const QByteArray& line : log.readAll().split('\n'))
            if (!line.trimmed().isEmpty()) records.append(QJsonDocument::fromJson(line).object());
        return records;
    }

  private:
    QString state_;
    QProcess portal_;
    QHash<QString, QString> variables_;
};

inline qint64 RecordTime(const QJsonObject& record) {
    return QDateTime::fromString(record.value(QStringLiteral("time")).toString(), Qt::ISODateWithMs)
        .toMSecsSinceEpoch();
}

inline QByteArray RecordBody(const QJsonObject& record) {
    return QByteArray::fromBase64(record.value(QStringLiteral("body")).toString().toLatin1());
}

// Posts the bodies in order to a path of the sandbox, all in one run of curl, which keeps
// one connection for them.
inline bool CurlPost(const Sandbox& sandbox, const QString& path, const QList<QByteArray>& bodies,
                     const QString& folder) {
    QDir().mkpath(folder);
    QFile config(folder + QStringLiteral("/curl.conf"));
    if (!config.open(QIODevice::WriteOnly)) return false;
    const QByteArray url = (sandbox.url() + path).toUtf8();
    for (int i = 0; i < bodies.size(); ++i) {
        const QString bodyPath = folder + QStringLiteral("/body%1").arg(i);
        if (!WriteFile(bodyPath, bodies[i])) return false;
        if (i > 0) config.write("next\n");
        config.write("cacert = \"" + sandbox.caFile().toUtf8() + "\"\nurl = \"" + url +
                     "\"\nheader = \"Content-Type: application/x-www-form-urlencoded\"\n"
                     "data-binary = \"@" +
                     bodyPath.toUtf8() + "\"\noutput = /dev/null\n");
    }
    config.close();
    QProcess curl;
    curl.start(QStringLiteral("curl"), {"--silent", "--show-error", "--config", config.fileName()});
    if (!curl.waitForFinished(900000) || curl.exitCode() != 0) {
        std::fprintf(stderr, "curl failed (%d): %s\n", curl.exitCode(),
                     curl.readAllStandardError().split('\n').value(0).constData());
        return false;
    }
    return true;
}

// A private installation of the program: its own copy beside its own account file (account
// 100-200 of the sandbox), its own settings (main directory, no online check), a main
// directory with an empty order folder.
class Installation {
  public:
    explicit Installation(const QString& kavelonBinary) {
        QDir().mkpath(root_.filePath(QStringLiteral("program")));
        QDir().mkpath(main() + QStringLiteral("icm"));
        program_ = root_.filePath(QStringLiteral("program/kavelon"));
        ok_ = QFile::copy(kavelonBinary, program_);
        kavelon::AccountStore store;
        QString error;
        kavelon::Debiteur account{0, QStringLiteral("100-200"), QStringLiteral("demo"),
                                  QStringLiteral("demo")};
        ok_ = ok_ &&
              store.open(root_.filePath(QStringLiteral("program/") + kavelon::kAccountFileName),
                         error) &&
              store.addNew(account, error);
        if (!error.isEmpty()) std::fprintf(stderr, "%s\n", qPrintable(error));
        QSettings settings(root_.filePath(QStringLiteral("config/Kavelon/Kavelon.conf")),
                           QSettings::IniFormat);
        settings.setValue(QStringLiteral("Local/Directory"), main());
        settings.setValue(QStringLiteral("Local/OnlineCheck"), QStringLiteral("0"));
    }
    bool ok() const { return ok_; }
    QString main() const { return root_.filePath(QStringLiteral("rilvost")) + u'/'; }
    QString path(const QString& name) const { return root_.filePath(name); }

    // Runs "kavelon auto" against the sandbox; the wall time in ms, negative for a failure.
    double runAuto(const Sandbox& sandbox) const {
        QProcess kavelon;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(name);
        env.insert(QStringLiteral("HOME"), root_.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), root_.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), root_.filePath(QStringLiteral("data")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root_.path());
        sandbox.addTo(env);
        kavelon.setProcessEnvironment(env);
        kavelon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer timer;
        timer.start();
        // BENCH_WRAPPER runs the program under a profiler: "perf record -g -o FILE --".
        QStringList command =
            QString::fromLocal8Bit(qgetenv("BENCH_WRAPPER")).split(u' ', Qt::SkipEmptyParts);
        command << program_ << QStringLiteral("auto");
        kavelon.start(command.takeFirst(), command);
        if (!kavelon.waitForFinished(1800000)) {
            kavelon.kill();
            return -1;
        }
        const double ms = timer.nsecsElapsed() / 1e6;
        if (kavelon.exitStatus() != QProcess::NormalExit || kavelon.exitCode() != 0) {
            std::fprintf(stderr, "kavelon auto ended with %d\n", kavelon.exitCode());
            return -1;
        }
        return ms;
    }

  private:
    QTemporaryDir root_;
    QString program_;
    bool ok_ = false;
};

}  // namespace bench
