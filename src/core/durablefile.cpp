#include "core/durablefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

// Makes the rename itself survive a power failure.
void SyncFolder(const QByteArray& file) {
    const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(file)).absolutePath());
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Writes, syncs and checks the temporary file; false with errno set.
bool FillTemporary(int fd, const QByteArray& bytes) {
    struct stat info {};
    if (!WriteAll(fd, bytes) || ::fsync(fd) != 0 || ::fstat(fd, &info) != 0) return false;
    if (info.st_size != bytes.size()) {
        errno = EIO;
        return false;
    }
    return true;
}

#endif

}  // namespace

DurableWrite WriteFileDurably(const QString& path, const QByteArray& bytes) {
    DurableWrite result;
#ifndef _WIN32
    const QByteArray target = QFile::encodeName(path);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const QByteArray temporary =
            QFile::encodeName(path + u'.' + QString::fromLatin1(RandomSuffix()));
        const int fd = ::open(temporary.constData(),
                              O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) {
            result.noSpace = IsNoSpace(errno);
            return result;
        }
        bool ok = FillTemporary(fd, bytes);
        int error = errno;
        if (::close(fd) != 0 && ok) {
            ok = false;
            error = errno;
        }
        if (ok && ::rename(temporary.constData(), target.constData()) != 0) {
            ok = false;
            error = errno;
        }
        if (!ok) {
            ::unlink(temporary.constData());
            result.noSpace = IsNoSpace(error);
            return result;
        }
        SyncFolder(target);
        struct stat info {};
        result.ok = ::lstat(target.constData(), &info) == 0 && S_ISREG(info.st_mode) &&
                    info.st_size == bytes.size();
        return result;
    }
    return result;
#else
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const QString temporary = path + u'.' + QString::fromLatin1(RandomSuffix());
        QFile file(temporary);
        if (file.exists()) continue;
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) return result;
        const bool written =
            file.write(bytes) == bytes.size() && file.flush() && file.size() == bytes.size();
        file.close();
        if (!written || file.error() != QFileDevice::NoError) {
            result.noSpace = file.error() == QFileDevice::ResourceError;
            QFile::remove(temporary);
            return result;
        }
        QFile::remove(path);
        if (!QFile::rename(temporary, path)) {
            QFile::remove(temporary);
            return result;
        }
        result.ok = QFileInfo(path).size() == bytes.size();
        return result;
    }
    return result;
#endif
}

bool AppendToFile(const QString& path, const QByteArray& bytes) {
#ifndef _WIN32
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const bool ok = WriteAll(fd, bytes) && ::fdatasync(fd) == 0;
    return ::close(fd) == 0 && ok;
#else
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Append) &&
           file.write(bytes) == bytes.size() && file.flush();
#endif
}

bool IsDurableTemporaryName(const QString& fileName) {
    const qsizetype dot = fileName.size() - kSuffixLength - 1;
    if (dot < 1 || fileName.at(dot) != u'.') return false;
    bool capital = false;
    for (qsizetype i = dot + 1; i < fileName.size(); ++i) {
        const char16_t c = fileName.at(i).unicode();
        const bool upper = c >= u'A' && c <= u'Z';
        if (!upper && !(c >= u'a' && c <= u'z') && !(c >= u'0' && c <= u'9')) return false;
        capital = capital || upper;
    }
    return capital;
}

int RemoveDurableTemporaries(const QString& folder) {
    int removed = 0;
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (IsDurableTemporaryName(name) && QFile::remove(dir.filePath(name))) ++removed;
    return removed;
}

}  // namespace kavelon
