#include "core/logfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "core/codec.h"
#include "core/durablefile.h"
#include "core/paths.h"
#include "core/textutil.h"
#include "core/workdirs.h"

namespace kavelon {
namespace {

constexpr qsizetype kLogReserveBytes = 64 * 1024;

QString ReservePath(const QString& directory) {
    return directory + kFolderTemp + kPathSep + QStringLiteral("kavelon-logruimte");
}

}  // namespace

void ReserveLogSpace(QString& directory) {
    if (IsBlank(directory)) return;
    EnsureTrailingSeparator(directory);
    const QString reserve = ReservePath(directory);
    const QDir temp(directory + kFolderTemp);
    for (const QString& name : temp.entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (name.startsWith(QFileInfo(reserve).fileName()) && IsDurableTemporaryName(name))
            QFile::remove(temp.filePath(name));  // left by a run that was killed
    if (temp.exists()) WriteFileDurably(reserve, QByteArray(kLogReserveBytes, '\0'));
}

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
    QFile::remove(ReservePath(directory));
    const QString path =
        directory + kFolderLogfiles + kPathSep + LogFileName(QDateTime::currentDateTime());
    if (!WriteFileDurably(path, LogFileContent(QDateTime::currentDateTime(), progressLines)))
        return false;
    if (writtenPath) *writtenPath = path;
    return true;
}

}  // namespace kavelon
