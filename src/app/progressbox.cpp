#include "app/progressbox.h"

#include <QTextCursor>

namespace kavelon {

QColor ColourFromBgr(int bgr) {
    return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF);
}

ProgressBox::ProgressBox(QWidget* parent) : QTextEdit(parent) {
    setReadOnly(true);
    setAcceptRichText(false);
    setUndoRedoEnabled(false);
    showTimer_.setSingleShot(true);
    showTimer_.setInterval(kShowIntervalMs);
    connect(&showTimer_, &QTimer::timeout, this, &ProgressBox::ShowPendingLines);
}

void ProgressBox::SchrijfVoortgang(const QString& text, int colour, bool bold) {
    lines_.append(text);
    if (colour == kRood) ++redLines_;
    if (linesOnly_) {
        emit lineWritten(text, colour, bold);
        return;
    }
    pending_.append({QString(text).remove(u'\r'), colour, bold});
    // Only a box on screen holds lines back, and then for a moment.
    if (!isVisible())
        ShowPendingLines();
    else if (!showTimer_.isActive())
        showTimer_.start();
    emit lineWritten(text, colour, bold);
}

void ProgressBox::ShowPendingLines() {
    showTimer_.stop();
    if (pending_.isEmpty()) return;
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();  // one layout for the whole batch
    for (const Line& line : pending_) {
        QTextCharFormat format;
        format.setForeground(ColourFromBgr(line.colour));
        format.setFontWeight(line.bold ? QFont::Bold : QFont::Normal);
        cursor.insertText(line.text, format);
        cursor.insertBlock(QTextBlockFormat(), format);
    }
    cursor.endEditBlock();
    pending_.clear();
    setTextCursor(cursor);
    ensureCursorVisible();
}

void ProgressBox::Empty() {
    showTimer_.stop();
    pending_.clear();
    clear();
    lines_.clear();
    redLines_ = 0;
}

}  // namespace kavelon
