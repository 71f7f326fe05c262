#pragma once

#include <QStringList>
#include <QWidget>

// A control of a real window, found by its name; a missing control ends the test run.
template <typename T = QWidget>
T* Child(QWidget& window, const char* name) {
    T* found = window.findChild<T*>(QString::fromLatin1(name));
    if (!found) qFatal("control %s not found", name);
    return found;
}

// The names of the widgets that Tab visits, from start round to start.
inline QStringList TabChain(QWidget* start) {
    QStringList chain;
    QWidget* next = start;
    do {
        if ((next->focusPolicy() & Qt::TabFocus) && next->isEnabled()) chain << next->objectName();
        next = next->nextInFocusChain();
    } while (next != start);
    return chain;
}
