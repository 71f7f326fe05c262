#include "core/logfile.h"

#include "core/codec.h"
#include "core/durablefile.h"
#include "core/paths.h"
#include "core/textutil.h"
#include "core/workdirs.h"

namespace kavelon {

QString LogFileName(const QDateTime& moment) {
    return QStringLiteral("Log") + moment.toString(QStringLiteral("yyyyMMddhhmmss")) +
           QStringLiteral(".txt");
}

QByteArray LogFileContent(const QDateTime& created, const QStringList& progressLines) {
    const QString crlf = QStringLiteral("\r\n");
    QString text = QStringLiteral("Logfile van Rilvost Kavelon") + crlf;
    text += QStringLiteral("Aangemaakt op: ") +
            created.toString(QStringLiteral("dd-MM-yyyy hh:mm:ss")) + crlf;
    for (const QString& line : progressLines) text += line + crlf;
    text += crlf;
    return EncodeCp1252(text);
}

bool WriteLogFile(QString& directory, const QStringList& progressLines, QString* writtenPath) {
    if (IsBlank(directory)) return false;
    EnsureTrailingSeparator(directory);
    const QString path =
        directory + kFolderLogfiles + kPathSep + LogFileName(QDateTime::currentDateTime());
    if (!WriteFileDurably(path, LogFileContent(QDateTime::currentDateTime(), progressLines)))
        return false;
    if (writtenPath) *writtenPath = path;
    return true;
}

}  // namespace kavelon
