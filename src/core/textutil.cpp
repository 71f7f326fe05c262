#include "core/textutil.h"

#include <QFileInfo>

#include "core/codec.h"
#include "core/paths.h"

namespace kavelon {

bool IsBlank(const QString& value) {
    for (const QChar c : value) {
        if (c != u' ') return false;
    }
    return true;
}

QString TrimSpaces(const QString& value) {
    qsizetype first = 0;
    qsizetype last = value.size();
    while (first < last && value[first] == u' ') ++first;
    while (last > first && value[last - 1] == u' ') --last;
    return value.mid(first, last - first);
}

void EnsureTrailingSeparator(QString& directory) {
    if (!IsBlank(directory) && !directory.endsWith(kPathSep)) directory += kPathSep;
}

namespace {

bool IsPlainAlphanumeric(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

void AppendHex(QString& out, unsigned char c) {
    static const char kDigits[] = "0123456789ABCDEF";
    out += QLatin1Char('%');
    out += QLatin1Char(kDigits[c >> 4]);
    out += QLatin1Char(kDigits[c & 0x0F]);
}

}  // namespace

std::optional<QString> UrlEncode(const QString& value) {
    if (value.size() > kUrlEncodeMaxChars) return std::nullopt;
    if (IsBlank(value)) return QString();
    QString out;
    out.reserve(value.size() * 3);
    for (const char c : EncodeCp1252(value)) {
        const auto code = static_cast<unsigned char>(c);
        if (code == 0) continue;
        if (code == ' ')
            out += QLatin1Char('+');
        else if (IsPlainAlphanumeric(code))
            out += QLatin1Char(static_cast<char>(code));
        else
            AppendHex(out, code);
    }
    return out;
}

QString FormValue(const QString& value, const QString& alsoReserved) {
    static const QByteArray kReserved("%&+=# ");
    QString out;
    out.reserve(value.size());
    for (const char c : EncodeCp1252(value)) {
        const auto code = static_cast<unsigned char>(c);
        if (code < 32 || code == 127 || code >= 128 || kReserved.contains(c) ||
            alsoReserved.contains(QLatin1Char(c)))
            AppendHex(out, code);
        else
            out += QLatin1Char(c);
    }
    return out;
}

QString ConvertSpaces(const QString& text, bool toMarker) {
    QString result = text;
    if (toMarker) return result.replace(u' ', QStringLiteral("xax"));
    return result.replace(QStringLiteral("xax"), QStringLiteral(" "), Qt::CaseSensitive);
}

bool DirExists(const QString& path) {
    if (path.isEmpty() || path.contains(QChar(u'\0'))) return false;
    return QFileInfo::exists(path);
}

QString StripHtml(const QString& text) {
    QString result = text;
    result.replace(QStringLiteral("<p>"), QStringLiteral("\r\n"), Qt::CaseSensitive);
    result = TrimSpaces(result);
    for (;;) {
        // A tag runs from the first "<" to the first ">"; a stray bracket ends the stripping.
        const qsizetype open = result.indexOf(u'<');
        const qsizetype close = result.indexOf(u'>');
        if (open < 0 || close < open) break;
        const QString tag = result.mid(open, close - open + 1);
        result.replace(tag, QString(), Qt::CaseSensitive);
        result = TrimSpaces(result);
    }
    return TrimSpaces(result);
}

QString EscapeControls(const QString& text) {
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code < 0x20 || (code >= 0x7F && code <= 0x9F))
            result += QStringLiteral("\\x%1").arg(int(code), 2, 16, QLatin1Char('0'));
        else if (code == 0x2028 || code == 0x2029)
            result += QStringLiteral("\\u%1").arg(int(code), 4, 16, QLatin1Char('0'));
        else
            result += c;
    }
    return result;
}

}  // namespace kavelon
