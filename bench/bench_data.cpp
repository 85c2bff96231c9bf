// Data layer beside its floor: the same statement through the sqlite3 C API,
// opening and closing the file per operation as the program does.
// Prints one line per measure: name, ours (µs), floor (µs), ratio.
#include <sqlite3.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "admin/db_tool.h"
#include "core/app_context.h"
#include "core/console_prompter.h"
#include "data/db_connection.h"
#include "data/memo_search.h"
#include "data/memo_store.h"
#include "data/patient_lookup.h"
#include "data/tables.h"
#include "median.h"

using namespace ondrel;

namespace {

// Median in microseconds.
double Measure(const std::function<void()>& op, int runs) { return bench::Median(op, runs) * 1e6; }

constexpr int kPatients = 100000;
constexpr int kMemos = 1000000;
constexpr int kHeavyChart = 12345;  // holds 10 000 memos in category 1
constexpr int kHeavyMemos = 10000;

void Check(int rc, sqlite3* db) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) {
        std::fprintf(stderr, "sqlite: %s\n", sqlite3_errmsg(db));
        std::exit(1);
    }
}

void Generate(const QString& path) {
    if (!tool::InitDatabase(path).isEmpty()) std::exit(1);
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    RegisterSearchFold(db);  // the search index's triggers call it
    Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    sqlite3_stmt* p = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO 患者マスター VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?)", -1, &p,
                       nullptr);
    for (int i = 0; i < kPatients; ++i) {
        const int chart = i == 0 ? kHeavyChart : 100000 + i;
        sqlite3_bind_int(p, 1, chart);
        sqlite3_bind_text(p, 2, "山田　太郎", -1, SQLITE_STATIC);
        sqlite3_bind_text(p, 3, "ヤマダ タロウ", -1, SQLITE_STATIC);
        sqlite3_bind_text(p, 4, i % 2 ? "1" : "2", -1, SQLITE_STATIC);
        sqlite3_bind_text(p, 5, "S", -1, SQLITE_STATIC);
        sqlite3_bind_int(p, 6, 1 + i % 63);
        sqlite3_bind_int(p, 7, 1 + i % 12);
        sqlite3_bind_int(p, 8, 1 + i % 28);
        for (int c = 9; c <= 13; ++c) sqlite3_bind_text(p, c, "東京都", -1, SQLITE_STATIC);
        Check(sqlite3_step(p), db);
        sqlite3_reset(p);
    }
    sqlite3_finalize(p);
    // The program's own insert; the slots not bound here stay NULL.
    sqlite3_prepare_v2(db, tables::MemoInsert().toUtf8().constData(), -1, &p, nullptr);
    const QByteArray memo =
        QStringLiteral("塩分を控えめにするよう指導。毎日三十分の散歩を勧めた。").toUtf8();
    for (int i = 0; i < kMemos; ++i) {
        const bool heavy = i < kHeavyMemos;
        const int chart = heavy ? kHeavyChart : 100000 + (i * 7919) % kPatients;
        const QByteArray date =
            QDate(2000, 1, 1).addDays(i % 9000).toString(Qt::ISODate).toLatin1();
        sqlite3_bind_int(p, 1, heavy ? 1 : i % 7);
        sqlite3_bind_int(p, 2, chart / 10);
        sqlite3_bind_int(p, 3, chart);
        sqlite3_bind_text(p, 4, date.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(p, 5, memo.constData(), -1, SQLITE_STATIC);
        sqlite3_bind_text(p, 6, memo.constData(), -1, SQLITE_STATIC);
        Check(sqlite3_step(p), db);
        sqlite3_reset(p);
    }
    sqlite3_finalize(p);
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    sqlite3_close(db);
}

// The floor: open, prepare, bind, step through every row, close.
void Floor(const QByteArray& path, const char* sql, const std::vector<int>& binds, int columns) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_busy_timeout(db, 5000);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
    for (size_t i = 0; i < binds.size(); ++i) sqlite3_bind_int(s, int(i + 1), binds[i]);
    volatile size_t sink = 0;
    while (sqlite3_step(s) == SQLITE_ROW) {
        for (int c = 0; c < columns; ++c) sink = sink + size_t(sqlite3_column_bytes16(s, c));
        if (columns < 0) break;  // first row only
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath("bench-data.db");
    if (!QFileInfo::exists(path)) {
        std::fprintf(stderr, "generating %s (100 000 patients, 1 000 000 memos)...\n",
                     qPrintable(path));
        Generate(path);
    }
    ConsolePrompter prompter("bench");
    SystemClock clock;
    NoWaitCursor wait;
    ProcessExit end;
    AppContext ctx(QDir::tempPath(), prompter, clock, wait, end);
    ctx.settings.SystemDB = path;
    const QByteArray p8 = path.toUtf8();
    const int base = kHeavyChart / 10;

    struct Row {
        const char* name;
        double ours;
        double floor;
    };
    std::vector<Row> rows;
    const int runs = 200;
    rows.push_back(
        {"ReadCommon L (10 000 memos)",
         Measure([&] { (void)ReadCommon(ctx, 1, BaseChartNo(base), FetchMode::Latest, 0); }, runs),
         Measure(
             [&] {
                 Floor(p8,
                       "Select * From tblDatCommon Where (FormCode = ?) And (KarteNo = ?) "
                       "Order By CreDate Desc, MainKey Desc",
                       {1, base}, -1);
             },
             runs)});
    rows.push_back({"date list (10 000 rows)",
                    Measure([&] { ReadDateList(ctx, 1, BaseChartNo(base)); }, 50),
                    Measure(
                        [&] {
                            Floor(p8,
                                  "Select CreDate, MainKey From tblDatCommon Where (FormCode = ?) "
                                  "And (KarteNo = ?) "
                                  "Order By CreDate Desc, MainKey Desc",
                                  {1, base}, 2);
                        },
                        50)});
    rows.push_back(
        {"history (10 000 memos)",
         Measure([&] { HistoryText(ctx, 1, BaseChartNo(base), HistoryOrder::NewestFirst); }, 50),
         Measure(
             [&] {
                 Floor(
                     p8,
                     "Select CreDate, LText001 AS INFO From tblDatCommon Where (FormCode = ?) And "
                     "(KarteNo = ?) Order By CreDate Desc, MainKey Desc",
                     {1, base}, 2);
             },
             50)});
    rows.push_back(
        {"LookUpPatient", Measure([&] { (void)LookUpPatient(ctx, FullChartNo(100777)); }, runs),
         Measure(
             [&] { Floor(p8, "Select * From 患者マスター Where (カルテ番号 = ?)", {100777}, 13); },
             runs)});
    for (const auto& r : rows) {
        std::printf("%-34s %9.1f µs %9.1f µs %6.2f×  ratio ≤ 2×\n", r.name, r.ours, r.floor,
                    r.ours / r.floor);
    }
    return 0;
}
