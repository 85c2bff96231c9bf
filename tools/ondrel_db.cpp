// The chart system's side of the system database: create, fill, demo.
#include <QCoreApplication>
#include <QDate>
#include <cstdio>

#include "db_tool.h"

namespace {

constexpr const char* kUsage =
    "使い方:\n"
    "  ondrel-db init FILE                  新しいシステムデータベース\n"
    "  ondrel-db demo FILE                  デモ用のシステムデータベース\n"
    "  ondrel-db import-patients FILE CSV   患者マスターへ取り込み\n"
    "  ondrel-db import-clinic FILE CSV     医院情報へ取り込み\n"
    "  ondrel-db copy FROM TO               システムデータベースを丸ごと移す\n"
    "FILE・FROM・TO はファイルのパス、またはデータベースサーバーの URI\n"
    "（postgresql://ユーザー@ホスト:5432/データベース名）\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.size() < 2) return Usage();
    for (const QString& a : args) {
        if (a.startsWith(u'-')) return Usage();  // no options; a file named so is refused too
    }
    const QString& command = args[0];
    QString error;
    QString done;
    int rows = 0;
    if (command == u"init" && args.size() == 2) {
        error = ondrel::tool::InitDatabase(args[1]);
        done = QStringLiteral("システムデータベースを作成しました: ") + args[1];
    } else if (command == u"demo" && args.size() == 2) {
        error = ondrel::tool::MakeDemoDatabase(args[1], QDate::currentDate());
        done = QStringLiteral("デモ用のシステムデータベースを作成しました: ") + args[1];
    } else if (command == u"import-patients" && args.size() == 3) {
        error = ondrel::tool::ImportCsv(args[1], args[2], QStringLiteral("患者マスター"), &rows);
        done = QStringLiteral("患者マスターへ %1 行を取り込みました。").arg(rows);
    } else if (command == u"import-clinic" && args.size() == 3) {
        error = ondrel::tool::ImportCsv(args[1], args[2], QStringLiteral("医院情報"), &rows);
        done = QStringLiteral("医院情報へ %1 行を取り込みました。").arg(rows);
    } else if (command == u"copy" && args.size() == 3) {
        QString report;
        error = ondrel::tool::CopyDatabase(args[1], args[2], &report);
        done = QStringLiteral("コピーして照合しました: ") + args[1] + QStringLiteral(" → ") +
               args[2] + u'\n' + report;
    } else {
        return Usage();
    }
    if (!error.isEmpty()) {
        std::fprintf(stderr, "ondrel-db: %s\n", error.toUtf8().constData());
        return 1;
    }
    std::printf("%s\n", done.toUtf8().constData());
    return 0;
}
