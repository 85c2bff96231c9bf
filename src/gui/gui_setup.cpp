#include "gui/gui_setup.h"

#include <QApplication>
#include <QFont>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace ondrel {

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
}

}  // namespace ondrel
