#include "messages/linereader.h"

#include <QFileInfo>

#include "core/codec.h"
#include "core/regularfile.h"

namespace kavelon {

bool LineReader::FromFile(const QString& path, LineReader& reader) {
    // Never a pipe or a device, never more than a message file may hold, and through a link
    // only a file inside the main directory, the parent of the message's folder.
    const QString folder = QFileInfo(path).absolutePath();
    FileRead read = ReadMessageFile(path, QFileInfo(folder).absolutePath());
    if (read.status != ReadStatus::Ok && read.status != ReadStatus::Changed) return false;
    reader = LineReader(std::move(read.bytes));
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
