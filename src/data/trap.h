#pragma once

#include <new>

#include "app_context.h"
#include "app_error.h"
#include "error_report.h"

namespace ondrel {

// The error trap of every data procedure: a failure goes to the error report
// with the procedure's own connection (may be null), which ends the program.
template <typename Body>
auto WithTrap(AppContext& ctx, ReleasableConnection* cn, Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const AppError& e) {
        ErrorReport(ctx, e.number(), cn);
    } catch (const std::bad_alloc&) {
        ErrorReport(ctx, 7, cn);
    }
}

}  // namespace ondrel
