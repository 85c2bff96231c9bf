// The chart system's side of the system database: create, fill, demo.
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QStringEncoder>
#include <cstdio>
#include <optional>

#include "admin/db_tool.h"
#include "core/db_target.h"
#include "data/backup.h"
#include "data/db_connection.h"

namespace {

constexpr const char* kUsage =
    "使い方:\n"
    "  ondrel-db init FILE                  新しいシステムデータベース\n"
    "  ondrel-db demo FILE                  デモ用のシステムデータベース\n"
    "  ondrel-db import-patients FILE CSV   患者マスターへ取り込み\n"
    "  ondrel-db import-clinic FILE CSV     医院情報へ取り込み\n"
    "  ondrel-db import-memos FILE CSV      旧システムのメモ（tblDatCommon）を番号ごと取り込み\n"
    "  ondrel-db import-master FILE CSV     旧システムの分類名と使用区分（tblMasSystemA）\n"
    "  ondrel-db copy FROM TO               システムデータベースを丸ごと移す\n"
    "  ondrel-db verify FILE [--anchors フォルダー|ファイル]\n"
    "                                       変更履歴の連鎖とメモを照合する（アンカーとも）\n"
    "  ondrel-db anchor FILE                変更履歴の最後の行を 1 行で出力する（控えとして保管）\n"
    "  ondrel-db backup FILE [FOLDER]       バックアップを取って確かめ、古いものを整理する\n"
    "  ondrel-db restore BACKUP FILE        確かめたバックアップを戻す（元のファイルは残す）\n"
    "  ondrel-db log FILE [--from 日付] [--to 日付] [--chart カルテ番号] [--cp932]\n"
    "                                       アクセス記録を CSV で出力する\n"
    "  ondrel-db staff add FILE 職員ID 氏名 役割   職員を登録する（パスワードは標準入力から）\n"
    "  ondrel-db staff list FILE                職員の一覧\n"
    "  ondrel-db staff disable FILE 職員ID      職員を無効にする（サインインできなくなる）\n"
    "  ondrel-db staff password FILE 職員ID     パスワードを変える（標準入力から）\n"
    "  ondrel-db staff role FILE 職員ID 役割    役割を変える\n"
    "    役割: doctor（医師） nurse（看護師） clerk（事務） admin（管理者）\n"
    "  ondrel-db phrases export FILE CSV       定型文を CSV（UTF-8、分類,文言）に書き出す\n"
    "  ondrel-db phrases import FILE CSV       定型文を取り込む（各一覧の末尾へ、同じ文言は除く）\n"
    "FILE・FROM・TO はファイルのパス、またはデータベースサーバーの URI\n"
    "（postgresql://ユーザー@ホスト:5432/データベース名）\n";

int Usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

// A database named by a URI this program does not accept (a password in it,
// above all) is refused before anything is opened, run or printed: the
// reason is told, never the URI.
bool Refused(const QString& target) {
    const ondrel::DbTarget t = ondrel::DbTarget::Of(target);
    if (!t.IsServer() || t.Server()) return false;
    std::fprintf(stderr, "ondrel-db: %s\n", t.Problem().toUtf8().constData());
    return true;
}

// ondrel-db log FILE [--from D] [--to D] [--chart N] [--cp932]
int Log(const QStringList& args) {
    QString file;
    QDate from, to;
    std::optional<qint32> chart;
    bool cp932 = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == u"--cp932") {
            cp932 = true;
        } else if ((a == u"--from" || a == u"--to") && hasValue) {
            const QDate d = QDate::fromString(QString(args[++i]).replace(u'/', u'-'), Qt::ISODate);
            if (!d.isValid()) return Usage();
            (a == u"--from" ? from : to) = d;
        } else if (a == u"--chart" && hasValue) {
            bool ok = false;
            chart = QString(args[++i]).remove(u'-').toInt(&ok);
            if (!ok) return Usage();
        } else if (!a.startsWith(u'-') && file.isEmpty()) {
            file = a;
        } else {
            return Usage();
        }
    }
    if (file.isEmpty()) return Usage();
    if (Refused(file)) return 1;
    QString csv;
    const QString error = ondrel::tool::AccessLogCsv(file, from, to, chart, &csv);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "ondrel-db: %s\n", error.toUtf8().constData());
        return 1;
    }
    // A Windows spreadsheet opens code page 932 as it opens its own files.
    QStringEncoder windows("windows-31j");
    const QByteArray bytes = cp932 ? QByteArray(windows.encode(csv)) : csv.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    return 0;
}

// A line of standard input without its line end; on a terminal, without
// echo. Nothing when it ends first.
std::optional<QByteArray> ReadLine(bool terminal) {
    termios saved{};
    if (terminal && ::tcgetattr(STDIN_FILENO, &saved) == 0) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    QByteArray line;
    int c = 0;
    // Far more than any password: a file piped in by mistake is cut, not read whole.
    while ((c = std::getchar()) != EOF && c != '\n' && line.size() <= 1 << 20) line.append(char(c));
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputs("\n", stderr);
    }
    if (c == EOF && line.isEmpty()) return std::nullopt;
    if (line.endsWith('\r')) line.chop(1);
    return line;
}

// The password: one line when standard input is not a terminal; asked twice
// on one. Nothing when the two differ or input ended.
std::optional<QByteArray> ReadPassword() {
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    if (!terminal) return ReadLine(false);
    std::fputs("パスワード: ", stderr);
    const auto first = ReadLine(true);
    if (!first) return std::nullopt;
    std::fputs("もう一度: ", stderr);
    const auto second = ReadLine(true);
    if (!second || *second != *first) {
        std::fputs("ondrel-db: パスワードが一致しません。\n", stderr);
        return std::nullopt;
    }
    return first;
}

// ondrel-db staff add|list|disable|password|role FILE …
int Staff(const QStringList& args) {
    if (args.size() < 2) return Usage();
    for (const QString& a : args) {
        if (a.startsWith(u'-')) return Usage();
    }
    const QString& sub = args[0];
    const QString& file = args[1];
    const qsizetype n = args.size();
    const bool known = (sub == u"add" && n == 5) || (sub == u"list" && n == 2) ||
                       (sub == u"disable" && n == 3) || (sub == u"password" && n == 3) ||
                       (sub == u"role" && n == 4);
    if (!known) return Usage();
    if (Refused(file)) return 1;
    QString error, done;
    if (sub == u"list") {
        QString table;
        error = ondrel::tool::StaffList(file, &table);
        if (error.isEmpty()) std::fputs(table.toUtf8().constData(), stdout);
    } else if (sub == u"disable") {
        error = ondrel::tool::StaffDisable(file, args[2]);
        done = QStringLiteral("職員「%1」を無効にしました。").arg(args[2]);
    } else if (sub == u"role") {
        error = ondrel::tool::StaffSetRole(file, args[2], args[3]);
        done = QStringLiteral("職員「%1」の役割を %2 にしました。").arg(args[2], args[3]);
    } else {
        const auto password = ReadPassword();
        if (!password) {
            std::fputs("ondrel-db: パスワードが入力されませんでした。\n", stderr);
            return 1;
        }
        if (sub == u"add") {
            error = ondrel::tool::StaffAdd(file, args[2], args[3], args[4], *password);
            done = QStringLiteral("職員「%1」（%2）を登録しました。").arg(args[2], args[3]);
        } else {
            error = ondrel::tool::StaffSetPassword(file, args[2], *password);
            done = QStringLiteral("職員「%1」のパスワードを変えました。").arg(args[2]);
        }
    }
    if (!error.isEmpty()) {
        std::fprintf(stderr, "ondrel-db: %s\n", error.toUtf8().constData());
        return 1;
    }
    if (!done.isEmpty()) std::printf("%s\n", done.toUtf8().constData());
    return 0;
}

// ondrel-db phrases export|import FILE CSV
int Phrases(const QStringList& args) {
    if (args.size() != 3 || (args[0] != u"export" && args[0] != u"import")) return Usage();
    for (const QString& a : args) {
        if (a.startsWith(u'-')) return Usage();
    }
    if (Refused(args[1])) return 1;
    QString error, done;
    if (args[0] == u"export") {
        int rows = 0;
        error = ondrel::tool::PhrasesExport(args[1], args[2], &rows);
        done = QStringLiteral("定型文 %1 件を書き出しました。").arg(rows);
    } else {
        int added = 0, skipped = 0;
        error = ondrel::tool::PhrasesImport(args[1], args[2], &added, &skipped);
        done = QStringLiteral("定型文 %1 件を取り込みました（既にある %2 件は除きました）。")
                   .arg(added)
                   .arg(skipped);
    }
    if (!error.isEmpty()) {
        std::fprintf(stderr, "ondrel-db: %s\n", error.toUtf8().constData());
        return 1;
    }
    std::printf("%s\n", done.toUtf8().constData());
    return 0;
}

}  // namespace

// Every command but log and staff; `anchors` for verify.
static int Run(const QStringList& args, const QString& anchors);

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // An administrator's command may read for long (verify, copy); no window waits on it.
    ondrel::SetServerDeadlineEnabled(false);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (args.size() < 2) return Usage();
    if (args[0] == u"log") return Log(args.mid(1));
    if (args[0] == u"staff") return Staff(args.mid(1));
    if (args[0] == u"phrases") return Phrases(args.mid(1));
    // verify FILE --anchors WHERE: the one option outside log and staff.
    QString anchors;
    QStringList rest = args;
    if (args[0] == u"verify" && args.size() == 4 && args[2] == u"--anchors") {
        anchors = args[3];
        rest = args.mid(0, 2);
    }
    return Run(rest, anchors);
}

static int Run(const QStringList& args, const QString& anchors) {
    for (const QString& a : args) {
        if (a.startsWith(u'-')) return Usage();  // no options; a file named so is refused too
    }
    const QString& command = args[0];
    // restore names the backup first; copy names two databases.
    for (qsizetype i = command == u"restore" ? 2 : 1; i < args.size(); ++i) {
        if ((i == 1 || command == u"copy" || command == u"restore") && Refused(args[i])) return 1;
    }
    QString error;
    QString done;
    int rows = 0;
    if (command == u"init" && args.size() == 2) {
        bool renewed = false;
        error = ondrel::tool::InitOrRenewDatabase(args[1], &renewed);
        done = renewed ? QStringLiteral(
                             "既にシステムデータベースがあります。表とデータはそのままで、"
                             "ondrel_users の権限を設定し直しました: ") +
                             args[1]
                       : QStringLiteral("システムデータベースを作成しました: ") + args[1];
    } else if (command == u"demo" && args.size() == 2) {
        error = ondrel::tool::MakeDemoDatabase(args[1], QDate::currentDate());
        done = QStringLiteral("デモ用のシステムデータベースを作成しました: ") + args[1];
    } else if (command == u"import-patients" && args.size() == 3) {
        int replaced = 0;
        error = ondrel::tool::ImportCsv(args[1], args[2], QStringLiteral("患者マスター"), &rows,
                                        &replaced);
        done = QStringLiteral("患者マスターへ %1 行を取り込みました。").arg(rows) +
               (replaced > 0
                    ? QStringLiteral("うち %1 人は既にあった患者を置き換えました。").arg(replaced)
                    : QString());
    } else if (command == u"import-clinic" && args.size() == 3) {
        error = ondrel::tool::ImportCsv(args[1], args[2], QStringLiteral("医院情報"), &rows);
        done = QStringLiteral("医院情報へ %1 行を取り込みました。").arg(rows);
    } else if (command == u"import-memos" && args.size() == 3) {
        error = ondrel::tool::ImportMemos(args[1], args[2], &rows);
        done = QStringLiteral("メモを %1 件、番号はそのままで取り込みました。").arg(rows);
    } else if (command == u"import-master" && args.size() == 3) {
        error = ondrel::tool::ImportMaster(args[1], args[2]);
        done = QStringLiteral("分類名と使用区分を取り込みました。");
    } else if (command == u"anchor" && args.size() == 2) {
        error = ondrel::tool::AnchorOf(args[1], &done);
    } else if (command == u"verify" && args.size() == 2) {
        QStringList findings;
        qint64 checked = 0;
        int anchorsRead = 0;
        error = ondrel::tool::VerifyDatabase(args[1], anchors, &findings, &checked, &anchorsRead);
        if (error.isEmpty() && !findings.isEmpty()) {
            for (const QString& f : findings) std::printf("%s\n", f.toUtf8().constData());
            std::printf("%s\n",
                        QStringLiteral("異常が %1 件あります（変更履歴 %2 行を確かめました）。")
                            .arg(findings.size())
                            .arg(checked)
                            .toUtf8()
                            .constData());
            return 1;
        }
        done = QStringLiteral("異常はありません（変更履歴 %1 行とすべてのメモを確かめました）。")
                   .arg(checked) +
               (anchors.isEmpty()
                    ? QString()
                    : QStringLiteral("\nアンカー %1 個とも合っています。").arg(anchorsRead));
    } else if (command == u"backup" && (args.size() == 2 || args.size() == 3)) {
        ondrel::BackupPlan plan;
        if (args.size() == 3) {
            plan.folder = args[2];
        } else {
            plan.folder = ondrel::DbTarget::Of(args[1]).IsServer()
                              ? QStringLiteral("backup")
                              : QFileInfo(args[1]).absoluteDir().filePath(QStringLiteral("backup"));
        }
        QString made;
        error = ondrel::MakeBackup(args[1], plan, &made);
        done = QStringLiteral("バックアップを取って確かめました: ") + made;
    } else if (command == u"restore" && args.size() == 3) {
        QString kept;
        error = ondrel::RestoreBackup(args[1], args[2], &kept);
        done = QStringLiteral("バックアップを戻しました: ") + args[1] + QStringLiteral(" → ") +
               args[2] +
               (kept.isEmpty() ? QString()
                               : QStringLiteral("\n元のファイルは残してあります: ") + kept);
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
