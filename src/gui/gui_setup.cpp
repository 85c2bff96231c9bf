#include "gui/gui_setup.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QWidget>
#include <utility>

#include "core/blocking_call.h"

namespace ondrel {

namespace {

// No window closes while a call to the server is under way: closing saves
// the memo, a second call on the same connection.
class HoldCloses final : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close) {
            event->ignore();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

// A server that is slow to answer leaves the windows painted, as a moving
// window or one uncovered shows; what the user types or clicks meanwhile
// waits until the answer is in.
void KeepPaintingWhileWaiting() {
    struct Wait {
        HoldCloses* closes = nullptr;
        bool cursor = false;
    };
    static Wait wait;
    BlockingCallHooks hooks;
    hooks.pump = [](std::chrono::milliseconds waited) {
        if (!wait.closes) {
            wait.closes = new HoldCloses(qApp);
            qApp->installEventFilter(wait.closes);
        }
        if (!wait.cursor && waited >= std::chrono::seconds(1)) {
            QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
            wait.cursor = true;
        }
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    };
    hooks.done = [] {
        delete std::exchange(wait.closes, nullptr);
        if (std::exchange(wait.cursor, false)) QApplication::restoreOverrideCursor();
    };
    SetBlockingCallHooks(std::move(hooks));
}

// A main window made as a plain widget reads as a mere filler to a screen
// reader; one marked so (the property "mainWindow") is a window, a frame
// with its title, as users of assistive technology look for it.
QAccessibleInterface* MainWindowAccessible(const QString&, QObject* object) {
    if (!object || !object->isWidgetType() || !object->property("mainWindow").toBool())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    return widget->isWindow() ? new QAccessibleWidget(widget, QAccessible::Window) : nullptr;
}

}  // namespace

void SetUpApplication(QApplication& app) {
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    auto* qtTranslator = new QTranslator(&app);
    if (qtTranslator->load(QLocale(QLocale::Japanese), QStringLiteral("qtbase"),
                           QStringLiteral("_"),
                           QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(qtTranslator);
    }
    for (const char* name : {"MS PGothic", "ＭＳ Ｐゴシック"}) {
        QFont::insertSubstitutions(QString::fromUtf8(name),
                                   {QStringLiteral("IPAPGothic"), QStringLiteral("IPAGothic")});
    }
    QFont base(QStringLiteral("MS PGothic"));
    base.setPointSizeF(11.25);
    QApplication::setFont(base);
    KeepPaintingWhileWaiting();
    QAccessible::installFactory(MainWindowAccessible);
}

}  // namespace ondrel
