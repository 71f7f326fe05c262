#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QNetworkProxy>
#include <QSslConfiguration>
#include <QString>

#include <memory>
#include <optional>

class QSslSocket;

namespace kavelon {

struct Settings;

// The outcome of one post: the answer's text, or a failure that the caller reports.
struct PostResult {
    bool ok = false;
    QString answer;
    QString error;  // for the developer's eye (standard error), never shown as a progress line
};

// The portal's HTTP client: HTTPS form posts over one kept connection, through the proxy of
// the settings in memory at the moment of each request. Blocking for its caller; window
// events keep being processed. A post is never sent a second time by the client itself.
class PortalClient {
  public:
    static constexpr int kConnectTimeoutMs = 30000;  // no progress at all for this long
    static constexpr int kRequestTimeoutMs = 120000;
    static constexpr qint64 kMaxAnswerBytes = 64LL * 1024 * 1024;
    static constexpr int kMaxProxyAuthenticationRounds = 3;
    static constexpr int kProxyLoginTimeoutMs =
        5000;  // from the request to a tunnel through the proxy
    // A connection idle this long may have been closed by the portal; a new one is made.
    static constexpr qint64 kIdleConnectionMs = 4000;

    explicit PortalClient(const Settings& settings);
    ~PortalClient();
    PortalClient(const PortalClient&) = delete;
    PortalClient& operator=(const PortalClient&) = delete;

    // Posts a form body to a path of the portal ("/icmpost.aspx") and waits for the answer.
    PostResult post(const QString& path, const QByteArray& body);

    // The same in two steps, so the caller can work while the portal does: start() sends the
    // post on a kept connection (or begins a new one), finish() waits for its answer. One
    // post at a time; every start() is followed by one finish().
    void start(const QString& path, const QByteArray& body);
    PostResult finish();

    // Tests and staging may shorten the time-outs.
    void setTimeouts(int connectMs, int requestMs);

  private:
    bool connectionFits(const QNetworkProxy& proxy, const QString& host, quint16 port) const;
    void openConnection(const QNetworkProxy& proxy, const QString& host, quint16 port);
    void dropConnection();
    PostResult waitForAnswer();

    const Settings& settings_;
    const QSslConfiguration ssl_;  // read once: the authority file is not read for every order
    std::unique_ptr<QSslSocket> socket_;
    QNetworkProxy socketProxy_;
    QString socketHost_;
    quint16 socketPort_ = 0;
    bool socketFresh_ = false;  // opened for the current post
    int proxyRounds_ = 0;
    std::optional<PostResult> refused_;  // a post refused before anything was sent
    QByteArray request_;                 // waiting for the connection's handshake
    QElapsedTimer sinceStart_;
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
