#include "settings/desktopproxy.h"

#include <QFile>
#include <QHash>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include "settings/systemproxy.h"

namespace kavelon {
namespace {

// How long gsettings may take before the desktop is taken to have no proxy.
constexpr int kGsettingsTimeoutMs = 2000;
const QString kGnomeSchema = QStringLiteral("org.gnome.system.proxy");

// The value of a GVariant string as gsettings prints it ('text' or "text", with escapes).
QString Unquoted(const QString& value) {
    if (value.size() < 2 || (value.front() != u'\'' && value.front() != u'"') ||
        value.back() != value.front())
        return value;
    QString text;
    for (qsizetype i = 1; i + 1 < value.size(); ++i) {
        if (value.at(i) == u'\\' && i + 2 < value.size()) ++i;
        text += value.at(i);
    }
    return text;
}

// Every key of the proxy schemas as "schema key" with its printed value; empty when gsettings
// or the schema is missing.
QHash<QString, QString> GnomeProxyKeys() {
    QHash<QString, QString> keys;
    const QString program = QStandardPaths::findExecutable(QStringLiteral("gsettings"));
    if (program.isEmpty()) return keys;
    QProcess gsettings;
    gsettings.start(program, {QStringLiteral("list-recursively"), kGnomeSchema});
    if (!gsettings.waitForFinished(kGsettingsTimeoutMs)) {
        gsettings.kill();
        gsettings.waitForFinished(kGsettingsTimeoutMs);
        return keys;
    }
    if (gsettings.exitStatus() != QProcess::NormalExit || gsettings.exitCode() != 0) return keys;
    const QStringList lines = QString::fromUtf8(gsettings.readAllStandardOutput()).split(u'\n');
    for (const QString& line : lines) {
        const qsizetype first = line.indexOf(u' ');
        const qsizetype second = line.indexOf(u' ', first + 1);
        if (first < 0 || second < 0) continue;
        keys.insert(line.left(second), line.mid(second + 1).trimmed());
    }
    return keys;
}

// Host and port joined as a server text; "" without a host, the host alone without a port.
QString JoinServer(const QString& host, const QString& port) {
    if (host.isEmpty()) return {};
    if (port.isEmpty() || port == u"0") return host;
    return host + u':' + port;
}

QString GnomeServer(const QHash<QString, QString>& keys, const QString& protocol) {
    const QString prefix = kGnomeSchema + u'.' + protocol + u' ';
    return JoinServer(Unquoted(keys.value(prefix + QStringLiteral("host"))),
                      keys.value(prefix + QStringLiteral("port")));
}

// The keys of the [Proxy Settings] group of kioslaverc; a key's "[$e]"-style flags are dropped.
QHash<QString, QString> KdeProxyKeys() {
    QHash<QString, QString> keys;
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QFile file(folder + QStringLiteral("/kioslaverc"));
    if (folder.isEmpty() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) return keys;
    bool inGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(u'[')) {
            inGroup = line == u"[Proxy Settings]";
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inGroup || equals <= 0) continue;
        QString key = line.left(equals).trimmed();
        if (const qsizetype flags = key.indexOf(u'['); flags > 0) key.truncate(flags);
        keys.insert(key, line.mid(equals + 1).trimmed());
    }
    return keys;
}

// A kioslaverc proxy: "http://host:port" or the older "http://host port".
QString KdeServer(const QString& value) {
    const qsizetype space = value.indexOf(u' ');
    if (space < 0) return ProxyServerText(value);
    const QString server = ProxyServerText(value.left(space));
    const QString port = value.mid(space + 1).trimmed();
    return server.contains(u':') ? server : JoinServer(server, port);
}

// The environment variable with this lower-case name, else one spelled in other letter case.
QString EnvironmentValue(const QString& name) {
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (environment.contains(name)) return environment.value(name);
    const QStringList keys = environment.keys();
    for (const QString& key : keys)
        if (key.compare(name, Qt::CaseInsensitive) == 0) return environment.value(key);
    return {};
}

class DesktopProxySource : public SystemProxySource {
  public:
    int ProxyEnable() override { return DesktopProxyServer().isEmpty() ? 0 : 1; }
    std::string ProxyServer() override { return DesktopProxyServer().toStdString(); }
};

}  // namespace

QString ProxyServerText(const QString& address) {
    QString text = address.trimmed();
    if (const qsizetype scheme = text.indexOf(QStringLiteral("://")); scheme >= 0)
        text.remove(0, scheme + 3);
    for (const QChar end : {u'/', u'?', u'#'})
        if (const qsizetype at = text.indexOf(end); at >= 0) text.truncate(at);
    if (const qsizetype at = text.lastIndexOf(u'@'); at >= 0) text.remove(0, at + 1);
    return text;
}

QString GnomeProxyServer() {
    const QHash<QString, QString> keys = GnomeProxyKeys();
    if (Unquoted(keys.value(kGnomeSchema + QStringLiteral(" mode"))) != u"manual") return {};
    const QString https = GnomeServer(keys, QStringLiteral("https"));
    return https.isEmpty() ? GnomeServer(keys, QStringLiteral("http")) : https;
}

QString KdeProxyServer() {
    const QHash<QString, QString> keys = KdeProxyKeys();
    if (keys.value(QStringLiteral("ProxyType")) != u"1") return {};
    const QString https = KdeServer(keys.value(QStringLiteral("httpsProxy")));
    return https.isEmpty() ? KdeServer(keys.value(QStringLiteral("httpProxy"))) : https;
}

QString EnvironmentProxyServer() {
    const QString https = ProxyServerText(EnvironmentValue(QStringLiteral("https_proxy")));
    return https.isEmpty() ? ProxyServerText(EnvironmentValue(QStringLiteral("http_proxy")))
                           : https;
}

QString DesktopProxyServer() {
    QString server = GnomeProxyServer();
    if (server.isEmpty()) server = KdeProxyServer();
    if (server.isEmpty()) server = EnvironmentProxyServer();
    return server;
}

std::unique_ptr<SystemProxySource> MakeSystemProxySource() {
    return std::make_unique<DesktopProxySource>();
}

}  // namespace kavelon
