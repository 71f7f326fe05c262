#pragma once

#include <QDir>
#include <QFile>
#include <QStringList>

#include "core/codec.h"

// Writes a message file the way the ordering software does: CR LF line ends, Windows-1252.
inline bool WriteMessageFile(const QString& path, const QStringList& lines) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    QByteArray bytes;
    for (const QString& line : lines) bytes += kavelon::EncodeCp1252(line) + "\r\n";
    return file.write(bytes) == bytes.size();
}

// An order whose reference is ref, for customer number debNr, with no order lines.
inline QStringList OrderLines(const QString& ref, const QString& debNr) {
    QStringList lines(19);
    lines[1] = ref;
    lines[4] = debNr;
    return lines;
}

// A confirmation with reference, customer number, delivery date and order number.
inline QStringList ConfirmationLines(const QString& ref, const QString& debNr, const QString& datum,
                                     const QString& orderNr) {
    QStringList lines(20);
    lines[1] = ref;
    lines[4] = debNr;
    lines[7] = datum;
    lines[13] = orderNr;
    return lines;
}
