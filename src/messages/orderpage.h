#pragma once

#include <QString>

namespace kavelon {

// The page of an order (pending or sent) and of a confirmation, built from the message file
// at path; the page title names the file. A failure while reading shows in the page itself.
QString CreateIcmHtml(const QString& path);
QString CreateIcbHtml(const QString& path);

// Writes the page to main directory + "temp" + separator + "Temp.html" in Windows-1252,
// replacing the file; the directory ends with the separator. False when it cannot be written.
bool WritePageFile(const QString& directory, const QString& page, QString* pagePath);

}  // namespace kavelon
