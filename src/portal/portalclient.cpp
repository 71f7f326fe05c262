#include "portal/portalclient.h"

#include <QAuthenticator>
#include <QEventLoop>
#include <QRegularExpression>
#include <QSslSocket>
#include <QStringDecoder>
#include <QTimer>
#include <QUrl>

#include "core/codec.h"
#include "core/settings.h"
#include "portal/addresses.h"
#include "portal/httpanswer.h"

namespace kavelon {
namespace {

// The proxy of the settings in memory; none when the proxy is off. False for a bad port.
bool ProxyOf(const Settings& settings, QNetworkProxy& proxy) {
    proxy = QNetworkProxy(QNetworkProxy::NoProxy);
    if (!settings.ProxyUsed) return true;
    const quint16 port = ProxyPortNumber(settings.ProxyPort);
    if (port == 0) return false;
    // The login is given when the proxy asks for it, so every refused round is counted.
    proxy = QNetworkProxy(QNetworkProxy::HttpProxy, settings.ProxyAdres, port);
    return true;
}

// The system's authorities and the extra ones of KAVELON_CA_FILE.
QSslConfiguration TrustedAuthorities() {
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    const QString caFile = ExtraCaFile();
    if (!caFile.isEmpty()) ssl.addCaCertificates(caFile, QSsl::Pem);
    return ssl;
}

// The head of a form post to url with a body of the given length.
QByteArray RequestHead(const QUrl& url, qsizetype bodyLength) {
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty()) target = "/";
    if (url.hasQuery()) target += '?' + url.query(QUrl::FullyEncoded).toLatin1();
    const QByteArray host =
        url.adjusted(QUrl::RemoveUserInfo).authority(QUrl::FullyEncoded).toLatin1();
    return "POST " + target + " HTTP/1.1\r\nHost: " + host +
           "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           QByteArray::number(bodyLength) +
           "\r\nConnection: keep-alive\r\nUser-Agent: Mozilla/5.0\r\n\r\n";
}

// What a finished wait gives the caller. A failed post, a redirect and a connection the
// portal will not keep are dropped.
template <typename Drop>
PostResult Outcome(const HttpAnswerReader& reader, const QString& failure, Drop drop) {
    PostResult result;
    if (!failure.isEmpty()) {
        drop();
        result.error = failure;
        return result;
    }
    const HttpAnswer& answer = reader.answer();
    if (!answer.keepAlive || reader.hasExtraBytes()) drop();
    if (answer.status >= 300 && answer.status < 400) {
        // A redirect would carry the login elsewhere, or turn the post into a fetch of a page.
        drop();
        result.error =
            QStringLiteral("the portal answered %1 (a redirect to '%2'), which is not followed")
                .arg(answer.status)
                .arg(QString::fromLatin1(answer.location));
        return result;
    }
    result.ok = true;
    result.answer = DecodeAnswer(answer.body, answer.contentType);
    return result;
}

bool IsCp1252Name(const QByteArray& charset) {
    const QByteArray name = charset.toLower();
    return name == "windows-1252" || name == "cp1252" || name == "iso-8859-1" || name == "latin1" ||
           name == "us-ascii";
}

}  // namespace

bool IsSecureAddress(const QString& address) {
    const QUrl url(address);
    return url.isValid() && url.scheme() == QStringLiteral("https") && !url.host().isEmpty();
}

quint16 ProxyPortNumber(const QString& text) {
    bool isNumber = false;
    const int port = text.trimmed().toInt(&isNumber);
    return isNumber && port >= 1 && port <= 65535 ? static_cast<quint16>(port) : 0;
}

QString DecodeAnswer(const QByteArray& body, const QByteArray& contentType) {
    static const QRegularExpression kCharset(QStringLiteral("charset\\s*=\\s*\"?([^\";\\s]+)"),
                                             QRegularExpression::CaseInsensitiveOption);
    const auto match = kCharset.match(QString::fromLatin1(contentType));
    const QByteArray charset = match.hasMatch() ? match.captured(1).toLatin1() : QByteArray();
    if (!charset.isEmpty() && !IsCp1252Name(charset)) {
        QStringDecoder decoder(charset.constData());
        if (decoder.isValid()) return decoder.decode(body);
    }
    return DecodeCp1252(body);
}

PortalClient::PortalClient(const Settings& settings)
    : settings_(settings), ssl_(TrustedAuthorities()) {}

PortalClient::~PortalClient() = default;

void PortalClient::setTimeouts(int connectMs, int requestMs) {
    connectTimeoutMs_ = connectMs;
    requestTimeoutMs_ = requestMs;
}

PostResult PortalClient::post(const QString& path, const QByteArray& body) {
    start(path, body);
    return finish();
}

bool PortalClient::connectionFits(const QNetworkProxy& proxy, const QString& host,
                                  quint16 port) const {
    const bool idle =
        sinceLastRequest_.isValid() && sinceLastRequest_.elapsed() > kIdleConnectionMs;
    return socket_ && !idle && socket_->state() == QAbstractSocket::ConnectedState &&
           socket_->isEncrypted() && socket_->bytesAvailable() == 0 && socketProxy_ == proxy &&
           socketHost_ == host && socketPort_ == port;
}

void PortalClient::openConnection(const QNetworkProxy& proxy, const QString& host, quint16 port) {
    dropConnection();
    socket_ = std::make_unique<QSslSocket>();
    socket_->setProxy(proxy);
    QSslConfiguration ssl = ssl_;
    ssl.setAllowedNextProtocols({QByteArray(QSslConfiguration::NextProtocolHttp1_1)});
    socket_->setSslConfiguration(ssl);
    socketProxy_ = proxy;
    socketHost_ = host;
    socketPort_ = port;
    socketFresh_ = true;
    proxyRounds_ = 0;
    QSslSocket* socket = socket_.get();
    QObject::connect(socket, &QSslSocket::encrypted, socket, [this, socket] {
        if (request_.isEmpty()) return;
        socket->write(request_);
        request_.clear();
    });
    // The proxy asks again for every refused round; a proxy that keeps refusing ends the post:
    // without a login given, the socket gives up.
    QObject::connect(socket, &QAbstractSocket::proxyAuthenticationRequired, socket,
                     [this](const QNetworkProxy&, QAuthenticator* authenticator) {
                         if (++proxyRounds_ > kMaxProxyAuthenticationRounds) return;
                         authenticator->setUser(settings_.ProxyUser);
                         authenticator->setPassword(settings_.ProxyToegang);
                     });
    socket->connectToHostEncrypted(host, port);
}

void PortalClient::dropConnection() {
    if (!socket_) return;
    socket_->abort();
    socket_.reset();
}

void PortalClient::start(const QString& path, const QByteArray& body) {
    refused_.reset();
    request_.clear();
    sinceStart_.start();
    if (!IsSecureAddress(PortalUrl())) {
        refused_ = PostResult{false,
                              {},
                              QStringLiteral("the portal address '%1' is not an https address; "
                                             "nothing is sent")
                                  .arg(PortalUrl())};
        return;
    }
    QNetworkProxy proxy;
    if (!ProxyOf(settings_, proxy)) {
        refused_ = PostResult{
            false,
            {},
            QStringLiteral("proxy port '%1' is not a port number").arg(settings_.ProxyPort)};
        return;
    }
    const QUrl url(PortalUrl() + path);
    const QString host = url.host();
    const quint16 port = quint16(url.port(443));
    socketFresh_ = false;
    if (!connectionFits(proxy, host, port)) openConnection(proxy, host, port);
    const QByteArray request = RequestHead(url, body.size()) + body;
    if (socket_->isEncrypted()) {
        socket_->write(request);
        socket_->flush();  // on its way while the caller goes on
    } else {
        request_ = request;  // written once the connection is secure
    }
}

PostResult PortalClient::finish() {
    PostResult result;
    if (refused_) {
        result = *refused_;
        refused_.reset();
        return result;
    }
    result = waitForAnswer();
    sinceLastRequest_.start();
    return result;
}

// Runs the event loop until the answer is whole or the post has failed.
PostResult PortalClient::waitForAnswer() {
    QSslSocket& socket = *socket_;
    HttpAnswerReader reader(kMaxAnswerBytes);
    QString failure;
    bool done = false;
    QEventLoop loop;
    QObject guard;  // the connections below end with it
    // Ends the wait: with the answer whole when why is empty, else as a failed post.
    const auto end = [&](const QString& why = QString()) {
        if (done) return;
        failure = why;
        done = true;
        loop.quit();
    };
    // A failure always has its reason, so it is never taken for a whole answer.
    const auto fail = [&](const QString& why) {
        end(why.isEmpty() ? QStringLiteral("the post failed") : why);
    };
    QTimer deadline, quiet, tunnel;
    for (QTimer* timer : {&deadline, &quiet, &tunnel}) timer->setSingleShot(true);
    const auto readAnswer = [&] {
        if (done) return;
        quiet.start(connectTimeoutMs_);
        const auto state = reader.feed(socket.readAll());
        if (state == HttpAnswerReader::State::TooLarge)
            fail(QStringLiteral("the answer is larger than %1 bytes").arg(kMaxAnswerBytes));
        else if (state == HttpAnswerReader::State::Malformed)
            fail(QStringLiteral("the answer is not a well-formed HTTP answer"));
        else if (state == HttpAnswerReader::State::Complete)
            end();
    };
    const auto connectionEnded = [&] {
        readAnswer();
        if (done) return;
        if (reader.endOfConnection() == HttpAnswerReader::State::Complete)
            end();
        else
            fail(QStringLiteral("the connection closed before the whole answer had arrived"));
    };
    QObject::connect(&socket, &QIODevice::readyRead, &guard, readAnswer);
    QObject::connect(&socket, &QAbstractSocket::disconnected, &guard, connectionEnded);
    QObject::connect(&socket, &QAbstractSocket::errorOccurred, &guard,
                     [&](QAbstractSocket::SocketError error) {
                         if (error == QAbstractSocket::RemoteHostClosedError)
                             connectionEnded();
                         else
                             fail(socket.errorString());
                     });
    QObject::connect(&socket, &QIODevice::bytesWritten, &guard,
                     [&] { quiet.start(connectTimeoutMs_); });
    QObject::connect(&socket, &QSslSocket::encrypted, &guard, [&] {
        tunnel.stop();
        quiet.start(connectTimeoutMs_);
    });
    QObject::connect(&deadline, &QTimer::timeout, &guard, [&] {
        fail(QStringLiteral("no answer within %1 ms").arg(requestTimeoutMs_));
    });
    QObject::connect(&quiet, &QTimer::timeout, &guard, [&] {
        fail(QStringLiteral("nothing happened on the connection for %1 ms").arg(connectTimeoutMs_));
    });
    // A proxy whose NTLM challenge Qt refuses makes Qt log in again and again without asking
    // anyone: the tunnel must be up soon, or the post ends.
    QObject::connect(&tunnel, &QTimer::timeout, &guard, [&] {
        fail(QStringLiteral("the proxy did not complete its login within %1 ms")
                 .arg(kProxyLoginTimeoutMs));
    });
    deadline.start(qMax<qint64>(0, requestTimeoutMs_ - sinceStart_.elapsed()));
    quiet.start(connectTimeoutMs_);
    if (socketFresh_ && !socket.isEncrypted() && socketProxy_.type() != QNetworkProxy::NoProxy)
        tunnel.start(kProxyLoginTimeoutMs);
    // What happened while the caller worked.
    if (socket.bytesAvailable() > 0) readAnswer();
    if (!done && socket.state() == QAbstractSocket::UnconnectedState) {
        if (socket.error() == QAbstractSocket::RemoteHostClosedError)
            connectionEnded();
        else
            fail(socket.errorString());
    }
    if (!done) loop.exec();
    return Outcome(reader, failure, [this] { dropConnection(); });
}

}  // namespace kavelon
