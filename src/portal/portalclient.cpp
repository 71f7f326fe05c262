#include "portal/portalclient.h"

#include <QAuthenticator>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSslConfiguration>
#include <QStringDecoder>
#include <QTimer>

#include "core/codec.h"
#include "core/settings.h"
#include "portal/addresses.h"

namespace kavelon {
namespace {

// A connection idle this long may have been closed by the portal; a new one is made instead.
constexpr qint64 kIdleConnectionMs = 4000;

// The body of a post, handed to Qt once. Qt sends a request again by itself when the
// connection closes before the answer; for a post that would be a second order at the
// portal, so the body cannot be rewound once any of it has been sent.
class OnceOnlyBody : public QIODevice {
  public:
    explicit OnceOnlyBody(const QByteArray& body, QObject* parent)
        : QIODevice(parent), body_(body) {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override {
        return body_.size() - position_ + QIODevice::bytesAvailable();
    }
    bool reset() override { return position_ == 0; }

  protected:
    qint64 readData(char* data, qint64 maxSize) override {
        const qint64 count = qMin(maxSize, body_.size() - position_);
        if (count <= 0) return -1;
        memcpy(data, body_.constData() + position_, size_t(count));
        position_ += count;
        return count;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

  private:
    const QByteArray body_;
    qint64 position_ = 0;
};

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

QNetworkRequest FormRequest(const QString& path, int connectTimeoutMs,
                            const QSslConfiguration& ssl) {
    QNetworkRequest request(QUrl(PortalUrl() + path));
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/x-www-form-urlencoded"));
    request.setTransferTimeout(connectTimeoutMs);
    // A redirect would carry the login elsewhere, or turn the post into a fetch of a page.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setSslConfiguration(ssl);
    // The body is streamed from a device that cannot be rewound, so it needs its length.
    request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
    return request;
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

PortalClient::PortalClient(QNetworkAccessManager& network, const Settings& settings)
    : network_(network), settings_(settings), ssl_(TrustedAuthorities()) {}

void PortalClient::setTimeouts(int connectMs, int requestMs) {
    connectTimeoutMs_ = connectMs;
    requestTimeoutMs_ = requestMs;
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

PostResult PortalClient::post(const QString& path, const QByteArray& body) {
    PostResult result;
    if (!IsSecureAddress(PortalUrl())) {
        result.error = QStringLiteral(
                           "the portal address '%1' is not an https address; nothing "
                           "is sent")
                           .arg(PortalUrl());
        return result;
    }
    QNetworkProxy proxy;
    if (!ProxyOf(settings_, proxy)) {
        result.error =
            QStringLiteral("proxy port '%1' is not a port number").arg(settings_.ProxyPort);
        return result;
    }
    const bool idle =
        sinceLastRequest_.isValid() && sinceLastRequest_.elapsed() > kIdleConnectionMs;
    if (network_.proxy() != proxy || idle) network_.clearConnectionCache();
    network_.setProxy(proxy);

    QNetworkRequest request = FormRequest(path, connectTimeoutMs_, ssl_);
    request.setHeader(QNetworkRequest::ContentLengthHeader, body.size());
    auto* upload = new OnceOnlyBody(body, nullptr);
    QNetworkReply* reply = network_.post(request, upload);
    upload->setParent(reply);
    bool tooLarge = false;
    bool timedOut = false;
    int proxyRounds = 0;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, reply, [&] {
        timedOut = true;
        reply->abort();
    });
    QObject::connect(reply, &QNetworkReply::downloadProgress, reply,
                     [&](qint64 received, qint64 total) {
                         if (received > kMaxAnswerBytes || total > kMaxAnswerBytes) {
                             tooLarge = true;
                             reply->abort();
                         }
                     });
    // Qt asks again for every refused round; a proxy that keeps refusing ends the request.
    const auto auth =
        QObject::connect(&network_, &QNetworkAccessManager::proxyAuthenticationRequired, reply,
                         [&](const QNetworkProxy&, QAuthenticator* authenticator) {
                             if (++proxyRounds > kMaxProxyAuthenticationRounds) {
                                 reply->abort();
                                 return;
                             }
                             authenticator->setUser(settings_.ProxyUser);
                             authenticator->setPassword(settings_.ProxyToegang);
                         });
    // A proxy whose NTLM challenge Qt refuses makes Qt log in again and again without asking
    // anyone: the tunnel must be up soon, or the request ends.
    bool tunnelTimedOut = false;
    QTimer tunnel;
    tunnel.setSingleShot(true);
    QObject::connect(&tunnel, &QTimer::timeout, reply, [&] {
        tunnelTimedOut = true;
        reply->abort();
    });
    const auto tunnelUp = [&] { tunnel.stop(); };
    QObject::connect(reply, &QNetworkReply::encrypted, reply, tunnelUp);
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, tunnelUp);
    QObject::connect(reply, &QNetworkReply::uploadProgress, reply, [&](qint64 sent, qint64) {
        if (sent > 0) tunnel.stop();
    });
    if (proxy.type() != QNetworkProxy::NoProxy) tunnel.start(kProxyLoginTimeoutMs);
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    deadline.start(requestTimeoutMs_);
    if (!reply->isFinished()) loop.exec();
    QObject::disconnect(auth);

    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const bool redirected = status.isValid() && status.toInt() >= 300 && status.toInt() < 400;
    const bool answered = status.isValid() && !redirected &&
                          reply->error() != QNetworkReply::OperationCanceledError &&
                          (reply->error() == QNetworkReply::NoError || status.toInt() >= 400);
    if (tunnelTimedOut)
        result.error = QStringLiteral("the proxy did not complete its login within %1 ms")
                           .arg(kProxyLoginTimeoutMs);
    else if (tooLarge)
        result.error = QStringLiteral("the answer is larger than %1 bytes").arg(kMaxAnswerBytes);
    else if (timedOut)
        result.error = QStringLiteral("no answer within %1 ms").arg(requestTimeoutMs_);
    else if (redirected)
        result.error = QStringLiteral(
                           "the portal answered %1 (a redirect to '%2'), which is not "
                           "followed")
                           .arg(status.toInt())
                           .arg(reply->header(QNetworkRequest::LocationHeader).toString());
    else if (!answered)
        result.error = reply->errorString();
    else {
        result.ok = true;
        result.answer = DecodeAnswer(
            reply->readAll(), reply->header(QNetworkRequest::ContentTypeHeader).toByteArray());
    }
    reply->deleteLater();
    sinceLastRequest_.start();
    return result;
}

}  // namespace kavelon
