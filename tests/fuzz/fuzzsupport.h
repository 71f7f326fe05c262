#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

// What every fuzz target shares. A target defines LLVMFuzzerTestOneInput and, when it needs
// Qt's application object or files, LLVMFuzzerInitialize; libFuzzer or the replay program of
// the normal build calls them.

// A broken property is a crash, so libFuzzer keeps the input that broke it.
#define FUZZ_CHECK(condition)                                                                     \
    do {                                                                                          \
        if (!(condition)) {                                                                       \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                         \
        }                                                                                         \
    } while (0)

inline QByteArray InputBytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// The input as UTF-16 code units, lone surrogates included: every text Qt can hold.
inline QString InputUtf16(const uint8_t* data, size_t size) {
    QString text(static_cast<qsizetype>(size / 2), Qt::Uninitialized);
    for (qsizetype i = 0; i < text.size(); ++i)
        text[i] = QChar(char16_t(data[2 * i] | (data[2 * i + 1] << 8)));
    return text;
}

// The application object Qt's SQL, network and locale code expect; made once, kept.
inline void EnsureApplication() {
    if (QCoreApplication::instance()) return;
    static int count = 1;
    static char name[] = "kavelon-fuzz";
    static char* names[] = {name, nullptr};
    static QCoreApplication application(count, names);
}

// A private folder of the process, removed when it ends.
inline QTemporaryDir& PrivateFolder() {
    static QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/kavelon-fuzz-XXXXXX"));
    FUZZ_CHECK(folder.isValid());
    return folder;
}

// Writes the input as the file at path, replacing it.
inline void WriteInputFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes) == bytes.size());
}
