#include "data/system_master.h"

#include <QSqlQuery>

#include "data/db_connection.h"
#include "data/system_db.h"
#include "data/tables.h"

namespace ondrel {

using tables::CheckColumn;
using tables::NameColumn;

std::optional<SystemMaster> Rtn_MasterRead(DbConnection& cn) {
    QSqlQuery q = RunQuery(cn, QStringLiteral("Select * From tblMasSystemA"));
    if (!q.next()) return std::nullopt;
    SystemMaster m;
    for (int k = 0; k < kCategoryCount; ++k) m.Name[k] = NullToEmpty(Field(q, NameColumn(k)));
    for (int k = 1; k < kCategoryCount; ++k)
        m.Check[k] = NullToEmpty(Field(q, CheckColumn(k))) == u"1";
    return m;
}

void Rtn_MasterWrite(DbConnection& cn, const std::array<QString, kCategoryCount>& names,
                     const std::array<bool, kCategoryCount>& inUse) {
    BeginTransaction(cn);
    QString sql = QStringLiteral("Update tblMasSystemA Set");
    QVariantList values;
    for (int k = 0; k < kCategoryCount; ++k) {
        sql += (k == 0 ? QStringLiteral(" ") : QStringLiteral(",")) + NameColumn(k) +
               QStringLiteral(" = ?");
        values << SqlText(names[k]);
    }
    for (int k = 1; k < kCategoryCount; ++k) {
        sql += u',' + CheckColumn(k) + QStringLiteral(" = ?");
        values << SqlText(inUse[k] ? QStringLiteral("1") : QStringLiteral("0"));
    }
    RunChange(cn, sql, values);
    CommitTransaction(cn);
}

std::optional<SystemMaster> Rtn_MasterRead(AppContext& ctx) {
    return WithSystemDb(ctx, [](DbConnection& cn) { return Rtn_MasterRead(cn); });
}

void Rtn_MasterWrite(AppContext& ctx, const std::array<QString, kCategoryCount>& names,
                     const std::array<bool, kCategoryCount>& inUse) {
    WithSystemDb(ctx, [&](DbConnection& cn) { Rtn_MasterWrite(cn, names, inUse); });
}

}  // namespace ondrel
