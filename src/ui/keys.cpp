#include "ui/keys.h"

#include <QDialog>
#include <QEvent>
#include <QKeyEvent>
#include <QPushButton>

namespace kavelon {
namespace {

// Takes Enter and Escape when no control of the window has used them.
class FocusKeys : public QObject {
  public:
    explicit FocusKeys(QDialog* window) : QObject(window), window_(window) {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != window_ || event->type() != QEvent::KeyPress) return false;
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Escape) return false;
        if (key != Qt::Key_Escape) {
            if (auto* button = qobject_cast<QPushButton*>(window_->focusWidget())) button->click();
        }
        return true;
    }

  private:
    QDialog* window_;
};

}  // namespace

void UseFocusKeys(QDialog* window) {
    new FocusKeys(window);
}

}  // namespace kavelon
