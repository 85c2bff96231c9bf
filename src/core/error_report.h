#pragma once

#include <QString>

namespace ondrel {

struct AppContext;

// What the error report needs of a database connection; the data layer's
// connection implements it.
class ReleasableConnection {
  public:
    virtual ~ReleasableConnection() = default;
    // Rolls back whatever is in progress, ignoring failures, then closes.
    virtual void RollbackAndClose() noexcept = 0;
};

QString ErrorReportMessage(int number);

// Tells the user, rolls back and closes the connection (may be null) and
// ends the program. Never returns.
[[noreturn]] void ErrorReport(AppContext& ctx, int number, ReleasableConnection* connection);

}  // namespace ondrel
