#include "data/schema.h"

#include "data/db_connection.h"
#include "data/tables.h"

namespace ondrel {

void CreateSchema(DbConnection& cn) {
    // A rollback journal, not WAL: clinics keep the file on a shared folder.
    if (cn.engine() == Engine::SQLite) RunChange(cn, QStringLiteral("PRAGMA journal_mode=DELETE"));
    BeginTransaction(cn);
    for (const QString& sql : tables::SchemaStatements(cn.engine())) RunChange(cn, sql);
    CommitTransaction(cn);
}

}  // namespace ondrel
