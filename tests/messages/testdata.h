#pragma once

#include <QString>

#include "core/paths.h"

// The sample message files: linereader/, and icm/ and icb/ as under a main directory.
inline QString MessagesDir() {
    return QStringLiteral(KAVELON_TEST_DATA "/messages") + kavelon::kPathSep;
}

inline QString SampleFile(const QString& relativePath) {
    return MessagesDir() + relativePath;
}
