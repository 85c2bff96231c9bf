#include "data/session.h"

#include <QFileInfo>

#include "core/app_context.h"
#include "core/app_error.h"
#include "data/engine_paths.h"
#include "data/memo_search.h"
#include "data/phrases.h"
#include "data/revisions.h"

namespace ondrel {

const DbTarget& DbSession::Target(const QString& systemDb) {
    if (!target_ || target_->Text() != systemDb) target_ = DbTarget::Of(systemDb);
    return *target_;
}

DbSession& Session(AppContext& ctx) {
    if (!ctx.db) ctx.db = std::make_shared<DbSession>();
    return *ctx.db;
}

void UpgradeOlderFile(DbConnection& cn) {
    if (cn.engine() != Engine::SQLite) return;
    SqlitePath::AddRowVersion(cn);
    AddRecordTables(cn);
    AddSearchIndex(cn);
    try {
        for (const QString& sql : tables::PhraseStatements(Engine::SQLite)) RunChange(cn, sql);
    } catch (const AppError&) {
        // A copy that cannot be written opens without phrases.
    }
}

CommandConnection::CommandConnection(AppContext& ctx)
    : session_(Session(ctx)), outermost_(session_.command_ == nullptr) {
    if (outermost_) session_.command_ = &cn_;
}

CommandConnection::~CommandConnection() {
    if (outermost_) session_.command_ = nullptr;
}

QString ServerStartProblem(AppContext& ctx) {
    const DbTarget& target = Session(ctx).Target(ctx.settings.SystemDB);
    if (!target.Server()) {
        return QStringLiteral(
                   "Ondrel.ini の SystemDB に書かれたデータベースサーバーの指定が"
                   "正しくありません。\r\n") +
               target.Problem();
    }
    const QString server = QStringLiteral("データベースサーバー（") + target.Shown() + u'）';
    // Opened as the program keeps it: the first command finds it open.
    DbConnection own;
    DbConnection* cn = &own;
    try {
        if (!detail::ConnectionFor(ctx, own, cn))
            return server + QStringLiteral("に接続できません。");
        QSqlQuery q = RunQuery(*cn, QStringLiteral("SELECT to_regclass('tbldatcommon') IS NOT "
                                                   "NULL, to_regproc('ondrel_memo_insert') IS NOT "
                                                   "NULL AND to_regproc('ondrel_person') IS "
                                                   "NOT NULL AND to_regproc('ondrel_search_text') "
                                                   "IS NOT NULL"));
        if (q.next() && q.value(0).toBool()) {
            RequireRecordTables(*cn);
            if (q.value(1).toBool()) return {};
            // Made by a version whose workstations wrote the record themselves.
            return server + QStringLiteral(
                                "のシステムデータベースは古い形式です。\r\n"
                                "データベースの所有者が ondrel-db init をもう一度実行して下さい"
                                "（表とデータはそのまま、記録を書く仕組みが加わります）。");
        }
        return server + QStringLiteral(
                            "にシステムデータベースがありません。\r\n"
                            "先に ondrel-db init で作成して下さい。");
    } catch (const DatabaseUnavailable& e) {
        return server + QStringLiteral("を使えません。\r\n") + e.UserMessage();
    } catch (const DatabaseBusy& e) {
        return server + QStringLiteral("に接続できません。\r\n理由: ") + e.detail().trimmed();
    } catch (const AppError& e) {
        return server + QStringLiteral("を使えません。\r\n理由: ") + e.detail().trimmed();
    }
}

namespace detail {

bool ConnectionFor(AppContext& ctx, DbConnection& own, DbConnection*& use) {
    DbSession& session = Session(ctx);
    const DbTarget& target = session.Target(ctx.settings.SystemDB);
    // A server connection is kept from one command to the next: opening one
    // costs more than a patient switch (the connection is checked at use and
    // opened again when the server has dropped it).
    if (target.IsServer()) {
        if (!session.kept_) session.kept_ = std::make_unique<DbConnection>();
        use = session.kept_.get();
        if (use->IsOpen() && use->OpenedAt() == target.Text()) return true;
        return OpenDbConnection(target, *use);
    }
    DbConnection* shared = session.command_;
    // A command that changed SystemDB (the settings) reaches the new file.
    if (shared && shared->IsOpen() && shared->OpenedAt() == target.Text()) {
        use = shared;
        return true;
    }
    DbConnection& cn = shared ? *shared : own;
    use = &cn;
    if (!OpenDbConnection(target, cn)) return false;
    // Once a run for each file.
    const QString file = QFileInfo(target.Text()).absoluteFilePath();
    if (!session.upgraded_.contains(file)) {
        UpgradeOlderFile(cn);
        session.upgraded_.insert(file);
    }
    return true;
}

}  // namespace detail

}  // namespace ondrel
