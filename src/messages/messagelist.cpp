#include "messages/messagelist.h"

#include <QFile>

#include "core/paths.h"
#include "core/progress.h"
#include "core/textutil.h"
#include "core/workdirs.h"

namespace kavelon {

const TabLayout& LayoutOf(MessageTab tab) {
    static const TabLayout kOpenstaand{kFolderIcm,
                                       QStringLiteral("icm"),
                                       false,
                                       {{QStringLiteral("Naam"), 2000},
                                        {QStringLiteral("Referentie"), 4000},
                                        {QStringLiteral("Debiteurennummer"), 1600}},
                                       QStringLiteral("Openstaande orders in "),
                                       QStringLiteral("ICM"),
                                       QStringLiteral("Er zijn geen openstaande orders aanwezig"),
                                       true};
    static const TabLayout kBevestigingen{
        kFolderIcb,
        QStringLiteral("icb"),
        true,
        {{QStringLiteral("Naam"), 1800},
         {QStringLiteral("Referentie"), 2500},
         {QStringLiteral("Ordernummer"), 1200},
         {QStringLiteral("Leverdatum"), 1100},
         {QStringLiteral("Debiteurennr."), 1200}},
        QStringLiteral("Orderbevestigingen in "),
        QStringLiteral("ICB"),
        QStringLiteral("Er zijn geen orderbevestigingen aanwezig"),
        false};
    static const TabLayout kVerzonden{kFolderVerzonden,
                                      QStringLiteral("icm"),
                                      false,
                                      kOpenstaand.columns,
                                      QStringLiteral("Verzonden orders in "),
                                      QStringLiteral("Verzonden"),
                                      QStringLiteral("Er zijn geen verzonden orders aanwezig"),
                                      true};
    switch (tab) {
        case MessageTab::Bevestigingen:
            return kBevestigingen;
        case MessageTab::Verzonden:
            return kVerzonden;
        case MessageTab::Openstaand:
            break;
    }
    return kOpenstaand;
}

QStringList CellsOf(MessageTab tab, const BerichtInfo& info) {
    if (tab == MessageTab::Bevestigingen)
        return {info.strRef, info.strOrderNr, info.strDatum, info.strDebNr};
    return {info.strRef, info.strDebNr};
}

QString FolderOf(const QString& directory, MessageTab tab) {
    return directory + LayoutOf(tab).folder + kPathSep;
}

Listing ListMessages(const QString& directory, MessageTab tab, EventPump* pump) {
    const TabLayout& layout = LayoutOf(tab);
    Listing listing;
    if (IsBlank(directory) || !DirExists(directory + layout.folder)) return listing;
    listing.folderFound = true;
    const QList<FolderEntry> entries =
        ScanMessageFolder(directory + layout.folder, layout.extension);
    listing.rows.reserve(entries.size());
    for (const FolderEntry& entry : entries) {
        if (entry.kind != EntryKind::Message) {
            listing.rows.append({entry.name, {}, RefusalOf(entry.kind)});
            continue;
        }
        listing.rows.append({entry.name,
                             GetBerichtInfo(directory, entry.name, layout.folder, layout.blnTotaal),
                             {}});
        if (pump) pump->ProcessPendingEvents();
    }
    return listing;
}

QString RefusalOf(EntryKind kind) {
    switch (kind) {
        case EntryKind::NotRegular:
            return QStringLiteral("Dit is geen gewoon bestand.");
        case EntryKind::LinkOutside:
            return QStringLiteral(
                "Deze koppeling wijst naar een bestand buiten de hoofddirectory.");
        case EntryKind::UndecodableName:
            return QStringLiteral("Deze bestandsnaam kan op dit systeem niet worden gelezen.");
        case EntryKind::Message:
            break;
    }
    return {};
}

QString StatusText(const QString& directory, MessageTab tab, bool hasRows) {
    const TabLayout& layout = LayoutOf(tab);
    if (!hasRows) return layout.statusEmpty;
    return layout.statusWithRows + directory + layout.folderWord + kPathSep;
}

bool VerwijderFile(const QString& directory, MessageTab tab, const QString& name) {
    if (name.isEmpty() || name.contains(kPathSep)) return false;
    return QFile::remove(FolderOf(directory, tab) + name);
}

}  // namespace kavelon
