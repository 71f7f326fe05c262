#pragma once

#include <QString>

namespace kavelon {

// What the message lists show of a message file.
struct BerichtInfo {
    QString strRef;      // lines 2 to 4 joined
    QString strDebNr;    // line 5, trimmed
    QString strOrderNr;  // line 14, trimmed (confirmations only)
    QString strDatum;    // line 8, trimmed, or "z.s.m." when blank (confirmations only)
};

// Reads the list fields of directory + strSubDir + separator + fileName; the directory ends
// with the separator. blnTotaal also reads the date and the order number. A file that cannot
// be opened or ends early gives the fields reached so far; nothing is reported.
BerichtInfo GetBerichtInfo(const QString& directory, const QString& fileName,
                           const QString& strSubDir, bool blnTotaal);

}  // namespace kavelon
