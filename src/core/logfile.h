#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace kavelon {

// The log of an unattended run: "Log" + yyyyMMddhhmmss + ".txt" in the main directory's
// logfiles folder, two header lines and the progress lines, CR LF ends, Windows-1252.
QString LogFileName(const QDateTime& moment);
QByteArray LogFileContent(const QDateTime& created, const QStringList& progressLines);

// Writes the log for the lines of the progress box, replacing a file of the same name.
// Appends the separator to the directory; false when the file cannot be written (also for
// a blank main directory: the log is never written into some unrelated working folder).
bool WriteLogFile(QString& directory, const QStringList& progressLines, QString* writtenPath);

}  // namespace kavelon
