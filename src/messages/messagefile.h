#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "messages/values.h"

namespace kavelon {

// The fixed header of a message; its last line holds the number of order lines.
inline constexpr int kIcmHeaderLines = 19;
inline constexpr int kIcbHeaderLines = 20;

// One order line of an order, its lines as written.
struct IcmOrderLine {
    static constexpr int kLines = 4;
    QString quantity;
    QString article;
    QString description;
    QString price;
    bool operator==(const IcmOrderLine&) const = default;
};

// One order line of a confirmation, its lines as written and in the file's order.
struct IcbOrderLine {
    static constexpr int kLines = 6;
    QString quantity;
    QString article;
    QString description;
    QString message1;
    QString message2;
    QString netPrice;
    bool operator==(const IcbOrderLine&) const = default;
};

// Where reading a message stopped before its end.
enum class MessageFailure {
    None,
    CannotOpen,            // the file cannot be opened
    HeaderIncomplete,      // it ends before the count line
    CountTooLarge,         // the count does not fit a signed 16-bit integer
    OrderLinesIncomplete,  // it ends before the last counted order line
};

// A message file as the order view reads it: the header, then as many order lines as the
// count line says. Lines after the last counted order line are not read.
template <typename OrderLine>
struct Message {
    QStringList header;           // the header lines read, line 1 first
    OrderLineCount count;         // NoSection also when the count line was not reached
    QList<OrderLine> orderLines;  // the complete order lines read
    MessageFailure failure = MessageFailure::None;
    int linesRead = 0;  // lines read from the file, header included

    // Header line n, counted from 1; empty when it was not read.
    QString line(int n) const { return n >= 1 && n <= header.size() ? header[n - 1] : QString(); }
    bool failed() const { return failure != MessageFailure::None; }
    // False when the count line is blank: no order-line table at all.
    bool hasOrderLineSection() const { return count.status != OrderLineCount::Status::NoSection; }
};

using IcmMessage = Message<IcmOrderLine>;
using IcbMessage = Message<IcbOrderLine>;

// Read the whole message at a path; a failure keeps what was read before it.
IcmMessage ReadIcmMessage(const QString& path);
IcbMessage ReadIcbMessage(const QString& path);

}  // namespace kavelon
