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
// The room a run keeps for its log is given back first.
bool WriteLogFile(QString& directory, const QStringList& progressLines, QString* writtenPath);

// Keeps room for the log of an unattended run in the temp folder, so that a run which fills
// the medium can still tell what it stored and what not.
void ReserveLogSpace(QString& directory);

}  // namespace kavelon
