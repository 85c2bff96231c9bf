#pragma once

#include <new>

#include "core/app_context.h"
#include "core/app_error.h"
#include "core/error_report.h"

namespace ondrel {

// The error trap of every data procedure: a failure goes to the error report
// with the procedure's own connection (may be null), which ends the program.
// A told failure (a busy database, an office that cannot start) is passed
// on to the command that can tell the user.
template <typename Body>
auto WithTrap(AppContext& ctx, ReleasableConnection* cn, Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const ToldError&) {
        if (cn) cn->RollbackAndClose();
        throw;
    } catch (const AppError& e) {
        ErrorReport(ctx, e.number(), cn);
    } catch (const std::bad_alloc&) {
        ErrorReport(ctx, err::OutOfMemory, cn);
    }
}

}  // namespace ondrel

namespace ondrel {

// The trap of a user's command: a told failure is shown in a message and the
// command ends with nothing lost (false); any other failure ends the program.
template <typename Body>
bool WithCommandTrap(AppContext& ctx, ReleasableConnection* cn, Body&& body) {
    try {
        WithTrap(ctx, cn, body);
        return true;
    } catch (const ToldError& e) {
        ctx.prompter.Warning(ctx.settings.Title, e.UserMessage());
        return false;
    }
}

}  // namespace ondrel
