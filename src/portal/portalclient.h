#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QSslConfiguration>
#include <QString>

class QNetworkAccessManager;

namespace kavelon {

struct Settings;

// The outcome of one post: the answer's text, or a failure that the caller reports.
struct PostResult {
    bool ok = false;
    QString answer;
    QString error;  // for the developer's eye (standard error), never shown as a progress line
};

// The portal's HTTP client: HTTPS form posts, through the proxy of the settings in memory at
// the moment of each request. Blocking for its caller; window events keep being processed.
class PortalClient {
  public:
    static constexpr int kConnectTimeoutMs = 30000;  // no progress at all for this long
    static constexpr int kRequestTimeoutMs = 120000;
    static constexpr qint64 kMaxAnswerBytes = 64LL * 1024 * 1024;
    static constexpr int kMaxProxyAuthenticationRounds = 3;
    static constexpr int kProxyLoginTimeoutMs =
        5000;  // from the request to a tunnel through the proxy

    PortalClient(QNetworkAccessManager& network, const Settings& settings);

    // Posts a form body to a path of the portal ("/icmpost.aspx").
    PostResult post(const QString& path, const QByteArray& body);

    // Tests and staging may shorten the time-outs.
    void setTimeouts(int connectMs, int requestMs);

  private:
    QNetworkAccessManager& network_;
    const Settings& settings_;
    const QSslConfiguration ssl_;  // read once: the authority file is not read for every order
    QElapsedTimer sinceLastRequest_;
    int connectTimeoutMs_ = kConnectTimeoutMs;
    int requestTimeoutMs_ = kRequestTimeoutMs;
};

// True for an https address with a host: the only kind the login is ever sent to.
bool IsSecureAddress(const QString& address);

// The proxy port of the settings as a port number; 0 when it is not a whole number 1..65535.
quint16 ProxyPortNumber(const QString& text);

// Decodes an answer by the charset its Content-Type names, else as Windows-1252.
QString DecodeAnswer(const QByteArray& body, const QByteArray& contentType);

}  // namespace kavelon
