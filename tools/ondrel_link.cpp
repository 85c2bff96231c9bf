// Writes the link file as the clinic's link bar does, for tests and for other
// programs of the clinic: ondrel-link [--folder DIR | --file PATH] [--status S] KARTENO
// DIR is the link folder (default: 1-99リンクバーZEV beside the program folder
// the window uses).
#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <cstdio>

#include "core/link_file.h"
#include "core/program_folder.h"

namespace {

constexpr const char* kUsage =
    "使い方: ondrel-link [--folder リンクフォルダ | --file リンクファイル] [--status 状態] "
    "カルテ番号\n"
    "  リンクバーと同じようにリンクファイル (カルテ番号.ini) を書きます。\n"
    "  --status の既定は 1 (患者を選択中)。状態が 1 のときはカルテ番号 (数字) が必要です。\n";

int Usage(const char* problem = nullptr) {
    if (problem) std::fprintf(stderr, "ondrel-link: %s\n", problem);
    std::fputs(kUsage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    QString status = QStringLiteral("1");
    // The same program folder the window takes, so both agree without options.
    QString file =
        ondrel::LinkFileFor(ondrel::ProgramFolderFor(QCoreApplication::applicationDirPath()));
    QString karteNo;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == u"--help" || a == u"-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == u"--status" && hasValue) {
            status = args[++i];
        } else if (a == u"--file" && hasValue) {
            file = args[++i];
        } else if (a == u"--folder" && hasValue) {
            file = ondrel::LinkFileIn(args[++i]);
        } else if (a.startsWith(u'-') || !karteNo.isEmpty()) {
            return Usage(qPrintable(QStringLiteral("知らない指定です: ") + a));
        } else {
            karteNo = a;
        }
    }
    // Only what the window reads as a chart number, never an option or a word.
    if (!karteNo.isEmpty() && !ondrel::LinkChartNo(karteNo))
        return Usage(qPrintable(QStringLiteral("カルテ番号は数字で指定して下さい: ") + karteNo));
    if (karteNo.isEmpty() && status == u"1") return Usage("カルテ番号がありません。");
    // The status is a number as the link bar writes it; a line break would
    // put lines of its own into the file.
    static const QRegularExpression kStatus(QStringLiteral("^[0-9]+$"));
    if (!kStatus.match(status).hasMatch())
        return Usage(qPrintable(QStringLiteral("状態は数字で指定して下さい: ") + status));
    // The link bar's folder is the clinic's; a mistyped one is not made here.
    const QFileInfo folder(QFileInfo(file).absolutePath());
    if (!folder.isDir()) {
        std::fprintf(stderr, "ondrel-link: リンクフォルダがありません: %s\n",
                     qPrintable(folder.filePath()));
        return 1;
    }
    if (!ondrel::WriteLinkFile(file, {status, karteNo})) {
        std::fprintf(stderr, "ondrel-link: リンクファイルに書き込めません: %s\n", qPrintable(file));
        return 1;
    }
    std::printf("%s: KarteNoBranch=%s Status=%s\n", qPrintable(QFileInfo(file).absoluteFilePath()),
                qPrintable(karteNo), qPrintable(status));
    return 0;
}
