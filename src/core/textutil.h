#pragma once

#include <optional>

#include <QString>

namespace kavelon {

// True for a null or empty text, or one of spaces only (tabs and line breaks are not blank).
bool IsBlank(const QString& value);

// The text without leading and trailing spaces (spaces only).
QString TrimSpaces(const QString& value);

// True when the computer has a connection to a network beyond itself.
bool IsOnline();

// The longest text UrlEncode accepts; a longer one gives no result.
inline constexpr qsizetype kUrlEncodeMaxChars = 16 * 1024 * 1024;

// Form encoding as the portal expects it: space as "+", digits and unaccented letters as
// they are, NUL dropped, every other Windows-1252 code as "%XX".
std::optional<QString> UrlEncode(const QString& value);

// A value inside a form body or a query: "%", "&", "+", "=", "#", space, control characters,
// the characters of alsoReserved and codes 128-255 as "%XX" of their Windows-1252 code;
// every other character unchanged, so an ordinary value travels as it is.
QString FormValue(const QString& value, const QString& alsoReserved = QString());

// Space to "xax" (toMarker) or "xax" back to space: file names travel in that form.
QString ConvertSpaces(const QString& text, bool toMarker);

// True when the file system has an entry (folder or file) under exactly this path.
bool DirExists(const QString& path);

// Control characters (C0, DEL, C1) and the line and paragraph separators as "\xNN" or
// "\uNNNN", so that a text from outside can never start a line of its own.
QString EscapeControls(const QString& text);

// Turns "<p>" into a line break and removes every tag, a tag being the text from the first "<"
// to the first ">"; when that ">" comes first or is missing, the rest stays as it is.
QString StripHtml(const QString& text);

}  // namespace kavelon
