#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include "accounts/accountstore.h"
#include "core/codec.h"
#include "sandboxportal.h"

// A private copy of the real program in a temporary folder, with its own account file (the
// sandbox's two demo accounts), its own settings and a main directory "rilvost/" holding icm.
class PrivateKavelon {
  public:
    explicit PrivateKavelon(const QString& binary) {
        ready_ = root_.isValid() && QDir(root_.path()).mkdir("program") &&
                 QFile::copy(binary, root_.filePath("program/kavelon")) &&
                 QDir().mkpath(main() + "icm") && addAccounts();
        QSettings settings(root_.filePath("config/Kavelon/Kavelon.conf"), QSettings::IniFormat);
        settings.setValue("Local/Directory", main());
        settings.setValue("Local/OnlineCheck", "0");
    }
    bool ready() const { return ready_; }
    void setSetting(const QString& key, const QString& value) const {
        QSettings settings(root_.filePath("config/Kavelon/Kavelon.conf"), QSettings::IniFormat);
        settings.setValue("Local/" + key, value);
    }
    QString main() const { return root_.filePath("rilvost/"); }
    QString path(const QString& relative) const { return root_.filePath(relative); }
    QString accountFile() const { return root_.filePath("program/Kavelon.kvd"); }

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
        const QDir folder(main() + "logfiles");
        for (const QString& name : folder.entryList({"Log*.txt"}, QDir::Files, QDir::Name))
            text += kavelon::DecodeCp1252(Contents(folder.filePath(name)));
        return text;
    }
    void removeLogs() const {
        const QDir folder(main() + "logfiles");
        for (const QString& name : folder.entryList({"Log*.txt"}, QDir::Files))
            QFile::remove(folder.filePath(name));
    }
    // The names in a folder of the main directory, hidden ones included.
    QStringList names(const QString& folder) const {
        return QDir(main() + folder)
            .entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }
    static QByteArray Contents(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

  private:
    bool addAccounts() {
        kavelon::AccountStore store;
        QString error;
        if (!store.open(accountFile(), error)) return false;
        kavelon::Debiteur demo{0, "100-200", "demo", "demo"};
        kavelon::Debiteur winkel{0, "300400", "winkel", "p&ss+w0rd"};
        return store.addNew(demo, error) && store.addNew(winkel, error);
    }

    QTemporaryDir root_;
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
