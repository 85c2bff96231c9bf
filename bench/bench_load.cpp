// N workstations on one server at once (separate processes, each through the
// program's own data path), each switching patients and saving in a loop:
// saves per second, the median and 99th-percentile save, how often a save
// found another waiting on the chain's lock, errors; afterwards every save a
// workstation was told was done is there, and the history checks out.
//   bench_load URI [SECONDS [N,N...]]        N = 1, 5, 20, 50, 1@1000, 20@1000 unless given
//       (N@MS: each workstation pauses about MS milliseconds after a save, as
//       staff do between patients; otherwise none)
//   bench_load --worker URI SECONDS INDEX [MS]  one workstation (prints its saves)
//   bench_load --failover PG-CLUSTER [ROUNDS] a primary and its synchronous
//       standby (made with scripts/pg-cluster): the primary killed, the
//       standby promoted; the time from the promotion to the first save of a
//       workstation that kept trying, as a waiting window's next command.
#include <libpq-fe.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>
#include <algorithm>
#include <cstdio>
#include <map>
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

// A workstation's program without a window, on the system database `uri`.
struct Station {
    explicit Station(const QString& uri) { ctx.settings.SystemDB = uri; }
    ConsolePrompter prompter{"bench"};
    SystemClock clock;
    NoWaitCursor wait;
    ProcessExit end;
    QTemporaryDir dir;
    AppContext ctx{dir.path(), prompter, clock, wait, end};
};

// One workstation: reads a patient as a switch does, then saves a memo of
// its own (a new one every tenth time, else the one it has), for `seconds`.
// Prints "saved KEY TEXT-TAG" per save told done and "t MICROSECONDS" for
// each save's time; errors as "error WHAT". With a pause, waits half to one
// and a half times it after each save.
int Worker(const QString& uri, int seconds, int index, int pauseMs) {
    Station station(uri);
    AppContext& ctx = station.ctx;
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
            // The first save of a session also has the server make its plans.
            std::printf("%s %lld\nsaved %d %s\n", n == 1 ? "first" : "t", t.nsecsElapsed() / 1000,
                        mine->MainKey, qPrintable(tag));
            if (pauseMs > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(
                    pauseMs / 2 + int(QRandomGenerator::global()->bounded(pauseMs + 1))));
            }
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

// A database made as a clinic makes it, with the patients the workers pick
// from; its owner's URI, or empty when it cannot be made.
QString MakeLoadDatabase(const QString& baseUri, const QString& name) {
    const QUrl base(baseUri);
    {
        PGconn* admin = Connect(base.toString());
        PQclear(PQexec(admin, "SET client_min_messages = warning"));
        PQclear(PQexec(admin, ("DROP DATABASE IF EXISTS " + name).toUtf8().constData()));
        PQclear(PQexec(admin, ("CREATE DATABASE " + name).toUtf8().constData()));
        PQfinish(admin);
    }
    QUrl owner = base;
    owner.setPath(u'/' + name);
    if (const QString e = tool::InitDatabase(owner.toString()); !e.isEmpty()) {
        std::fprintf(stderr, "bench_load: %s\n", qPrintable(e));
        return {};
    }
    PGconn* c = Connect(owner.toString());
    PQclear(PQexec(c, QStringLiteral("INSERT INTO 患者マスター (カルテ番号, 氏名) SELECT "
                                     "100000 + g * 10, '負荷　試験' FROM generate_series(0, "
                                     "%1) g")
                          .arg(kPatients - 1)
                          .toUtf8()
                          .constData()));
    PQfinish(c);
    return owner.toString();
}

// scripts/pg-cluster's words on its output ("FOLDER URI" for start and standby).
QStringList Cluster(const QString& script, const QStringList& args) {
    QProcess p;
    p.start(script, args);
    if (!p.waitForFinished(120000) || p.exitCode() != 0) return {};
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed().split(u' ');
}

int Failover(const QString& script, int rounds) {
    std::vector<double> waits, promotions;
    for (int round = 0; round < rounds; ++round) {
        struct Clusters {
            QString script;
            QStringList folders;
            ~Clusters() {
                for (const QString& f : folders) Cluster(script, {QStringLiteral("stop"), f});
            }
        } clusters{script, {}};
        const QStringList primary = Cluster(script, {QStringLiteral("start")});
        if (primary.size() != 2) return 1;
        clusters.folders << primary[0];
        const QString owner = MakeLoadDatabase(primary[1], QStringLiteral("bench_failover"));
        if (owner.isEmpty()) return 1;
        const QStringList standby = Cluster(script, {QStringLiteral("standby"), primary[0]});
        if (standby.size() != 2) return 1;
        clusters.folders << standby[0];
        // The workstation names both servers; the one that takes writes is used.
        QUrl ws(owner);
        ws.setUserName(QStringLiteral("ondrel_ws"));
        QUrlQuery query;
        const auto port = [](const QString& u) {
            return QUrlQuery(QUrl(u)).queryItemValue("port");
        };
        query.addQueryItem("host", primary[0] + u',' + standby[0]);
        query.addQueryItem("port", port(primary[1]) + u',' + port(standby[1]));
        query.addQueryItem("target_session_attrs", "read-write");
        ws.setQuery(query);
        Station station(ws.toString());
        AppContext& ctx = station.ctx;
        CommonRecord memo;
        memo.FormCode = 0;
        memo.KarteNo = BaseChartNo(10000);
        memo.KarteNoBranch = FullChartNo(100000);
        memo.CreDate = QStringLiteral("2026/12/11");
        const auto save = [&](const QString& text) {
            try {
                memo.LText[0] = text;
                if (UpdateCommon(ctx, memo) != WriteOutcome::Done) return false;
                ++memo.RowVersion;
                return true;
            } catch (const AppError&) {
                return false;
            }
        };
        try {
            memo.MainKey = InsertCommon(ctx, memo);
        } catch (const AppError& e) {
            std::fprintf(stderr, "bench_load: %s\n", qPrintable(e.detail()));
            return 1;
        }
        for (int i = 0; i < 20; ++i) save(QStringLiteral("前 %1").arg(i));
        Cluster(script, {QStringLiteral("kill"), primary[0]});
        if (save(QStringLiteral("障害の間"))) {
            std::fprintf(stderr, "bench_load: saved with the primary gone\n");
            return 1;
        }
        QElapsedTimer t;
        t.start();
        Cluster(script, {QStringLiteral("promote"), standby[0]});
        promotions.push_back(double(t.nsecsElapsed()) / 1e6);
        t.restart();
        bool saved = false;
        while (!(saved = save(QStringLiteral("障害の後"))) && t.elapsed() < 30000)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!saved) {
            std::fprintf(stderr, "bench_load: no save 30 s after the promotion\n");
            return 1;
        }
        waits.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(waits.begin(), waits.end());
    std::sort(promotions.begin(), promotions.end());
    std::printf("%-34s %9.1f ms %12s %7s  ≤ 5000 ms (promotion itself %.0f ms; %d rounds)\n",
                "failover: promotion → first save", waits[waits.size() / 2], "", "",
                promotions[promotions.size() / 2], rounds);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == u"--worker")
        return Worker(args.value(1), args.value(2).toInt(), args.value(3).toInt(),
                      args.value(4).toInt());
    if (args.value(0) == u"--failover")
        return Failover(args.value(1), args.size() > 2 ? args[2].toInt() : 3);
    if (args.isEmpty()) {
        std::fprintf(stderr, "usage: bench_load BASE_URI [SECONDS]\n");
        return 2;
    }
    const int seconds = args.size() > 1 ? args[1].toInt() : 60;
    std::map<int, double> singleMedian;  // one workstation's, by pause
    const QStringList runs =
        (args.size() > 2 ? args[2] : QStringLiteral("1,5,20,50,1@1000,20@1000"))
            .split(u',', Qt::SkipEmptyParts);
    for (const QString& run : runs) {
        const int n = run.section(u'@', 0, 0).toInt();
        const int pauseMs = run.section(u'@', 1, 1).toInt();
        // A database of its own for each N.
        const QString made =
            MakeLoadDatabase(args[0], QStringLiteral("bench_load_%1_%2").arg(n).arg(pauseMs));
        if (made.isEmpty()) return 1;
        const QUrl owner(made);
        PGconn* c = Connect(made);
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
                     {"--worker", ws.toString(), QString::number(seconds), QString::number(i),
                      QString::number(pauseMs)});
            workers.push_back(std::move(p));
        }
        std::vector<double> times, firsts;
        int errors = 0;
        std::vector<std::pair<int, QString>> saved;
        for (auto& p : workers) {
            p->waitForFinished(-1);
            for (const QByteArray& line : p->readAllStandardOutput().split('\n')) {
                if (line.startsWith("t ")) times.push_back(line.mid(2).toDouble() / 1000.0);
                if (line.startsWith("first ")) firsts.push_back(line.mid(6).toDouble() / 1000.0);
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
        if (n == 1) singleMedian[pauseMs] = median;
        const QString label =
            pauseMs > 0
                ? QStringLiteral("load: %1 ws, pause %2 ms, %3 s").arg(n).arg(pauseMs).arg(seconds)
                : QStringLiteral("load: %1 workstations, %2 s").arg(n).arg(seconds);
        std::printf(
            "%-34s %9.1f /s  median %.2f ms  p99 %.2f ms  first saves up to %.0f ms  "
            "lock waits in %.0f%% of looks  errors %d  missing %d  verify %s\n",
            qPrintable(label), double(times.size() + firsts.size()) / seconds, median, p99,
            firsts.empty() ? 0.0 : *std::max_element(firsts.begin(), firsts.end()),
            looks ? 100.0 * double(waited) / double(looks) : 0.0, errors, missing,
            problems.isEmpty() ? "clean" : qPrintable(problems.join(u' ').left(60)));
        if (n == 20 && singleMedian.count(pauseMs)) {
            const double one = singleMedian[pauseMs];
            std::printf("%-34s %9.2f ms %9.2f ms %6.2f×  p99 ≤ 3× one workstation's median\n",
                        pauseMs > 0 ? "load: 20 ws paused, p99 save" : "load: 20 ws, p99 save", p99,
                        one, p99 / one);
        }
    }
    return 0;
}
