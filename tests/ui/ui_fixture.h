#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QString>
#include <memory>

#include "core/app_settings.h"
#include "core/link_file.h"
#include "find_control.h"
#include "gui/gui_setup.h"
#include "test_db.h"
#include "ui/main/frm_ondrel.h"

namespace ondrel::test {

// A program folder, its database with patients 12345, 12346 and 7, and the
// main window opened on it as start-up opens it.
struct WindowFixture : TestDbProgram {
    std::unique_ptr<FrmOndrel> window;

    void Open(const QString& startKarteNo = QStringLiteral("12345")) {
        ctx->settings.StartKarteNo = startKarteNo;
        window = std::make_unique<FrmOndrel>(*ctx);
        window->Form_Load();
        window->show();
        QCoreApplication::processEvents();
        // The pages not on show get their lists right after the first paint.
        QDeadlineTimer deadline(5000);
        while (window->findChildren<QWidget*>(QStringLiteral("grdDateList")).size() < 7 &&
               !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    void SetIni(const QStringList& systemKeys) {
        QStringList lines{QStringLiteral("[System]"), QStringLiteral("Title=指導指示管理"),
                          QStringLiteral("SystemDB=") + DbPath()};
        WriteIniText(lines + systemKeys);
        LoadSettings(*ctx);
    }
    void WriteLink(const QString& status, const QString& karteNo) const {
        QVERIFY(WriteLinkFile(LinkFileFor(Folder()), {status, karteNo}));
    }
};

}  // namespace ondrel::test
