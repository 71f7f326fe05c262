#pragma once

#include <QByteArray>
#include <QString>

#include <utility>

namespace kavelon {

// Reads a Windows-1252 message text line by line. A line ends at CR LF or at a lone CR;
// a lone LF stays inside the line; a last line without an ending is a line too.
class LineReader {
  public:
    LineReader() = default;
    explicit LineReader(QByteArray bytes) : bytes_(std::move(bytes)) {}

    // Reads the whole file; false when it cannot be opened, is no regular file, is a link
    // leading outside the main directory (the folder's parent) or is larger than a message
    // file may be (kMaxMessageBytes).
    static bool FromFile(const QString& path, LineReader& reader);

    // The next line, or false when the text has no more lines.
    bool next(QString& line);

    // Reads and drops lines; false when the text ends before all of them were read.
    bool skip(int count);

    bool atEnd() const { return pos_ >= bytes_.size(); }
    int linesRead() const { return linesRead_; }

  private:
    QByteArray bytes_;
    qsizetype pos_ = 0;
    int linesRead_ = 0;
};

}  // namespace kavelon
