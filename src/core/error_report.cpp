#include "core/error_report.h"

#include <cstdlib>

#include "core/app_context.h"
#include "core/app_error.h"

namespace ondrel {

QString ErrorReportMessage(int number) {
    return QStringLiteral("予期せぬエラーが発生しました。製作会社に連絡をして下さい。\r\n\r\n(") +
           QString::number(number) + QStringLiteral(") ") + ErrorText(number);
}

void ErrorReport(AppContext& ctx, int number, ReleasableConnection* connection) {
    ctx.prompter.Warning(ctx.settings.Title, ErrorReportMessage(number));
    if (connection) connection->RollbackAndClose();
    ctx.end.End(1);
    std::abort();  // End never returns; this keeps the promise if one ever did
}

}  // namespace ondrel
