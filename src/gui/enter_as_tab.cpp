#include "gui/enter_as_tab.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace ondrel {

EnterAsTab::EnterAsTab(QWidget* window, QStringList exempt)
    : QObject(window), window_(window), exempt_(std::move(exempt)) {
    // Key events go to the focused child, so the filter sits on the
    // application and acts only for its own window.
    qApp->installEventFilter(this);
}

bool EnterAsTab::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !window_) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) return false;
    QWidget* focus = QApplication::focusWidget();
    if (!focus || watched != focus || focus->window() != window_) return false;
    for (QWidget* w = focus; w && w != window_; w = w->parentWidget()) {
        if (exempt_.contains(w->objectName())) return false;
    }
    // The next control in tab order, wrapping at the end, as Tab would; done
    // here because a date edit or a grid uses Tab for its own sections or cells.
    for (QWidget* w = focus->nextInFocusChain(); w && w != focus; w = w->nextInFocusChain()) {
        if (w->window() == window_ && (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy() &&
            w->isVisible() && w->isEnabled()) {
            w->setFocus(Qt::TabFocusReason);
            break;
        }
    }
    return true;
}

}  // namespace ondrel
