#pragma once

#include <QList>
#include <QString>

#include "core/regularfile.h"
#include "messages/berichtinfo.h"

namespace kavelon {

class EventPump;

// The three tabs of the main window, numbered as the tab strip numbers them.
enum class MessageTab { Openstaand = 1, Bevestigingen = 2, Verzonden = 3 };

struct ListColumn {
    QString caption;
    int twips;  // 15 twips are one pixel
};

// What differs between the three lists.
struct TabLayout {
    QString folder;     // "icm", "icb" or "verzonden"
    QString extension;  // "icm" or "icb"
    bool blnTotaal;     // the header reader also reads date and order number
    QList<ListColumn> columns;
    QString statusWithRows;  // followed by main directory + folder word + separator
    QString folderWord;
    QString statusEmpty;
    bool tickAtStartUp;  // pending and sent orders follow IcmDirect while starting up
};
const TabLayout& LayoutOf(MessageTab tab);

// The cells of a row after its first (the file name), in column order.
QStringList CellsOf(MessageTab tab, const BerichtInfo& info);

struct ListedMessage {
    QString name;
    BerichtInfo info;
    QString refusal;  // not empty: an entry named like a message that is not read, and why
};

// Why an entry named like a message is not read or sent; empty for a message file.
QString RefusalOf(EntryKind kind);

struct Listing {
    bool folderFound = false;
    QList<ListedMessage> rows;
};

// Lists the tab's folder under the main directory (ends with the separator, not blank) and
// reads each file's header, letting events be processed after each file. Entries named like
// messages that are not message files are listed with their refusal.
Listing ListMessages(const QString& directory, MessageTab tab, EventPump* pump);

// The text of the status label for a filled list.
QString StatusText(const QString& directory, MessageTab tab, bool hasRows);

// The folder of a tab's message files, ending with the separator.
QString FolderOf(const QString& directory, MessageTab tab);

// Deletes one message of a tab outright; false when it could not be deleted.
bool VerwijderFile(const QString& directory, MessageTab tab, const QString& name);

}  // namespace kavelon
