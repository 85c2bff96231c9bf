#include "memo_store.h"

#include <QSqlQuery>
#include <QStringList>

#include "app_context.h"
#include "app_error.h"
#include "db_connection.h"
#include "japanese_date.h"
#include "trap.h"

namespace ondrel {

namespace {

const QString kTable = QStringLiteral("tblDatCommon");

QString TextColumn(int i) { return QStringLiteral("LText%1").arg(i, 3, 10, QChar(u'0')); }

qint32 IntValue(const QVariant& v, const QString& name) {
    bool ok = false;
    const qlonglong n = v.toLongLong(&ok);
    if (v.isNull() || !ok || n < INT32_MIN || n > INT32_MAX) {
        throw AppError(v.isNull() || !ok ? err::TypeMismatch : err::Overflow, name);
    }
    return qint32(n);
}

qint32 IntField(const QSqlQuery& q, const QString& name) { return IntValue(Field(q, name), name); }

QDate DateValue(const QVariant& v, const QString& name) {
    const QDate d = ParseShortDate(v.toString());
    if (!d.isValid()) throw AppError(err::TypeMismatch, QStringLiteral("not a date in ") + name);
    return d;
}

}  // namespace

bool ReadCommon(AppContext& ctx, int formCode, qint32 karteNo, FetchMode mode, qint32 mainKey) {
    DbConnection cn;
    return WithTrap(ctx, &cn, [&] {
        OpenDbConnection(ctx, cn);
        QString sql =
            QStringLiteral("Select * From tblDatCommon Where (FormCode = ?) And (KarteNo = ?)");
        QVariantList values{formCode, karteNo};
        if (mode == FetchMode::Latest) {
            sql += QStringLiteral(" Order By CreDate Desc, MainKey Desc");
        } else {
            sql += QStringLiteral(" And (MainKey = ?)");
            values << mainKey;
        }
        bool found = false;
        {
            QSqlQuery q = RunQuery(cn, sql, values);
            found = q.next();
            auto& r = ctx.common;
            if (mode == FetchMode::Latest) {
                r = CommonRecord{};
                r.CreDate = ShortDate(ctx.clock.Today());
            }
            if (found) {
                CommonRecord read;
                read.MainKey = IntField(q, QStringLiteral("MainKey"));
                read.FormCode = IntField(q, QStringLiteral("FormCode"));
                read.KarteNo = IntField(q, QStringLiteral("KarteNo"));
                read.KarteNoBranch = IntField(q, QStringLiteral("KarteNoBranch"));
                read.CreDate = ShortDate(
                    DateValue(Field(q, QStringLiteral("CreDate")), QStringLiteral("CreDate")));
                for (int i = 0; i < kCategoryCount; ++i)
                    read.LText[i] = NullToEmpty(Field(q, TextColumn(i)));
                r = read;
            }
        }
        CloseDbConnection(cn);
        return found;
    });
}

bool InsertCommon(AppContext& ctx) {
    WaitCursorGuard wait(ctx.waitCursor);
    DbConnection cn;
    return WithTrap(ctx, &cn, [&] {
        OpenDbConnection(ctx, cn);
        BeginTransaction(cn);
        const QString columns =
            TableFieldList(cn, kTable).replace(QStringLiteral("MainKey, "), QString());
        const auto& r = ctx.common;
        QVariantList values{r.FormCode, r.KarteNo, r.KarteNoBranch, SqlDate(r.CreDate)};
        for (const QString& t : r.LText) values << SqlText(t);
        QStringList marks;
        for (qsizetype i = 0; i < values.size(); ++i) marks << QStringLiteral("?");
        qint32 key = 0;
        {
            QSqlQuery q = RunQuery(cn,
                                   QStringLiteral("Insert Into tblDatCommon (") + columns +
                                       QStringLiteral(") Values (") + marks.join(u',') + u')',
                                   values);
            // The key the engine gave this very row, not the table's highest.
            key = q.lastInsertId().toInt();
        }
        CommitTransaction(cn);
        CloseDbConnection(cn);
        ctx.common.MainKey = key;
        return true;
    });
}

void UpdateCommon(AppContext& ctx) {
    WaitCursorGuard wait(ctx.waitCursor);
    DbConnection cn;
    WithTrap(ctx, &cn, [&] {
        OpenDbConnection(ctx, cn);
        BeginTransaction(cn);
        const auto& r = ctx.common;
        QString sql = QStringLiteral("Update tblDatCommon Set CreDate = ?");
        QVariantList values{SqlDate(r.CreDate)};
        for (int i = 0; i < kCategoryCount; ++i) {
            sql += u',' + TextColumn(i) + QStringLiteral(" = ?");
            values << SqlText(r.LText[i]);
        }
        sql += QStringLiteral(" Where (MainKey = ?)");
        values << r.MainKey;
        RunChange(cn, sql, values);
        CommitTransaction(cn);
        CloseDbConnection(cn);
    });
}

void DeleteCommon(AppContext& ctx, qint32 mainKey) {
    WaitCursorGuard wait(ctx.waitCursor);
    DbConnection cn;
    WithTrap(ctx, &cn, [&] {
        OpenDbConnection(ctx, cn);
        BeginTransaction(cn);
        RunChange(cn, QStringLiteral("Delete From tblDatCommon Where (MainKey = ?)"), {mainKey});
        CommitTransaction(cn);
        CloseDbConnection(cn);
    });
}

std::vector<DateListRow> ReadDateList(AppContext& ctx, int formCode, qint32 karteNo) {
    WaitCursorGuard wait(ctx.waitCursor);
    DbConnection cn;
    return WithTrap(ctx, &cn, [&] {
        OpenDbConnection(ctx, cn);
        std::vector<DateListRow> rows;
        {
            QSqlQuery q = RunQuery(cn,
                                   QStringLiteral("Select CreDate, MainKey From tblDatCommon "
                                                  "Where (FormCode = ?) And (KarteNo = ?) "
                                                  "Order By CreDate Desc, MainKey Desc"),
                                   {formCode, karteNo});
            const QString date = QStringLiteral("CreDate"), key = QStringLiteral("MainKey");
            while (q.next()) {
                const QDate d = DateValue(q.value(0), date);
                rows.push_back({DateWithWeekday(d), ShortDate(d), IntValue(q.value(1), key)});
            }
        }
        CloseDbConnection(cn);
        return rows;
    });
}

QString HistoryText(AppContext& ctx, int formCode, qint32 karteNo, HistoryOrder order,
                    const QDate& from, const QDate& to) {
    WaitCursorGuard wait(ctx.waitCursor);
    DbConnection cn;
    return WithTrap(ctx, &cn, [&] {
        if (formCode < 0 || formCode >= kCategoryCount) throw AppError(err::InvalidProcedureCall);
        OpenDbConnection(ctx, cn);
        QString sql =
            QStringLiteral("Select CreDate, ") + TextColumn(formCode) +
            QStringLiteral(" AS INFO From tblDatCommon Where (FormCode = ?) And (KarteNo = ?)");
        QVariantList values{formCode, karteNo};
        if (from.isValid() && to.isValid()) {
            sql += QStringLiteral(" And (CreDate Between ? And ?)");
            values << from << to;
        }
        sql += order == HistoryOrder::NewestFirst
                   ? QStringLiteral(" Order By CreDate Desc, MainKey Desc")
                   : QStringLiteral(" Order By CreDate Asc, MainKey Asc");
        QString text;
        {
            QSqlQuery q = RunQuery(cn, sql, values);
            const QString date = QStringLiteral("CreDate");
            while (q.next()) {
                const QString day = DateWithWeekday(DateValue(q.value(0), date));
                const QVariant slot = q.value(1);
                // A NULL slot is an empty text; toString() of a null value is empty.
                const QString memo = slot.toString();
                text.append(u'●').append(day).append(u"\r\n").append(memo).append(u"\r\n\r\n");
            }
        }
        CloseDbConnection(cn);
        return text;
    });
}

}  // namespace ondrel
