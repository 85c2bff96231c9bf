#include <QRegularExpression>

#include "core/app_error.h"
#include "data/engine_paths.h"

namespace ondrel {

namespace {

bool IsBusy(const QSqlError& error, Engine engine) {
    if (engine == Engine::Postgres) {
        // lock_not_available, deadlock_detected, serialization_failure
        const QString state = error.nativeErrorCode();
        return state == u"55P03" || state == u"40P01" || state == u"40001";
    }
    bool ok = false;
    const int primary = error.nativeErrorCode().toInt(&ok) & 0xff;
    return ok && (primary == kSqliteBusy || primary == kSqliteLocked);
}

// A server's SQLSTATE as the file engine's result code, so an error report
// reads the same on both: a constraint, a full disk, a refused right.
int ResultCodeOf(const QString& state) {
    if (state.startsWith(u"23")) return 19;  // constraint
    if (state == u"53100") return 13;        // disk full
    if (state == u"42501") return 3;         // no permission
    return 1;
}

// What a refused statement lacked, where the server's message names the
// object: the verb of the statement sent that touches it.
QString RefusedRight(const QString& message, const QString& statements) {
    static const QRegularExpression refused(QStringLiteral(
        R"(permission denied for (table|relation|sequence|schema|function) "?([^\s"]+))"));
    const QRegularExpressionMatch m = refused.match(message);
    if (!m.hasMatch()) return {};
    const QString kind = m.captured(1), name = m.captured(2);
    if (kind == u"sequence" || kind == u"schema") return name + QStringLiteral(" への USAGE");
    if (kind == u"function") return name + QStringLiteral(" への EXECUTE");
    for (const QString& statement : statements.split(QStringLiteral(";\n"))) {
        if (!statement.contains(name, Qt::CaseInsensitive)) continue;
        const QString verb = statement.trimmed().section(u' ', 0, 0).toUpper();
        for (const char* known : {"SELECT", "INSERT", "UPDATE", "DELETE"}) {
            if (verb == QLatin1String(known)) return name + QStringLiteral(" への ") + verb;
        }
    }
    return name;
}

// What the user is told of a failure of the disk or the database's files:
// not a fault of the program, so the text on screen stays and the command
// can be tried again; empty for anything else.
QString UnavailableMessage(const QSqlError& error, Engine engine) {
    const QString state = error.nativeErrorCode();
    const int primary = engine == Engine::SQLite ? state.toInt() & 0xff : 0;
    const QString kept = QStringLiteral("\r\n画面の内容はそのままです。");
    if (primary == 13 || state == u"53100") {
        return QStringLiteral("ディスクがいっぱいのため、データベースに書き込めませんでした。") +
               kept + QStringLiteral("ディスクの空きを作ってから、もう一度実行して下さい。");
    }
    if (primary == 8 || state == u"25006") {
        return QStringLiteral("データベースが読み取り専用のため、書き込めませんでした。") + kept +
               QStringLiteral("管理者に連絡して下さい。");
    }
    if (primary == 10 || state == u"58030") {
        return QStringLiteral("データベースの読み書きに失敗したため、処理できませんでした。") +
               kept + QStringLiteral("もう一度実行して下さい。続く場合は管理者に連絡して下さい。");
    }
    return {};
}

}  // namespace

void ThrowKeysExhausted(const QString& detail) {
    throw DatabaseUnavailable(
        err::Overflow, detail,
        QStringLiteral("新しいメモに付ける番号（MainKey）が上限に達したため、保存できませんでした。"
                       "\r\n画面の内容はそのままです。管理者に連絡して下さい。"));
}

[[noreturn]] void ThrowDbError(const QSqlError& error, Engine engine, const QString& statements) {
    if (IsBusy(error, engine)) throw DatabaseBusy(error.text());
    // sequence_generator_limit_exceeded: the server's identity has run out.
    if (engine == Engine::Postgres && error.nativeErrorCode() == u"2200H")
        ThrowKeysExhausted(error.text());
    if (const QString told = UnavailableMessage(error, engine); !told.isEmpty()) {
        const int code = engine == Engine::Postgres ? ResultCodeOf(error.nativeErrorCode())
                                                    : error.nativeErrorCode().toInt();
        throw DatabaseUnavailable(DatabaseErrorNumber(code), error.text(), told);
    }
    if (engine == Engine::Postgres && error.nativeErrorCode() == u"42501") {
        // The server's first line without its severity ("ERROR:  ").
        QString reason = error.databaseText().section(u'\n', 0, 0);
        if (const qsizetype at = reason.indexOf(QStringLiteral(":  ")); at >= 0)
            reason = reason.mid(at + 3);
        reason = reason.trimmed();
        throw DatabaseNoRight(error.text(), RefusedRight(reason, statements), reason);
    }
    bool ok = false;
    const int code = engine == Engine::Postgres ? ResultCodeOf(error.nativeErrorCode())
                                                : error.nativeErrorCode().toInt(&ok);
    if (engine == Engine::Postgres) ok = true;
    throw AppError(ok ? DatabaseErrorNumber(code) : err::DatabaseBase + 1, error.text());
}

void RequireOpen(const DbConnection& cn) {
    if (!cn.IsOpen()) throw AppError(err::DatabaseNotOpen, QStringLiteral("connection not open"));
}

}  // namespace ondrel
