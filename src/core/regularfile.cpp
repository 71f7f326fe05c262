#include "core/regularfile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavelon {
namespace {

QByteArray Native(const QString& path) {
    return QFile::encodeName(path);
}

FileStamp StampFrom(const struct stat& status) {
    return {quint64(status.st_dev), quint64(status.st_ino), qint64(status.st_size),
            qint64(status.st_mtim.tv_sec) * 1000000000 + status.st_mtim.tv_nsec};
}

QByteArray RealPath(const QByteArray& path) {
    char* real = ::realpath(path.constData(), nullptr);
    if (!real) return {};
    QByteArray result(real);
    std::free(real);
    return result;
}

// Where a link ends: empty when it dangles.
struct LinkTarget {
    QByteArray path;
    bool inside = false;
};

LinkTarget TargetOf(const QByteArray& link, const QString& mainDirectory) {
    LinkTarget target{RealPath(link)};
    const QByteArray root = RealPath(Native(mainDirectory));
    target.inside = !target.path.isEmpty() && !root.isEmpty() &&
                    target.path.startsWith(root.endsWith('/') ? root : root + '/');
    return target;
}

bool IsRegular(const QByteArray& path) {
    struct stat status;
    return ::stat(path.constData(), &status) == 0 && S_ISREG(status.st_mode);
}

// Reads the regular file at a path; extraFlags may refuse a link in the last step.
FileRead ReadFrom(const QByteArray& path, qint64 maxBytes, int extraFlags) {
    FileRead result;
    struct stat status;
    if (::stat(path.constData(), &status) != 0) return result;
    result.status = !S_ISREG(status.st_mode)    ? ReadStatus::NotRegular
                    : status.st_size > maxBytes ? ReadStatus::TooLarge
                                                : ReadStatus::CannotOpen;
    if (result.status != ReadStatus::CannotOpen) return result;
    // Not blocking: a pipe put in the file's place meanwhile does not make the open wait.
    const int fd =
        ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | extraFlags);
    if (fd < 0) {
        if (errno == ELOOP) result.status = ReadStatus::NotRegular;
        return result;
    }
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        result.status = ReadStatus::NotRegular;
        return result;
    }
    result.stamp = StampFrom(status);
    QByteArray bytes;
    bytes.reserve(qMin<qint64>(status.st_size, maxBytes));
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) {
            result.status = count == 0 ? ReadStatus::Ok : ReadStatus::CannotOpen;
            break;
        }
        if (bytes.size() + count > maxBytes) {
            result.status = ReadStatus::TooLarge;
            break;
        }
        bytes.append(buffer, count);
    }
    const bool unchanged = ::fstat(fd, &status) == 0 && StampFrom(status) == result.stamp;
    ::close(fd);
    if (result.status != ReadStatus::Ok) return result;
    const bool stillThere =
        ::stat(path.constData(), &status) == 0 && StampFrom(status) == result.stamp;
    result.status = unchanged && stillThere ? ReadStatus::Ok : ReadStatus::Changed;
    result.bytes = std::move(bytes);
    return result;
}

EntryKind KindOf(const QByteArray& path, const QString& mainDirectory) {
    struct stat status;
    if (::lstat(path.constData(), &status) != 0) return EntryKind::NotRegular;
    if (S_ISREG(status.st_mode)) return EntryKind::Message;
    if (!S_ISLNK(status.st_mode)) return EntryKind::NotRegular;
    const LinkTarget target = TargetOf(path, mainDirectory);
    if (target.path.isEmpty()) return EntryKind::NotRegular;
    if (!target.inside) return EntryKind::LinkOutside;
    return IsRegular(target.path) ? EntryKind::Message : EntryKind::NotRegular;
}

QString WithoutTrailingSeparators(QString path) {
    while (path.size() > 1 && path.endsWith(u'/')) path.chop(1);
    return path;
}

}  // namespace

FileStamp StampOf(const QString& path) {
    struct stat status;
    if (::stat(Native(path).constData(), &status) != 0) return {};
    return StampFrom(status);
}

FileRead ReadRegularFile(const QString& path, qint64 maxBytes) {
    return ReadFrom(Native(path), maxBytes, 0);
}

FileRead ReadMessageFile(const QString& path, const QString& mainDirectory) {
    const QByteArray native = Native(path);
    struct stat status;
    if (::lstat(native.constData(), &status) != 0) return {};
    if (!S_ISLNK(status.st_mode)) return ReadFrom(native, kMaxMessageBytes, O_NOFOLLOW);
    const LinkTarget target = TargetOf(native, mainDirectory);
    if (!target.inside) {
        FileRead refused;
        refused.status = ReadStatus::NotRegular;
        return refused;
    }
    return ReadFrom(target.path, kMaxMessageBytes, O_NOFOLLOW);
}

QList<FolderEntry> ScanMessageFolder(const QString& folder, const QString& extension) {
    QList<FolderEntry> entries;
    const QString folderPath = WithoutTrailingSeparators(folder);
    const QString mainDirectory = QFileInfo(folderPath).absolutePath();
    DIR* dir = ::opendir(Native(folderPath).constData());
    if (!dir) return entries;
    const QByteArray ending = '.' + extension.toLower().toUtf8();
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray raw(entry->d_name);
        if (!raw.toLower().endsWith(ending)) continue;
        const QString name = QFile::decodeName(raw);
        const EntryKind kind = QFile::encodeName(name) != raw
                                   ? EntryKind::UndecodableName
                                   : KindOf(Native(folderPath) + '/' + raw, mainDirectory);
        entries.append({name, kind});
    }
    ::closedir(dir);
    std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
        const int order = a.name.compare(b.name, Qt::CaseInsensitive);
        return order != 0 ? order < 0 : a.name < b.name;
    });
    return entries;
}

bool RenameNoReplace(const QString& from, const QString& to) {
    const QByteArray source = Native(from);
    const QByteArray target = Native(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) ==
        0)
        return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // A file system without that rename: a second name that cannot replace anything, then
    // the first name goes.
    if (::link(source.constData(), target.constData()) != 0) return false;
    return ::unlink(source.constData()) == 0;
}

}  // namespace kavelon
