#pragma once

#include <QMessageBox>
#include <QQueue>
#include <QString>
#include <QStringList>

class QWidget;

namespace kavelon {

// Every message box of the program goes through here. Tests answer a box in advance; an
// unattended run never waits for a person: its boxes go to standard error.
class MsgBox {
  public:
    // Warning icon with OK, under the program's title unless another is given.
    static void Warn(QWidget* parent, const QString& text, const QString& title = QString());
    // No icon, OK, under the program's title.
    static void Tell(QWidget* parent, const QString& text);
    // Question icon with Yes and No; true for Yes.
    static bool Ask(QWidget* parent, const QString& text);

    // The next box is answered with this button instead of being shown.
    static void setNextAnswer(QMessageBox::StandardButton answer);
    static void setUnattended(bool unattended);
    // The texts of the boxes shown (or answered) so far.
    static const QStringList& shownTexts();
    static void clearShown();

  private:
    static QMessageBox::StandardButton Show(QWidget* parent, QMessageBox::Icon icon,
                                            const QString& title, const QString& text,
                                            QMessageBox::StandardButtons buttons,
                                            QMessageBox::StandardButton unattendedAnswer);
};

}  // namespace kavelon
