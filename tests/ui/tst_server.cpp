// Several workstations on one system database, and a database server that
// is not there: nothing typed is lost, nothing of another workstation's work
// is overwritten, and the window never ends for it.
#include <signal.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QUrlQuery>
#include <QtTest>
#include <functional>

#include "app/start_program.h"
#include "core/blocking_call.h"
#include "core/db_target.h"
#include "core/startup.h"
#include "data/db_connection.h"
#include "data/revisions.h"
#include "report/office.h"
#include "ui_fixture.h"

using namespace ondrel;
using namespace ondrel::test;

class TstServer : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() { SetUpApplication(*qApp); }
    void uriForms_data();
    void uriForms();
    void unreachableServerAtStart();
    void twoWorkstations_data();
    void twoWorkstations();
    void deleteAfterAnotherWorkstation_data();
    void deleteAfterAnotherWorkstation();
    void serverStoppedDuringSave_data();
    void serverStoppedDuringSave();
    void refusedRight_data();
    void refusedRight();
    void silentServer_data();
    void silentServer();
    void unansweredCommit_data();
    void unansweredCommit();
    void failoverToTheStandby_data();
    void failoverToTheStandby();
};

void TstServer::uriForms_data() {
    QTest::addColumn<QString>("uri");
    QTest::addColumn<QString>("parsed");  // host|port|database|user|options, or "error"
    QTest::newRow("full") << "postgresql://clinic@db.local:5433/ondrel?sslmode=verify-full"
                          << "db.local|5433|ondrel|clinic|sslmode=verify-full;connect_timeout=5";
    QTest::newRow("short scheme, defaults") << "postgres:///ondrel"
                                            << "|-1|ondrel||connect_timeout=5";
    QTest::newRow("socket folder") << "postgresql:///ondrel?host=/run/postgresql&port=5432"
                                   << "/run/postgresql|5432|ondrel||connect_timeout=5";
    QTest::newRow("encoded socket host") << "postgresql://%2Ftmp%2Fpg/ondrel"
                                         << "/tmp/pg|-1|ondrel||connect_timeout=5";
    QTest::newRow("encoded socket host, user, port") << "postgresql://u@%2ftmp:6543/d"
                                                     << "/tmp|6543|d|u|connect_timeout=5";
    QTest::newRow("own timeout") << "postgresql://h/d?connect_timeout=2"
                                 << "h|-1|d||connect_timeout=2";
    QTest::newRow("a primary and its standby")
        << "postgresql://ws@a.lan:5432,b.lan:5433/ondrel?target_session_attrs=read-write"
        << "a.lan,b.lan|-1|ondrel|ws|port=5432,5433;target_session_attrs=read-write;"
           "connect_timeout=5";
    QTest::newRow("two servers, default ports") << "postgresql://a,b/ondrel"
                                                << "a,b|-1|ondrel||connect_timeout=5";
    QTest::newRow("two sockets as options")
        << "postgresql:///ondrel?host=/run/a,/run/b&port=5432,5433"
        << "/run/a,/run/b|-1|ondrel||port=5432,5433;connect_timeout=5";
    QTest::newRow("an empty server in the list") << "postgresql://a,/ondrel"
                                                 << "error";
    QTest::newRow("a port in the list not a number") << "postgresql://a:1,b:x/ondrel"
                                                     << "error";
    QTest::newRow("password in the URI") << "postgresql://u:secret@h/d"
                                         << "error";
    QTest::newRow("password as option") << "postgresql://u@h/d?password=secret"
                                        << "error";
    QTest::newRow("port not a number") << "postgresql://h/d?port=abc"
                                       << "error";
    QTest::newRow("space in a value") << "postgresql://h/d?application_name=a%20b"
                                      << "error";
}

void TstServer::uriForms() {
    QFETCH(QString, uri);
    QFETCH(QString, parsed);
    const DbTarget target = DbTarget::Of(uri);
    QVERIFY(target.IsServer());
    const auto& t = target.Server();
    const QString& error = target.Problem();
    if (parsed == u"error") {
        QVERIFY(!t);
        QVERIFY(!error.isEmpty());
        QVERIFY(!error.contains(QStringLiteral("secret")));
        return;
    }
    QVERIFY2(t, qPrintable(error));
    QCOMPARE(QStringList({t->host, QString::number(t->port), t->database, t->user, t->options})
                 .join(u'|'),
             parsed);
}

// Nothing listens there: the start ends with a message naming the server and
// the reason, within the connect timeout, as it ends for a missing file.
void TstServer::unreachableServerAtStart() {
    TestProgram p;
    p.WriteIniText({QStringLiteral("[System]"), QStringLiteral("Title=指導指示管理"),
                    QStringLiteral("SystemDB=postgresql://clinic@127.0.0.1:1/ondrel")});
    SingleInstance instance(p.Folder() + QStringLiteral("/ondrel"));
    QElapsedTimer t;
    t.start();
    auto w = StartProgram(*p.ctx, {}, instance, OfficeConfig::For(p.Folder()));
    QVERIFY(!w);
    QVERIFY(t.elapsed() < 10000);
    QCOMPARE(p.prompter.shown.size(), size_t(1));
    const QString text = p.prompter.shown[0].text;
    QVERIFY2(text.contains(QStringLiteral("127.0.0.1:1/ondrel")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("接続できません")), qPrintable(text));
    QVERIFY2(text.contains(QStringLiteral("理由")), qPrintable(text));
}

namespace {

int OtherWorkstation(const TestDbProgram& p, const QStringList& args) {
    QProcess other;
    other.start(qEnvironmentVariable("ONDREL_TEST_BIN") + QStringLiteral("/other_workstation"),
                QStringList{p.DbPath()} + args);
    if (!other.waitForFinished(30000)) return -1;
    return other.exitCode();
}

// The memo on screen saved the three ways a user does: 保存 (answered
// Yes), a change of category, the link bar's next patient.
void SaveBy(WindowFixture& f, const QString& how) {
    auto& w = *f.window;
    if (how == u"button") {
        f.prompter.Answer({true});
        Ctl<QPushButton>(w, "cmdProcess", 4)->click();
    } else if (how == u"category") {
        Ctl<QTabWidget>(w, "tabMain")->setCurrentIndex(1);
    } else {
        f.WriteLink("1", "12346");
        w.Rtn_LinkCheck();
    }
}

// The texts of the patient's category-0 memos, oldest key first.
QStringList Texts(const TestDbProgram& p) {
    QStringList texts;
    const int n = p.Scalar("Select Count(*) From tblDatCommon Where FormCode = 0").toInt();
    for (int i = 0; i < n; ++i) {
        texts << p.Scalar(
                      "Select LText000 From tblDatCommon Where FormCode = 0 "
                      "Order By MainKey Limit 1 Offset ?",
                      {i})
                     .toString();
    }
    return texts;
}

}  // namespace

// A shows the memo; B changes or deletes it; A then saves its own text, by
// the button or implicitly. B's work stays as B left it, A's text becomes a
// new memo of the same date, and A is told.
void TstServer::twoWorkstations_data() {
    QTest::addColumn<QString>("other");
    QTest::addColumn<QString>("save");
    for (const char* other : {"change", "delete"}) {
        for (const char* save : {"button", "category", "link"})
            QTest::addRow("%s, %s", other, save) << other << save;
    }
}

void TstServer::twoWorkstations() {
    QFETCH(QString, other);
    QFETCH(QString, save);
    WindowFixture f;
    const qint32 key = f.AddMemo(0, 12345, "2024-04-01", "共通");
    f.Open();
    auto& w = *f.window;
    Ctl<QPlainTextEdit>(w, "txtLData", 0)->setPlainText(QStringLiteral("共通 A の追記"));
    QStringList args{other, QString::number(key), QStringLiteral("0"), QStringLiteral("12345")};
    if (other == u"change") args << QStringLiteral(" B の追記");
    QCOMPARE(OtherWorkstation(f, args), 0);

    SaveBy(f, save);
    const QStringList expected = other == u"change" ? QStringList{QStringLiteral("共通 B の追記"),
                                                                  QStringLiteral("共通 A の追記")}
                                                    : QStringList{QStringLiteral("共通 A の追記")};
    QCOMPARE(Texts(f), expected);
    QCOMPARE(f.Scalar("Select Count(*) From tblDatCommon Where CreDate = '2024-04-01'").toInt(),
             expected.size());
    const QString told = f.prompter.Texts().join(u'\n');
    QVERIFY2(told.contains(QStringLiteral("新しいメモとして保存しました")), qPrintable(told));
    QVERIFY(told.contains(other == u"change" ? QStringLiteral("変更されていました")
                                             : QStringLiteral("削除されていました")));
    if (save == u"button") {
        // The page shows the lists as they now are, with A's memo on it.
        QCOMPARE(Ctl<QPlainTextEdit>(w, "txtLData", 0)->toPlainText(),
                 QStringLiteral("共通 A の追記"));
        QCOMPARE(w.RowShown(0), 1);  // equal dates: the later key first
        // and a second save of it is a plain save
        f.prompter.shown.clear();
        Ctl<QPlainTextEdit>(w, "txtLData", 0)->setPlainText(QStringLiteral("共通 A の再保存"));
        f.prompter.Answer({true});
        Ctl<QPushButton>(w, "cmdProcess", 4)->click();
        QVERIFY(f.prompter.Texts().filter(QStringLiteral("他の端末")).isEmpty());
        QVERIFY(Texts(f).contains(QStringLiteral("共通 A の再保存")));
    }
}

// A deletes a memo that B changed (nothing is deleted; A sees B's version) or
// already deleted (A is told; the lists refresh).
void TstServer::deleteAfterAnotherWorkstation_data() {
    QTest::addColumn<QString>("other");
    QTest::newRow("changed") << "change";
    QTest::newRow("deleted") << "delete";
}

void TstServer::deleteAfterAnotherWorkstation() {
    QFETCH(QString, other);
    WindowFixture f;
    f.AddMemo(0, 12345, "2024-03-01", "古い");
    const qint32 key = f.AddMemo(0, 12345, "2024-04-01", "共通");
    f.Open();
    auto& w = *f.window;
    QStringList args{other, QString::number(key), QStringLiteral("0"), QStringLiteral("12345")};
    if (other == u"change") args << QStringLiteral(" B の追記");
    QCOMPARE(OtherWorkstation(f, args), 0);
    f.prompter.Answer({true});
    Ctl<QPushButton>(w, "cmdProcess", 3)->click();
    const QString told = f.prompter.Texts().join(u'\n');
    if (other == u"change") {
        QVERIFY2(told.contains(QStringLiteral("削除しませんでした")), qPrintable(told));
        QCOMPARE(Texts(f), (QStringList{QStringLiteral("古い"), QStringLiteral("共通 B の追記")}));
        QCOMPARE(w.MainKeyShown(0), std::optional<qint32>(key));
        QCOMPARE(Ctl<QPlainTextEdit>(w, "txtLData", 0)->toPlainText(),
                 QStringLiteral("共通 B の追記"));
    } else {
        QVERIFY2(told.contains(QStringLiteral("既に他の端末で削除されています")), qPrintable(told));
        QCOMPARE(Texts(f), QStringList{QStringLiteral("古い")});
        QCOMPARE(Ctl<QPlainTextEdit>(w, "txtLData", 0)->toPlainText(), QStringLiteral("古い"));
    }
}

namespace {

// scripts/pg-cluster's words on its output ("FOLDER URI" for start and
// standby); empty when it failed.
QStringList PgCluster(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral(ONDREL_SOURCE_DIR "/scripts/pg-cluster"), args);
    const bool ok = p.waitForFinished(120000) && p.exitCode() == 0;
    return ok ? QString::fromUtf8(p.readAllStandardOutput()).trimmed().split(u' ') : QStringList();
}

// A test's own servers: stopped and removed, and the shared one named again,
// on every way out of the test, a failed check too.
struct OwnClusters {
    QStringList folders;
    QByteArray shared = qgetenv("ONDREL_TEST_PG");
    ~OwnClusters() {
        qputenv("ONDREL_TEST_PG", shared);
        for (const QString& f : folders) PgCluster({QStringLiteral("stop"), f});
    }
};

}  // namespace

// The server stops while the memo is on screen: the save tells the user and
// keeps the text; the link poll keeps the patient and tells once; after the
// server is back, the same save writes the text. Stopped in order, or at
// once as when its PC loses power (its connections end without a word).
void TstServer::serverStoppedDuringSave_data() {
    QTest::addColumn<QString>("mode");
    QTest::newRow("fast") << "fast";
    QTest::newRow("immediate") << "immediate";
}

void TstServer::serverStoppedDuringSave() {
    QFETCH(QString, mode);
    if (!OnServer()) QSKIP("needs the test server");
    // A server of its own: stopping the shared one would fail the other tests.
    const QStringList started = PgCluster({QStringLiteral("start")});
    QCOMPARE(started.size(), 2);
    const QString folder = started[0];
    OwnClusters cleanup{{folder}};
    auto cluster = [&](const QString& action) {
        QProcess pgctl;
        const QStringList args{QStringLiteral("-D"),
                               folder + QStringLiteral("/data"),
                               QStringLiteral("-w"),
                               QStringLiteral("-m"),
                               action == u"stop" ? mode : QStringLiteral("fast"),
                               action,
                               QStringLiteral("-l"),
                               folder + QStringLiteral("/server.log")};
        const QString ctl = QStringLiteral("/usr/lib/postgresql/15/bin/pg_ctl");
        if (geteuid() == 0) {
            pgctl.start(QStringLiteral("runuser"),
                        QStringList{QStringLiteral("-u"), QStringLiteral("postgres"),
                                    QStringLiteral("--"), ctl} +
                            args);
        } else {
            pgctl.start(ctl, args);
        }
        return pgctl.waitForFinished(60000) && pgctl.exitCode() == 0;
    };
    {
        qputenv("ONDREL_TEST_PG", started[1].toUtf8());
        WindowFixture f;
        const qint32 key = f.AddMemo(0, 12345, "2024-04-01", "前");
        f.Open();
        auto& w = *f.window;
        const QString typed = QStringLiteral("サーバー停止中に入力した内容");
        Ctl<QPlainTextEdit>(w, "txtLData", 0)->setPlainText(typed);
        QVERIFY(cluster(QStringLiteral("stop")));

        f.prompter.Answer({true});
        Ctl<QPushButton>(w, "cmdProcess", 4)->click();
        QCOMPARE(f.prompter.Texts().size(), 2);
        QVERIFY2(f.prompter.Texts().last().contains(QStringLiteral("接続できない")),
                 qPrintable(f.prompter.Texts().last()));
        QCOMPARE(Ctl<QPlainTextEdit>(w, "txtLData", 0)->toPlainText(), typed);
        QCOMPARE(w.ShownChartNo()->value, 12345);

        f.WriteLink("1", "12346");
        f.prompter.shown.clear();
        w.Rtn_LinkCheck();
        w.Rtn_LinkCheck();
        QCOMPARE(f.prompter.Texts().size(), 1);  // told once, not at every check
        QCOMPARE(w.ShownChartNo()->value, 12345);
        QCOMPARE(Ctl<QPlainTextEdit>(w, "txtLData", 0)->toPlainText(), typed);

        QVERIFY(cluster(QStringLiteral("start")));
        f.prompter.shown.clear();
        w.Rtn_LinkCheck();  // the memo is written, then the link is followed
        QVERIFY2(f.prompter.shown.empty(), qPrintable(f.prompter.Texts().join(u'|')));
        QCOMPARE(w.ShownChartNo()->value, 12346);
        QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
                 typed);

        // A restart while the window waits: the save that comes next finds
        // its kept connection gone and opens a new one, without a word.
        QCOMPARE(w.MainKeyShown(0), std::optional<qint32>(key));  // 12346 shares the chart
        const QString after = QStringLiteral("再起動の後に入力した内容");
        Ctl<QPlainTextEdit>(w, "txtLData", 0)->setPlainText(after);
        QVERIFY(cluster(QStringLiteral("restart")));
        f.WriteLink("1", "12345");
        w.Rtn_LinkCheck();
        QVERIFY2(f.prompter.shown.empty(), qPrintable(f.prompter.Texts().join(u'|')));
        QCOMPARE(w.ShownChartNo()->value, 12345);
        QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
                 after);
    }
}

// A login without a right the save needs (a role changed by hand): every
// way of saving tells the user which right is missing and what to do, the
// window keeps patient, page and text; after the owner's init gives the
// rights anew, the same action writes the text.
void TstServer::refusedRight_data() {
    QTest::addColumn<QString>("save");
    for (const char* save : {"button", "category", "link"}) QTest::newRow(save) << save;
}

void TstServer::refusedRight() {
    QFETCH(QString, save);
    if (!OnServer()) QSKIP("needs the test server");
    WindowFixture f;
    const qint32 key = f.AddMemo(0, 12345, "2024-04-01", "前");
    f.Open();
    auto& w = *f.window;
    f.Exec("REVOKE EXECUTE ON FUNCTION ondrel_memo_update FROM ondrel_users");
    const QString typed = QStringLiteral("権限のない間に入力した内容");
    Ctl<QPlainTextEdit>(w, "txtLData", 0)->setPlainText(typed);
    SaveBy(f, save);
    const QString told = f.prompter.Texts().join(u'\n');
    QVERIFY2(told.contains(QStringLiteral("アクセス権がない")), qPrintable(told));
    QVERIFY2(told.contains(QStringLiteral("ondrel_memo_update への EXECUTE")), qPrintable(told));
    QVERIFY2(told.contains(QStringLiteral("ondrel-db init")), qPrintable(told));
    QVERIFY2(told.contains(QStringLiteral("理由: permission denied")), qPrintable(told));
    QCOMPARE(w.ShownChartNo()->value, 12345);
    QCOMPARE(w.CurrentTab(), 0);
    QCOMPARE(Ctl<QPlainTextEdit>(w, "txtLData", 0)->toPlainText(), typed);
    QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
             QStringLiteral("前"));

    QProcess init;
    init.start(qEnvironmentVariable("ONDREL_TEST_BIN") + QStringLiteral("/../../tools/ondrel-db"),
               {QStringLiteral("init"), f.OwnerDbPath()});
    QVERIFY(init.waitForFinished(60000));
    QCOMPARE(init.exitCode(), 0);
    QVERIFY(QString::fromUtf8(init.readAllStandardOutput())
                .contains(QStringLiteral("権限を設定し直しました")));
    f.prompter.shown.clear();
    SaveBy(f, save);
    QVERIFY2(f.prompter.Texts().filter(QStringLiteral("アクセス権")).isEmpty(),
             qPrintable(f.prompter.Texts().join(u'|')));
    QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
             typed);
}

// The server stops answering without closing anything (its process halted,
// as a dead network looks): the command ends at the deadline, told, with
// patient and text kept; the next command, on a new connection, writes.
void TstServer::silentServer_data() {
    QTest::addColumn<QString>("command");
    for (const char* command : {"save", "link"}) QTest::newRow(command) << command;
}

void TstServer::silentServer() {
    QFETCH(QString, command);
    if (!OnServer()) QSKIP("needs the test server");
    if (::geteuid() != 0) QSKIP("halting the server's process needs root");
    WindowFixture f;
    const qint32 key = f.AddMemo(0, 12345, "2024-04-01", "前");
    f.Open();
    auto& w = *f.window;
    const QString typed = QStringLiteral("サーバーが黙っている間に入力した内容");
    Ctl<QPlainTextEdit>(w, "txtLData", 0)->setPlainText(typed);
    f.WriteLink("1", "12346");
    const QList<int> pids = [&] {
        QList<int> found;
        const QString list =
            f.Scalar(
                 "Select string_agg(pid::text, ',') From pg_stat_activity Where usename = "
                 "'ondrel_ws' And datname = current_database()")
                .toString();
        for (const QString& pid : list.split(u',', Qt::SkipEmptyParts)) found << pid.toInt();
        return found;
    }();
    QVERIFY(!pids.isEmpty());
    struct Halted {
        QList<int> pids;
        ~Halted() {
            for (int pid : pids) ::kill(pid, SIGCONT);
        }
    } halted{pids};
    for (int pid : pids) QCOMPARE(::kill(pid, SIGSTOP), 0);
    auto run = [&] {
        if (command == u"save") {
            f.prompter.Answer({true});
            Ctl<QPushButton>(w, "cmdProcess", 4)->click();
        } else {
            w.Rtn_LinkCheck();
        }
    };
    // Meanwhile the window paints, shows the wait cursor past a second and
    // does not close.
    struct Watch : QObject {
        int paintsWhileWaiting = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::Paint && BlockingCallUnderWay()) ++paintsWhileWaiting;
            return false;
        }
    } watch;
    qApp->installEventFilter(&watch);
    Qt::CursorShape cursor = Qt::ArrowCursor;
    // Looked at every 100 ms while the command waits, so a slow machine
    // cannot make the look fall before or after the wait.
    QElapsedTimer since;
    since.start();
    bool closeAsked = false;
    QTimer look;
    look.setInterval(100);
    QObject::connect(&look, &QTimer::timeout, &w, [&] {
        if (!BlockingCallUnderWay()) return;
        w.update();
        if (!closeAsked) {
            w.close();  // refused while the call is under way
            closeAsked = true;
        }
        if (since.elapsed() > 1200 && QGuiApplication::overrideCursor())
            cursor = QGuiApplication::overrideCursor()->shape();
    });
    look.start();
    {
        ShortBusyTimeout shortWait(std::chrono::milliseconds(500));
        QElapsedTimer waited;
        waited.start();
        run();
        QVERIFY2(waited.elapsed() < ServerDeadline().count() + 2000,
                 qPrintable(QString::number(waited.elapsed())));
    }
    qApp->removeEventFilter(&watch);
    look.stop();
    QVERIFY(closeAsked);
    QVERIFY(watch.paintsWhileWaiting > 0);
    QCOMPARE(cursor, Qt::WaitCursor);
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(w.isVisible());
    // The save and its COMMIT went together and no answer came: not known yet.
    const QString told = f.prompter.Texts().join(u'\n');
    QVERIFY2(told.contains(QStringLiteral("保存の完了の知らせが届きませんでした")),
             qPrintable(told));
    QCOMPARE(w.ShownChartNo()->value, 12345);
    QCOMPARE(Ctl<QPlainTextEdit>(w, "txtLData", 0)->toPlainText(), typed);
    QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
             QStringLiteral("前"));
    f.prompter.shown.clear();
    run();  // the halted process stays halted: a new connection does the work
    const QStringList then = f.prompter.Texts();
    QVERIFY2(then.filter(QStringLiteral("記録されていませんでした")).size() == 1 &&
                 then.filter(QStringLiteral("応答しない")).isEmpty(),
             qPrintable(then.join(u'|')));
    QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
             typed);
}

// The primary's PC dies while a window waits, saves or switches patient; the
// standby is promoted. The window tells the user once, keeps the text, and
// after the promotion writes on the next command through the same URI, which
// names both servers. What was answered 完了 before is on the standby, and
// the history checks out there.
namespace {

// The next memo change's COMMIT held up at the server for 3.6 s (longer than
// the program waits), then kept or failed: as a commit waiting for a
// standby, or one the server gives up. The stall is had once.
void StallNextCommit(const TestDbProgram& p, bool kept) {
    // A sequence counts outside the transaction, so a failed commit stalls once too.
    p.Exec("Create Sequence stall_commit_count");
    p.Exec("Create Table stall_commit (kept boolean)");
    p.Exec("Insert Into stall_commit Values (?)", {kept});
    p.Exec(R"sql(Create Function stall_commit() Returns trigger Language plpgsql
Security Definer As $f$
BEGIN
  IF nextval('stall_commit_count') = 1 THEN
    PERFORM pg_sleep(3.6);
    IF NOT (SELECT kept FROM stall_commit) THEN RAISE EXCEPTION 'the commit is not kept'; END IF;
  END IF;
  RETURN NULL;
END $f$)sql");
    p.Exec(
        "Create Constraint Trigger trg_stall_commit After Insert On tblDatRevision "
        "Deferrable Initially Deferred For Each Row Execute Function stall_commit()");
}

}  // namespace

// The answer to a change's COMMIT never comes: the user is told that it is
// not known yet; the next command finds out, tells which, and goes on from
// there without a second copy of the memo.
void TstServer::unansweredCommit_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("kept");
    QTest::addColumn<int>("memos");  // afterwards, as if the first had been answered
    QTest::newRow("save, kept") << "save" << true << 1;
    QTest::newRow("save, not kept") << "save" << false << 1;
    QTest::newRow("delete, kept") << "delete" << true << 0;
    QTest::newRow("new memo, kept") << "new" << true << 2;
}

void TstServer::unansweredCommit() {
    QFETCH(QString, command);
    QFETCH(bool, kept);
    QFETCH(int, memos);
    if (!OnServer()) QSKIP("needs the test server");
    WindowFixture f;
    const qint32 key = f.AddMemo(0, 12345, "2024-04-01", "前");
    f.Open();
    auto& w = *f.window;
    auto* box = Ctl<QPlainTextEdit>(w, "txtLData", 0);
    const QString typed = QStringLiteral("完了の知らせを待つ間の内容");
    if (command == u"save") box->setPlainText(typed);
    ShortBusyTimeout shortWait(std::chrono::milliseconds(200));
    StallNextCommit(f, kept);
    const auto issue = [&] {
        f.prompter.Answer({true});
        Ctl<QPushButton>(w, "cmdProcess",
                         command == u"save"     ? 4
                         : command == u"delete" ? 3
                                                : 0)
            ->click();
    };
    issue();
    const QString verb = command == u"delete" ? QStringLiteral("削除") : QStringLiteral("保存");
    QCOMPARE(
        f.prompter.Texts().filter(verb + QStringLiteral("の完了の知らせが届きませんでした")).size(),
        1);
    if (command == u"save") QCOMPARE(box->toPlainText(), typed);
    QCOMPARE(w.ShownChartNo()->value, 12345);
    QTest::qWait(900);  // the server's own end of it
    f.prompter.shown.clear();
    issue();
    const QStringList told = f.prompter.Texts();
    QVERIFY2(told.filter(kept ? QStringLiteral("サーバーに記録されていました")
                              : QStringLiteral("サーバーに記録されていませんでした"))
                     .size() == 1,
             qPrintable(told.join(u'|')));
    QCOMPARE(f.Scalar("Select Count(*) From tblDatCommon").toInt(), memos);
    if (command == u"save") {
        QCOMPARE(f.Scalar("Select LText000 From tblDatCommon Where MainKey = ?", {key}).toString(),
                 typed);
        QCOMPARE(box->toPlainText(), typed);
    }
    if (command == u"new") {
        const qint32 made =
            f.Scalar("Select Max(MainKey) From tblDatCommon Where MainKey <> ?", {key}).toInt();
        QCOMPARE(Ctl<QPushButton>(w, "cmdProcess", 4)->isEnabled(), true);
        QCOMPARE(f.Scalar("Select Count(*) From tblDatRevision Where MainKey = ?", {made}).toInt(),
                 1);
    }
    DbConnection owner;
    QVERIFY(OpenDbConnectionAt(f.OwnerDbPath(), owner));
    QCOMPARE(VerifyRecords(owner), QStringList());
}

void TstServer::failoverToTheStandby_data() {
    QTest::addColumn<QString>("when");
    QTest::newRow("idle") << "idle";
    QTest::newRow("saving") << "saving";
    QTest::newRow("committing") << "committing";
    QTest::newRow("switching patient") << "switching";
}

void TstServer::failoverToTheStandby() {
    QFETCH(QString, when);
    if (!OnServer()) QSKIP("needs the test server");
    const QStringList primary = PgCluster({QStringLiteral("start")});
    QCOMPARE(primary.size(), 2);
    OwnClusters cleanup{{primary[0]}};
    qputenv("ONDREL_TEST_PG", primary[1].toUtf8());
    WindowFixture f;
    const qint32 key = f.AddMemo(0, 12345, "2024-04-01", "前");
    const QStringList standby = PgCluster({QStringLiteral("standby"), primary[0]});
    QCOMPARE(standby.size(), 2);
    cleanup.folders << standby[0];
    // One URI for both: the one that takes writes is used.
    QUrl uri(f.DbPath());
    QUrlQuery query(uri);
    const auto port = [](const QString& u) { return QUrlQuery(QUrl(u)).queryItemValue("port"); };
    query.removeAllQueryItems("host");
    query.removeAllQueryItems("port");
    query.addQueryItem("host", primary[0] + u',' + standby[0]);
    query.addQueryItem("port", port(primary[1]) + u',' + port(standby[1]));
    query.addQueryItem("target_session_attrs", "read-write");
    uri.setQuery(query);
    f.WriteIniText({"[System]", "Title=指導指示管理", "SystemDB=" + uri.toString()});
    LoadSettings(*f.ctx);
    f.Open();
    auto& w = *f.window;
    auto* box = Ctl<QPlainTextEdit>(w, "txtLData", 0);
    // Answered 完了 before the primary dies: on the standby afterwards.
    box->setPlainText(QStringLiteral("障害の前に保存した内容"));
    f.prompter.Answer({true});
    Ctl<QPushButton>(w, "cmdProcess", 4)->click();
    QVERIFY2(f.prompter.Texts().size() == 1, qPrintable(f.prompter.Texts().join(u'|')));
    const QString typed = QStringLiteral("障害の間に入力した内容");
    box->setPlainText(typed);
    f.prompter.shown.clear();
    if (when == u"committing") {
        // The save's COMMIT is on its way when the primary dies.
        StallNextCommit(f, true);
        QTimer::singleShot(1000, [&] { PgCluster({QStringLiteral("kill"), primary[0]}); });
        f.prompter.Answer({true});
        Ctl<QPushButton>(w, "cmdProcess", 4)->click();
        QCOMPARE(f.prompter.Texts().filter(QStringLiteral("完了の知らせが届きませんでした")).size(),
                 1);
        QCOMPARE(box->toPlainText(), typed);
    } else {
        PgCluster({QStringLiteral("kill"), primary[0]});
    }
    if (when == u"saving") {
        f.prompter.Answer({true});
        Ctl<QPushButton>(w, "cmdProcess", 4)->click();
    } else if (when == u"switching") {
        f.WriteLink("1", "12346");
        w.Rtn_LinkCheck();
        w.Rtn_LinkCheck();
    }
    if (when == u"saving" || when == u"switching") {
        // Told once that the server cannot be reached; the text and the patient stay.
        QCOMPARE(f.prompter.Texts().filter(QStringLiteral("接続できない")).size(), 1);
        QCOMPARE(box->toPlainText(), typed);
        QCOMPARE(w.ShownChartNo()->value, 12345);
    }
    QElapsedTimer sincePromotion;
    PgCluster({QStringLiteral("promote"), standby[0]});
    sincePromotion.start();
    DbConnection promoted;
    QUrl ownerUri(f.OwnerDbPath());
    QUrlQuery ownerQuery(ownerUri);
    ownerQuery.removeAllQueryItems("host");
    ownerQuery.removeAllQueryItems("port");
    ownerQuery.addQueryItem("host", standby[0]);
    ownerQuery.addQueryItem("port", port(standby[1]));
    ownerUri.setQuery(ownerQuery);
    QVERIFY(OpenDbConnectionAt(ownerUri.toString(), promoted));
    const auto stored = [&] {
        QSqlQuery q =
            RunQuery(promoted, "Select LText000 From tblDatCommon Where MainKey = ?", {key});
        return q.next() ? q.value(0).toString() : QString();
    };
    QCOMPARE(stored(), QStringLiteral("障害の前に保存した内容"));
    RunChange(promoted, "Drop Trigger IF EXISTS trg_stall_commit On tblDatRevision");
    sincePromotion.restart();
    // The next command writes on the promoted server, without a word.
    f.prompter.shown.clear();
    if (when == u"switching") {
        w.Rtn_LinkCheck();
        QCOMPARE(w.ShownChartNo()->value, 12346);
    } else {
        f.prompter.Answer({true});
        Ctl<QPushButton>(w, "cmdProcess", 4)->click();
        if (when == u"committing") {
            // Cut off before its commit was written: not on the standby, and said so.
            QCOMPARE(f.prompter.Texts().size(), 2);
            QCOMPARE(f.prompter.Texts().filter("サーバーに記録されていませんでした").size(), 1);
        } else {
            QCOMPARE(f.prompter.Texts().size(), 1);  // the question alone
        }
    }
    qInfo("promotion to the first save: %lld ms", sincePromotion.elapsed());
    QVERIFY(sincePromotion.elapsed() < 5000);
    QCOMPARE(stored(), typed);
    QCOMPARE(VerifyRecords(promoted), QStringList());
}

QTEST_MAIN(TstServer)
#include "tst_server.moc"
