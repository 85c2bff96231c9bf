#pragma once

#include <QObject>
#include <QString>
#include <QVariant>

namespace ondrel::test {

// A window's control by its described name and index, as a screen reader
// finds it by its accessible description; fails the caller loudly if absent.
template <typename T = QWidget>
T* Ctl(const QObject& root, const char* name, int index = -1) {
    for (T* c : root.findChildren<T*>(QString::fromLatin1(name))) {
        const QVariant i = c->property("index");
        if (index < 0 ? (!i.isValid() || i.toInt() < 0) : i.toInt() == index) return c;
    }
    qFatal("no control %s(%d)", name, index);
}

}  // namespace ondrel::test
