#include "messages/messagefile.h"

#include "messages/linereader.h"

namespace kavelon {
namespace {

void Fill(IcmOrderLine& orderLine, const QStringList& lines) {
    orderLine = {lines[0], lines[1], lines[2], lines[3]};
}

void Fill(IcbOrderLine& orderLine, const QStringList& lines) {
    orderLine = {lines[0], lines[1], lines[2], lines[3], lines[4], lines[5]};
}

// Reads up to count lines; false when the text ends first.
bool ReadLines(LineReader& reader, int count, QStringList& lines) {
    QString line;
    while (lines.size() < count && reader.next(line)) lines.append(line);
    return lines.size() == count;
}

template <typename OrderLine>
Message<OrderLine> ReadMessage(const QString& path, int headerLines) {
    Message<OrderLine> message;
    LineReader reader;
    if (!LineReader::FromFile(path, reader)) {
        message.failure = MessageFailure::CannotOpen;
        return message;
    }
    const bool headerComplete = ReadLines(reader, headerLines, message.header);
    message.linesRead = reader.linesRead();
    if (!headerComplete) {
        message.failure = MessageFailure::HeaderIncomplete;
        return message;
    }

    message.count = ReadOrderLineCount(message.header.last());
    if (message.count.status == OrderLineCount::Status::TooLarge) {
        message.failure = MessageFailure::CountTooLarge;
        return message;
    }
    for (int n = 0; n < message.count.count; ++n) {
        QStringList lines;
        const bool complete = ReadLines(reader, OrderLine::kLines, lines);
        message.linesRead = reader.linesRead();
        if (!complete) {
            message.failure = MessageFailure::OrderLinesIncomplete;
            return message;
        }
        Fill(message.orderLines.emplace_back(), lines);
    }
    return message;
}

}  // namespace

IcmMessage ReadIcmMessage(const QString& path) {
    return ReadMessage<IcmOrderLine>(path, kIcmHeaderLines);
}

IcbMessage ReadIcbMessage(const QString& path) {
    return ReadMessage<IcbOrderLine>(path, kIcbHeaderLines);
}

}  // namespace kavelon
