#include "ui/msgbox.h"

#include <cstdio>

#include "core/settings.h"

namespace kavelon {
namespace {

QQueue<QMessageBox::StandardButton>& PresetAnswers() {
    static QQueue<QMessageBox::StandardButton> answers;
    return answers;
}
QStringList& Shown() {
    static QStringList shown;
    return shown;
}
bool& Unattended() {
    static bool unattended = false;
    return unattended;
}

}  // namespace

void MsgBox::Warn(QWidget* parent, const QString& text, const QString& title) {
    Show(parent, QMessageBox::Warning, title, text, QMessageBox::Ok, QMessageBox::Ok);
}

void MsgBox::Tell(QWidget* parent, const QString& text) {
    Show(parent, QMessageBox::NoIcon, QString(), text, QMessageBox::Ok, QMessageBox::Ok);
}

bool MsgBox::Ask(QWidget* parent, const QString& text) {
    return Show(parent, QMessageBox::Question, QString(), text, QMessageBox::Yes | QMessageBox::No,
                QMessageBox::No) == QMessageBox::Yes;
}

QMessageBox::StandardButton MsgBox::Show(QWidget* parent, QMessageBox::Icon icon,
                                         const QString& title, const QString& text,
                                         QMessageBox::StandardButtons buttons,
                                         QMessageBox::StandardButton unattendedAnswer) {
    Shown().append(text);
    if (!PresetAnswers().isEmpty()) return PresetAnswers().dequeue();
    if (Unattended()) {
        std::fprintf(stderr, "%s\n", qPrintable(text));
        return unattendedAnswer;
    }
    QMessageBox box(icon, title.isEmpty() ? kProgramTitle : title, text, buttons, parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

void MsgBox::setNextAnswer(QMessageBox::StandardButton answer) {
    PresetAnswers().enqueue(answer);
}
void MsgBox::setUnattended(bool unattended) {
    Unattended() = unattended;
}
const QStringList& MsgBox::shownTexts() {
    return Shown();
}
void MsgBox::clearShown() {
    Shown().clear();
}

}  // namespace kavelon
