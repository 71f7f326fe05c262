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
}

void ProgressBox::SchrijfVoortgang(const QString& text, int colour, bool bold) {
    QTextCharFormat format;
    format.setForeground(ColourFromBgr(colour));
    format.setFontWeight(bold ? QFont::Bold : QFont::Normal);
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(QString(text).remove(u'\r'), format);
    cursor.insertBlock(QTextBlockFormat(), format);
    setTextCursor(cursor);
    ensureCursorVisible();
    lines_.append(text);
    if (colour == kRood) ++redLines_;
    emit lineWritten(text, colour, bold);
}

void ProgressBox::Empty() {
    clear();
    lines_.clear();
    redLines_ = 0;
}

}  // namespace kavelon
