// Writes the link file as the clinic's link bar does, for tests and for other
// programs of the clinic: ondrel-link [--folder DIR | --file PATH] [--status S] KARTENO
// DIR is the link folder (default: 1-99リンクバーZEV beside this program's folder).
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

#include "ini_file.h"

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    QString status = QStringLiteral("1");
    QString file = QCoreApplication::applicationDirPath() +
                   QStringLiteral("/../1-99リンクバーZEV/カルテ番号.ini");
    QString karteNo;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == u"--status" && i + 1 < args.size())
            status = args[++i];
        else if (args[i] == u"--file" && i + 1 < args.size())
            file = args[++i];
        else if (args[i] == u"--folder" && i + 1 < args.size())
            file = args[++i] + QStringLiteral("/カルテ番号.ini");
        else
            karteNo = args[i];
    }
    if (karteNo.isEmpty() && status == u"1") {
        std::fputs("使い方: ondrel-link [--folder DIR | --file PATH] [--status S] カルテ番号\n",
                   stderr);
        return 2;
    }
    QDir().mkpath(QFileInfo(file).absolutePath());
    ondrel::WriteIniString(file, QStringLiteral("Patient.Info"), QStringLiteral("KarteNoBranch"),
                           karteNo);
    ondrel::WriteIniString(file, QStringLiteral("Patient.Info"), QStringLiteral("Status"), status);
    return 0;
}
