#pragma once

#include <QString>
#include <memory>

#include "core/clock.h"
#include "core/error_report.h"
#include "core/program_end.h"
#include "core/prompter.h"
#include "core/records.h"
#include "core/wait_cursor.h"

namespace ondrel {

class DbSession;

// Everything a run of the program shares: the settings, the program folder
// and the platform seams. main makes one; every test makes its own. Records
// travel as values between the routines, never through here.
struct AppContext {
    AppContext(QString programFolder, Prompter& p, const Clock& c, WaitCursor& w, ProgramEnd& e)
        : ProgramFolder(std::move(programFolder)), prompter(p), clock(c), waitCursor(w), end(e) {}

    QString ProgramFolder;
    AppSettings settings;

    Prompter& prompter;
    const Clock& clock;
    WaitCursor& waitCursor;
    ProgramEnd& end;

    // The data layer's session for this run (connections, the queued access
    // records): made by the data layer at its first use.
    std::shared_ptr<DbSession> db;
};

QString SettingsFilePath(const AppContext& ctx);
QString LinkFilePath(const AppContext& ctx);
QString TemplateFilePath(const AppContext& ctx);
QString ReportFolderPath(const AppContext& ctx);

}  // namespace ondrel
