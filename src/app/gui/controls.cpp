#include "controls.h"

#include <QDateEdit>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "twips.h"

namespace ondrel {

QFont WindowsFont(double points) {
    QFont f(QStringLiteral("MS PGothic"));
    f.setPointSizeF(points);
    return f;
}

QLabel* TwipsLabel(QWidget* parent, const QString& text, const QString& name, int index,
                   QRect twips) {
    auto* l = new QLabel(text, parent);
    NameControl(l, name, index);
    PlaceTwips(l, twips.x(), twips.y(), twips.width(), twips.height());
    return l;
}

QFrame* GroupFrame(QWidget* parent, QRect twips) {
    auto* f = new QFrame(parent);
    NameControl(f, QStringLiteral("picGroup"), 0);
    f->setFrameShape(QFrame::Box);
    f->setFrameShadow(QFrame::Sunken);
    PlaceTwips(f, twips.x(), twips.y(), twips.width(), twips.height());
    return f;
}

QPushButton* CommandButton(QWidget* parent, int index, const QString& caption, QRect twips) {
    auto* b = new QPushButton(caption, parent);
    NameControl(b, QStringLiteral("cmdProcess"), index);
    PlaceTwips(b, twips.x(), twips.y(), twips.width(), twips.height());
    b->setAutoDefault(false);
    return b;
}

QDateEdit* DatePicker(QWidget* parent, const QString& name, int index,
                      const QString& accessibleName, QRect twips) {
    auto* d = new QDateEdit(parent);
    NameControl(d, name, index);
    d->setAccessibleName(accessibleName);
    PlaceTwips(d, twips.x(), twips.y(), twips.width(), twips.height());
    d->setCalendarPopup(true);
    d->setDisplayFormat(QStringLiteral("yyyy/MM/dd"));
    d->resize(std::max(d->width(), d->sizeHint().width()), d->height());
    return d;
}

}  // namespace ondrel
