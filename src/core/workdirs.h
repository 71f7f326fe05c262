#pragma once

#include <QString>
#include <QStringList>

namespace kavelon {

class ProgressSink;

// The working folders under the main directory, in the order they are created.
inline const QString kFolderIcm = QStringLiteral("icm");
inline const QString kFolderIcb = QStringLiteral("icb");
inline const QString kFolderTemp = QStringLiteral("temp");
inline const QString kFolderVerzonden = QStringLiteral("verzonden");
inline const QString kFolderLogfiles = QStringLiteral("logfiles");

// Appends the separator to a non-blank directory, then creates the missing working folders
// under an existing main directory. Reports nothing; the main directory is never created.
void CreateWorkDirs(QString& directory);

// The check every send or fetch runs first; reports each problem as a red line. The
// directory already ends with the separator when it is not blank.
bool InlogControle(const QString& directory, ProgressSink& progress);

// The names of the message files in a folder whose name ends in "." + extension, in any letter
// case, hidden ones included, sorted by name without regard to letter case: regular files and
// links to regular files inside the main directory (the folder's parent) only.
QStringList ListMessageFiles(const QString& folder, const QString& extension);

}  // namespace kavelon
