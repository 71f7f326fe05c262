#pragma once

#include <limits>

#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QWidget>

namespace kavelon {

// A control at a fixed place in its window, named so that tests and styles find it.
template <typename T>
T* Place(QWidget* parent, const char* name, int x, int y, int w, int h) {
    auto* widget = new T(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

// A push button that Enter does not press unless it has the focus.
inline QPushButton* PlainButton(QWidget* parent, const char* name, const QString& caption, int x,
                                int y, int w, int h) {
    auto* button = Place<QPushButton>(parent, name, x, y, w, h);
    button->setText(caption);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

// A text box without a length limit (beyond Qt's default of 32,767 characters).
inline QLineEdit* TextBox(QWidget* parent, const char* name, int x, int y, int w, int h) {
    auto* box = Place<QLineEdit>(parent, name, x, y, w, h);
    box->setMaxLength(std::numeric_limits<int>::max());
    return box;
}

}  // namespace kavelon
