#include "certificates.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSslCertificate>
#include <QSslKey>

namespace kavelon {

namespace {

// The extensions of the three certificates.
const char kOpensslConfig[] = R"([req]
distinguished_name = dn
prompt = no
[dn]
CN = Kavelon sandbox portal
[ca]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[server]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1,DNS:localhost
authorityKeyIdentifier = keyid
[wrong]
basicConstraints = critical,CA:FALSE
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:wrong.example
authorityKeyIdentifier = keyid
)";

const QStringList kFiles = {QStringLiteral("ca.pem"), QStringLiteral("ca.key"),
                            QStringLiteral("server.pem"), QStringLiteral("server.key"),
                            QStringLiteral("wrong-host.pem")};

bool RunOpenssl(const QString& dir, const QStringList& arguments, QString& error) {
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("openssl"), arguments);
    if (!p.waitForStarted(30000)) {
        error = QStringLiteral("cannot start openssl: %1").arg(p.errorString());
        return false;
    }
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        error = QStringLiteral("openssl %1 failed: %2")
                    .arg(arguments.join(QLatin1Char(' ')), QString::fromLocal8Bit(p.readAll()));
        return false;
    }
    return true;
}

}  // namespace

bool EnsureCertificates(const QString& stateDir, QString& error) {
    const QDir dir(stateDir);
    bool complete = true;
    for (const QString& name : kFiles) complete = complete && QFileInfo::exists(dir.filePath(name));
    if (complete) return true;

    // Made in a work folder and moved in at the end, so a broken run leaves nothing half made.
    const QString work = dir.filePath(QStringLiteral("certificates.work"));
    QDir(work).removeRecursively();
    if (!QDir().mkpath(work)) {
        error = QStringLiteral("cannot create %1").arg(work);
        return false;
    }
    QFile config(QDir(work).filePath(QStringLiteral("openssl.cnf")));
    if (!config.open(QIODevice::WriteOnly) || config.write(kOpensslConfig) < 0) {
        error = QStringLiteral("cannot write %1").arg(config.fileName());
        return false;
    }
    config.close();
    const QString cnf = QStringLiteral("openssl.cnf");
    const QList<QStringList> steps = {
        {"req", "-x509", "-config", cnf, "-extensions", "ca", "-newkey", "rsa:2048", "-nodes",
         "-sha256", "-days", "3650", "-subj", "/CN=Kavelon sandbox CA", "-keyout", "ca.key", "-out",
         "ca.pem"},
        {"req", "-new", "-config", cnf, "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1",
         "-keyout", "server.key", "-out", "server.csr"},
        {"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-set_serial",
         "1001", "-sha256", "-days", "825", "-extfile", cnf, "-extensions", "server", "-out",
         "server.pem"},
        {"req", "-new", "-config", cnf, "-key", "server.key", "-subj", "/CN=wrong.example", "-out",
         "wrong.csr"},
        {"x509", "-req", "-in", "wrong.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-set_serial",
         "1002", "-sha256", "-days", "825", "-extfile", cnf, "-extensions", "wrong", "-out",
         "wrong-host.pem"},
    };
    for (const QStringList& step : steps)
        if (!RunOpenssl(work, step, error)) return false;
    for (const QString& name : kFiles) {
        QFile::remove(dir.filePath(name));
        if (!QFile::rename(QDir(work).filePath(name), dir.filePath(name))) {
            error = QStringLiteral("cannot move %1 into %2").arg(name, stateDir);
            return false;
        }
    }
    QFile::setPermissions(dir.filePath(QStringLiteral("ca.key")),
                          QFile::ReadOwner | QFile::WriteOwner);
    QFile::setPermissions(dir.filePath(QStringLiteral("server.key")),
                          QFile::ReadOwner | QFile::WriteOwner);
    QDir(work).removeRecursively();
    return true;
}

bool LoadServerConfiguration(const QString& stateDir, bool wrongHost, QSslConfiguration& config,
                             QString& error) {
    const QDir dir(stateDir);
    const QString certPath =
        dir.filePath(wrongHost ? QStringLiteral("wrong-host.pem") : QStringLiteral("server.pem"));
    const QList<QSslCertificate> certs = QSslCertificate::fromPath(certPath);
    QFile keyFile(dir.filePath(QStringLiteral("server.key")));
    if (certs.isEmpty() || !keyFile.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1 or server.key").arg(certPath);
        return false;
    }
    const QSslKey key(keyFile.readAll(), QSsl::Rsa, QSsl::Pem);
    if (key.isNull()) {
        error = QStringLiteral("cannot read server.key");
        return false;
    }
    config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificate(certs.first());
    config.setPrivateKey(key);
    config.setPeerVerifyMode(QSslSocket::VerifyNone);
    config.setProtocol(QSsl::SecureProtocols);
    return true;
}

}  // namespace kavelon
