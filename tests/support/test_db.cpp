#include "test_db.h"

#include <QCoreApplication>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QUrl>
#include <cstdio>
#include <cstdlib>

#include "admin/db_tool.h"
#include "core/app_error.h"
#include "core/app_settings.h"
#include "data/db_connection.h"
#include "data/revisions.h"
#include "data/tables.h"

namespace ondrel::test {

bool OnServer() { return qEnvironmentVariable("ONDREL_TEST_ENGINE") == u"postgres"; }

QString NewServerDatabase() {
    const QString base = qEnvironmentVariable("ONDREL_TEST_PG");
    if (base.isEmpty()) {
        std::fprintf(stderr, "no test server: ONDREL_TEST_PG is not set (scripts/test sets it)\n");
        std::exit(77);
    }
    static int serial = 0;
    const QString name = QStringLiteral("t%1_%2_%3")
                             .arg(QCoreApplication::applicationPid())
                             .arg(++serial)
                             .arg(QRandomGenerator::global()->bounded(1000000));
    {
        DbConnection admin;
        if (!OpenDbConnectionAt(base, admin)) qFatal("cannot reach the test server");
        RunChange(admin, QStringLiteral("CREATE DATABASE ") + name);
    }
    QUrl url(base);
    url.setPath(u'/' + name);
    return url.toString();
}

void DropServerDatabase(const QString& uri) {
    try {
        DbConnection admin;
        if (!OpenDbConnectionAt(qEnvironmentVariable("ONDREL_TEST_PG"), admin)) return;
        RunChange(admin, QStringLiteral("DROP DATABASE IF EXISTS ") + QUrl(uri).path().mid(1) +
                             QStringLiteral(" WITH (FORCE)"));
    } catch (const AppError& e) {
        // A server a test stopped: the cluster goes with its folder.
        std::fprintf(stderr, "test database not dropped: %s\n", qPrintable(e.detail()));
    }
}

ShortBusyTimeout::ShortBusyTimeout(std::chrono::milliseconds wait) { SetBusyTimeout(wait); }

ShortBusyTimeout::~ShortBusyTimeout() { SetBusyTimeout(kBusyTimeout); }

QString AsWorkstation(const QString& uri) {
    QUrl url(uri);
    url.setUserName(QStringLiteral("ondrel_ws"));
    return url.toString();
}

TestDbProgram::~TestDbProgram() {
    if (OnServer()) DropServerDatabase(target_);
}

TestDbProgram::TestDbProgram()
    : target_(OnServer() ? NewServerDatabase() : Root() + QStringLiteral("/system.db")) {
    const QString error = tool::InitDatabase(OwnerDbPath());
    if (!error.isEmpty()) qFatal("%s", qPrintable(error));
    WriteIniText({QStringLiteral("[System]"), QStringLiteral("Title=指導指示管理"),
                  QStringLiteral("SystemDB=") + DbPath()});
    LoadSettings(*ctx);
    Exec(QStringLiteral(
        "Insert Into 患者マスター (カルテ番号, 氏名, フリガナ, 性別コード, 年号, 生年, 月, 日, "
        "TEL, 郵便番号, 住所１, 住所２, 職業) Values "
        "(12345, '山田　太郎', 'ヤマダ タロウ', '1', 'S', '45', '3', '12', '03-1111-2222', "
        "'150-0001', '東京都', '渋谷区1-2', '会社員'),"
        "(12346, '山田　花子', 'ヤマダ ハナコ', '2', 'H', '4', '2', '29', NULL, NULL, '東京都', "
        "NULL, NULL),"
        "(7, '一桁　七', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)"));
}

void TestDbProgram::Exec(const QString& sql, const QVariantList& values) const {
    DbConnection cn;
    if (!OpenDbConnectionAt(OwnerDbPath(), cn)) qFatal("cannot open test database");
    RunChange(cn, sql, values);
}

QVariant TestDbProgram::Scalar(const QString& sql, const QVariantList& values) const {
    DbConnection cn;
    if (!OpenDbConnectionAt(OwnerDbPath(), cn)) qFatal("cannot open test database");
    QSqlQuery q = RunQuery(cn, sql, values);
    return q.next() ? ValueAt(q, 0) : QVariant();
}

qint32 TestDbProgram::AddMemo(int formCode, qint32 fullChartNo, const QString& isoDate,
                              const QString& text) const {
    QVariantList values{formCode, fullChartNo / 10, fullChartNo, isoDate};
    for (int k = 0; k < 7; ++k) values << (k == formCode ? SqlText(text) : SqlText(QString()));
    // With its first revision, as the program writes one: the record holds.
    DbConnection cn;
    if (!OpenDbConnectionAt(OwnerDbPath(), cn)) qFatal("cannot open test database");
    BeginTransaction(cn);
    QSqlQuery q = RunQuery(cn, tables::MemoInsert(), values);
    const qint32 key = q.next() ? q.value(0).toInt() : 0;
    q.finish();
    AppendRevision(cn, key, QStringLiteral("insert"), *MemoRowValues(cn, key));
    CommitTransaction(cn);
    return key;
}

}  // namespace ondrel::test
