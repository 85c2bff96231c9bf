#include "gui/twips.h"

#include <QVariant>
#include <QWidget>

namespace ondrel {

int LogicalDpi(const QWidget* w) {
    const int dpi = w ? w->logicalDpiX() : 96;
    return dpi > 0 ? dpi : 96;
}

QRect TwipsRect(int left, int top, int width, int height, int dpi) {
    return QRect(TwipsToPixels(left, dpi), TwipsToPixels(top, dpi), TwipsToPixels(width, dpi),
                 TwipsToPixels(height, dpi));
}

void PlaceTwips(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(TwipsRect(left, top, width, height, LogicalDpi(w)));
}

void NameControl(QWidget* w, const QString& name, int index) {
    w->setObjectName(name);
    w->setProperty("index", index);
    w->setAccessibleDescription(index < 0 ? name : name + u'(' + QString::number(index) + u')');
}

}  // namespace ondrel
