#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSslConfiguration>
#include <QSslServer>
#include <QString>
#include <QTimer>

#include <functional>

#include "portalstate.h"

class QSslSocket;

namespace kavelon {

// The ways the portal can misbehave, for tests. The name is chosen, first match wins, by
//   1. the request header "X-Kavelon-Fault: NAME",
//   2. the query parameter "fault=NAME",
//   3. the file <state>/fault holding NAME (read for every connection and request, so a test
//      can switch faults while the program under test keeps its own requests unchanged),
//   4. the option --fault NAME.
// "drop-before" and "wrong-host" also work per connection: from the file or the option they
// act before any request is read; from a header or query "drop-before" closes after the
// request head, before the body, and "wrong-host" does nothing (the handshake is over).
// "slow" and "oversized" answer the real outcome; every other fault leaves the portal's
// orders and queues untouched. "bad-file-element" and "unsafe-names" concern only
// /icbpost.aspx; elsewhere they are ignored, as are the content faults on the web pages.
enum class Fault {
    None,
    Slow,            // answers after --slow-ms
    DropBefore,      // closes without reading the request
    DropAfter,       // reads the request, then closes without an answer
    Http500,         // status 500 with an HTML page
    NoTags,          // status 200, a page without the status and message tags
    Truncated,       // announces the whole answer, sends half, closes
    Oversized,       // 70 MiB of filler before the real answer
    ReversedTags,    // every closing tag before its opening tag
    BadFileElement,  // a file element closed right after its name, one never closed
    UnsafeNames,     // file elements named "../x.icb", "a/b.icb", "c:evil.icb", "..\y.icb"
    WrongHost,       // a certificate issued for wrong.example
    Drip,            // sends the answer one byte a second
    SlowEnd,         // sends all of the answer but its end, the end after --slow-ms; a fetch's
                     // confirmations leave the queue only once the whole answer has gone out
    Redirect301,     // status 301, 302, 307 or 308 with a Location: the text of the file
    Redirect302,     // <state>/location, else "/elsewhere"; the portal's state is untouched
    Redirect307,
    Redirect308,
    Chunked,  // a "100 Continue" first, then the answer in chunks of 7 bytes; then it hangs up
    Unknown,
};

Fault FaultFromName(const QString& name);
QString FaultName(Fault fault);

struct PortalOptions {
    QString stateDir;
    QString accountsFile;
    Fault fault = Fault::None;
    int slowMs = 3000;
    int idleExitMs = 600000;  // 0: never
};

// One request as read from the connection.
struct HttpRequest {
    QByteArray method, target, path, query, version;
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    QByteArray header(const QByteArray& name) const;
};

struct HttpResponse {
    int status = 200;
    QByteArray contentType = "text/html; charset=windows-1252";
    QList<std::pair<QByteArray, QByteArray>> headers;
    QByteArray body;
    bool truncate = false;            // send half of the body, then close
    std::function<void()> afterSent;  // once the whole answer has gone out
};

// The HTTPS portal on 127.0.0.1: a minimal HTTP/1.1 server (Content-Length bodies, keep-alive,
// "Connection: close" honoured) with the portal's pages. Every fully read request is recorded,
// as one JSON object per line in <state>/requests.log:
//   {"seq": 1, "time": "2026-01-01T10:00:00.000Z", "peer": "127.0.0.1:40000",
//    "method": "POST", "target": "/icmpost.aspx", "path": "/icmpost.aspx", "query": "",
//    "version": "HTTP/1.1", "headers": [["Host", "127.0.0.1:8443"], ...],
//    "body": "<the body bytes, base64>", "fault": "" or the fault's name}
// Header names and values are read as Latin-1. A request dropped by "drop-before" is not
// recorded.
class PortalServer : public QSslServer {
    Q_OBJECT
  public:
    PortalServer(PortalOptions options, PortalState& state, QSslConfiguration good,
                 QSslConfiguration wrongHost, QObject* parent = nullptr);

    // The fault from the file or the option.
    Fault standingFault() const;
    // The fault for one request.
    Fault requestFault(const HttpRequest& request) const;
    // Answers one request; the connection sends it.
    HttpResponse answer(const HttpRequest& request, Fault fault);
    void record(const HttpRequest& request, const QString& peer, Fault fault);
    void noteActivity();
    int slowMs() const { return options_.slowMs; }
    // Notes the confirmations an answer handed out at a moment (ms since the epoch), one JSON
    // object per line in <state>/handed-out.log: {"time": ..., "name": ..., "content": base64
    // of the Windows-1252 bytes}.
    void recordHandedOut(const PortalAnswer& answer, qint64 when) const;

  protected:
    void incomingConnection(qintptr socket) override;

  private:
    void takeConnections();
    HttpResponse portalPost(const HttpRequest& request, Fault fault, bool orders);
    HttpResponse directLogin(const HttpRequest& request);
    HttpResponse orderStatus(const HttpRequest& request);
    HttpResponse redirect(Fault fault) const;

    PortalOptions options_;
    PortalState& state_;
    QSslConfiguration good_, wrongHost_;
    QTimer idle_;
    qint64 seq_ = 0;
    QHash<QByteArray, QString> sessions_;  // cookie value to customer number
};

// One client connection; it deletes itself when the socket closes.
class PortalConnection : public QObject {
    Q_OBJECT
  public:
    PortalConnection(QSslSocket* socket, PortalServer* server);

  private:
    void readMore();
    void process();
    void send(const HttpResponse& response, bool close, Fault fault = Fault::None);
    void sendRest(QByteArray rest, int delayMs, bool byteByByte, std::function<void()> afterSent,
                  bool close);

    QSslSocket* socket_;
    PortalServer* server_;
    QByteArray buffer_;
    bool haveHead_ = false;
    bool busy_ = false;  // an answer is waiting (slow); further requests wait too
    bool closing_ = false;
    HttpRequest request_;
    qint64 contentLength_ = 0;
};

}  // namespace kavelon
