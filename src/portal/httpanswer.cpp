#include "portal/httpanswer.h"

#include <QList>

namespace kavelon {
namespace {

constexpr qsizetype kMaxChunkLineBytes = 1024;

// The position just after the empty line that ends a head, or -1.
qsizetype HeadEnd(const QByteArray& bytes) {
    const qsizetype crlf = bytes.indexOf("\n\r\n");
    const qsizetype lf = bytes.indexOf("\n\n");
    if (crlf >= 0 && (lf < 0 || crlf < lf)) return crlf + 3;
    return lf >= 0 ? lf + 2 : -1;
}

// A whole decimal number without sign; -1 when it is none or beyond 18 digits.
qint64 DecimalNumber(const QByteArray& text) {
    if (text.isEmpty() || text.size() > 18) return -1;
    for (const char c : text)
        if (c < '0' || c > '9') return -1;
    return text.toLongLong();
}

qint64 HexNumber(const QByteArray& text) {
    if (text.isEmpty() || text.size() > 15) return -1;
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 16);
    return ok && value >= 0 && !text.startsWith('+') && !text.startsWith('-') ? value : -1;
}

bool HasToken(const QByteArray& value, const QByteArray& token) {
    for (const QByteArray& part : value.split(','))
        if (part.trimmed().toLower() == token) return true;
    return false;
}

}  // namespace

HttpAnswerReader::State HttpAnswerReader::feed(const QByteArray& bytes) {
    if (state_ != State::Incomplete) {
        buffer_ += bytes;
        return state_;
    }
    buffer_ += bytes;
    while (inHead_) {
        const qsizetype before = buffer_.size();
        const State head = readHead();
        if (head != State::Incomplete) return state_ = head;
        if (inHead_ && buffer_.size() == before) return state_;  // the head is not whole yet
    }
    return state_ == State::Incomplete ? state_ = readBody() : state_;
}

HttpAnswerReader::State HttpAnswerReader::endOfConnection() {
    if (state_ != State::Incomplete) return state_;
    if (!inHead_ && body_ == Body::UntilEnd) return complete();
    return state_ = State::Malformed;  // cut short
}

// Reads one head when it is whole. An interim 1xx answer is dropped from the buffer and
// inHead_ stays true.
HttpAnswerReader::State HttpAnswerReader::readHead() {
    const qsizetype end = HeadEnd(buffer_);
    if (end < 0) return buffer_.size() > kMaxHeaderBytes ? State::Malformed : State::Incomplete;
    if (end > kMaxHeaderBytes) return State::Malformed;
    const QList<QByteArray> lines = buffer_.left(end).trimmed().split('\n');
    buffer_.remove(0, end);
    const QList<QByteArray> statusLine = lines.first().trimmed().split(' ');
    const qint64 status = DecimalNumber(statusLine.value(1));
    if (!statusLine.first().startsWith("HTTP/1.") || status < 100 || status > 999)
        return State::Malformed;
    if (status < 200) return status == 101 ? State::Malformed : State::Incomplete;
    answer_.status = int(status);
    const bool http10 = statusLine.first() == "HTTP/1.0";
    bool chunked = false, otherCoding = false, keepAliveAsked = false;
    qint64 length = -1;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const qsizetype colon = lines[i].indexOf(':');
        if (colon <= 0) return State::Malformed;
        const QByteArray name = lines[i].left(colon).trimmed().toLower();
        const QByteArray value = lines[i].mid(colon + 1).trimmed();
        if (name == "content-length") {
            const qint64 given = DecimalNumber(value);
            if (given < 0 || (length >= 0 && given != length)) return State::Malformed;
            length = given;
        } else if (name == "transfer-encoding") {
            const QByteArray last = value.split(',').last().trimmed().toLower();
            chunked = last == "chunked";
            otherCoding = !chunked;
        } else if (name == "connection") {
            if (HasToken(value, "close")) answer_.keepAlive = false;
            keepAliveAsked = keepAliveAsked || HasToken(value, "keep-alive");
        } else if (name == "content-type") {
            answer_.contentType = value;
        } else if (name == "location") {
            answer_.location = value;
        }
    }
    if (http10 && !keepAliveAsked) answer_.keepAlive = false;
    inHead_ = false;
    if (status == 204 || status == 304)
        body_ = Body::None;
    else if (chunked)
        body_ = Body::Chunked;
    else if (length >= 0 && !otherCoding)
        body_ = Body::Length;
    else
        body_ = Body::UntilEnd;
    if (body_ == Body::UntilEnd) answer_.keepAlive = false;
    remaining_ = body_ == Body::Length ? length : 0;
    if (remaining_ > maxBodyBytes_) return State::TooLarge;
    return State::Incomplete;
}

HttpAnswerReader::State HttpAnswerReader::readBody() {
    switch (body_) {
        case Body::None:
            return complete();
        case Body::Length: {
            const qsizetype count = qsizetype(qMin<qint64>(remaining_, buffer_.size()));
            answer_.body += buffer_.left(count);
            buffer_.remove(0, count);
            remaining_ -= count;
            return remaining_ == 0 ? complete() : State::Incomplete;
        }
        case Body::UntilEnd:
            answer_.body += buffer_;
            buffer_.clear();
            return bodyGrew();
        case Body::Chunked:
            return readChunks();
    }
    return State::Malformed;
}

HttpAnswerReader::State HttpAnswerReader::bodyGrew() {
    return answer_.body.size() > maxBodyBytes_ ? State::TooLarge : State::Incomplete;
}

HttpAnswerReader::State HttpAnswerReader::readChunks() {
    for (;;) {
        if (inChunk_) {
            const qsizetype count = qsizetype(qMin<qint64>(remaining_, buffer_.size()));
            answer_.body += buffer_.left(count);
            buffer_.remove(0, count);
            remaining_ -= count;
            if (remaining_ > 0) return State::Incomplete;
            // The line break that ends the chunk's data.
            if (buffer_.startsWith("\r\n"))
                buffer_.remove(0, 2);
            else if (buffer_.startsWith('\n'))
                buffer_.remove(0, 1);
            else if (buffer_.isEmpty() || buffer_ == "\r")
                return State::Incomplete;
            else
                return State::Malformed;
            inChunk_ = false;
            continue;
        }
        const qsizetype lineEnd = buffer_.indexOf('\n');
        if (lineEnd < 0)
            return buffer_.size() > kMaxChunkLineBytes ? State::Malformed : State::Incomplete;
        if (lineEnd > kMaxChunkLineBytes) return State::Malformed;
        const QByteArray line = buffer_.left(lineEnd).trimmed();
        buffer_.remove(0, lineEnd + 1);
        if (inTrailer_) {
            if (line.isEmpty()) return complete();
            continue;
        }
        const qsizetype extension = line.indexOf(';');
        const qint64 size = HexNumber((extension < 0 ? line : line.left(extension)).trimmed());
        if (size < 0) return State::Malformed;
        if (size == 0) {
            inTrailer_ = true;
            continue;
        }
        if (answer_.body.size() + size > maxBodyBytes_) return State::TooLarge;
        remaining_ = size;
        inChunk_ = true;
    }
}

HttpAnswerReader::State HttpAnswerReader::complete() {
    return state_ = State::Complete;
}

}  // namespace kavelon
