#pragma once

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <unistd.h>

// Debian's squid, started for real on 127.0.0.1 on a free port, asking for a login: Basic
// with one user and password, or NTLM through the project's accept-anything helper. It is
// stopped when the guard goes.
class SquidProxy {
  public:
    enum class Login { Basic, Ntlm };

    static QString Program() {
        return QStandardPaths::findExecutable("squid", {"/usr/sbin", "/usr/bin"});
    }

    SquidProxy(Login login, const QString& user, const QString& password,
               const QString& ntlmHelper = {}) {
        QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                               QFile::ReadOther | QFile::ExeOther |
                                               QFile::ReadGroup | QFile::ExeGroup);
        port_ = FreePort();
        writeLogin(login, user, password, ntlmHelper);
        writeConfig(login);
        if (geteuid() == 0) QProcess::execute("chown", {"-R", "proxy:proxy", dir_.path()});
        squid_.setProgram(Program());
        squid_.setArguments({"-N", "-f", dir_.filePath("squid.conf")});
        squid_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        squid_.start();
        started_ = squid_.waitForStarted(10000) && waitUntilListening();
    }
    ~SquidProxy() {
        squid_.terminate();
        if (!squid_.waitForFinished(10000)) squid_.kill();
        squid_.waitForFinished(5000);
    }
    bool started() const { return started_; }
    quint16 port() const { return port_; }
    // The proxy's access log: one line per request it handled.
    QString accessLog() const {
        QFile log(dir_.filePath("access.log"));
        return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    }

  private:
    static quint16 FreePort() {
        QTcpServer probe;
        probe.listen(QHostAddress::LocalHost, 0);
        return probe.serverPort();
    }
    void writeLogin(Login login, const QString& user, const QString& password,
                    const QString& ntlmHelper) {
        if (login == Login::Ntlm) {
            authLines_ =
                "auth_param ntlm program " + ntlmHelper.toUtf8() + "\nauth_param ntlm children 2\n";
            return;
        }
        QProcess openssl;
        openssl.start("openssl", {"passwd", "-apr1", password});
        openssl.waitForFinished(10000);
        QFile htpasswd(dir_.filePath("htpasswd"));
        if (htpasswd.open(QIODevice::WriteOnly))
            htpasswd.write(user.toUtf8() + ':' + openssl.readAllStandardOutput());
        authLines_ = "auth_param basic program /usr/lib/squid/basic_ncsa_auth " +
                     dir_.filePath("htpasswd").toUtf8() + "\nauth_param basic realm kavelon\n";
    }
    void writeConfig(Login) {
        const QByteArray d = dir_.path().toUtf8();
        QByteArray conf = "http_port 127.0.0.1:" + QByteArray::number(port_) + "\n" + authLines_ +
                          "acl authenticated proxy_auth REQUIRED\n"
                          "http_access allow localhost authenticated\n"
                          "http_access deny all\n"
                          "cache deny all\ncache_mem 8 MB\nshutdown_lifetime 0 seconds\n"
                          "pid_filename " +
                          d +
                          "/squid.pid\n"
                          "cache_log " +
                          d +
                          "/cache.log\n"
                          "access_log stdio:" +
                          d +
                          "/access.log\n"
                          "coredump_dir " +
                          d + "\n";
        if (geteuid() == 0) conf += "cache_effective_user proxy\n";
        QFile file(dir_.filePath("squid.conf"));
        if (file.open(QIODevice::WriteOnly)) file.write(conf);
    }
    bool waitUntilListening() {
        const QDeadlineTimer deadline(30000);
        while (!deadline.hasExpired() && squid_.state() == QProcess::Running) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, port_);
            if (socket.waitForConnected(500)) return true;
            squid_.waitForFinished(100);  // gives squid a moment, returns early if it ends
        }
        return false;
    }

    QTemporaryDir dir_;
    QProcess squid_;
    quint16 port_ = 0;
    QByteArray authLines_;
    bool started_ = false;
};
