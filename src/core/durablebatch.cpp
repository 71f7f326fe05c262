#include "core/durablebatch.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "core/durableio.h"

namespace kavelon {
namespace {

using namespace durable;

#ifndef _WIN32

QByteArray FolderOf(const QByteArray& file) {
    const qsizetype slash = file.lastIndexOf('/');
    if (slash > 0 && file.startsWith('/')) return file.left(slash);
    return QFile::encodeName(QFileInfo(QFile::decodeName(file)).absolutePath());
}

bool SyncPath(const QByteArray& path, int flags) {
    const int fd = ::open(path.constData(), flags | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
}

// The data and names of the folders' file systems on disk: one flush for all files, where
// the system has it, else a flush per file.
bool SyncData(const QList<QByteArray>& folders, const QList<QByteArray>& files) {
#ifdef __linux__
    Q_UNUSED(files);
    for (const QByteArray& folder : folders) {
        const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) return false;
        const bool synced = ::syncfs(fd) == 0;
        if (::close(fd) != 0 || !synced) return false;
    }
    return true;
#else
    Q_UNUSED(folders);
    for (const QByteArray& file : files)
        if (!SyncPath(file, O_RDONLY)) return false;
    return true;
#endif
}

#endif

}  // namespace

DurableBatch::~DurableBatch() {
    for (const Entry& entry : entries_) QFile::remove(QFile::decodeName(entry.temporary));
}

#ifndef _WIN32

bool DurableBatch::add(const QString& path, const QByteArray& bytes, bool* noSpace) {
    if (noSpace) *noSpace = false;
    const QByteArray target = QFile::encodeName(path);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const QByteArray temporary = target + '.' + RandomSuffix();
        const int fd = ::open(temporary.constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) {
            if (noSpace) *noSpace = IsNoSpace(errno);
            return false;
        }
        bool ok = WriteAll(fd, bytes);
        int error = errno;
        if (::close(fd) != 0 && ok) {
            ok = false;
            error = errno;
        }
        if (!ok) {
            ::unlink(temporary.constData());
            if (noSpace) *noSpace = IsNoSpace(error);
            return false;
        }
        entries_.append({temporary, target, bytes.size()});
        return true;
    }
    return false;
}

QList<bool> DurableBatch::commit() {
    QList<bool> placed(entries_.size(), false);
    QList<QByteArray> folders, temporaries;
    QSet<QByteArray> seen;
    for (const Entry& entry : entries_) {
        temporaries.append(entry.temporary);
        const QByteArray folder = FolderOf(entry.target);
        if (!seen.contains(folder)) {
            seen.insert(folder);
            folders.append(folder);
        }
    }
    if (SyncData(folders, temporaries)) {
        for (qsizetype i = 0; i < entries_.size(); ++i) {
            const Entry& entry = entries_[i];
            struct stat info {};
            // What is on disk is whole: only then does it take the name.
            if (::stat(entry.temporary.constData(), &info) != 0 || !S_ISREG(info.st_mode) ||
                info.st_size != entry.size)
                continue;
            placed[i] = ::rename(entry.temporary.constData(), entry.target.constData()) == 0;
        }
        for (const QByteArray& folder : folders)
            if (!SyncPath(folder, O_RDONLY | O_DIRECTORY)) placed.fill(false);
    }
    for (qsizetype i = 0; i < entries_.size(); ++i)
        if (!placed[i]) ::unlink(entries_[i].temporary.constData());
    entries_.clear();
    return placed;
}

#else

bool DurableBatch::add(const QString& path, const QByteArray& bytes, bool* noSpace) {
    if (noSpace) *noSpace = false;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const QString temporary = path + u'.' + QString::fromLatin1(RandomSuffix());
        QFile file(temporary);
        if (file.exists()) continue;
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return false;
        const bool written = file.write(bytes) == bytes.size() && file.flush();
        file.close();
        if (!written || file.error() != QFileDevice::NoError) {
            if (noSpace) *noSpace = file.error() == QFileDevice::ResourceError;
            QFile::remove(temporary);
            return false;
        }
        entries_.append({QFile::encodeName(temporary), QFile::encodeName(path), bytes.size()});
        return true;
    }
    return false;
}

QList<bool> DurableBatch::commit() {
    QList<bool> placed;
    for (const Entry& entry : entries_) {
        const QString temporary = QFile::decodeName(entry.temporary);
        const QString target = QFile::decodeName(entry.target);
        QFile::remove(target);
        const bool renamed = QFile::rename(temporary, target);
        if (!renamed) QFile::remove(temporary);
        placed.append(renamed && QFileInfo(target).size() == entry.size);
    }
    entries_.clear();
    return placed;
}

#endif

}  // namespace kavelon
