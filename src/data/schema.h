#pragma once

namespace ondrel {

class DbConnection;

// Creates every table and index of the system database on an open, empty
// database; throws AppError on failure.
void CreateSchema(DbConnection& cn);

}  // namespace ondrel
