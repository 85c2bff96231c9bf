#include "gui/gui_setup.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
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
}

}  // namespace ondrel
