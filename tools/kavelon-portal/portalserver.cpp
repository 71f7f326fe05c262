#include "portalserver.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSslSocket>
#include <QUrl>

#include "core/codec.h"
#include "core/textutil.h"
#include "messages/messagefile.h"

namespace kavelon {

namespace {

constexpr qsizetype kMaxHead = 64 * 1024;
constexpr qint64 kMaxBody = 64 * 1024 * 1024;
constexpr qsizetype kOversizedFiller = 70 * 1024 * 1024;
const QByteArray kSessionCookie = "KavelonPortalSession";

const QList<std::pair<Fault, QString>> kFaultNames = {
    {Fault::None, QStringLiteral("none")},
    {Fault::Slow, QStringLiteral("slow")},
    {Fault::DropBefore, QStringLiteral("drop-before")},
    {Fault::DropAfter, QStringLiteral("drop-after")},
    {Fault::Http500, QStringLiteral("http500")},
    {Fault::NoTags, QStringLiteral("no-tags")},
    {Fault::Truncated, QStringLiteral("truncated")},
    {Fault::Oversized, QStringLiteral("oversized")},
    {Fault::ReversedTags, QStringLiteral("reversed-tags")},
    {Fault::BadFileElement, QStringLiteral("bad-file-element")},
    {Fault::UnsafeNames, QStringLiteral("unsafe-names")},
    {Fault::WrongHost, QStringLiteral("wrong-host")},
    {Fault::Drip, QStringLiteral("drip")},
    {Fault::SlowEnd, QStringLiteral("slow-end")},
    {Fault::Redirect301, QStringLiteral("redirect-301")},
    {Fault::Redirect302, QStringLiteral("redirect-302")},
    {Fault::Redirect307, QStringLiteral("redirect-307")},
    {Fault::Redirect308, QStringLiteral("redirect-308")},
    {Fault::Chunked, QStringLiteral("chunked")},
};
constexpr int kDripIntervalMs = 1000;
constexpr qsizetype kSlowEndBytes = 16;

const QList<std::pair<Fault, int>> kRedirectStatus = {{Fault::Redirect301, 301},
                                                      {Fault::Redirect302, 302},
                                                      {Fault::Redirect307, 307},
                                                      {Fault::Redirect308, 308}};

QByteArray Reason(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 307:
            return "Temporary Redirect";
        case 308:
            return "Permanent Redirect";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 411:
            return "Length Required";
        case 413:
            return "Payload Too Large";
        case 500:
            return "Internal Server Error";
        default:
            return "Unknown";
    }
}

HttpResponse Page(int status, const QString& title, const QString& bodyHtml) {
    HttpResponse r;
    r.status = status;
    r.body =
        EncodeCp1252(QStringLiteral("<!DOCTYPE html>\r\n<html><head><meta charset=\"windows-1252\">"
                                    "<title>%1</title></head>\r\n<body>\r\n<h1>%1</h1>\r\n%2\r\n"
                                    "</body></html>\r\n")
                         .arg(title.toHtmlEscaped(), bodyHtml));
    return r;
}

HttpResponse Text(const QString& text) {
    HttpResponse r;
    r.body = EncodeCp1252(text);
    return r;
}

// The value of one parameter in a raw query, as sent.
QByteArray QueryValue(const QByteArray& query, const QByteArray& name) {
    for (const QByteArray& piece : query.split('&'))
        if (piece.startsWith(name + '=')) return piece.mid(name.size() + 1);
    return {};
}

// Query values arrive as Windows-1252 "%XX" like form values.
QString Unescape(const QByteArray& value) {
    return DecodeFormValue(value);
}

// A small order for the confirmations of the "unsafe-names" fault.
QString SampleConfirmation() {
    QStringList order(kIcmHeaderLines);
    order[1] = QStringLiteral("Voorbeeld");
    order[4] = QStringLiteral("100-200");
    order[18] = QStringLiteral("1");
    order << QStringLiteral("1") << QStringLiteral("A100") << QStringLiteral("Voorbeeldartikel")
          << QStringLiteral("10.00");
    return PortalState::BuildConfirmation(order, QStringLiteral("999999"));
}

}  // namespace

Fault FaultFromName(const QString& name) {
    const QString n = name.trimmed().toLower();
    if (n.isEmpty()) return Fault::None;
    for (const auto& [fault, text] : kFaultNames)
        if (text == n) return fault;
    return Fault::Unknown;
}

QString FaultName(Fault fault) {
    for (const auto& [f, text] : kFaultNames)
        if (f == fault) return f == Fault::None ? QString() : text;
    return QStringLiteral("unknown");
}

QByteArray HttpRequest::header(const QByteArray& name) const {
    for (const auto& [n, v] : headers)
        if (n.compare(name, Qt::CaseInsensitive) == 0) return v;
    return {};
}

PortalServer::PortalServer(PortalOptions options, PortalState& state, QSslConfiguration good,
                           QSslConfiguration wrongHost, QObject* parent)
    : QSslServer(parent),
      options_(std::move(options)),
      state_(state),
      good_(std::move(good)),
      wrongHost_(std::move(wrongHost)) {
    setSslConfiguration(good_);
    connect(this, &QTcpServer::pendingConnectionAvailable, this, &PortalServer::takeConnections);
    idle_.setSingleShot(true);
    idle_.setInterval(options_.idleExitMs);
    connect(&idle_, &QTimer::timeout, this, [] {
        fprintf(stderr, "kavelon-portal: idle, stopping\n");
        QCoreApplication::quit();
    });
    noteActivity();
    // Numbers go on from an earlier run's record.
    QFile log(QDir(options_.stateDir).filePath(QStringLiteral("requests.log")));
    if (log.open(QIODevice::ReadOnly))
        while (!log.atEnd())
            if (log.readLine().endsWith('\n')) ++seq_;
}

Fault PortalServer::standingFault() const {
    QFile file(QDir(options_.stateDir).filePath(QStringLiteral("fault")));
    if (file.open(QIODevice::ReadOnly)) {
        const QString name = QString::fromLatin1(file.readAll()).trimmed();
        if (!name.isEmpty()) return FaultFromName(name);
    }
    return options_.fault;
}

Fault PortalServer::requestFault(const HttpRequest& request) const {
    const QByteArray header = request.header("X-Kavelon-Fault").trimmed();
    if (!header.isEmpty()) return FaultFromName(QString::fromLatin1(header));
    const QByteArray query = QueryValue(request.query, "fault");
    if (!query.isEmpty()) return FaultFromName(Unescape(query));
    return standingFault();
}

void PortalServer::noteActivity() {
    if (options_.idleExitMs > 0) idle_.start();
}

void PortalServer::incomingConnection(qintptr socket) {
    noteActivity();
    setSslConfiguration(standingFault() == Fault::WrongHost ? wrongHost_ : good_);
    QSslServer::incomingConnection(socket);
}

void PortalServer::takeConnections() {
    while (hasPendingConnections()) {
        auto* socket = qobject_cast<QSslSocket*>(nextPendingConnection());
        if (!socket) continue;
        if (standingFault() == Fault::DropBefore) {
            connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
            socket->abort();
            continue;
        }
        new PortalConnection(socket, this);
    }
}

void PortalServer::record(const HttpRequest& request, const QString& peer, Fault fault) {
    QJsonArray headers;
    for (const auto& [name, value] : request.headers)
        headers.append(QJsonArray{QString::fromLatin1(name), QString::fromLatin1(value)});
    const QJsonObject entry{
        {QStringLiteral("seq"), ++seq_},
        {QStringLiteral("time"),
         QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ"))},
        {QStringLiteral("peer"), peer},
        {QStringLiteral("method"), QString::fromLatin1(request.method)},
        {QStringLiteral("target"), QString::fromLatin1(request.target)},
        {QStringLiteral("path"), QString::fromLatin1(request.path)},
        {QStringLiteral("query"), QString::fromLatin1(request.query)},
        {QStringLiteral("version"), QString::fromLatin1(request.version)},
        {QStringLiteral("headers"), headers},
        {QStringLiteral("body"), QString::fromLatin1(request.body.toBase64())},
        {QStringLiteral("fault"), FaultName(fault)},
    };
    QFile log(QDir(options_.stateDir).filePath(QStringLiteral("requests.log")));
    if (log.open(QIODevice::WriteOnly | QIODevice::Append))
        log.write(QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n');
}

HttpResponse PortalServer::answer(const HttpRequest& request, Fault fault) {
    if (fault == Fault::Unknown)
        return Page(400, QStringLiteral("Onbekende storing"),
                    QStringLiteral("<p>Deze storing kent het portaal niet.</p>"));
    if (fault == Fault::Http500)
        return Page(500, QStringLiteral("500 - Interne serverfout"),
                    QStringLiteral("<p>Er is een fout opgetreden op de server.</p>"));
    const QByteArray path = request.path.toLower();
    for (const auto& [redirectFault, status] : kRedirectStatus)
        if (fault == redirectFault) return redirect(fault);
    if (path == "/icmpost.aspx" || path == "/icbpost.aspx") {
        if (request.method != "POST")
            return Page(405, QStringLiteral("Methode niet toegestaan"), QString());
        return portalPost(request, fault, path == "/icmpost.aspx");
    }
    if (path == "/nl/authenticate/directlogin.aspx") return directLogin(request);
    if (path == "/orderstatus") return orderStatus(request);
    if (path == "/contact")
        return Page(200, QStringLiteral("Contact"),
                    QStringLiteral("<p>Rilvost Groothandel (proefportaal)</p>\r\n"
                                   "<p>Telefoon 000-0000000, e-mail orders@example.invalid</p>"));
    if (path == "/")
        return Page(200, QStringLiteral("Proefportaal"),
                    QStringLiteral("<p><a href=\"/orderstatus\">Orderstatus</a> | "
                                   "<a href=\"/contact\">Contact</a></p>"));
    return Page(404, QStringLiteral("Niet gevonden"),
                QStringLiteral("<p>%1</p>").arg(QString::fromLatin1(request.path).toHtmlEscaped()));
}

HttpResponse PortalServer::portalPost(const HttpRequest& request, Fault fault, bool orders) {
    const bool fileFault = fault == Fault::BadFileElement || fault == Fault::UnsafeNames;
    const bool apply = fault == Fault::None || fault == Fault::Slow || fault == Fault::Oversized ||
                       fault == Fault::WrongHost || fault == Fault::Chunked ||
                       (orders && fileFault) || (orders && fault == Fault::SlowEnd);
    PortalAnswer answer = orders ? state_.postOrder(request.body, apply)
                                 : state_.fetchConfirmations(request.body, apply);
    if (!orders && apply) recordHandedOut(answer, QDateTime::currentMSecsSinceEpoch());
    switch (fault) {
        case Fault::SlowEnd: {
            if (orders) break;
            HttpResponse r = Text(answer.text());
            const QByteArray body = request.body;
            r.afterSent = [this, body] {
                const qint64 sent = QDateTime::currentMSecsSinceEpoch();
                recordHandedOut(state_.fetchConfirmations(body, true), sent);
            };
            return r;
        }
        case Fault::NoTags:
            return Page(200, QStringLiteral("Onderhoud"),
                        QStringLiteral("<p>Het portaal is tijdelijk niet beschikbaar.</p>"));
        case Fault::ReversedTags:
            return Text(QStringLiteral("<IcmResult>\r\n</IcmStatus>%1<IcmStatus>\r\n"
                                       "</Message>%2<Message>\r\n</IcmResult>\r\n")
                            .arg(answer.status, answer.message));
        case Fault::Truncated: {
            HttpResponse r = Text(answer.text());
            r.truncate = true;
            return r;
        }
        case Fault::Oversized: {
            HttpResponse r;
            r.body = "<!-- " + QByteArray(kOversizedFiller, 'x') + " -->\r\n" +
                     EncodeCp1252(answer.text());
            return r;
        }
        case Fault::BadFileElement:
            if (orders || !answer.accepted()) break;
            answer.files.clear();
            return Text(answer.text().replace(
                QStringLiteral("</IcmResult>"),
                QStringLiteral("<file short.icb></file>\r\n<file open.icb>\r\n") +
                    SampleConfirmation() + QStringLiteral("\r\n</IcmResult>")));
        case Fault::UnsafeNames:
            if (orders || !answer.accepted()) break;
            answer.files.clear();
            for (const char* name : {"../x.icb", "a/b.icb", "c:evil.icb", "..\\y.icb"})
                answer.files.append({QString::fromLatin1(name), SampleConfirmation()});
            break;
        default:
            break;
    }
    return Text(answer.text());
}

void PortalServer::recordHandedOut(const PortalAnswer& answer, qint64 when) const {
    if (!answer.accepted() || answer.files.isEmpty()) return;
    QFile log(QDir(options_.stateDir).filePath(QStringLiteral("handed-out.log")));
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append)) return;
    for (const auto& [name, content] : answer.files) {
        const QJsonObject entry{
            {QStringLiteral("time"), when},
            {QStringLiteral("name"), name},
            {QStringLiteral("content"), QString::fromLatin1(EncodeCp1252(content).toBase64())}};
        log.write(QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n');
    }
}

HttpResponse PortalServer::redirect(Fault fault) const {
    int status = 302;
    for (const auto& [redirectFault, code] : kRedirectStatus)
        if (fault == redirectFault) status = code;
    QFile file(QDir(options_.stateDir).filePath(QStringLiteral("location")));
    QByteArray location = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
    if (location.isEmpty()) location = "/elsewhere";
    // A body that a client following the redirect blindly would take for an accepted order.
    HttpResponse r = Text(QStringLiteral("<IcmStatus>Correct</IcmStatus><Message>Verplaatst naar "
                                         "%1</Message>\r\n")
                              .arg(QString::fromLatin1(location)));
    r.status = status;
    r.headers.append({"Location", location});
    return r;
}

HttpResponse PortalServer::directLogin(const HttpRequest& request) {
    auto query = SplitForm(request.query, {"customerid", "username", "pwd", "returnurl"});
    QByteArray returnUrl = query["returnurl"];
    if (const qsizetype at = returnUrl.indexOf("&fault="); at >= 0) returnUrl.truncate(at);
    const auto account = state_.login(Unescape(query["customerid"]), Unescape(query["username"]),
                                      Unescape(query["pwd"]));
    if (!account)
        return Page(403, QStringLiteral("Aanmelden mislukt"),
                    QStringLiteral("<p>Het debiteurennummer, de gebruiker of het wachtwoord is "
                                   "onjuist.</p>"));
    QString target = Unescape(returnUrl);
    if (!target.startsWith(QLatin1Char('/')) || target.startsWith(QStringLiteral("//")))
        target = QStringLiteral("/orderstatus");
    const QByteArray token = QByteArray::number(QRandomGenerator::system()->generate64(), 16) +
                             QByteArray::number(QRandomGenerator::system()->generate64(), 16);
    sessions_.insert(token, account->customerId);
    HttpResponse r =
        Page(302, QStringLiteral("Aangemeld"),
             QStringLiteral("<p><a href=\"%1\">Verder</a></p>").arg(target.toHtmlEscaped()));
    r.headers.append({"Location", target.toUtf8()});
    r.headers.append({"Set-Cookie", kSessionCookie + '=' + token + "; Path=/; Secure; HttpOnly"});
    return r;
}

HttpResponse PortalServer::orderStatus(const HttpRequest& request) {
    QString customerId;
    for (QByteArray cookie : request.header("Cookie").split(';')) {
        cookie = cookie.trimmed();
        if (cookie.startsWith(kSessionCookie + '='))
            customerId = sessions_.value(cookie.mid(kSessionCookie.size() + 1));
    }
    if (customerId.isEmpty())
        return Page(403, QStringLiteral("Niet aangemeld"),
                    QStringLiteral("<p>Meld u eerst aan om uw orders te zien.</p>"));
    QString rows;
    for (const PortalOrder& o : state_.ordersOf(customerId))
        rows += QStringLiteral(
                    "<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td>"
                    "<td>%6</td></tr>\r\n")
                    .arg(o.orderNumber.toHtmlEscaped(),
                         ConvertSpaces(o.fileName, false).toHtmlEscaped(),
                         o.reference.toHtmlEscaped(), o.deliveryDate.toHtmlEscaped(),
                         QString::number(o.lineCount), o.received.toHtmlEscaped());
    if (rows.isEmpty())
        return Page(200, QStringLiteral("Orderstatus %1").arg(customerId),
                    QStringLiteral("<p>Er zijn nog geen orders ontvangen.</p>"));
    return Page(200, QStringLiteral("Orderstatus %1").arg(customerId),
                QStringLiteral("<table border=\"1\">\r\n<tr><th>Ordernummer</th><th>Bestand</th>"
                               "<th>Referentie</th><th>Afleverdatum</th><th>Regels</th>"
                               "<th>Ontvangen</th></tr>\r\n%1</table>")
                    .arg(rows));
}

PortalConnection::PortalConnection(QSslSocket* socket, PortalServer* server)
    : QObject(server), socket_(socket), server_(server) {
    socket_->setParent(this);
    connect(socket_, &QIODevice::readyRead, this, &PortalConnection::readMore);
    connect(socket_, &QAbstractSocket::disconnected, this, &QObject::deleteLater);
    readMore();
}

void PortalConnection::readMore() {
    buffer_ += socket_->readAll();
    process();
}

void PortalConnection::process() {
    while (!busy_ && !closing_) {
        if (!haveHead_) {
            const qsizetype end = buffer_.indexOf("\r\n\r\n");
            if (end < 0) {
                if (buffer_.size() > kMaxHead) send(Page(400, QStringLiteral("Fout"), {}), true);
                return;
            }
            const QList<QByteArray> lines = buffer_.left(end).split('\n');
            buffer_.remove(0, end + 4);
            const QList<QByteArray> first = lines.first().trimmed().split(' ');
            if (first.size() != 3 || !first[2].startsWith("HTTP/1.")) {
                send(Page(400, QStringLiteral("Fout"), {}), true);
                return;
            }
            request_ = HttpRequest{};
            request_.method = first[0];
            request_.target = first[1];
            request_.version = first[2];
            const qsizetype mark = request_.target.indexOf('?');
            request_.path = mark < 0 ? request_.target : request_.target.left(mark);
            request_.query = mark < 0 ? QByteArray() : request_.target.mid(mark + 1);
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const QByteArray line = lines[i].endsWith('\r') ? lines[i].chopped(1) : lines[i];
                const qsizetype colon = line.indexOf(':');
                if (colon > 0)
                    request_.headers.append(
                        {line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
            }
            if (!request_.header("Transfer-Encoding").isEmpty()) {
                send(Page(411, QStringLiteral("Lengte vereist"), {}), true);
                return;
            }
            bool ok = true;
            const QByteArray length = request_.header("Content-Length");
            contentLength_ = length.isEmpty() ? 0 : length.toLongLong(&ok);
            if (!ok || contentLength_ < 0 || contentLength_ > kMaxBody) {
                send(Page(413, QStringLiteral("Te groot"), {}), true);
                return;
            }
            haveHead_ = true;
            if (server_->requestFault(request_) == Fault::DropBefore) {
                closing_ = true;
                socket_->abort();
                return;
            }
        }
        if (buffer_.size() < contentLength_) return;
        request_.body = buffer_.left(contentLength_);
        buffer_.remove(0, contentLength_);
        haveHead_ = false;

        const Fault fault = server_->requestFault(request_);
        server_->record(
            request_,
            QStringLiteral("%1:%2").arg(socket_->peerAddress().toString()).arg(socket_->peerPort()),
            fault);
        server_->noteActivity();
        const QByteArray connection = request_.header("Connection").toLower();
        const bool close = connection.contains("close") ||
                           (request_.version == "HTTP/1.0" && !connection.contains("keep-alive"));
        if (fault == Fault::DropAfter) {
            closing_ = true;
            socket_->abort();
            return;
        }
        const HttpResponse response = server_->answer(request_, fault);
        if (fault == Fault::Slow) {
            busy_ = true;
            QTimer::singleShot(server_->slowMs(), this, [this, response, close] {
                busy_ = false;
                send(response, close);
                process();
            });
            return;
        }
        send(response, close, fault);
    }
}

namespace {

// The answer as a client meets it from servers that stream: an interim answer, the body in
// chunks with an extension and a trailer, and the connection closed after it.
QByteArray Chunked(const HttpResponse& response) {
    QByteArray out = "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 " +
                     QByteArray::number(response.status) + ' ' + Reason(response.status) +
                     "\r\nContent-Type: " + response.contentType +
                     "\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
    for (qsizetype at = 0; at < response.body.size(); at += 7) {
        const QByteArray chunk = response.body.mid(at, 7);
        out += QByteArray::number(chunk.size(), 16) + (at == 0 ? ";proef=1" : "") + "\r\n" + chunk +
               "\r\n";
    }
    return out + "0\r\nX-Proef: einde\r\n\r\n";
}

}  // namespace

void PortalConnection::send(const HttpResponse& response, bool close, Fault fault) {
    if (fault == Fault::Chunked) {
        socket_->write(Chunked(response));
        closing_ = true;
        socket_->disconnectFromHost();
        return;
    }
    close = close || response.truncate;
    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(response.status) + ' ' + Reason(response.status) + "\r\n";
    head += "Server: kavelon-portal\r\n";
    head += "Content-Type: " + response.contentType + "\r\n";
    head += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
    head += close ? "Connection: close\r\n" : "Connection: keep-alive\r\n";
    for (const auto& [name, value] : response.headers) head += name + ": " + value + "\r\n";
    head += "\r\n";
    socket_->write(head);
    if (fault == Fault::Drip || fault == Fault::SlowEnd) {
        const qsizetype held =
            fault == Fault::Drip ? response.body.size() : qMin(kSlowEndBytes, response.body.size());
        socket_->write(response.body.left(response.body.size() - held));
        busy_ = true;
        if (fault == Fault::Drip)
            sendRest(response.body.right(held), kDripIntervalMs, true, response.afterSent, close);
        else
            sendRest(response.body.right(held), server_->slowMs(), false, response.afterSent,
                     close);
        return;
    }
    socket_->write(response.truncate ? response.body.left(response.body.size() / 2)
                                     : response.body);
    if (response.afterSent) response.afterSent();
    server_->noteActivity();
    if (close) {
        closing_ = true;
        socket_->disconnectFromHost();
    }
}

// The held-back end of an answer: all of it after delayMs, or one byte every delayMs; the
// connection goes on with further requests once it is out.
void PortalConnection::sendRest(QByteArray rest, int delayMs, bool byteByByte,
                                std::function<void()> afterSent, bool close) {
    QTimer::singleShot(delayMs, this, [this, rest, delayMs, byteByByte, afterSent, close] {
        if (socket_->state() != QAbstractSocket::ConnectedState) return;  // the client is gone
        const bool drip = byteByByte && rest.size() > 1;
        socket_->write(drip ? rest.left(1) : rest);
        socket_->flush();
        server_->noteActivity();
        if (drip) {
            sendRest(rest.mid(1), delayMs, true, afterSent, close);
            return;
        }
        if (afterSent) afterSent();
        busy_ = false;
        if (close) {
            closing_ = true;
            socket_->disconnectFromHost();
            return;
        }
        process();
    });
}

}  // namespace kavelon
