#pragma once

#include <QString>
#include <memory>
#include <vector>

#include "core/clock.h"
#include "core/error_report.h"
#include "core/program_end.h"
#include "core/prompter.h"
#include "core/records.h"
#include "core/wait_cursor.h"

namespace ondrel {

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

    // While a command runs, the connection its data procedures share (set by
    // the data layer's CommandConnection); null between commands.
    ReleasableConnection* commandConnection = nullptr;
    // A memo was written in this run (the daily backup follows it).
    bool memoWritten = false;
    // Access records not yet written (time, chart number, action).
    struct PendingAccess {
        QString at;
        qint32 chart = 0;
        QString action;
    };
    std::vector<PendingAccess> pendingAccess;
    // A server connection kept from one command to the next.
    std::shared_ptr<ReleasableConnection> keptConnection;
};

QString SettingsFilePath(const AppContext& ctx);
QString LinkFilePath(const AppContext& ctx);
QString TemplateFilePath(const AppContext& ctx);
QString ReportFolderPath(const AppContext& ctx);

}  // namespace ondrel
