// N workstations on one server at once (separate processes, each through the
// program's own data path), each switching patients and saving in a loop:
// saves per second, the median and 99th-percentile save, how often a save
// found another waiting on the chain's lock, errors; afterwards every save a
// workstation was told was done is there, and the history checks out.
//   bench_load URI [SECONDS]                 N = 1, 5, 20, 50
//   bench_load --worker URI SECONDS INDEX    one workstation (prints its saves)
#include <libpq-fe.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <thread>

#include "admin/db_tool.h"
#include "core/app_context.h"
#include "core/app_error.h"
#include "core/console_prompter.h"
#include "data/db_connection.h"
#include "data/memo_store.h"
#include "data/patient_lookup.h"
#include "data/revisions.h"
#include "data/session.h"

using namespace ondrel;

namespace {

constexpr int kPatients = 200;

// One workstation: reads a patient as a switch does, then saves a memo of
// its own (a new one every tenth time, else the one it has), for `seconds`.
// Prints "saved KEY TEXT-TAG" per save told done and "t MICROSECONDS" for
// each save's time; errors as "error WHAT".
int Worker(const QString& uri, int seconds, int index) {
    ConsolePrompter prompter("bench");
    SystemClock clock;
    NoWaitCursor wait;
    ProcessExit end;
    QTemporaryDir dir;
    AppContext ctx(dir.path(), prompter, clock, wait, end);
    ctx.settings.SystemDB = uri;
    QElapsedTimer total;
    total.start();
    std::optional<CommonRecord> mine;
    int n = 0;
    while (total.elapsed() < seconds * 1000) {
        const int chart = 100000 + int(QRandomGenerator::global()->bounded(kPatients)) * 10;
        try {
            CommandConnection command(ctx);
            (void)LookUpPatient(ctx, FullChartNo(chart));
            (void)ReadHistory(ctx, 0, BaseChartNo(chart / 10), HistoryOrder::NewestFirst);
            (void)ReadCommon(ctx, 0, BaseChartNo(chart / 10), FetchMode::Latest, 0);
        } catch (const AppError& e) {
            std::printf("error read %s\n", qPrintable(e.detail().left(80)));
            continue;
        }
        const QString tag = QStringLiteral("w%1-%2").arg(index).arg(++n);
        QElapsedTimer t;
        t.start();
        try {
            if (!mine || n % 10 == 0) {
                CommonRecord r;
                r.FormCode = 0;
                r.KarteNo = BaseChartNo(chart / 10);
                r.KarteNoBranch = FullChartNo(chart);
                r.CreDate = QStringLiteral("2026/12/11");
                r.LText[0] = tag;
                r.MainKey = InsertCommon(ctx, r);
                mine = r;
            } else {
                mine->LText[0] = tag;
                if (UpdateCommon(ctx, *mine) != WriteOutcome::Done) {
                    std::printf("error changed elsewhere\n");
                    mine.reset();
                    continue;
                }
                ++mine->RowVersion;
            }
            std::printf("t %lld\nsaved %d %s\n", t.nsecsElapsed() / 1000, mine->MainKey,
                        qPrintable(tag));
        } catch (const AppError& e) {
            std::printf("error save %s\n", qPrintable(e.detail().left(80)));
            mine.reset();
        }
    }
    return 0;
}

PGconn* Connect(const QString& uri) {
    PGconn* c = PQconnectdb(uri.toUtf8().constData());
    if (PQstatus(c) != CONNECTION_OK) {
        std::fprintf(stderr, "bench_load: %s\n", PQerrorMessage(c));
        std::exit(1);
    }
    return c;
}

QString Scalar(PGconn* c, const QString& sql) {
    PGresult* r = PQexec(c, sql.toUtf8().constData());
    const QString v = PQntuples(r) > 0 ? QString::fromUtf8(PQgetvalue(r, 0, 0)) : QString();
    PQclear(r);
    return v;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == u"--worker")
        return Worker(args.value(1), args.value(2).toInt(), args.value(3).toInt());
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: bench_load BASE_URI [SECONDS]\n");
        return 2;
    }
    const int seconds = args.size() > 1 ? args[1].toInt() : 60;
    double singleMedian = 0;
    for (const int n : {1, 5, 20, 50}) {
        // A database of its own for each N, made as a clinic makes it.
        QUrl base(args[0]);
        const QString name = QStringLiteral("bench_load_%1").arg(n);
        {
            PGconn* admin = Connect(base.toString());
            PQclear(PQexec(admin, ("DROP DATABASE IF EXISTS " + name).toUtf8().constData()));
            PQclear(PQexec(admin, ("CREATE DATABASE " + name).toUtf8().constData()));
            PQfinish(admin);
        }
        QUrl owner = base;
        owner.setPath(u'/' + name);
        if (const QString e = tool::InitDatabase(owner.toString()); !e.isEmpty()) {
            std::fprintf(stderr, "bench_load: %s\n", qPrintable(e));
            return 1;
        }
        PGconn* c = Connect(owner.toString());
        PQclear(PQexec(c, QStringLiteral("INSERT INTO 患者マスター (カルテ番号, 氏名) SELECT "
                                         "100000 + g * 10, '負荷　試験' FROM generate_series(0, "
                                         "%1) g")
                              .arg(kPatients - 1)
                              .toUtf8()
                              .constData()));
        QUrl ws = owner;
        ws.setUserName(QStringLiteral("ondrel_ws"));
        // Waiters on the chain's lock, looked at every 20 ms meanwhile.
        std::atomic<bool> running{true};
        std::atomic<long> looks{0}, waited{0};
        std::thread watcher([&] {
            PGconn* w = Connect(owner.toString());
            while (running) {
                const int waiting =
                    Scalar(w,
                           "SELECT count(*) FROM pg_locks WHERE locktype = 'advisory' AND "
                           "NOT granted")
                        .toInt();
                ++looks;
                if (waiting > 0) ++waited;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            PQfinish(w);
        });
        std::vector<std::unique_ptr<QProcess>> workers;
        for (int i = 0; i < n; ++i) {
            auto p = std::make_unique<QProcess>();
            p->start(QCoreApplication::applicationFilePath(),
                     {"--worker", ws.toString(), QString::number(seconds), QString::number(i)});
            workers.push_back(std::move(p));
        }
        std::vector<double> times;
        int errors = 0;
        std::vector<std::pair<int, QString>> saved;
        for (auto& p : workers) {
            p->waitForFinished(-1);
            for (const QByteArray& line : p->readAllStandardOutput().split('\n')) {
                if (line.startsWith("t ")) times.push_back(line.mid(2).toDouble() / 1000.0);
                if (line.startsWith("error")) ++errors;
                if (line.startsWith("saved ")) {
                    const QList<QByteArray> f = line.split(' ');
                    saved.emplace_back(f[1].toInt(), QString::fromUtf8(f[2]));
                }
            }
        }
        running = false;
        watcher.join();
        // The last text told saved of each memo is the one stored.
        std::map<int, QString> last;
        for (const auto& [key, tag] : saved) last[key] = tag;
        int missing = 0;
        for (const auto& [key, tag] : last) {
            if (Scalar(c, QStringLiteral("SELECT LText000 FROM tblDatCommon WHERE MainKey = %1")
                              .arg(key)) != tag)
                ++missing;
        }
        PQfinish(c);
        DbConnection cn;
        QStringList problems{QStringLiteral("cannot open")};
        if (OpenDbConnectionAt(owner.toString(), cn)) problems = VerifyRecords(cn);
        std::sort(times.begin(), times.end());
        const double median = times.empty() ? 0 : times[times.size() / 2];
        const double p99 =
            times.empty() ? 0 : times[std::min(times.size() - 1, times.size() * 99 / 100)];
        if (n == 1) singleMedian = median;
        std::printf(
            "%-34s %9.1f /s  median %.2f ms  p99 %.2f ms  lock waits in %.0f%% of looks  "
            "errors %d  missing %d  verify %s\n",
            qPrintable(QStringLiteral("load: %1 workstations, %2 s").arg(n).arg(seconds)),
            double(times.size()) / seconds, median, p99,
            looks ? 100.0 * double(waited) / double(looks) : 0.0, errors, missing,
            problems.isEmpty() ? "clean" : qPrintable(problems.join(u' ').left(60)));
        if (n == 20)
            std::printf("%-34s %9.2f ms %9.2f ms %6.2f×  p99 ≤ 3× one workstation's median\n",
                        "load: 20 workstations, p99 save", p99, singleMedian, p99 / singleMedian);
    }
    return 0;
}
