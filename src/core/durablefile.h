#pragma once

#include <QByteArray>
#include <QString>

namespace kavelon {

// The outcome of a durable write; noSpace when the medium is full (or over its quota).
struct DurableWrite {
    bool ok = false;
    bool noSpace = false;
    explicit operator bool() const { return ok; }
};

// Replaces the file at path with bytes so that the path names either the old file or the whole
// new one, also after a crash: written under a temporary name beside it (path + "." + six
// letters and digits), every write and the flush checked, synced to disk, its size on disk
// compared, then renamed over the path. A symbolic link or special file of that name is
// replaced, never written through. Nothing is left under the temporary name on failure.
DurableWrite WriteFileDurably(const QString& path, const QByteArray& bytes);

// Appends bytes to a file (created when missing), checking every write; the data is on disk
// when it returns true.
bool AppendToFile(const QString& path, const QByteArray& bytes);

// True for the temporary names WriteFileDurably uses (the suffix holds a capital letter, which
// no stored confirmation name has).
bool IsDurableTemporaryName(const QString& fileName);

// Removes the temporary files that an interrupted WriteFileDurably left in a folder; gives
// how many were removed.
int RemoveDurableTemporaries(const QString& folder);

}  // namespace kavelon
