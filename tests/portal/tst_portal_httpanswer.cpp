// The portal client's reading of HTTP answers: every answer gives the same result whether it
// arrives at once, byte by byte, or in two parts split anywhere.
#include <QtTest>

#include "portal/httpanswer.h"

using namespace kavelon;
using State = HttpAnswerReader::State;

Q_DECLARE_METATYPE(HttpAnswerReader::State)

namespace {

constexpr qint64 kMaxBody = 10;

struct Outcome {
    State state;
    HttpAnswer answer;
    bool extra;
};

// Feeds the parts in turn, then ends the connection if the answer is not complete by then.
Outcome Read(const QList<QByteArray>& parts) {
    HttpAnswerReader reader(kMaxBody);
    State state = State::Incomplete;
    for (const QByteArray& part : parts) state = reader.feed(part);
    if (state == State::Incomplete) state = reader.endOfConnection();
    return {state, reader.answer(), reader.hasExtraBytes()};
}

QList<QList<QByteArray>> Deliveries(const QByteArray& raw) {
    QList<QList<QByteArray>> deliveries{{raw}};
    if (raw.size() > 1000) return deliveries;
    QList<QByteArray> bytes;
    for (const char c : raw) bytes.append(QByteArray(1, c));
    deliveries.append(bytes);
    for (qsizetype at = 1; at < raw.size(); ++at) deliveries.append({raw.left(at), raw.mid(at)});
    return deliveries;
}

}  // namespace

class HttpAnswerTest : public QObject {
    Q_OBJECT
  private slots:
    void answers_data();
    void answers();
    void headersTheClientUses();
};

void HttpAnswerTest::answers_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<State>("state");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("keepAlive");
    QTest::addColumn<bool>("extra");
    const auto ok = [](const char* name, const QByteArray& raw, const QByteArray& body,
                       bool keepAlive = true, int status = 200, bool extra = false) {
        QTest::newRow(name) << raw << State::Complete << status << body << keepAlive << extra;
    };
    const auto bad = [](const char* name, const QByteArray& raw, State state = State::Malformed) {
        QTest::newRow(name) << raw << state << -1 << QByteArray() << false << false;
    };
    ok("length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhallo", "hallo");
    ok("chunks, extension, trailer",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;x=y\r\nhal\r\n2\r\nlo\r\n0\r\n"
       "X-Einde: ja\r\n\r\n",
       "hallo");
    ok("chunked wins over a length",
       "HTTP/1.1 200 OK\r\nContent-Length: 99\r\nTransfer-Encoding: gzip, chunked\r\n\r\n"
       "2\r\nok\r\n0\r\n\r\n",
       "ok");
    ok("interim answers skipped",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\n\r\n"
       "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
       "ok");
    ok("up to the end", "HTTP/1.1 200 OK\r\n\r\ntot einde", "tot einde", false);
    ok("HTTP/1.0", "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", "ok", false);
    ok("HTTP/1.0 kept", "HTTP/1.0 200 OK\r\nConnection: Keep-Alive\r\nContent-Length: 2\r\n\r\nok",
       "ok");
    ok("close", "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 2\r\n\r\nok", "ok", false);
    ok("line feeds only", "HTTP/1.1 200 OK\nContent-Length: 2\n\nok", "ok");
    ok("no content", "HTTP/1.1 204 No Content\r\n\r\n", "", true, 204);
    ok("error page", "HTTP/1.1 500 Fout\r\nContent-Length: 4\r\n\r\nfout", "fout", true, 500);
    ok("bytes after the answer", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nokEXTRA", "ok", true,
       200, true);
    bad("length cut short", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nhal");
    bad("chunk cut short", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhal");
    bad("last chunk missing", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nok\r\n");
    bad("chunk without its line break",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nokX\r\n0\r\n\r\n");
    bad("head cut short", "HTTP/1.1 200 OK\r\nContent-Le");
    bad("two lengths", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nok");
    bad("negative length", "HTTP/1.1 200 OK\r\nContent-Length: -2\r\n\r\nok");
    bad("bad chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nok\r\n");
    bad("not HTTP", "SSH-2.0-OpenSSH_9.2\r\n\r\n");
    bad("no status", "HTTP/1.1 OK\r\n\r\n");
    bad("switching protocols", "HTTP/1.1 101 Switching Protocols\r\nUpgrade: h2c\r\n\r\n");
    bad("header without a name", "HTTP/1.1 200 OK\r\n: leeg\r\nContent-Length: 0\r\n\r\n");
    bad("head too long", "HTTP/1.1 200 OK\r\nX: " + QByteArray(70 * 1024, 'x') + "\r\n\r\n");
    bad("length over the cap", "HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n", State::TooLarge);
    bad("chunks over the cap",
        "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n6\r\n123456\r\n6\r\n123456\r\n",
        State::TooLarge);
    bad("up to the end, over the cap", "HTTP/1.1 200 OK\r\n\r\n12345678901", State::TooLarge);
}

void HttpAnswerTest::answers() {
    QFETCH(QByteArray, raw);
    QFETCH(State, state);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, keepAlive);
    QFETCH(bool, extra);
    const QList<QList<QByteArray>> deliveries = Deliveries(raw);
    for (qsizetype i = 0; i < deliveries.size(); ++i) {
        const Outcome outcome = Read(deliveries[i]);
        const QByteArray delivery = QByteArray::number(i);
        QVERIFY2(outcome.state == state, delivery.constData());
        if (state != State::Complete) continue;
        QCOMPARE(outcome.answer.status, status);
        QCOMPARE(outcome.answer.body, body);
        QCOMPARE(outcome.answer.keepAlive, keepAlive);
        QCOMPARE(outcome.extra, extra);
    }
}

void HttpAnswerTest::headersTheClientUses() {
    const Outcome moved =
        Read({"HTTP/1.1 302 Found\r\nlocation:  https://elders.invalid/x \r\n"
              "CONTENT-TYPE: text/html; charset=\"utf-8\"\r\n"
              "Content-Length: 0\r\n\r\n"});
    QCOMPARE(moved.state, State::Complete);
    QCOMPARE(moved.answer.status, 302);
    QCOMPARE(moved.answer.location, QByteArray("https://elders.invalid/x"));
    QCOMPARE(moved.answer.contentType, QByteArray("text/html; charset=\"utf-8\""));
}

QTEST_APPLESS_MAIN(HttpAnswerTest)
#include "tst_portal_httpanswer.moc"
