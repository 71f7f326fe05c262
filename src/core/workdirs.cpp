#include "core/workdirs.h"

#include <QDir>

#include "core/paths.h"
#include "core/progress.h"
#include "core/regularfile.h"
#include "core/textutil.h"

namespace kavelon {
namespace {

bool EnsureFolder(const QString& path) {
    return DirExists(path) || QDir().mkdir(path);
}

}  // namespace

void CreateWorkDirs(QString& directory) {
    if (IsBlank(directory)) return;
    EnsureTrailingSeparator(directory);
    if (!DirExists(directory)) return;
    for (const QString& folder :
         {kFolderIcm, kFolderIcb, kFolderTemp, kFolderVerzonden, kFolderLogfiles})
        EnsureFolder(directory + folder);
}

bool InlogControle(const QString& directory, ProgressSink& progress) {
    if (IsBlank(directory)) {
        progress.SchrijfVoortgang(
            QStringLiteral("Om ICM-oders te versturen moet u in het instellingen scherm uw ICM "
                           "directory opgegeven."),
            kRood, false);
        return false;
    }
    if (!DirExists(directory + kFolderIcm)) {
        progress.SchrijfVoortgang(QStringLiteral("Op uw systeem is de directory '") + directory +
                                      QStringLiteral("icm' niet aanwezig."),
                                  kRood, false);
        return false;
    }
    bool result = true;
    for (const QString& folder : {kFolderVerzonden, kFolderIcb}) {
        if (EnsureFolder(directory + folder)) continue;
        result = false;
        progress.SchrijfVoortgang(
            QStringLiteral("Voor het verzenden van ICM-berichten moet de directory '") + directory +
                folder + QStringLiteral("' aanwezig zijn."),
            kRood, false);
    }
    return result;
}

QStringList ListMessageFiles(const QString& folder, const QString& extension) {
    // By name, as the file systems of the ordering software's systems list a folder.
    QStringList names;
    for (const FolderEntry& entry : ScanMessageFolder(folder, extension))
        if (entry.kind == EntryKind::Message) names.append(entry.name);
    return names;
}

}  // namespace kavelon
