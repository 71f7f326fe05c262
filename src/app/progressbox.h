#pragma once

#include <QStringList>
#include <QTextEdit>

#include "core/progress.h"

namespace kavelon {

// The progress box: a read-only rich-text box in which each line keeps its own colour and
// weight. It also keeps the plain lines, which the log of an unattended run saves.
class ProgressBox : public QTextEdit, public ProgressSink {
    Q_OBJECT
  public:
    explicit ProgressBox(QWidget* parent = nullptr);

    void SchrijfVoortgang(const QString& text, int colour, bool bold) override;
    void Empty();

    const QStringList& lines() const { return lines_; }
    int redLineCount() const { return redLines_; }

  signals:
    void lineWritten(const QString& text, int colour, bool bold);

  private:
    QStringList lines_;
    int redLines_ = 0;
};

// A colour given as a 24-bit number with red in the low byte.
QColor ColourFromBgr(int bgr);

}  // namespace kavelon
