#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace kavelon {

// Files of the shared main directory are read and moved without trusting what other programs
// put there: only regular files are opened, never a pipe or a device, and never more than a cap.

// The largest message file that is read.
inline constexpr qint64 kMaxMessageBytes = 16LL * 1024 * 1024;

// Which file a path names, and in what state: equal stamps mean the same, unchanged file.
struct FileStamp {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = -1;  // -1: no file
    qint64 modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of the file a path names, following links; size -1 when there is none.
FileStamp StampOf(const QString& path);

enum class ReadStatus {
    Ok,
    CannotOpen,  // missing or unreadable
    NotRegular,  // a folder, pipe, device, socket, or a link that may not be followed
    TooLarge,    // over the cap; nothing was read
    Changed,     // the file changed or was replaced while it was read
};

struct FileRead {
    ReadStatus status = ReadStatus::CannotOpen;
    QByteArray bytes;
    FileStamp stamp;  // of the file that was read
};

// Reads a regular file whole, at most maxBytes, following links.
FileRead ReadRegularFile(const QString& path, qint64 maxBytes = kMaxMessageBytes);

// What a folder entry is to the message lists.
enum class EntryKind {
    Message,         // a regular file, or a link to a regular file inside the main directory
    NotRegular,      // a folder, pipe, device, socket or a dangling link
    LinkOutside,     // a link to something outside the main directory
    UndecodableName  // a name this system's encoding cannot give back as it is on disk
};

struct FolderEntry {
    QString name;
    EntryKind kind = EntryKind::Message;
};

// The entries of a folder whose names end in "." + extension in any letter case, hidden ones
// included, sorted by name without regard to letter case. Links are judged against the
// folder's parent, the main directory.
QList<FolderEntry> ScanMessageFolder(const QString& folder, const QString& extension);

// Reads a message file of a folder under the main directory: a link is followed only to a
// regular file inside mainDirectory, and the file itself is opened without following links.
FileRead ReadMessageFile(const QString& path, const QString& mainDirectory);

// Renames a file to a name that must not exist yet; false when it exists or the rename fails.
bool RenameNoReplace(const QString& from, const QString& to);

}  // namespace kavelon
