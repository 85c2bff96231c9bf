#include "core/app_context.h"

#include <cstdlib>

#include "core/link_file.h"

namespace ondrel {

void ProcessExit::End(int status) {
    RunAtEnd();
    std::_Exit(status);
}

QString SettingsFilePath(const AppContext& ctx) {
    return ctx.ProgramFolder + QStringLiteral("/Ondrel.ini");
}

QString LinkFilePath(const AppContext& ctx) { return LinkFileFor(ctx.ProgramFolder); }

QString TemplateFilePath(const AppContext& ctx) {
    return ctx.ProgramFolder + QStringLiteral("/Template/指導指示管理.xls");
}

QString ReportFolderPath(const AppContext& ctx) {
    return ctx.ProgramFolder + QStringLiteral("/帳票");
}

}  // namespace ondrel
