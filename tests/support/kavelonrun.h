#pragma once

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSettings>
#include <QSslConfiguration>
#include <QTemporaryDir>

#include "accounts/accountstore.h"
#include "core/codec.h"
#include "core/textutil.h"
#include "filebytes.h"
#include "messagefiles.h"
#include "sandboxportal.h"

// A private copy of the real program in a temporary folder, with its own account file (the
// sandbox's two demo accounts, or none), its own settings and a main directory holding icm:
// "rilvost/" in the folder, or one given that lies elsewhere (a small file system, say).
class PrivateKavelon {
  public:
    enum Accounts { DemoAccounts, NoAccounts };
    explicit PrivateKavelon(const QString& binary, const QString& mainDirectory = QString(),
                            Accounts accounts = DemoAccounts)
        : main_(mainDirectory.isEmpty() ? root_.filePath("rilvost/") : mainDirectory) {
        ready_ = root_.isValid() && QDir(root_.path()).mkdir("program") &&
                 QFile::copy(binary, root_.filePath("program/kavelon")) &&
                 QDir().mkpath(main_ + "icm") && (accounts == NoAccounts || addAccounts());
        setSetting("Directory", main_);
        setSetting("OnlineCheck", "0");
    }
    bool ready() const { return ready_; }
    void setSetting(const QString& key, const QString& value) const {
        QSettings settings(root_.filePath("config/Kavelon/Kavelon.conf"), QSettings::IniFormat);
        settings.setValue("Local/" + key, value);
    }
    QString main() const { return main_; }
    QString path(const QString& relative) const { return root_.filePath(relative); }
    QString accountFile() const { return root_.filePath("program/" + kavelon::kAccountFileName); }

    // Starts "kavelon auto" against the portal; the caller waits for it.
    void start(QProcess& kavelon, const SandboxPortal& portal,
               const QHash<QString, QString>& extraEnv = {}) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name :
             {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "http_proxy", "https_proxy"})
            env.remove(name);
        env.insert("HOME", root_.path());
        env.insert("XDG_CONFIG_HOME", root_.filePath("config"));
        env.insert("XDG_DATA_HOME", root_.filePath("data"));
        portal.addTo(env);
        for (auto it = extraEnv.begin(); it != extraEnv.end(); ++it)
            env.insert(it.key(), it.value());
        kavelon.setProcessEnvironment(env);
        kavelon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        kavelon.start(root_.filePath("program/kavelon"), {"auto"});
    }
    // Its exit status; -1 when it did not end in time, -2 when it crashed.
    static int Finish(QProcess& kavelon, int timeoutMs = 240000) {
        if (kavelon.state() != QProcess::NotRunning && !kavelon.waitForFinished(timeoutMs)) {
            kavelon.kill();
            kavelon.waitForFinished(5000);
            return -1;
        }
        return kavelon.exitStatus() == QProcess::NormalExit ? kavelon.exitCode() : -2;
    }
    int run(const SandboxPortal& portal, const QHash<QString, QString>& extraEnv = {}) const {
        QProcess kavelon;
        start(kavelon, portal, extraEnv);
        return Finish(kavelon);
    }

    // Every log written so far, oldest first, as one text.
    QString logs() const {
        QString text;
        for (const QString& name : logNames()) text += kavelon::DecodeCp1252(Contents(name));
        return text;
    }
    // The text of the one log, as CR LF text.
    QString log() const {
        const QStringList names = logNames();
        return names.size() == 1 ? kavelon::DecodeCp1252(Contents(names.first()))
                                 : QString("<no single log>");
    }
    void removeLogs() const {
        for (const QString& name : logNames()) QFile::remove(name);
    }
    // The names in a folder of the main directory, hidden ones included.
    QStringList names(const QString& folder) const {
        return QDir(main_ + folder)
            .entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }

  private:
    QStringList logNames() const {
        QStringList paths;
        const QDir folder(main_ + "logfiles");
        for (const QString& name : folder.entryList({"Log*.txt"}, QDir::Files, QDir::Name))
            paths << folder.filePath(name);
        return paths;
    }
    bool addAccounts() {
        kavelon::AccountStore store;
        QString error;
        if (!store.open(accountFile(), error)) return false;
        kavelon::Debiteur demo{0, "100-200", "demo", "demo"};
        kavelon::Debiteur winkel{0, "300400", "winkel", "p&ss+w0rd"};
        return store.addNew(demo, error) && store.addNew(winkel, error);
    }

    QTemporaryDir root_;
    QString main_;
    bool ready_ = false;
};

// An order the sandbox accepts: count order lines, all present.
inline QStringList AcceptedOrder(const QString& ref, const QString& debNr, int count = 1) {
    QStringList lines(19);
    lines[1] = ref;
    lines[4] = debNr;
    lines[18] = QString::number(count);
    for (int i = 1; i <= count; ++i)
        lines << QString::number(i) << "ART" + QString::number(i) << "Kraan"
              << "12.50";
    return lines;
}

// The bodies of the order posts the sandbox received, by the file name they carry.
inline QHash<QByteArray, int> OrderPostsByFile(const SandboxPortal& portal) {
    QHash<QByteArray, int> posts;
    for (const QJsonObject& record : portal.requests()) {
        if (record.value("path").toString() != "/icmpost.aspx") continue;
        const QByteArray body = SandboxPortal::BodyOf(record);
        const qsizetype start = body.indexOf("&file=");
        const qsizetype end = body.indexOf("&icm=");
        if (start >= 0 && end > start) ++posts[body.mid(start + 6, end - start - 6)];
    }
    return posts;
}

// Posts count accepted orders straight to the sandbox, each queuing one confirmation for the
// account; false when one was not accepted.
inline bool QueueConfirmations(const SandboxPortal& portal, int count, const QString& prefix,
                               bool secondAccount = false) {
    QNetworkAccessManager network;
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    ssl.addCaCertificates(portal.caFile(), QSsl::Pem);
    const QByteArray login = secondAccount
                                 ? "customerid=300400&username=winkel&password=p%26ss%2Bw0rd"
                                 : "customerid=100-200&username=demo&password=demo";
    for (int i = 0; i < count; ++i) {
        QStringList order =
            OrderLines(prefix + QString::number(i), secondAccount ? "300400" : "100200");
        order[18] = "1";
        order << "2"
              << "ART" + QString::number(i) << "Kraan \u00e9"
              << "12.50";
        QString text;
        for (const QString& line : order) text += line + "\r\n";
        const QByteArray body = login + "&file=" + prefix.toLatin1() + QByteArray::number(i) +
                                ".icm&icm=" + kavelon::UrlEncode(text)->toLatin1();
        QNetworkRequest request(QUrl(portal.url() + "/icmpost.aspx"));
        request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-www-form-urlencoded");
        request.setSslConfiguration(ssl);
        request.setRawHeader("X-Kavelon-Fault", "none");  // whatever the fetch is put through
        QNetworkReply* reply = network.post(request, body);
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        const bool accepted = reply->readAll().contains("<IcmStatus>Correct</IcmStatus>");
        reply->deleteLater();
        if (!accepted) return false;
    }
    return true;
}

// The confirmations the sandbox handed out, by element name: the bytes a stored file holds.
inline QHash<QString, QByteArray> HandedOut(const SandboxPortal& portal) {
    QHash<QString, QByteArray> files;
    QFile log(portal.stateFile("handed-out.log"));
    if (!log.open(QIODevice::ReadOnly)) return files;
    for (const QByteArray& line : log.readAll().split('\n')) {
        if (line.trimmed().isEmpty()) continue;
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        files.insert(entry.value("name").toString(),
                     QByteArray::fromBase64(entry.value("content").toString().toLatin1()) + "\r\n");
    }
    return files;
}
