#pragma once

#include <QByteArray>

namespace kavelon {

// The parts of an HTTP/1.1 answer the portal client uses.
struct HttpAnswer {
    int status = 0;
    QByteArray contentType;
    QByteArray location;
    QByteArray body;
    bool keepAlive = true;  // the connection may carry another request
};

// Reads one HTTP/1.1 answer from the bytes of a connection as they arrive: the body by its
// length, in chunks, or up to the end of the connection. Interim 1xx answers are skipped.
class HttpAnswerReader {
  public:
    enum class State { Incomplete, Complete, Malformed, TooLarge };

    static constexpr qsizetype kMaxHeaderBytes = 64 * 1024;

    explicit HttpAnswerReader(qint64 maxBodyBytes) : maxBodyBytes_(maxBodyBytes) {}

    // Takes the next bytes of the connection.
    State feed(const QByteArray& bytes);
    // The connection has ended: an answer whose body runs to the end is now complete.
    State endOfConnection();

    State state() const { return state_; }
    const HttpAnswer& answer() const { return answer_; }
    // Bytes after the answer: the connection is then not fit for another request.
    bool hasExtraBytes() const { return !buffer_.isEmpty(); }

  private:
    enum class Body { None, Length, Chunked, UntilEnd };

    State readHead();
    State readBody();
    State readChunks();
    State bodyGrew();
    State complete();

    const qint64 maxBodyBytes_;
    QByteArray buffer_;
    HttpAnswer answer_;
    State state_ = State::Incomplete;
    bool inHead_ = true;
    Body body_ = Body::None;
    qint64 remaining_ = 0;    // of the body (Length) or of the current chunk (Chunked)
    bool inChunk_ = false;    // between a chunk's size line and its data's end
    bool inTrailer_ = false;  // after the last chunk
};

}  // namespace kavelon
