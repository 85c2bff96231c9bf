#pragma once

// The main window on a system database (a file or a server), as the window
// benches drive it.
#include <sqlite3.h>

#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/app_context.h"
#include "core/app_settings.h"
#include "core/console_prompter.h"
#include "core/ini_file.h"
#include "find_control.h"
#include "ui/main/frm_ondrel.h"

namespace ondrel::bench {

// A generator's statement on a file; a failure ends the bench.
inline void Exec(sqlite3* db, const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        std::fprintf(stderr, "sqlite: %s\n", err);
        std::exit(1);
    }
}

struct BenchWindow {
    explicit BenchWindow(const QString& systemDb) {
        WriteIniString(SettingsFilePath(ctx), "System", "SystemDB", systemDb);
        WriteIniString(SettingsFilePath(ctx), "System", "MessageFlg3", "1");
        LoadSettings(ctx);
        ctx.settings.StartKarteNo = QStringLiteral("10001");
        w = std::make_unique<FrmOndrel>(ctx);
        w->Form_Load();
        w->show();
        QCoreApplication::processEvents();
    }
    // Ends with the paint the user waits for.
    void SwitchTo(const char* chart) {
        test::Ctl<QLineEdit>(*w, "txtPersonalID")->setText(QString::fromLatin1(chart));
        w->Rtn_DataDispMain();
        QCoreApplication::processEvents();
    }
    // The typed text has been painted long before the user saves.
    void Type(const QString& text) {
        test::Ctl<QPlainTextEdit>(*w, "txtLData", 0)->setPlainText(text);
        QCoreApplication::processEvents();
    }

    QTemporaryDir dir;
    ConsolePrompter prompter{"bench"};
    SystemClock clock;
    NoWaitCursor wait;
    ProcessExit end;
    AppContext ctx{dir.path(), prompter, clock, wait, end};
    std::unique_ptr<FrmOndrel> w;
};

}  // namespace ondrel::bench
