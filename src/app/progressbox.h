#pragma once

#include <QList>
#include <QStringList>
#include <QTextEdit>
#include <QTimer>

#include "core/progress.h"

namespace kavelon {

// The progress box: a read-only rich-text box in which each line keeps its own colour and
// weight. It also keeps the plain lines, which the log of an unattended run saves.
// While the box is on screen, lines reach the document in batches, many times a second, so
// that a long action does not lay out and repaint the box once per line; a hidden box takes
// each line at once. The plain lines are complete at every moment. A box that no screen can
// show (an unattended run on the offscreen platform) may keep the plain lines only.
class ProgressBox : public QTextEdit, public ProgressSink {
    Q_OBJECT
  public:
    static constexpr int kShowIntervalMs = 40;

    explicit ProgressBox(QWidget* parent = nullptr);

    void SchrijfVoortgang(const QString& text, int colour, bool bold) override;
    void Empty();
    // Puts the lines written since the last time into the document, at its end.
    void ShowPendingLines();
    // Keeps the plain lines only and leaves the document as it is.
    void setLinesOnly(bool linesOnly) { linesOnly_ = linesOnly; }

    const QStringList& lines() const { return lines_; }
    int redLineCount() const { return redLines_; }

  signals:
    void lineWritten(const QString& text, int colour, bool bold);

  private:
    struct Line {
        QString text;
        int colour;
        bool bold;
    };
    QStringList lines_;
    QList<Line> pending_;
    QTimer showTimer_;
    int redLines_ = 0;
    bool linesOnly_ = false;
};

// A colour given as a 24-bit number with red in the low byte.
QColor ColourFromBgr(int bgr);

}  // namespace kavelon
