// Patient switch and save on the main window with the system database on a
// PostgreSQL server (ONDREL_BENCH_PG: the server's base URI), beside the
// floor: the same statements through libpq on one kept connection over the
// Unix socket. Also what one new connection costs, the reason the program
// keeps its server connection from one command to the next.
#include <libpq-fe.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "admin/db_tool.h"
#include "bench_window.h"
#include "core/app_context.h"
#include "core/app_settings.h"
#include "core/console_prompter.h"
#include "core/db_target.h"
#include "core/ini_file.h"
#include "data/db_connection.h"
#include "find_control.h"
#include "gui/gui_setup.h"
#include "median.h"
#include "ui/main/frm_ondrel.h"

using namespace ondrel;

namespace {

// libpq's own form of the URI (it reads "?host=/socket/folder" itself).
QByteArray Conninfo(const QString& uri) { return uri.toUtf8(); }

PGconn* Connect(const QString& uri) {
    PGconn* c = PQconnectdb(Conninfo(uri).constData());
    if (PQstatus(c) != CONNECTION_OK) {
        std::fprintf(stderr, "bench_server: %s\n", PQerrorMessage(c));
        std::exit(1);
    }
    return c;
}

void Query(PGconn* c, const char* sql, int value) {
    const QByteArray v = QByteArray::number(value);
    const char* params[] = {v.constData()};
    const int count = std::strstr(sql, "$1") ? 1 : 0;
    PGresult* r = PQexecParams(c, sql, count, nullptr, params, nullptr, nullptr, 0);
    if (PQresultStatus(r) != PGRES_TUPLES_OK && PQresultStatus(r) != PGRES_COMMAND_OK) {
        std::fprintf(stderr, "bench_server: %s\n", PQresultErrorMessage(r));
        std::exit(1);
    }
    volatile size_t sink = 0;
    for (int row = 0; row < PQntuples(r); ++row) {
        for (int col = 0; col < PQnfields(r); ++col) sink = sink + size_t(PQgetlength(r, row, col));
    }
    PQclear(r);
}

void FloorSwitch(PGconn* c, int chart) {
    Query(c, "Select * From 患者マスター Where (カルテ番号 = $1)", chart);
    Query(c,
          "Select CreDate, MainKey, LText000 From tblDatCommon Where (FormCode = 0) And "
          "(KarteNo = $1) Order By CreDate Desc, MainKey Desc",
          chart / 10);
    Query(c,
          "Select * From tblDatCommon Where (FormCode = 0) And (KarteNo = $1) "
          "Order By CreDate Desc, MainKey Desc Limit 1",
          chart / 10);
}

void FloorSave(PGconn* c, int key) {
    Query(c, "Begin", 0);
    Query(c,
          "Update tblDatCommon Set RowVersion = RowVersion + 1, CreDate = '2020-01-01', "
          "LText000 = 'x' Where (MainKey = $1)",
          key);
    Query(c, "Commit", 0);
}

}  // namespace

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SetUpApplication(app);
    const QString base = qEnvironmentVariable("ONDREL_BENCH_PG");
    if (base.isEmpty()) {
        std::fprintf(stderr, "bench_server: ONDREL_BENCH_PG is not set\n");
        return 1;
    }
    // The window bench's database, copied to a database of its own.
    const QString file = QDir(QCoreApplication::applicationDirPath()).filePath("bench-window.db");
    QUrl url(base);
    url.setPath(QStringLiteral("/bench_server"));
    const QString uri = url.toString();
    {
        PGconn* admin = Connect(base);
        PQclear(PQexec(admin, "DROP DATABASE IF EXISTS bench_server"));
        PQclear(PQexec(admin, "CREATE DATABASE bench_server"));
        PQfinish(admin);
    }
    if (const QString error = tool::CopyDatabase(file, uri); !error.isEmpty()) {
        std::fprintf(stderr, "bench_server: %s\n", qPrintable(error));
        return 1;
    }
    PGconn* floor = Connect(uri);
    PQclear(PQexec(floor, "ANALYZE"));

    bench::BenchWindow b(uri);
    FrmOndrel& w = *b.w;
    auto switchTo = [&](const char* chart) { b.SwitchTo(chart); };
    switchTo("20002");
    switchTo("10001");
    const auto s1k =
        bench::MedianPairs([&] { switchTo("10001"); }, [&] { FloorSwitch(floor, 10001); }, 31);
    const auto s10k =
        bench::MedianPairs([&] { switchTo("20002"); }, [&] { FloorSwitch(floor, 20002); }, 15);
    switchTo("10001");
    const int key = *w.MainKeyShown(0);
    // The floor writes a memo of another patient: the window's memo stays at
    // the version it read.
    const int floorKey = 1;
    Q_UNUSED(key);
    int n = 0;
    const auto save =
        bench::MedianPairs([&] { w.Rtn_DataSave(false); }, [&] { FloorSave(floor, floorKey); }, 31,
                           [&] { b.Type(QStringLiteral("保存 %1").arg(++n)); });
    const double connect = bench::Median([&] { PQfinish(Connect(uri)); }, 15);
    // What of a switch is the window's own layout and paint of the new
    // patient, after the reads: the floor has no window.
    auto layoutAndPaint = [&](const char* chart, int runs) {
        return bench::MedianPairs(
            [&] { QCoreApplication::processEvents(); }, [&] { FloorSwitch(floor, 10001); }, runs,
            [&] {
                test::Ctl<QLineEdit>(w, "txtPersonalID")->setText(QString::fromLatin1(chart));
                w.Rtn_DataDispMain();
            });
    };
    const auto drawn = layoutAndPaint("10001", 31);
    const auto drawn10k = layoutAndPaint("20002", 15);
    PQfinish(floor);

    auto row = [](const char* measure, const bench::Paired& p) {
        std::printf("%-34s %9.2f ms %9.2f ms %6.2f×  ratio ≤ 2×\n", measure, p.ours * 1e3,
                    p.floor * 1e3, p.ratio);
    };
    row("server: patient switch, 1 000", s1k);
    std::printf("%-34s %9.2f ms %12s %7s  (of the 1 000 switch; 2× its floor is %.2f ms)\n",
                "  its layout and paint alone", drawn.ours * 1e3, "-", "-", 2 * s1k.floor * 1e3);
    row("server: patient switch, 10 000", s10k);
    // The switch's own work: the whole less its layout and paint, both measured here.
    auto own = [](const char* measure, const bench::Paired& whole, const bench::Paired& paint) {
        const double ours = std::max(0.0, whole.ours - paint.ours);
        std::printf("%-34s %9.2f ms %9.2f ms %6.2f×  ratio ≤ 2×\n", measure, ours * 1e3,
                    whole.floor * 1e3, ours / whole.floor);
    };
    own("  its own work, 1 000", s1k, drawn);
    own("  its own work, 10 000", s10k, drawn10k);
    row("server: save, 1 000 memos", save);
    std::printf("%-34s %9.2f ms %12s %7s  (kept: not paid per command)\n",
                "server: one new connection", connect * 1e3, "-", "-");
    return 0;
}
