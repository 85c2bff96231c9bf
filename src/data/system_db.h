#pragma once

#include <optional>
#include <type_traits>
#include <utility>

#include "core/app_context.h"
#include "core/app_error.h"
#include "core/trap.h"
#include "data/db_connection.h"

namespace ondrel {

// For the length of one user's command the data procedures share one
// connection: opening costs more than most of the statements a command runs.
// Nested scopes use the outer one. The connection holds no lock between
// statements; it is closed when the outermost scope ends.
class CommandConnection {
  public:
    explicit CommandConnection(AppContext& ctx);
    ~CommandConnection();
    CommandConnection(const CommandConnection&) = delete;
    CommandConnection& operator=(const CommandConnection&) = delete;

  private:
    AppContext& ctx_;
    DbConnection cn_;
    bool outermost_;
};

// Before the window opens on a server: empty when it answers and holds a
// system database, else the message for the user (naming the server and
// the reason).
QString ServerStartProblem(AppContext& ctx);

namespace detail {

// The command's connection when one is open or can be opened on the current
// SystemDB, else `own`; false when the database cannot be opened.
bool ConnectionFor(AppContext& ctx, DbConnection& own, DbConnection*& use);

}  // namespace detail

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
