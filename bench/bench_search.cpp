// Search across 1 000 000 memos beside its floor (the engine's own indexed
// query doing the same search: the same statement through the sqlite3 C API
// or libpq), how long the index takes to make, the search window's first
// paint of its list, and a phrase typed into a page with 10 000 memos.
#include <libpq-fe.h>
#include <sqlite3.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTableView>
#include <QUrl>
#include <cstdio>

#include "admin/db_tool.h"
#include "bench_window.h"
#include "core/app_context.h"
#include "core/console_prompter.h"
#include "data/memo_search.h"
#include "data/tables.h"
#include "find_control.h"
#include "gui/gui_setup.h"
#include "median.h"
#include "ui/main/frm_search.h"

using namespace ondrel;

namespace {

constexpr int kPatients = 100000;
constexpr int kMemos = 1000000;
// One memo in a hundred names 処方42番; the search is for 42番 (3 characters).
const QString kTerm = QStringLiteral("42番");

QString MemoText(int i) {
    return QStringLiteral("塩分を控えめにするよう指導。処方%1番を継続し、次回は血圧を確認。")
        .arg(i % 100);
}

// A file as an older version left it: the memos, no index.
void GeneratePlain(const QString& path) {
    if (!tool::InitDatabase(path).isEmpty()) std::exit(1);
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    for (const char* sql : {"DROP TRIGGER trgDatSearchInsert", "DROP TRIGGER trgDatSearchUpdate",
                            "DROP TRIGGER trgDatSearchDelete", "DROP TABLE tblDatSearch",
                            "DROP TABLE tblDatSearchFill"})
        bench::Exec(db, sql);
    bench::Exec(db, "BEGIN");
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO 患者マスター (カルテ番号, 氏名) VALUES (?, '山田　太郎')",
                       -1, &s, nullptr);
    for (int i = 0; i < kPatients; ++i) {
        sqlite3_bind_int(s, 1, 100000 + i);
        sqlite3_step(s);
        sqlite3_reset(s);
    }
    sqlite3_finalize(s);
    sqlite3_prepare_v2(db, tables::MemoInsert().toUtf8().constData(), -1, &s, nullptr);
    for (int i = 0; i < kMemos; ++i) {
        const int chart = 100000 + int((qint64(i) * 7919) % kPatients);
        const int form = i % 7;
        const QByteArray date =
            QDate(2000, 1, 1).addDays(i % 9000).toString(Qt::ISODate).toLatin1();
        const QByteArray text = MemoText(i).toUtf8();
        sqlite3_bind_int(s, 1, form);
        sqlite3_bind_int(s, 2, chart / 10);
        sqlite3_bind_int(s, 3, chart);
        sqlite3_bind_text(s, 4, date.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(s, 5 + form, text.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_step(s);
        sqlite3_reset(s);
        sqlite3_clear_bindings(s);
    }
    sqlite3_finalize(s);
    bench::Exec(db, "COMMIT");
    sqlite3_close(db);
}

QString Columns(const QString& prefix) {
    QStringList c;
    for (int k = 0; k < kCategoryCount; ++k) c << prefix + tables::TextColumn(k);
    return c.join(QStringLiteral(", "));
}

// What the program's search asks of a file, as the engine runs it.
void FileFloor(const QByteArray& path) {
    static const QByteArray sql =
        (QStringLiteral("Select c.MainKey, c.FormCode, c.KarteNo, c.KarteNoBranch, c.CreDate, "
                        "p.氏名, ") +
         Columns(QStringLiteral("c.")) +
         QStringLiteral(" From tblDatSearch s Join tblDatCommon c On c.MainKey = s.rowid Left "
                        "Join 患者マスター p On p.カルテ番号 = c.KarteNoBranch Where "
                        "s.tblDatSearch Match ? Order By c.CreDate Desc, c.MainKey Desc Limit "
                        "201"))
            .toUtf8();
    static const QByteArray phrase = (u'"' + kTerm + u'"').toUtf8();
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, sql.constData(), -1, &s, nullptr);
    sqlite3_bind_text(s, 1, phrase.constData(), -1, SQLITE_STATIC);
    volatile size_t sink = 0;
    while (sqlite3_step(s) == SQLITE_ROW) {
        for (int c = 0; c < sqlite3_column_count(s); ++c)
            sink = sink + size_t(sqlite3_column_bytes16(s, c));
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
}

void ServerFloor(PGconn* c) {
    static const QByteArray sql =
        (QStringLiteral("Select c.MainKey, c.FormCode, c.KarteNo, c.KarteNoBranch, c.CreDate, "
                        "p.氏名, ") +
         Columns(QStringLiteral("c.")) +
         QStringLiteral(" From tblDatCommon c Left Join 患者マスター p On p.カルテ番号 = "
                        "c.KarteNoBranch Where ondrel_search_text(") +
         Columns(QStringLiteral("c.")) +
         QStringLiteral(") Like $1 Escape '\\' Order By c.CreDate Desc, c.MainKey Desc Limit 201"))
            .toUtf8();
    static const QByteArray pattern = (u'%' + kTerm + u'%').toUtf8();
    const char* params[] = {pattern.constData()};
    PGresult* r = PQexecParams(c, sql.constData(), 1, nullptr, params, nullptr, nullptr, 0);
    if (PQresultStatus(r) != PGRES_TUPLES_OK) {
        std::fprintf(stderr, "bench_search: %s\n", PQresultErrorMessage(r));
        std::exit(1);
    }
    volatile size_t sink = 0;
    for (int row = 0; row < PQntuples(r); ++row)
        for (int col = 0; col < PQnfields(r); ++col) sink = sink + size_t(PQgetlength(r, row, col));
    PQclear(r);
}

void PgExec(PGconn* c, const QByteArray& sql) {
    PGresult* r = PQexec(c, sql.constData());
    if (PQresultStatus(r) != PGRES_COMMAND_OK && PQresultStatus(r) != PGRES_TUPLES_OK &&
        PQresultStatus(r) != PGRES_COPY_IN) {
        std::fprintf(stderr, "bench_search: %s\n", PQresultErrorMessage(r));
        std::exit(1);
    }
    PQclear(r);
}

SearchRequest Term() {
    SearchRequest r;
    r.text = kTerm;
    return r;
}

void Row(const char* measure, const bench::Paired& p, const char* goal) {
    std::printf("%-34s %9.2f ms %9.2f ms %6.2f×  %s\n", measure, p.ours * 1e3, p.floor * 1e3,
                p.ratio, goal);
}

// The file's index made as the window makes it for an older file: a part at
// a time. Prints the whole and the longest part (the window's longest stop).
void FileIndex(AppContext& ctx) {
    QElapsedTimer all;
    all.start();
    double longest = 0;
    int parts = 0;
    for (bool done = false; !done; ++parts) {
        QElapsedTimer part;
        part.start();
        done = FillSearchIndex(ctx, 500);
        longest = std::max(longest, part.nsecsElapsed() / 1e6);
    }
    std::printf("%-34s %9.1f s  %12s %7s  (%d parts, the longest %.1f ms)\n",
                "file: search index, 1 000 000", all.nsecsElapsed() / 1e9, "-", "-", parts,
                longest);
}

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetUpApplication(app);
    const QDir here(QCoreApplication::applicationDirPath());
    const QString plain = here.filePath("bench-search-plain.db");
    const QString file = here.filePath("bench-search.db");
    if (!QFileInfo::exists(plain)) {
        std::fprintf(stderr, "generating %s (1 000 000 memos)...\n", qPrintable(plain));
        GeneratePlain(plain);
    }
    QFile::remove(file);
    QFile::copy(plain, file);

    ConsolePrompter prompter("bench");
    SystemClock clock;
    NoWaitCursor wait;
    ProcessExit end;
    AppContext ctx(QDir::tempPath(), prompter, clock, wait, end);
    ctx.settings.SystemDB = file;
    FileIndex(ctx);
    const QByteArray f8 = file.toUtf8();
    const auto hits = SearchMemos(ctx, Term());
    if (hits.hits.size() != 200 || !hits.more) {
        std::fprintf(stderr, "bench_search: %zu hits\n", hits.hits.size());
        return 1;
    }
    Row("file: search 3 chars, 1 000 000",
        bench::MedianPairs([&] { (void)SearchMemos(ctx, Term()); }, [&] { FileFloor(f8); }, 21),
        "ratio ≤ 2×, ≤ 100 ms");

    // The list's first screen painted once it is filled: one frame (16 ms).
    {
        std::array<QString, kCategoryCount> names;
        std::array<bool, kCategoryCount> inUse;
        for (int k = 0; k < kCategoryCount; ++k) {
            names[k] = QStringLiteral("所見補助%1").arg(k + 1);
            inUse[k] = true;
        }
        FrmSearch d(ctx, names, inUse);
        d.resize(960, 720);
        d.show();
        test::Ctl<QLineEdit>(d, "txtSearch")->setText(kTerm);
        d.Rtn_Search();
        QCoreApplication::processEvents();
        auto* list = test::Ctl<QTableView>(d, "grdResult");
        const double paint = bench::Median(
            [&] {
                list->viewport()->update();
                list->viewport()->repaint();
            },
            31);
        std::printf("%-34s %9.2f ms %12s %7s  ≤ 16 ms (one frame)\n",
                    "search list: first screen painted", paint * 1e3, "-", "-");
    }

    // A phrase into page 0 of the patient with 10 000 memos (the window bench's file).
    {
        bench::BenchWindow b(here.filePath("bench-window.db"));
        b.SwitchTo("20002");
        const QString phrase = QStringLiteral("次回、血圧手帳を持参するよう説明した。");
        const double insert = bench::Median(
            [&] {
                b.w->InsertPhraseText(0, phrase);
                QCoreApplication::processEvents();
            },
            31);
        std::printf("%-34s %9.2f ms %12s %7s  ≤ 16 ms\n", "phrase into a 10 000-memo page",
                    insert * 1e3, "-", "-");
    }

    const QString base = qEnvironmentVariable("ONDREL_BENCH_PG");
    if (base.isEmpty()) return 0;
    QUrl url(base);
    url.setPath(QStringLiteral("/bench_search"));
    const QString uri = url.toString();
    PGconn* admin = PQconnectdb(base.toUtf8().constData());
    PgExec(admin, "DROP DATABASE IF EXISTS bench_search");
    PgExec(admin, "CREATE DATABASE bench_search");
    PQfinish(admin);
    if (const QString e = tool::InitDatabase(uri); !e.isEmpty()) {
        std::fprintf(stderr, "bench_search: %s\n", qPrintable(e));
        return 1;
    }
    PGconn* c = PQconnectdb(uri.toUtf8().constData());
    PgExec(c, "DROP INDEX idxdatcommonsearch");
    // The same memos, sent as COPY data.
    PgExec(c, "COPY 患者マスター (カルテ番号, 氏名) FROM STDIN");
    for (int i = 0; i < kPatients; ++i) {
        const QByteArray line = QByteArray::number(100000 + i) + "\t山田　太郎\n";
        PQputCopyData(c, line.constData(), int(line.size()));
    }
    PQputCopyEnd(c, nullptr);
    PQclear(PQgetResult(c));
    PgExec(c,
           "COPY tblDatCommon (FormCode, KarteNo, KarteNoBranch, CreDate, LText000, LText001, "
           "LText002, LText003, LText004, LText005, LText006) FROM STDIN");
    for (int i = 0; i < kMemos; ++i) {
        const int chart = 100000 + int((qint64(i) * 7919) % kPatients);
        const int form = i % 7;
        QByteArray line = QByteArray::number(form) + '\t' + QByteArray::number(chart / 10) + '\t' +
                          QByteArray::number(chart) + '\t' +
                          QDate(2000, 1, 1).addDays(i % 9000).toString(Qt::ISODate).toLatin1();
        for (int k = 0; k < kCategoryCount; ++k)
            line += '\t' + (k == form ? MemoText(i).toUtf8() : QByteArray("\\N"));
        line += '\n';
        PQputCopyData(c, line.constData(), int(line.size()));
    }
    PQputCopyEnd(c, nullptr);
    PQclear(PQgetResult(c));
    QElapsedTimer index;
    index.start();
    for (const QString& sql : tables::ServerSearchIndexStatements()) PgExec(c, sql.toUtf8());
    std::printf("%-34s %9.1f s  %12s %7s  (CONCURRENTLY: saves go on meanwhile)\n",
                "server: search index, 1 000 000", index.nsecsElapsed() / 1e9, "-", "-");
    PgExec(c, "ANALYZE");
    AppContext sctx(QDir::tempPath(), prompter, clock, wait, end);
    sctx.settings.SystemDB = uri;
    (void)SearchMemos(sctx, Term());
    Row("server: search 3 chars, 1 000 000",
        bench::MedianPairs([&] { (void)SearchMemos(sctx, Term()); }, [&] { ServerFloor(c); }, 21),
        "ratio ≤ 2×, ≤ 100 ms");
    PQfinish(c);
    return 0;
}
