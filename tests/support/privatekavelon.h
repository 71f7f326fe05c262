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
#include "core/textutil.h"
#include "messagefiles.h"
#include "sandboxportal.h"

// A private copy of the program in a temporary folder (its account file beside it, settings
// of its own) with the two demo accounts of the sandbox, and its main directory.
class PrivateKavelon {
  public:
    // The main directory may lie elsewhere (a small file system, say).
    bool prepare(const QString& binary, const QString& mainDirectory = QString()) {
        if (!root_.isValid() || !QDir(root_.path()).mkdir("program")) return false;
        program_ = root_.filePath("program/kavelon");
        main_ = mainDirectory.isEmpty() ? root_.filePath("rilvost/") : mainDirectory;
        if (!QFile::copy(binary, program_) || !QDir().mkpath(main_ + "icm")) return false;
        {
            kavelon::AccountStore store;
            QString error;
            kavelon::Debiteur demo{0, "100-200", "demo", "demo"};
            kavelon::Debiteur winkel{0, "300400", "winkel", "p&ss+w0rd"};
            if (!store.open(accountFile(), error) || !store.addNew(demo, error) ||
                !store.addNew(winkel, error))
                return false;
        }
        QSettings settings(root_.filePath("config/Kavelon/Kavelon.conf"), QSettings::IniFormat);
        settings.setValue("Local/Directory", main_);
        settings.setValue("Local/OnlineCheck", "0");
        return true;
    }
    QString main() const { return main_; }
    QString accountFile() const { return root_.filePath("program/Kavelon.kvd"); }

    // Starts "kavelon auto" against the sandbox; the caller waits or kills.
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
        kavelon.start(program_, {"auto"});
    }
    // Runs "kavelon auto" to its end: its exit status, -1 when it hung, -2 when it crashed.
    int run(const SandboxPortal& portal, const QHash<QString, QString>& extraEnv = {}) const {
        QProcess kavelon;
        start(kavelon, portal, extraEnv);
        if (!kavelon.waitForFinished(240000)) {
            kavelon.kill();
            kavelon.waitForFinished();
            return -1;
        }
        return kavelon.exitStatus() == QProcess::NormalExit ? kavelon.exitCode() : -2;
    }
    // The text of the one log file in logfiles, as CR LF text.
    QString log() const {
        const QStringList logs = QDir(main_ + "logfiles").entryList({"Log*.txt"}, QDir::Files);
        QFile file(main_ + "logfiles/" + logs.value(0));
        if (logs.size() != 1 || !file.open(QIODevice::ReadOnly)) return "<no single log>";
        return kavelon::DecodeCp1252(file.readAll());
    }
    void removeLogs() const {
        QDir logs(main_ + "logfiles");
        for (const QString& name : logs.entryList(QDir::Files)) logs.remove(name);
    }

  private:
    QTemporaryDir root_;
    QString program_;
    QString main_;
};

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
