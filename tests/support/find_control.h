#pragma once

#include <QObject>
#include <QString>
#include <QTest>
#include <QVariant>

namespace ondrel::test {

// A window's control by its described name and index, as a screen reader
// finds it by its accessible description. An absent control fails the test
// that asked; a stand-in (never shown, left to the end of the run) lets that
// test end without taking the other tests of the executable with it.
template <typename T = QWidget>
T* Ctl(const QObject& root, const char* name, int index = -1) {
    for (T* c : root.findChildren<T*>(QString::fromLatin1(name))) {
        const QVariant i = c->property("index");
        if (index < 0 ? (!i.isValid() || i.toInt() < 0) : i.toInt() == index) return c;
    }
    QTest::qFail(
        qPrintable(QStringLiteral("no control %1(%2)").arg(QLatin1String(name)).arg(index)),
        __FILE__, __LINE__);
    return new T(nullptr);
}

}  // namespace ondrel::test
