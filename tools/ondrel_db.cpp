// The chart system's side of the system database: create, fill, demo.
#include <QCoreApplication>
#include <QDate>
#include <cstdio>

#include "db_tool.h"

namespace {

int Usage() {
    std::fputs(
        "使い方:\n"
        "  ondrel-db init FILE                  新しいシステムデータベース\n"
        "  ondrel-db demo FILE                  デモ用のシステムデータベース\n"
        "  ondrel-db import-patients FILE CSV   患者マスターへ取り込み\n"
        "  ondrel-db import-clinic FILE CSV     医院情報へ取り込み\n",
        stderr);
    return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() < 2) return Usage();
    const QString& command = args[0];
    QString error;
    if (command == u"init" && args.size() == 2) {
        error = ondrel::tool::InitDatabase(args[1]);
    } else if (command == u"demo" && args.size() == 2) {
        error = ondrel::tool::MakeDemoDatabase(args[1], QDate::currentDate());
    } else if (command == u"import-patients" && args.size() == 3) {
        error = ondrel::tool::ImportCsv(args[1], args[2], QStringLiteral("患者マスター"));
    } else if (command == u"import-clinic" && args.size() == 3) {
        error = ondrel::tool::ImportCsv(args[1], args[2], QStringLiteral("医院情報"));
    } else {
        return Usage();
    }
    if (!error.isEmpty()) {
        std::fprintf(stderr, "ondrel-db: %s\n", error.toUtf8().constData());
        return 1;
    }
    return 0;
}
