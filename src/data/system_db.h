#pragma once

#include <optional>
#include <type_traits>
#include <utility>

#include "app_context.h"
#include "app_error.h"
#include "db_connection.h"
#include "trap.h"

namespace ondrel {

// The one way to reach the system database: a connection for the length of
// the body, opened and checked first, always closed, under the error trap
// (a failure goes to the error report with this connection rolled back; a
// busy database is passed on to the command). A database that cannot be
// opened is a failure here.
template <typename Body>
auto WithSystemDb(AppContext& ctx, Body&& body) -> decltype(body(std::declval<DbConnection&>())) {
    DbConnection cn;
    return WithTrap(ctx, &cn, [&]() -> decltype(body(cn)) {
        if (!OpenDbConnection(ctx, cn))
            throw AppError(err::DatabaseNotOpen, QStringLiteral("system database"));
        if constexpr (std::is_void_v<decltype(body(cn))>) {
            body(cn);
            CloseDbConnection(cn);
        } else {
            auto result = body(cn);
            CloseDbConnection(cn);
            return result;
        }
    });
}

// The same where a database that cannot be opened is an expected answer
// (the patient lookup): nullopt then.
template <typename Body>
auto WithSystemDbIfOpen(AppContext& ctx, Body&& body)
    -> std::optional<decltype(body(std::declval<DbConnection&>()))> {
    DbConnection cn;
    if (!OpenDbConnection(ctx, cn)) return std::nullopt;
    return WithTrap(ctx, &cn, [&]() -> std::optional<decltype(body(cn))> {
        auto result = body(cn);
        CloseDbConnection(cn);
        return result;
    });
}

}  // namespace ondrel
