#pragma once

// The pieces the durable writers share: temporary names and checked writes.

#include <QByteArray>
#include <QRandomGenerator>

#include <cerrno>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace kavelon::durable {

inline constexpr int kSuffixLength = 6;
// Tries at a free temporary name before giving up.
inline constexpr int kAttempts = 100;

// Six letters and digits, one of them (at a random place) a capital, so that no stored
// confirmation name (always lower case) ends like a temporary name.
inline QByteArray RandomSuffix() {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QRandomGenerator* random = QRandomGenerator::global();
    QByteArray suffix;
    for (int i = 0; i < kSuffixLength; ++i)
        suffix += kAlphabet[random->bounded(int(sizeof kAlphabet - 1))];
    suffix[random->bounded(kSuffixLength)] = char('A' + random->bounded(26));
    return suffix;
}

// The medium is full, or the user is over the quota.
inline bool IsNoSpace(int error) {
#ifdef EDQUOT
    if (error == EDQUOT) return true;
#endif
    return error == ENOSPC;
}

#ifndef _WIN32
// Writes every byte or fails with errno set (EIO for a write that takes nothing).
inline bool WriteAll(int fd, const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, size_t(left));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = EIO;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}
#endif

}  // namespace kavelon::durable
