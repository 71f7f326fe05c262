#include "messages/linereader.h"

#include <QFile>

#include "core/codec.h"

namespace kavelon {

bool LineReader::FromFile(const QString& path, LineReader& reader) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    reader = LineReader(file.readAll());
    return true;
}

bool LineReader::next(QString& line) {
    if (atEnd()) return false;
    qsizetype end = bytes_.indexOf('\r', pos_);
    if (end < 0) end = bytes_.size();
    line = DecodeCp1252(bytes_.sliced(pos_, end - pos_));
    pos_ = end + 1;
    if (end < bytes_.size() && pos_ < bytes_.size() && bytes_[pos_] == '\n') ++pos_;
    ++linesRead_;
    return true;
}

bool LineReader::skip(int count) {
    QString ignored;
    for (int i = 0; i < count; ++i) {
        if (!next(ignored)) return false;
    }
    return true;
}

}  // namespace kavelon
