#pragma once

#include <QString>

namespace kavelon {

// The one place that knows the path separator of this system.
#ifdef _WIN32
inline const QString kPathSep = QStringLiteral("\\");
#else
inline const QString kPathSep = QStringLiteral("/");
#endif

// Appends the separator to a non-blank directory that does not end with one.
void EnsureTrailingSeparator(QString& directory);

}  // namespace kavelon
