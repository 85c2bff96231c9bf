// Patient switch and save on the main window offscreen, beside the floor of
// the same statements through the sqlite3 C API (open and close per statement).
#include "bench_window.h"

#include <sqlite3.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "admin/db_tool.h"
#include "core/app_context.h"
#include "core/app_settings.h"
#include "core/console_prompter.h"
#include "core/ini_file.h"
#include "data/access_log.h"
#include "data/db_connection.h"
#include "data/memo_search.h"
#include "data/memo_store.h"
#include "data/revisions.h"
#include "data/system_db.h"
#include "data/tables.h"
#include "find_control.h"
#include "gui/gui_setup.h"
#include "median.h"
#include "ui/main/frm_ondrel.h"

using namespace ondrel;

namespace {

// VmRSS of this process.
double ResidentMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024;
    }
    return -1;
}

}  // namespace
using ondrel::test::Ctl;

namespace {

// Median in milliseconds.
double Ms(const std::function<void()>& op, int runs) { return bench::Median(op, runs) * 1e3; }

void Generate(const QString& path) {
    if (!tool::InitDatabase(path).isEmpty()) std::exit(1);
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    RegisterSearchFold(db);  // the search index's triggers call it
    bench::Exec(db, "BEGIN");
    bench::Exec(
        db,
        "INSERT INTO 患者マスター (カルテ番号, 氏名, 性別コード, 年号, 生年, 月, 日) VALUES "
        "(10001, '千件　太郎', '1', 'S', '45', '3', '12'), (20002, '万件　花子', '2', 'H', '4', "
        "'2', '29')");
    sqlite3_stmt* s = nullptr;
    // The program's own insert; the slots not bound here stay NULL.
    sqlite3_prepare_v2(db, tables::MemoInsert().toUtf8().constData(), -1, &s, nullptr);
    const QByteArray memo =
        QStringLiteral("塩分を控えめにするよう指導。\r\n毎日三十分の散歩を勧めた。").toUtf8();
    auto add = [&](int chart, int n) {
        for (int i = 0; i < n; ++i) {
            const QByteArray date =
                QDate(2000, 1, 1).addDays(i % 9000).toString(Qt::ISODate).toLatin1();
            sqlite3_bind_int(s, 1, 0);
            sqlite3_bind_int(s, 2, chart / 10);
            sqlite3_bind_int(s, 3, chart);
            sqlite3_bind_text(s, 4, date.constData(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(s, 5, memo.constData(), -1, SQLITE_STATIC);
            sqlite3_step(s);
            sqlite3_reset(s);
        }
    };
    add(10001, 1000);
    add(20002, 10000);
    sqlite3_finalize(s);
    bench::Exec(db, "COMMIT");
    sqlite3_close(db);
}

// One statement the way the program runs it: open, run to the end, close.
void FloorQuery(const QByteArray& path, const char* sql, int bind) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &s, nullptr);
    sqlite3_bind_int(s, 1, bind);
    volatile size_t sink = 0;
    while (sqlite3_step(s) == SQLITE_ROW) {
        for (int c = 0; c < sqlite3_column_count(s); ++c)
            sink = sink + size_t(sqlite3_column_bytes16(s, c));
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
}

void FloorSwitch(const QByteArray& path, int chart) {
    FloorQuery(path, "Select * From 患者マスター Where (カルテ番号 = ?)", chart);
    FloorQuery(path,
               "Select CreDate, MainKey From tblDatCommon Where (FormCode = 0) And (KarteNo = ?) "
               "Order By CreDate Desc, MainKey Desc",
               chart / 10);
    FloorQuery(path,
               "Select * From tblDatCommon Where (FormCode = 0) And (KarteNo = ?) "
               "Order By CreDate Desc, MainKey Desc Limit 1",
               chart / 10);
    FloorQuery(path,
               "Select CreDate, LText000 From tblDatCommon Where (FormCode = 0) And (KarteNo = ?) "
               "Order By CreDate Desc, MainKey Desc",
               chart / 10);
}

void FloorDurableUpdate(const QByteArray& path, int key) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    bench::Exec(db, "PRAGMA synchronous=FULL");
    bench::Exec(db, "BEGIN IMMEDIATE");
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(
        db, "Update tblDatCommon Set CreDate = '2020-01-01', LText000 = 'x' Where (MainKey = ?)",
        -1, &s, nullptr);
    sqlite3_bind_int(s, 1, key);
    sqlite3_step(s);
    sqlite3_finalize(s);
    bench::Exec(db, "COMMIT");
    sqlite3_close(db);
}

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetUpApplication(app);
    const QString dbPath = QDir(QCoreApplication::applicationDirPath()).filePath("bench-window.db");
    if (!QFile::exists(dbPath)) Generate(dbPath);
    bench::BenchWindow b(dbPath);
    AppContext& ctx = b.ctx;
    FrmOndrel& w = *b.w;
    auto switchTo = [&](const char* chart) { b.SwitchTo(chart); };
    const QByteArray p8 = dbPath.toUtf8();
    // Memory that stays after switches between the two largest patients:
    // what the first switch leaves, then after 50 more.
    auto settled = [] {
        QElapsedTimer settle;
        settle.start();
        while (settle.elapsed() < 1000) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        return ResidentMb();
    };
    switchTo("20002");
    const double firstMb = settled();
    for (int i = 0; i < 25; ++i) {
        switchTo("10001");
        switchTo("20002");
    }
    const double fiftyMb = settled();
    switchTo("10001");
    const auto s1k =
        bench::MedianPairs([&] { switchTo("10001"); }, [&] { FloorSwitch(p8, 10001); }, 31);
    const auto s10k =
        bench::MedianPairs([&] { switchTo("20002"); }, [&] { FloorSwitch(p8, 20002); }, 15);
    switchTo("10001");
    const int key = *w.MainKeyShown(0);
    int n = 0;
    const auto save =
        bench::MedianPairs([&] { w.Rtn_DataSave(false); }, [&] { FloorDurableUpdate(p8, key); }, 31,
                           [&] { b.Type(QStringLiteral("保存 %1").arg(++n)); });
    // What the records add to a save: the same update with and without its
    // revision and access record, alternated.
    auto update = [&](bool withRecords) {
        WithSystemDb(ctx, [&](DbConnection& cn) {
            BeginTransaction(cn);
            RunChange(cn,
                      "Update tblDatCommon Set RowVersion = RowVersion + 1, LText000 = 'r' "
                      "Where MainKey = ?",
                      {key});
            size_t sent = 0;
            if (withRecords) {
                const QVariantList row = *MemoRowValues(cn, key);
                AppendRevision(cn, key, QStringLiteral("update"), row);
                sent = AppendAccess(ctx, cn, ChartOf(row), AccessAction::Saved);
            }
            CommitWithAccess(ctx, cn, sent);
        });
    };
    const auto records = bench::MedianPairs([&] { update(true); }, [&] { update(false); }, 31);
    if (qEnvironmentVariableIsSet("ONDREL_BENCH_PARTS")) {
        std::printf(
            "  save parts: update %.2f ms, history %.2f ms (text %.2f ms), events %.2f ms\n",
            Ms(
                [&] {
                    if (const auto memo =
                            ReadCommon(ctx, 0, BaseChartNo(1000), FetchMode::Latest, 0))
                        UpdateCommon(ctx, *memo);
                },
                15),
            Ms([&] { w.Rtn_PastDisp(0); }, 15),
            Ms([&] { HistoryText(ctx, 0, BaseChartNo(1000), HistoryOrder::NewestFirst); }, 15),
            Ms([&] { QCoreApplication::processEvents(); }, 15));
    }
    if (qEnvironmentVariableIsSet("ONDREL_BENCH_PARTS")) {
        switchTo("20002");
        std::printf(
            "  date list %.2f ms, latest %.2f ms, history %.2f ms, history text only %.2f ms\n",
            Ms([&] { w.Rtn_DateListDisp(0); }, 9),
            Ms([&] { w.Rtn_DataDispTab(DispMode::L, 0); }, 9), Ms([&] { w.Rtn_PastDisp(0); }, 9),
            Ms([&] { HistoryText(ctx, 0, BaseChartNo(2000), HistoryOrder::NewestFirst); }, 9));
        switchTo("10001");
    }
    auto row = [](const char* measure, const bench::Paired& p, const char* goal) {
        std::printf("%-34s %9.2f ms %9.2f ms %6.2f×  ratio ≤ %s\n", measure, p.ours * 1e3,
                    p.floor * 1e3, p.ratio, goal);
    };
    row("patient switch, 1 000 memos", s1k, "3×");
    row("patient switch, 10 000 memos", s10k, "3×");
    row("save, 1 000 memos", save, "1.5×");
    std::printf("%-34s %9.2f ms %9.2f ms %+6.2f ms  ≤ +0.5 ms\n",
                "save's records (revision, access)", records.ours * 1e3, records.floor * 1e3,
                (records.ours - records.floor) * 1e3);
    // What the program holds with the largest history shown in full.
    switchTo("20002");
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 1500) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    std::printf("%-34s %9.1f MB %12s %7s  ≤ 80 MB\n", "resident memory, 10 000 memos", ResidentMb(),
                "-", "-");
    std::printf("%-34s %9.1f MB %9.1f MB %6.2f×  ratio ≤ 1.2×\n", "resident after 50 switches",
                fiftyMb, firstMb, fiftyMb / firstMb);
    return 0;
}
