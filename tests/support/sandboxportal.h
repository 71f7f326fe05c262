#pragma once

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

// The project's sandbox portal, started for real on 127.0.0.1 on a port the system picks,
// with a state folder of its own. It stops when the guard goes (and by itself when idle).
class SandboxPortal {
  public:
    // A second sandbox may share the certificates of a first, so that a client trusts both.
    explicit SandboxPortal(const QString& program, int slowMs = 4000,
                           const SandboxPortal* sameCertificatesAs = nullptr) {
        if (sameCertificatesAs)
            for (const char* name :
                 {"ca.pem", "ca.key", "server.pem", "server.key", "wrong-host.pem"})
                QFile::copy(sameCertificatesAs->stateFile(name), stateFile(name));
        portal_.setProgram(program);
        portal_.setArguments({"--port", "0", "--state", state_.path(), "--idle-exit-ms", "300000",
                              "--slow-ms", QString::number(slowMs)});
        portal_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        portal_.start();
        const QDeadlineTimer deadline(60000);
        while (variables_.size() < 3 && portal_.waitForReadyRead(int(deadline.remainingTime()))) {
            while (portal_.canReadLine()) {
                const QString line = QString::fromUtf8(portal_.readLine()).trimmed();
                const qsizetype equals = line.indexOf(u'=');
                if (line.startsWith("KAVELON_") && equals > 0)
                    variables_.insert(line.left(equals), line.mid(equals + 1));
            }
        }
    }
    ~SandboxPortal() {
        portal_.terminate();
        if (!portal_.waitForFinished(10000)) portal_.kill();
        portal_.waitForFinished(5000);
    }
    bool started() const { return variables_.size() == 3; }
    QString url() const { return variables_.value("KAVELON_PORTAL_URL"); }
    QString caFile() const { return variables_.value("KAVELON_CA_FILE"); }
    QString stateFile(const QString& name) const { return state_.filePath(name); }

    // Points a program at the sandbox.
    void addTo(QProcessEnvironment& env) const {
        for (auto it = variables_.begin(); it != variables_.end(); ++it)
            env.insert(it.key(), it.value());
    }
    // Every request after this one gets the fault; an empty name ends the fault.
    void setFault(const QString& name) const {
        QFile file(state_.filePath("fault"));
        if (name.isEmpty()) {
            file.remove();
            return;
        }
        if (file.open(QIODevice::WriteOnly)) file.write(name.toUtf8());
    }
    // Where the redirect faults send the client.
    void setRedirectLocation(const QString& location) const {
        QFile file(state_.filePath("location"));
        if (file.open(QIODevice::WriteOnly)) file.write(location.toUtf8());
    }
    // The requests the sandbox received, oldest first.
    QList<QJsonObject> requests() const {
        QList<QJsonObject> records;
        QFile log(state_.filePath("requests.log"));
        if (!log.open(QIODevice::ReadOnly)) return records;
        for (const QByteArray& line : log.readAll().split('\n'))
            if (!line.trimmed().isEmpty()) records.append(QJsonDocument::fromJson(line).object());
        return records;
    }
    static QByteArray BodyOf(const QJsonObject& record) {
        return QByteArray::fromBase64(record.value("body").toString().toLatin1());
    }

  private:
    QTemporaryDir state_;
    QProcess portal_;
    QHash<QString, QString> variables_;
};
