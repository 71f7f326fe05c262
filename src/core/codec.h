#pragma once

#include <QByteArray>
#include <QString>

namespace kavelon {

// Windows-1252, the single-byte code page of message files, the page file and the log.
// Decoding maps all 256 byte values to distinct characters (the five bytes the code page
// leaves undefined map to the C1 control of the same value), so decode then encode
// gives back the original bytes.
QString DecodeCp1252(const QByteArray& bytes);

// A character the code page lacks becomes "?" (63).
QByteArray EncodeCp1252(const QString& text);

// The code of one character in the code page, 63 for a character it lacks.
unsigned char Cp1252Code(char32_t codePoint);

}  // namespace kavelon
