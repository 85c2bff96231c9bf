#pragma once

#include <optional>
#include <type_traits>
#include <utility>

#include "core/app_context.h"
#include "core/app_error.h"
#include "core/trap.h"
#include "data/db_connection.h"
#include "data/session.h"

namespace ondrel {

// The one way to reach the system database: a connection for the length of
// the body (or the command's, see CommandConnection), opened and checked
// first, under the error trap (a failure goes to the error report with this
// connection rolled back; a busy database is passed on to the command). A
// database that cannot be opened is a failure here.
template <typename Body>
auto WithSystemDb(AppContext& ctx, Body&& body) -> decltype(body(std::declval<DbConnection&>())) {
    DbConnection own;
    DbConnection* cn = &own;
    return WithTrap(ctx, &own, [&]() -> decltype(body(own)) {
        if (!detail::ConnectionFor(ctx, own, cn))
            throw AppError(err::DatabaseNotOpen, QStringLiteral("system database"));
        // From here a failure rolls back the connection in use.
        return WithTrap(ctx, cn, [&] { return body(*cn); });
    });
}

// The same where a database that cannot be opened is an expected answer
// (the patient lookup): nullopt then.
template <typename Body>
auto WithSystemDbIfOpen(AppContext& ctx, Body&& body)
    -> std::optional<decltype(body(std::declval<DbConnection&>()))> {
    DbConnection own;
    DbConnection* cn = &own;
    if (!WithTrap(ctx, &own, [&] { return detail::ConnectionFor(ctx, own, cn); }))
        return std::nullopt;
    return WithTrap(ctx, cn, [&]() -> std::optional<decltype(body(*cn))> { return body(*cn); });
}

}  // namespace ondrel
